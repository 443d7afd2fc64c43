// CACMgr: bank reconciliation. Ticked register rows are marked reconciled; the statement's
// service charge and interest are posted as general-journal transactions of their own.
#include <set>
#include <string>
#include <vector>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "services/Arguments.h"
#include "services/Ledger.h"

namespace ledgerkit {

namespace {

constexpr const char* kServiceCharge = "a/c Service Charge";
constexpr const char* kInterestEarned = "a/c Interest Earned";

// Register rows one statement marks: within every engine's limit of bound values.
constexpr size_t kKeysPerStatement = 100;

// A posting is made for an amount other than 0 (Null and Empty mean none) to an account key
// above 0.
bool ShouldPost(const Variant& amount, const Variant& account_id) {
  if (amount.IsNull() || account_id.IsNull()) return false;
  return ToCurrency(amount) != Currency() && ToLong(account_id) > 0;
}

}  // namespace

void CACMgr::ReconcileAccount(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                              const Variant& AccountID, const Variant& TransIDs, const Variant& ServiceCharge,
                              const Variant& ServiceChargeDate, const Variant& ServiceChargeAccount,
                              const Variant& InterestEarned, const Variant& InterestEarnedDate,
                              const Variant& InterestEarnedAccount) {
  RunOperation(Account, Access::kWrite, [&] {
    // The keys, each once, marked a batch at a time by one statement: the last batch is filled
    // up with its own last key, so every batch runs the one prepared text.
    const std::string ids = ToText(TransIDs);
    std::set<int32_t> keys;
    for (size_t start = 0; !ids.empty();) {
      const size_t bar = ids.find('|', start);
      keys.insert(ToLong(ids.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    if (!keys.empty()) {
      Command mark(Account);
      mark.SetText(
          Sql("UPDATE ACTransaction SET Reconciled=1 WHERE ACTransactionID IN (", ValueList(kKeysPerStatement), ");"));
      for (size_t i = 0; i < kKeysPerStatement; ++i) {
        mark.Bind(db::ACTransaction::ACTransactionID, Variant(), "TransIDs");
      }
      auto key = keys.begin();
      while (key != keys.end()) {
        int32_t last = *key;
        for (size_t i = 0; i < kKeysPerStatement; ++i) {
          if (key != keys.end()) last = *key++;
          mark.Assign(i, last);
        }
        mark.Execute();
      }
    }

    // Each posting is a committed general journal: debit one account, credit the other. The
    // service charge posts its debit line first, the interest its credit line.
    // A transaction number once taken stays used when the call fails: a refusal says so.
    std::vector<std::string> taken;
    auto post_journal = [&](const Variant& date, const char* description, const Variant& debit_account,
                            const Variant& credit_account, Currency amount, bool credit_first) {
      const std::string number = services::TakeNumber(Account);
      taken.push_back(number);
      services::TransactionStart start = services::StartArguments(ttGENJRNL, date, description, UserName, Variant(),
                                                                  Variant(), Currency(), Variant(), Variant());
      const services::BegunTransaction journal = services::BeginTransaction(Account, number, start);
      auto post = [&](services::Side side, const Variant& line_account) {
        services::AddLine(Account, journal.header,
                          services::LineValues{.account_id = services::KeyArgument(line_account, "AccountID"),
                                               .amount = amount,
                                               .side = side,
                                               .description = std::string(description)});
      };
      if (credit_first) post(services::Side::kCredit, credit_account);
      post(services::Side::kDebit, debit_account);
      if (!credit_first) post(services::Side::kCredit, credit_account);
      services::CommitTransaction(Account, journal.number);
      return journal.number;
    };
    std::string service_number, interest_number;
    try {
      if (ShouldPost(ServiceCharge, ServiceChargeAccount)) {
        service_number = post_journal(ServiceChargeDate, kServiceCharge, ServiceChargeAccount, AccountID,
                                      ToCurrency(ServiceCharge, "ServiceCharge"), false);
      }
      if (ShouldPost(InterestEarned, InterestEarnedAccount)) {
        interest_number = post_journal(InterestEarnedDate, kInterestEarned, AccountID, InterestEarnedAccount,
                                       ToCurrency(InterestEarned, "InterestEarned"), true);
      }
    } catch (const Error& error) {
      if (taken.empty()) throw;
      const std::string numbers = taken.size() == 1 ? "number " + taken[0] : "numbers " + taken[0] + " and " + taken[1];
      throw error.WithDescription(error.description() + " No row is marked and nothing is posted; the transaction " +
                                  numbers + " taken for the postings stay" + (taken.size() == 1 ? "s" : "") +
                                  " used.");
    }

    Command postings(Account);
    postings.SetText(Sql("UPDATE ACTransaction SET Reconciled=1 WHERE TransactionNumber=", kValue,
                         " OR TransactionNumber=", kValue, ";"));
    postings.Bind(db::ACTransaction::TransactionNumber, service_number, "S");
    postings.Bind(db::ACTransaction::TransactionNumber, interest_number, "I");
    postings.Execute();
  });
}

}  // namespace ledgerkit
