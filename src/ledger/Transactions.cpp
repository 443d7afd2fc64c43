// CACMgr: the life of a ledger transaction. Begun under a fresh number (a header in progress,
// with the first line of a cheque or deposit), filled with debit and credit lines, then
// committed to the register and the stored balances, or aborted without a trace. The work is
// done by the ledger services (services/Ledger.h), which other operations call as well.
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Operation.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "entities/Catalog.h"
#include "services/Arguments.h"
#include "services/Ledger.h"

namespace ledgerkit {

std::string CACMgr::BeginTransaction(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                                     const Variant& TransType, const Variant& TransactionDate,
                                     const Variant& Description, const Variant& AccountID, const Variant& Amount,
                                     const Variant& Address, const Variant& Memo, const Variant& ChequeNo) {
  return RunOperation(Account, Access::kWrite, [&] {
    // The number first: a call refused for any value still consumes it.
    const std::string number = services::TakeNumber(Account);
    const int32_t type = services::BegunType(TransType);
    const services::TransactionStart start = services::StartArguments(type, TransactionDate, Description, UserName,
                                                                      ChequeNo, Address, Amount, AccountID, Memo);
    return services::BeginTransaction(Account, number, start).number;
  });
}

Variant CACMgr::PostDebit(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                          const Variant& Amount, const Variant& Description) {
  return PostLine(Account, TransactionID, AccountID, Amount, Description, true);
}

Variant CACMgr::PostCredit(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                           const Variant& Amount, const Variant& Description) {
  return PostLine(Account, TransactionID, AccountID, Amount, Description, false);
}

Variant CACMgr::PostLine(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                         const Variant& Amount, const Variant& Description, bool is_debit) {
  return RunOperation(Account, Access::kWrite, [&] {
    const std::string number = services::NumberArgument(TransactionID);
    // The amount of a line is money, never Null (a Null amount would turn a balance Null). A
    // missing transaction is reported before a bad value, as a lookup first would.
    services::LineValues line{.side = is_debit ? services::Side::kDebit : services::Side::kCredit};
    try {
      line.amount = ToCurrency(Amount, "Amount");
      line.account_id = services::KeyArgument(AccountID, db::ACTransLogWIP::AccountID.name);
      line.description = services::TextArgument(Description, db::ACTransLogWIP::Description);
    } catch (const Error&) {
      services::RequireHeaderKey(Account, number);
      throw;
    }
    return Variant(services::AddLine(Account, number, line));
  });
}

void CACMgr::EndTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite,
               [&] { services::CommitTransaction(Account, services::NumberArgument(TransactionID)); });
}

void CACMgr::AbortTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite,
               [&] { services::AbortTransaction(Account, services::StoredNumberArgument(TransactionID)); });
}

}  // namespace ledgerkit
