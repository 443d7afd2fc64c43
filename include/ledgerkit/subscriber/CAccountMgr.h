// CAccountMgr: the company record of a company file: its business details, its primary
// location, its document counters, and the handing out of transaction numbers.
// Stateless; create one, call, release. UserName, Token and ForAccount are accepted and not
// consulted. Every operation is one unit of work and marks its failures once.
#pragma once

#include <memory>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/ISubScriber.h"
#include "ledgerkit/entities/ISubscriberLocation.h"

namespace ledgerkit {

class CAccountMgr : public Dispatch {
 public:
  std::string_view ClassName() const override { return "CAccountMgr"; }
  const MemberTable& Members() const override;

  // The company (the first subscriber row with a key above 0), or nothing when there is none.
  std::shared_ptr<ISubScriber> GetAccountInfo(const Variant& Account);

  // Sets the company name and the primary location's address, together or not at all: a value
  // too long for its column fails the call and leaves both unchanged. Without a primary
  // location only the name changes.
  void UpdateAccountBusinessInfo(const Variant& Account, const Variant& CompanyName, const Variant& Address1,
                                 const Variant& Address2, const Variant& Address3, const Variant& City,
                                 const Variant& Province, const Variant& PostalCode, const Variant& Country,
                                 const Variant& Telephone, const Variant& FAX);

  // The primary location; Invalid argument (5) when no location is marked primary.
  std::shared_ptr<ISubscriberLocation> GetPrimaryLocation(const Variant& Account, const Variant& UserName,
                                                          const Variant& Token, const Variant& ForAccount);

  // Stores the three document counters as given (no range or order check).
  void UpdateNextNumbers(const Variant& Account, const Variant& UserName, const Variant& Token,
                         const Variant& NextInvoice, const Variant& NextExpenseReport, const Variant& NextClientAccount);

  // The transaction number to use now; the counter then holds the next one. Read and increment
  // are one step under the write lock, so overlapping callers (threads or processes) never get
  // the same number, and a number handed out inside an operation that fails stays consumed.
  // A NULL counter gives Null and stays NULL. Fails with Object is nothing (91) when the file
  // has no company record, changing nothing.
  Variant GetNextTransactionNumber(const Variant& Account, const Variant& UserName, const Variant& Token);
};

}  // namespace ledgerkit
