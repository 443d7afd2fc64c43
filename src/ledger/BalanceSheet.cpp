// CACMgr: the accounts of one balance-sheet class, and an account's balance from its register.
#include <charconv>
#include <optional>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "entities/RegisterTotals.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"

namespace ledgerkit {

namespace {

std::shared_ptr<EntityCollection> AccountsOfClass(const Variant& account, const Variant& include_inactive,
                                                  eBalanceSheetType balance_sheet_type) {
  return RunOperation(account, Access::kRead, [&] {
    const bool include = !include_inactive.IsNull() && ToBoolean(include_inactive);
    const std::string filter = std::string(include ? "" : "Inactive=0 AND ") +
                               "AccountTypeID IN (SELECT ACAccountTypeID FROM ACAccountType WHERE BalanceSheetType=" +
                               std::to_string(static_cast<int32_t>(balance_sheet_type)) + ")";
    return Fetch<ACAccount>(account, FetchArgs{.filter = Sql(filter), .sort = "AccountNumber ASC,Name ASC"});
  });
}

// An exact count of ten-thousandths given as text by the engine (CAST(... AS TEXT)); nullopt
// for anything else (a REAL, which no exact amount is).
std::optional<int64_t> ScaledFromText(const Variant& value) {
  const std::string text = ToText(value);
  int64_t scaled = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), scaled);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return scaled;
}

// Debits minus credits over the register rows the statement selects, computed exactly. The
// statement gives the two sums as text, or no row (or Nulls) when the balance is Null. A sum
// the engine cannot hold, or one that is not an exact amount, is an Overflow naming the account.
Variant RegisterBalance(const Variant& account, const Sql& sql, const Variant& account_id, const Variant* for_date) {
  return RunOperation(account, Access::kRead, [&] {
    // A Null account is no account: Invalid use of Null (94), never a Null balance.
    const int32_t key = ToKey(account_id);
    Command command(account);
    command.SetText(sql);
    command.Bind(db::ACTransaction::Parent, key, "AccountID");
    if (for_date != nullptr) command.Bind(db::ACTransaction::TransactionDate, *for_date, "ForDate");
    const auto overflow = [&] {
      return Error::Runtime(kOverflow, "Overflow: the balance of account " + ToText(account_id) +
                                           " leaves the currency range.");
    };
    std::shared_ptr<Recordset> sums;
    try {
      sums = command.ExecuteQuery();
    } catch (const Error& error) {
      // The engine's SUM() fails rather than give an inexact total.
      if (command.Dialect().IsSumOverflow(error)) throw overflow();
      throw;
    }
    if (sums->AtEOF() || sums->Field(0).IsNull() || sums->Field(1).IsNull()) return Variant::Null();
    const std::optional<int64_t> debits = ScaledFromText(sums->Field(0));
    const std::optional<int64_t> credits = ScaledFromText(sums->Field(1));
    if (!debits || !credits) throw overflow();
    try {
      return Variant(Currency::FromScaled(*debits) - Currency::FromScaled(*credits));
    } catch (const Error& error) {
      if (error.number() != kOverflow) throw;
      throw overflow();
    }
  });
}

}  // namespace

std::shared_ptr<EntityCollection> CACMgr::GetAssetAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                           const Variant& /*Token*/, const Variant& IncludeInactive) {
  return AccountsOfClass(Account, IncludeInactive, bstASSET);
}

std::shared_ptr<EntityCollection> CACMgr::GetLiabilityAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                               const Variant& /*Token*/, const Variant& IncludeInactive) {
  return AccountsOfClass(Account, IncludeInactive, bstLIABILITY);
}

std::shared_ptr<EntityCollection> CACMgr::GetEquityAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                            const Variant& /*Token*/, const Variant& IncludeInactive) {
  return AccountsOfClass(Account, IncludeInactive, bstEQUITY);
}

std::shared_ptr<EntityCollection> CACMgr::GetIncomeAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                            const Variant& /*Token*/, const Variant& IncludeInactive) {
  return AccountsOfClass(Account, IncludeInactive, bstINCOME);
}

std::shared_ptr<EntityCollection> CACMgr::GetExpenseAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                             const Variant& /*Token*/, const Variant& IncludeInactive) {
  return AccountsOfClass(Account, IncludeInactive, bstEXPENSE);
}

Variant CACMgr::GetAccountBalance(const Variant& sAccount, const Variant& AccountID) {
  // The register totals give SUM(Withdrawal)-SUM(Deposit) over the account's rows, Null when
  // either sum has no amount, without reading the rows.
  return RegisterBalance(sAccount, RegisterTotalsBalanceSql(), AccountID, nullptr);
}

Variant CACMgr::GetAccountBalanceForDate(const Variant& sAccount, const Variant& AccountID, const Variant& ForDate) {
  // A Null date is no date: Invalid use of Null (94), as Empty is refused, never the Null
  // balance of rows compared with nothing.
  if (ForDate.IsNull()) {
    throw Error::Runtime(kInvalidUseOfNull, "Invalid use of Null: ForDate is Null; the balance needs a date.");
  }
  return RegisterBalance(
      sAccount,
      Sql("SELECT CAST(SUM(Withdrawal) AS TEXT), CAST(SUM(Deposit) AS TEXT) FROM ACTransaction WHERE Parent=", kValue,
          " AND TransactionDate<=", kValue, ";"),
      AccountID, &ForDate);
}

}  // namespace ledgerkit
