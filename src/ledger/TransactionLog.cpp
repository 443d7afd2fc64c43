// CACMgr: reading and correcting logged transactions, their waiting lines and register rows.
#include "ledgerkit/common/Convert.h"
#include "common/Operation.h"
#include "ledgerkit/entities/ACTransaction.h"
#include "entities/Catalog.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "services/Ledger.h"
#include "services/Users.h"

namespace ledgerkit {

std::shared_ptr<EntityCollection> CACMgr::GetTransLogByStatus(const Variant& Account, const Variant& UserName,
                                                              const Variant& /*Token*/, const Variant& TransLogStatus) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t status = ToLong(TransLogStatus);
    // Only a failure of the lookup matters; the profile itself does not change the list.
    services::UserProfile(Account, UserName);
    return Fetch<ACTransLog>(Account, FetchArgs{.filter = Sql("TransLogStatus=", kValue),
                                                .sort = "LogDate ASC",
                                                .bind = {Param(db::ACTransLog::TransLogStatus, status)}});
  });
}

std::shared_ptr<ACTransLog> CACMgr::GetTransLog(const Variant& Account, const Variant& /*UserName*/,
                                                const Variant& /*Token*/, const Variant& TransactionNumber) {
  return ledger::RunEntityRead<ACTransLog>(Account, [&] {
    const auto headers =
        Fetch<ACTransLog>(Account, FetchArgs{.filter = Sql("TransactionNumber=", kValue),
                                             .bind = {SelectingText(TransactionNumber, "TransactionNumber")}});
    return RequireFirst<ACTransLog>(*headers,
                                    "No ledger transaction has the number " + ledger::Shown(TransactionNumber) + ".");
  });
}

void CACMgr::UpdateTransLog(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                            const Variant& TransactionNumber, const Variant& TransactionDate,
                            const Variant& Description, const Variant& ChequeNo, const Variant& Address,
                            const Variant& Amount) {
  RunOperation(Account, Access::kWrite, [&] {
    const services::HeaderValues values =
        services::HeaderArguments(TransactionDate, Description, ChequeNo, Address, Amount);
    services::UpdateHeader(Account, services::StoredNumberArgument(TransactionNumber), values);
  });
}

std::shared_ptr<ACTransLogWIP> CACMgr::GetTransLogWIP(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& TransLogWIPID) {
  return ledger::RunEntityRead<ACTransLogWIP>(Account, [&] {
    const int32_t line_id = ToKey(TransLogWIPID, "TransLogWIPID");
    return ledger::RequireByKey<ACTransLogWIP>(Account, line_id, "TransLogWIPID");
  });
}

void CACMgr::UpdateTransLogWIP(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& TransLogWIPID, const Variant& AccountID, const Variant& Description,
                               const Variant& Amount) {
  RunOperation(Account, Access::kWrite, [&] {
    // A waiting line never holds a Null amount: committed, it would make the balance Null.
    const Currency amount = ToCurrency(Amount, "Amount");
    auto line = RowWrite::Of<db::ACTransLogWIP>();
    line.Set(db::ACTransLogWIP::AccountID, AccountID)
        .Set(db::ACTransLogWIP::Description, Description)
        .Set(db::ACTransLogWIP::Amount, amount)
        .Where(db::ACTransLogWIP::ACTransLogWIPID, TransLogWIPID, "TransLogWIPID");
    line.Update(Account);
  });
}

void CACMgr::DeleteTransLogWIP(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& TransLogWIPID) {
  ledger::DeleteRows(Account, RowWrite::Of<db::ACTransLogWIP>().Where(db::ACTransLogWIP::ACTransLogWIPID, TransLogWIPID,
                                                                       "TransLogWIPID"));
}

std::shared_ptr<EntityCollection> CACMgr::GetTransactionsByTransNum(const Variant& Account, const Variant& /*UserName*/,
                                                                    const Variant& /*Token*/,
                                                                    const Variant& TransactionNumber) {
  return ledger::RunEntityRead<ACTransaction>(Account, [&] {
    return Fetch<ACTransaction>(Account, FetchArgs{.filter = Sql("TransactionNumber=", kValue),
                                                   .sort = "Parent ASC",
                                                   .bind = {SelectingText(TransactionNumber, "TransactionNumber")}});
  });
}

}  // namespace ledgerkit
