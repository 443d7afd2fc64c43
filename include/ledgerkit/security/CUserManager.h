// CUserManager: the users of a company file. A user name is unique within a company, names
// compared in their matching form (security/UserNames.h: letter case, composed or decomposed
// accents and full-width letters make no difference), and a user that others report to cannot
// be deleted. Keys that are numbers with a fraction fail with Type mismatch (13). The caller's UserName only
// serves to find the caller's company; Token is accepted and not consulted. Stateless; every
// operation is one unit of work and marks its failures once.
#pragma once

#include <memory>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/entities/IUser.h"

namespace ledgerkit {

class CUserManager : public Dispatch {
 public:
  std::string_view ClassName() const override { return "CUserManager"; }
  const MemberTable& Members() const override;

  // The user named ProfileUserName (any company of the file; matching form), or nothing, also
  // for Null. ProfileAccount is not consulted.
  std::shared_ptr<IUser> GetUserProfile(const Variant& Account, const Variant& UserName, const Variant& Token,
                                        const Variant& ProfileAccount, const Variant& ProfileUserName);

  // Changes the profile of user UserID; user name, password, MainUser and company stay.
  // ReportsToID empty or 0 stores NULL.
  void UpdateUserProfile(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& UserID,
                         const Variant& FirstName, const Variant& LastName, const Variant& Initial,
                         const Variant& Admin, const Variant& ReportsToID, const Variant& EMail,
                         const Variant& AllowLogon);

  // Deletes user UserID. Fails with eUserIsReferenced, listing every user that reports to it,
  // and deletes nothing when there is any. An unknown UserID changes nothing.
  void DeleteUserProfile(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& UserID);

  // The users of the caller's company allowed to log on, by last name. Fails with Object is
  // nothing (91) when UserName names no user.
  std::shared_ptr<EntityCollection> GetSubscriberUserProfiles(const Variant& Account, const Variant& UserName,
                                                              const Variant& Token);

  // Adds a user to the caller's company (MainUser 0), its name stored as spelled with its
  // matching form beside it, its password stored as a hash. Checks, in this order: the caller
  // (Object is nothing, 91, when UserName names no user); the name, refused with Invalid argument
  // (5) when it begins or ends with a blank or holds a control or invisible character; a user
  // of the company with the same matching form (eUserNameExists); the widths of name and
  // password (5). The check and the insert are one step under the write lock; nothing is
  // written on failure.
  void AddUserProfile(const Variant& Account, const Variant& UserName, const Variant& Token,
                      const Variant& ProfileUserName, const Variant& Password, const Variant& FirstName,
                      const Variant& LastName, const Variant& Initial, const Variant& ReportsToID, const Variant& Admin,
                      const Variant& EMail, const Variant& AllowLogon);
};

}  // namespace ledgerkit
