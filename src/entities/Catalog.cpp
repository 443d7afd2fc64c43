#include "entities/Catalog.h"

#include <string>

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
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

}  // namespace

std::span<const TableDef> SchemaTables() { return kTables; }
std::span<const IndexDef> SchemaIndexes() { return kIndexes; }

const Catalog& CompanyCatalog() {
  static const Catalog catalog{kTables, kIndexes, kSchemaVersion, kApplicationId};
  return catalog;
}

const TableDef& SchemaTable(std::string_view name) {
  for (const TableDef& table : kTables) {
    if (table.name == name) return table;
  }
  throw Error::Runtime(kInvalidArgument, "The schema has no table named " + std::string(name) + ".");
}

}  // namespace ledgerkit
