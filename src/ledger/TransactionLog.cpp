// CACMgr: reading and correcting logged transactions, their waiting lines and register rows.
#include "common/Command.h"
#include "common/Convert.h"
#include "common/Operation.h"
#include "entities/ACTransaction.h"
#include "entities/ColumnWidths.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "services/Users.h"
#include "security/CUserManager.h"

namespace ledgerkit {

std::shared_ptr<EntityCollection> CACMgr::GetTransLogByStatus(const Variant& Account, const Variant& UserName,
                                                              const Variant& /*Token*/, const Variant& TransLogStatus) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t status = ToLong(TransLogStatus);
    // Only a failure of the lookup matters; the profile itself does not change the list.
    services::UserProfile(Account, UserName);
    return Fetch<ACTransLog>(Account, FetchArgs{.filter = "TransLogStatus=?",
                                                .sort = "LogDate ASC",
                                                .bind = {{"p1", FieldType::kLong, 0, status, "TransLogStatus"}}});
  });
}

std::shared_ptr<ACTransLog> CACMgr::GetTransLog(const Variant& Account, const Variant& /*UserName*/,
                                                const Variant& /*Token*/, const Variant& TransactionNumber) {
  return ledger::RunEntityRead<ACTransLog>(Account, [&] { return ledger::RequireHeader(Account, TransactionNumber); });
}

void CACMgr::UpdateTransLog(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                            const Variant& TransactionNumber, const Variant& TransactionDate,
                            const Variant& Description, const Variant& ChequeNo, const Variant& Address,
                            const Variant& Amount) {
  ledger::RunWrite(
      Account,
      "UPDATE ACTransLog SET TransactionDate=?,Description=?,ChequeNo=?,Address=?,Amount=? WHERE TransactionNumber=?;",
      {{"p1", FieldType::kDate, 0, TransactionDate, "TransactionDate"},
       {"p2", FieldType::kText, lenACTransLog::lenDescription, Description, "Description"},
       {"p3", FieldType::kText, lenACTransLog::lenChequeNo, ChequeNo, "ChequeNo"},
       {"p4", FieldType::kText, lenACTransLog::lenAddress, Address, "Address"},
       {"p5", FieldType::kCurrency, 0, Amount, "Amount"},
       {"p6", FieldType::kText, lenACTransLog::lenTransactionNumber, TransactionNumber, "TransactionNumber"}});
}

std::shared_ptr<ACTransLogWIP> CACMgr::GetTransLogWIP(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& TransLogWIPID) {
  return ledger::RunEntityRead<ACTransLogWIP>(Account, [&] {
    const int32_t line_id = ToKey(TransLogWIPID);
    return ledger::RequireByKey<ACTransLogWIP>(Account, line_id);
  });
}

void CACMgr::UpdateTransLogWIP(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& TransLogWIPID, const Variant& AccountID, const Variant& Description,
                               const Variant& Amount) {
  RunOperation(Account, Access::kWrite, [&] {
    // A waiting line never holds a Null amount: committed, it would make the balance Null.
    const Currency amount = ToCurrency(Amount);
    Command command(Account);
    command.SetText("UPDATE ACTransLogWIP SET AccountID=?,Description=?,Amount=? WHERE ACTransLogWIPID=?;");
    command.Append("p1", FieldType::kKey, 0, AccountID, "AccountID");
    command.Append("p2", FieldType::kText, lenACTransLogWIP::lenDescription, Description, "Description");
    command.Append("p3", FieldType::kCurrency, 0, amount, "Amount");
    command.Append("p4", FieldType::kKey, 0, TransLogWIPID, "TransLogWIPID");
    command.Execute();
  });
}

void CACMgr::DeleteTransLogWIP(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& TransLogWIPID) {
  ledger::RunWrite(Account, "DELETE FROM ACTransLogWIP WHERE ACTransLogWIPID=?;",
                   {{"p1", FieldType::kKey, 0, TransLogWIPID, "TransLogWIPID"}});
}

std::shared_ptr<EntityCollection> CACMgr::GetTransactionsByTransNum(const Variant& Account, const Variant& /*UserName*/,
                                                                    const Variant& /*Token*/,
                                                                    const Variant& TransactionNumber) {
  return ledger::RunEntityRead<ACTransaction>(Account, [&] {
    return Fetch<ACTransaction>(Account, FetchArgs{.filter = "TransactionNumber=?",
                                                   .sort = "Parent ASC",
                                                   .bind = {SelectingText(TransactionNumber, "TransactionNumber")}});
  });
}

}  // namespace ledgerkit
