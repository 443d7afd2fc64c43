#include "entities/Catalog.h"

#include <string>

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/Text.h"
#include "ledgerkit/entities/Schema.h"

namespace ledgerkit {

namespace {

constexpr TableDef kTables[] = {
    {db::ISubScriber::kTable, db::ISubScriber::kColumns},
    {db::ISubscriberLocation::kTable, db::ISubscriberLocation::kColumns},
    {db::IUser::kTable, db::IUser::kColumns},
    {db::SysSessions::kTable, db::SysSessions::kColumns},
    {db::ACAccountType::kTable, db::ACAccountType::kColumns},
    {db::ACFnclInstitution::kTable, db::ACFnclInstitution::kColumns},
    {db::ACAccount::kTable, db::ACAccount::kColumns},
    {db::ACTransLog::kTable, db::ACTransLog::kColumns},
    {db::ACTransLogWIP::kTable, db::ACTransLogWIP::kColumns},
    {db::ACTransaction::kTable, db::ACTransaction::kColumns},
    {db::ACInvoice::kTable, db::ACInvoice::kColumns},
    {db::ACInvoiceItem::kTable, db::ACInvoiceItem::kColumns},
    {db::CITaxCode::kTable, db::CITaxCode::kColumns},
    {db::ACStatementLine::kTable, db::ACStatementLine::kColumns},
};

// Every column the managers filter, join or sort on.
constexpr IndexDef kIndexes[] = {
    {"ISubscriberLocation", "Parent"},
    {"ISubscriberLocation", "IsPrimary"},
    {"IUser", "Parent"},
    {"IUser", "UserName"},
    {"IUser", "UserKey"},
    {"IUser", "ReportsToID"},
    {"IUser", "LastName,FirstName"},
    {"SysSessions", "Token"},
    {"SysSessions", "UserName"},
    {"SysSessions", "UserKey"},
    {"ACAccountType", "Parent,Name"},
    {"ACAccountType", "BalanceSheetType"},
    {"ACFnclInstitution", "Parent,Name"},
    {"ACAccount", "Parent,AccountNumber,Name"},
    {"ACAccount", "AccountTypeID"},
    {"ACAccount", "FnclInstitutionID"},
    {"ACAccount", "ParentAccountID"},
    {"ACAccount", "AccountNumber,Name"},
    {"ACTransLog", "TransactionNumber"},
    {"ACTransLog", "TransLogStatus"},
    {"ACTransLogWIP", "Parent"},
    {"ACTransLogWIP", "AccountID"},
    {"ACTransaction", "Parent,TransactionDate,Withdrawal,Deposit"},  // covers the balance sums
    {"ACTransaction", "TransactionNumber"},
    {"ACInvoice", "TransactionNumber"},
    {"ACInvoice", "Paid"},
    {"ACInvoiceItem", "Parent,ItemCode"},
    {"ACInvoiceItem", "TaxID"},
    {"CITaxCode", "Parent,TaxCode"},
    {"ACStatementLine", "AccountID,StatementID"},
    {"ACStatementLine", "TransactionNumber"},
};

// The register's debits and credits per account, so that a balance is read from one row.
constexpr KeptSumDef kRegisterSums[] = {
    {"Withdrawal", "Debits", "DebitRows"},
    {"Deposit", "Credits", "CreditRows"},
};

constexpr KeptTotalsDef kKeptTotals[] = {
    {"lk_RegisterTotal", "AccountID", db::ACTransaction::kTable, "Parent", kRegisterSums,
     "an account's total of register debits or credits", "lk_register_insert", "lk_register_delete",
     "lk_register_update", "lk_register_change"},
};

constexpr RangeGuardDef kRangeGuards[] = {
    {db::ACAccount::kTable, "Balance", "an account's balance", "lk_balance_overflow"},
};

// An account still referred to is not deleted: the money would be left posted to nowhere.
// Sub-accounts, invoices and tax codes are not looked for.
constexpr DeleteGuardDef kDeleteGuards[] = {
    {db::ACAccount::kTable, "account", db::ACTransaction::kTable, "Parent", "register rows",
     "lk_account_delete_rows"},
    {db::ACAccount::kTable, "account", db::ACTransLogWIP::kTable, "AccountID", "waiting lines",
     "lk_account_delete_lines"},
};

}  // namespace

std::string RangeGuardMessage(std::string_view what) {
  return "Overflow: " + std::string(what) + " would leave the currency range.";
}

std::string DeleteGuardMessage(const DeleteGuardDef& guard) {
  return "The " + std::string(guard.row) + " is not deleted: " + std::string(guard.rows) + " (" +
         std::string(guard.referencing) + "." + std::string(guard.column) + ") still refer to it.";
}

std::optional<ColumnDef> FindCatalogColumn(const Catalog& catalog, std::string_view table, std::string_view column) {
  for (const TableDef& candidate : catalog.tables) {
    if (!SameNameIgnoringCase(candidate.name, table)) continue;
    for (const ColumnDef& found : candidate.columns) {
      if (SameNameIgnoringCase(found.name, column)) return found;
    }
    return std::nullopt;
  }
  for (const KeptTotalsDef& kept : catalog.kept_totals) {
    if (!SameNameIgnoringCase(kept.table, table)) continue;
    if (SameNameIgnoringCase(kept.key, column)) return ColumnDef{kept.key, FieldType::kKey};
    for (const KeptSumDef& sum : kept.sums) {
      if (SameNameIgnoringCase(sum.total, column)) return ColumnDef{sum.total, FieldType::kLong};
      if (SameNameIgnoringCase(sum.count, column)) return ColumnDef{sum.count, FieldType::kLong};
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::span<const TableDef> SchemaTables() { return kTables; }
std::span<const IndexDef> SchemaIndexes() { return kIndexes; }

const Catalog& CompanyCatalog() {
  static const Catalog catalog{kTables, kIndexes, kSchemaVersion, kApplicationId, kKeptTotals, kRangeGuards,
                               kDeleteGuards};
  return catalog;
}

const KeptTotalsDef& RegisterTotalsDef() { return kKeptTotals[0]; }

const TableDef& SchemaTable(std::string_view name) {
  for (const TableDef& table : kTables) {
    if (table.name == name) return table;
  }
  throw Error::Runtime(kInvalidArgument, "The schema has no table named " + std::string(name) + ".");
}

}  // namespace ledgerkit
