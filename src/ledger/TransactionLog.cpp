// CACMgr: reading and correcting logged transactions, their waiting lines and register rows.
#include "common/Command.h"
#include "common/Convert.h"
#include "common/DataAccess.h"
#include "common/Operation.h"
#include "common/SqlText.h"
#include "entities/ACTransaction.h"
#include "entities/ColumnWidths.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "security/CUserManager.h"

namespace ledgerkit {

std::shared_ptr<EntityCollection> CACMgr::GetTransLogByStatus(const Variant& Account, const Variant& UserName,
                                                              const Variant& Token, const Variant& TransLogStatus) {
  return RunOperation(Account, Access::kRead, [&] {
    // Only a failure of the lookup matters; the profile itself does not change the list.
    CUserManager().GetUserProfile(Account, UserName, Token, Account, UserName);
    return Fetch<ACTransLog>(Account,
                             FetchArgs{.filter = "TransLogStatus=" + SqlInteger(TransLogStatus), .sort = "LogDate ASC"});
  });
}

std::shared_ptr<ACTransLog> CACMgr::GetTransLog(const Variant& Account, const Variant& /*UserName*/,
                                                const Variant& /*Token*/, const Variant& TransactionNumber) {
  return RunOperation(Account, Access::kRead, [&] { return ledger::RequireHeader(Account, TransactionNumber); });
}

void CACMgr::UpdateTransLog(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                            const Variant& TransactionNumber, const Variant& TransactionDate,
                            const Variant& Description, const Variant& ChequeNo, const Variant& Address,
                            const Variant& Amount) {
  ledger::RunWrite(
      Account,
      "UPDATE ACTransLog SET TransactionDate=?,Description=?,ChequeNo=?,Address=?,Amount=? WHERE TransactionNumber=?;",
      {{"p1", ParamType::kDate, 0, TransactionDate, "TransactionDate"},
       {"p2", ParamType::kText, lenACTransLog::lenDescription, Description, "Description"},
       {"p3", ParamType::kText, lenACTransLog::lenChequeNo, ChequeNo, "ChequeNo"},
       {"p4", ParamType::kLongText, lenACTransLog::lenAddress, Address, "Address"},
       {"p5", ParamType::kCurrency, 0, Amount, "Amount"},
       {"p6", ParamType::kText, lenACTransLog::lenTransactionNumber, TransactionNumber, "TransactionNumber"}});
}

std::shared_ptr<ACTransLogWIP> CACMgr::GetTransLogWIP(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& TransLogWIPID) {
  return RunOperation(Account, Access::kRead, [&] { return ledger::RequireByKey<ACTransLogWIP>(Account, TransLogWIPID); });
}

void CACMgr::UpdateTransLogWIP(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& TransLogWIPID, const Variant& AccountID, const Variant& Description,
                               const Variant& Amount) {
  ledger::RunWrite(Account, "UPDATE ACTransLogWIP SET AccountID=?,Description=?,Amount=? WHERE ACTransLogWIPID=?;",
                   {{"p1", ParamType::kLong, 0, AccountID, "AccountID"},
                    {"p2", ParamType::kText, lenACTransLogWIP::lenDescription, Description, "Description"},
                    {"p3", ParamType::kCurrency, 0, ToCurrency(Amount), "Amount"},
                    {"p4", ParamType::kLong, 0, TransLogWIPID, "TransLogWIPID"}});
}

void CACMgr::DeleteTransLogWIP(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& TransLogWIPID) {
  RunOperation(Account, Access::kWrite, [&] {
    OpenRecordset(Account, "DELETE FROM ACTransLogWIP WHERE ACTransLogWIPID=" + SqlInteger(TransLogWIPID));
  });
}

std::shared_ptr<EntityCollection> CACMgr::GetTransactionsByTransNum(const Variant& Account, const Variant& /*UserName*/,
                                                                    const Variant& /*Token*/,
                                                                    const Variant& TransactionNumber) {
  return RunOperation(Account, Access::kRead, [&] {
    return Fetch<ACTransaction>(
        Account, FetchArgs{.filter = "TransactionNumber=" + QuoteSqlText(TransactionNumber), .sort = "Parent ASC"});
  });
}

}  // namespace ledgerkit
