// CACMgr: bank reconciliation. Ticked register rows are marked reconciled; the statement's
// service charge and interest are posted as general-journal transactions of their own.
#include "common/Command.h"
#include "common/Convert.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"

namespace ledgerkit {

namespace {

constexpr const char* kServiceCharge = "a/c Service Charge";
constexpr const char* kInterestEarned = "a/c Interest Earned";

// A posting is made for an amount other than 0 (Null and Empty mean none) to an account key
// above 0.
bool ShouldPost(const Variant& amount, const Variant& account_id) {
  if (amount.IsNull() || account_id.IsNull()) return false;
  return ToCurrency(amount) != Currency() && ToLong(account_id) > 0;
}

}  // namespace

void CACMgr::ReconcileAccount(const Variant& Account, const Variant& UserName, const Variant& Token,
                              const Variant& AccountID, const Variant& TransIDs, const Variant& ServiceCharge,
                              const Variant& ServiceChargeDate, const Variant& ServiceChargeAccount,
                              const Variant& InterestEarned, const Variant& InterestEarnedDate,
                              const Variant& InterestEarnedAccount) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::string ids = ToText(TransIDs);
    Command mark(Account);
    mark.SetText("UPDATE ACTransaction SET Reconciled=1 WHERE ACTransactionID=?;");
    mark.Append("p1", FieldType::kLong, 0, Variant(), "TransIDs");
    for (size_t start = 0; !ids.empty();) {
      const size_t bar = ids.find('|', start);
      const std::string piece = ids.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
      mark.Assign("p1", ToLong(piece));
      mark.Execute();
      if (bar == std::string::npos) break;
      start = bar + 1;
    }

    // Each posting is a committed general journal: debit one account, credit the other. The
    // service charge posts its debit line first, the interest its credit line.
    auto post_journal = [&](const Variant& date, const char* description, const Variant& debit_account,
                            const Variant& credit_account, const Variant& amount, bool credit_first) {
      const std::string number = BeginTransaction(Account, UserName, Token, static_cast<int32_t>(ttGENJRNL), date,
                                                  description, 0, 0, "", "", "");
      if (credit_first) PostCredit(Account, number, credit_account, amount, description);
      PostDebit(Account, number, debit_account, amount, description);
      if (!credit_first) PostCredit(Account, number, credit_account, amount, description);
      EndTransaction(Account, number);
      return number;
    };
    const std::string service_number =
        ShouldPost(ServiceCharge, ServiceChargeAccount)
            ? post_journal(ServiceChargeDate, kServiceCharge, ServiceChargeAccount, AccountID, ServiceCharge, false)
            : std::string();
    const std::string interest_number =
        ShouldPost(InterestEarned, InterestEarnedAccount)
            ? post_journal(InterestEarnedDate, kInterestEarned, AccountID, InterestEarnedAccount, InterestEarned, true)
            : std::string();

    Command postings(Account);
    postings.SetText("UPDATE ACTransaction SET Reconciled=1 WHERE TransactionNumber=? OR TransactionNumber=?;");
    postings.Append("p1", FieldType::kText, lenACTransaction::lenTransactionNumber, service_number, "S");
    postings.Append("p2", FieldType::kText, lenACTransaction::lenTransactionNumber, interest_number, "I");
    postings.Execute();
  });
}

}  // namespace ledgerkit
