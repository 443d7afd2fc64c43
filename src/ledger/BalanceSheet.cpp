// CACMgr: the accounts of one balance-sheet class, and an account's balance from its register.
#include "common/Command.h"
#include "common/Convert.h"
#include "common/Operation.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"

namespace ledgerkit {

namespace {

std::shared_ptr<EntityCollection> AccountsOfClass(const Variant& account, const Variant& include_inactive,
                                                  eBalanceSheetType balance_sheet_type) {
  return RunOperation(account, Access::kRead, [&] {
    const bool include = !include_inactive.IsNull() && ToBoolean(include_inactive);
    const std::string filter = std::string(include ? "" : "Inactive=0 AND ") +
                               "AccountTypeID IN (SELECT ACAccountTypeID FROM ACAccountType WHERE BalanceSheetType=" +
                               std::to_string(static_cast<int32_t>(balance_sheet_type)) + ")";
    return Fetch<ACAccount>(account, FetchArgs{.filter = filter, .sort = "AccountNumber ASC,Name ASC"});
  });
}

// Debits minus credits over the register rows the statement selects, read back exactly.
Variant RegisterBalance(const Variant& account, const char* sql, const Variant& account_id, const Variant* for_date) {
  return RunOperation(account, Access::kRead, [&] {
    Command command(account);
    command.SetText(sql);
    command.Append("p1", ParamType::kLong, 0, account_id, "AccountID");
    if (for_date != nullptr) command.Append("p2", ParamType::kDate, 0, *for_date, "ForDate");
    return command.ExecuteScalar(FieldType::kCurrency);
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
  return RegisterBalance(sAccount,
                         "SELECT (SELECT CASE WHEN DebitRows>0 AND CreditRows>0 THEN Debits-Credits END "
                         "FROM lk_RegisterTotal WHERE AccountID=?) AS Balance;",
                         AccountID, nullptr);
}

Variant CACMgr::GetAccountBalanceForDate(const Variant& sAccount, const Variant& AccountID, const Variant& ForDate) {
  return RegisterBalance(
      sAccount,
      "SELECT SUM(Withdrawal)-SUM(Deposit) AS Balance FROM ACTransaction WHERE Parent=? AND TransactionDate<=?;",
      AccountID, &ForDate);
}

}  // namespace ledgerkit
