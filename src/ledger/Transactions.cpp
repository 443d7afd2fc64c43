// CACMgr: the life of a ledger transaction. Begun under a fresh number (a header in progress,
// with the first line of a cheque or deposit), filled with debit and credit lines, then
// committed to the register and the stored balances, or aborted without a trace. The work is
// done by the ledger services (services/Ledger.h), which other operations call as well.
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Operation.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "services/Ledger.h"

namespace ledgerkit {

std::string CACMgr::BeginTransaction(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                                     const Variant& TransType, const Variant& TransactionDate,
                                     const Variant& Description, const Variant& AccountID, const Variant& Amount,
                                     const Variant& Address, const Variant& Memo, const Variant& ChequeNo) {
  return RunOperation(Account, Access::kWrite, [&] {
    return services::BeginTransaction(Account, services::TransactionStart{.type = TransType,
                                                                          .date = TransactionDate,
                                                                          .description = Description,
                                                                          .user_name = UserName,
                                                                          .cheque_no = ChequeNo,
                                                                          .address = Address,
                                                                          .amount = Amount,
                                                                          .line_account = AccountID,
                                                                          .memo = Memo})
        .number;
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
    // The amount of a line is money, never Null (a Null amount would turn a balance Null). A
    // missing transaction is reported before a bad amount, as a lookup first would.
    Currency amount;
    try {
      amount = ToCurrency(Amount, "Amount");
    } catch (const Error&) {
      services::RequireHeaderKey(Account, TransactionID);
      throw;
    }
    return services::AddLine(Account, TransactionID, AccountID, amount,
                             is_debit ? services::Side::kDebit : services::Side::kCredit, Description);
  });
}

void CACMgr::EndTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite, [&] { services::CommitTransaction(Account, TransactionID); });
}

void CACMgr::AbortTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite, [&] { services::AbortTransaction(Account, TransactionID); });
}

}  // namespace ledgerkit
