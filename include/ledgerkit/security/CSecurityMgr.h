// CSecurityMgr: logon sessions of a company file. A logon checks the user name (in its
// matching form, security/UserNames.h) and password of a user allowed to log on, replaces that
// user's earlier sessions and hands out a fresh token; no other operation checks tokens. Stateless; every operation is one
// unit of work and marks its failures once.
#pragma once

#include <memory>
#include <string>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/SysSessions.h"

namespace ledgerkit {

class CSecurityMgr : public Dispatch {
 public:
  std::string_view ClassName() const override { return "CSecurityMgr"; }
  const MemberTable& Members() const override;

  // Logs UserName on and returns the new session's token. Any row of that name with logon
  // allowed whose password matches will do; a password stored in clear (imported data) is
  // replaced by its hash here. Fails with eInvalidUserInfo, writing nothing, for a wrong
  // password, an unknown user or a user not allowed to log on alike, and takes as long for each:
  // one password verification whether or not there is a row to check against.
  std::string BeginUserSession(const Variant& Account, const Variant& UserName, const Variant& Password);

  // Removes every session of UserName (matching form, so any spelling of it), so its tokens are
  // no longer found.
  void EndUserSession(const Variant& Account, const Variant& UserName);

  // Replaces the password of theUserName when OldPassword matches. Fails with
  // eInvalidUserInfo and changes nothing when it does not, or when there is no such user.
  void ChangeUserPassword(const Variant& Account, const Variant& theUserName, const Variant& OldPassword,
                          const Variant& NewPassword);

  // The session holding Token; Invalid argument (5) when there is none (also for Null).
  std::shared_ptr<SysSessions> GetSysSession(const Variant& Account, const Variant& Token);
};

}  // namespace ledgerkit
