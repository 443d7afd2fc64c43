#include "entities/Catalog.h"

#include <string>
#include <utility>
#include <vector>

#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/Text.h"
#include "ledgerkit/entities/Schema.h"
#include "security/UserNames.h"

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
    {"ACInvoice", "InvoiceNo", true},  // the next invoice number follows the greatest
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

// Gives every user and session row without a matching form of its name the form of
// security/UserNames.h, so lookups by that form find rows written before it was kept.
void FillUserKeys(EngineConnection& connection) {
  for (const std::string_view table : {db::IUser::kTable, db::SysSessions::kTable}) {
    const std::string key = std::string(table) + "ID";
    std::vector<std::pair<int64_t, std::string>> names;
    {
      const auto select = connection.Prepare(Sql("SELECT " + key + ", UserName FROM " + std::string(table) +
                                                 " WHERE UserKey IS NULL AND UserName IS NOT NULL"));
      while (select->Step()) names.emplace_back(select->ColumnInteger(0).value_or(0), std::string(select->ColumnText(1)));
    }
    const auto update = connection.Prepare(
        Sql("UPDATE " + std::string(table) + " SET UserKey = ", kValue, " WHERE " + key + " = ", kValue));
    for (const auto& [row, name] : names) {
      update->Reset();
      update->BindText(1, UserNameKey(name));
      update->BindInteger(2, row);
      while (update->Step()) {
      }
    }
  }
}

// Version 2: text sorted and matched without regard to letter case, money columns that hold
// exact counts only (on a server, companies began here). Version 3: the statement lines
// imported on each bank account. Version 4: the index of whole invoice numbers.
constexpr SchemaStep kSteps[] = {
    {2, SchemaStepKind::kRedefineColumns},
    {2, SchemaStepKind::kAddIndex, db::IUser::kTable, nullptr, "UserName"},
    {2, SchemaStepKind::kAddIndex, db::SysSessions::kTable, nullptr, "UserName"},
    {2, SchemaStepKind::kBackfill, {}, nullptr, {}, "the matching forms of user names", FillUserKeys},
    {3, SchemaStepKind::kAddTable, db::ACStatementLine::kTable},
    {3, SchemaStepKind::kAddIndex, db::ACStatementLine::kTable, nullptr, "AccountID,StatementID"},
    {3, SchemaStepKind::kAddIndex, db::ACStatementLine::kTable, nullptr, "TransactionNumber"},
    {4, SchemaStepKind::kAddIndex, db::ACInvoice::kTable, nullptr, "InvoiceNo", {}, nullptr, true},
};

}  // namespace

std::vector<ColumnDef> ColumnsAtStep(const Catalog& catalog, const TableDef& table, const SchemaStep& step) {
  std::vector<ColumnDef> columns;
  for (const ColumnDef& column : table.columns) {
    bool later = false;
    for (const SchemaStep& other : catalog.steps) {
      later = later || (&other > &step && other.kind == SchemaStepKind::kAddColumn && other.table == table.name &&
                        other.column != nullptr && other.column->name == column.name);
    }
    if (!later) columns.push_back(column);
  }
  return columns;
}

const TableDef& CatalogTable(const Catalog& catalog, std::string_view name) {
  for (const TableDef& table : catalog.tables) {
    if (table.name == name) return table;
  }
  throw Error::Runtime(kInvalidArgument, "The catalog has no table named " + std::string(name) + ".");
}

void RunBackfill(EngineConnection& connection, const SchemaStep& step) {
  if (step.backfill == nullptr) {
    throw Error::Runtime(kInvalidArgument, "The schema step to version " + std::to_string(step.version) + " (" +
                                               std::string(step.name) + ") has no function to run.");
  }
  step.backfill(connection);
}

std::string IndexSql(const IndexDef& index, const EngineDialect& dialect, bool if_missing) {
  std::string name = "ix_" + std::string(index.table) + "_" + std::string(index.columns);
  for (char& c : name) c = c == ',' ? '_' : c;
  const std::string create = if_missing ? "CREATE INDEX IF NOT EXISTS " : "CREATE INDEX ";
  const std::string table(index.table);
  if (!index.whole_numbers) return create + name + " ON " + table + " (" + std::string(index.columns) + ");\n";
  return create + name + "_whole ON " + table + " ((" + dialect.WholeNumberValue(index.columns) + ")) WHERE " +
         dialect.WholeNumberCondition(index.columns) + ";\n";
}

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
  static const Catalog catalog{kTables,      kIndexes,      kSchemaVersion, kApplicationId,
                               kKeptTotals, kRangeGuards, kDeleteGuards,  kSteps};
  return catalog;
}

const KeptTotalsDef& RegisterTotalsDef() { return kKeptTotals[0]; }

const TableDef& SchemaTable(std::string_view name) { return CatalogTable(CompanyCatalog(), name); }

}  // namespace ledgerkit
