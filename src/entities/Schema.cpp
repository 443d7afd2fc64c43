#include "entities/Schema.h"

#include "common/Command.h"
#include "common/DataAccess.h"
#include "common/Engine.h"
#include "common/Error.h"
#include "common/UnitOfWork.h"
#include "common/UserNames.h"
#include "entities/ColumnWidths.h"
#include "security/PasswordHash.h"

namespace ledgerkit {

namespace {

using K = ColumnKind;

constexpr ColumnDef kISubScriber[] = {
    {"ISubScriberID", K::kKey},
    {"CompanyName", K::kText, lenISubScriber::lenCompanyName, {}, true},
    {"AccountNo", K::kText, lenISubScriber::lenAccountNo},
    {"NextTransactionNumber", K::kInteger},
    {"NextInvoiceNumber", K::kInteger},
    {"NextExpenseReportNumber", K::kInteger},
    {"NextClientAccountNumber", K::kInteger},
};

constexpr ColumnDef kISubscriberLocation[] = {
    {"ISubscriberLocationID", K::kKey},
    {"Parent", K::kInteger},
    {"Name", K::kText, lenISubscriberLocation::lenName, {}, true},
    {"Address1", K::kText, lenISubscriberLocation::lenAddress1},
    {"Address2", K::kText, lenISubscriberLocation::lenAddress2},
    {"Address3", K::kText, lenISubscriberLocation::lenAddress3},
    {"City", K::kText, lenISubscriberLocation::lenCity},
    {"Province", K::kText, lenISubscriberLocation::lenProvince},
    {"PostalCode", K::kText, lenISubscriberLocation::lenPostalCode},
    {"Country", K::kText, lenISubscriberLocation::lenCountry},
    {"Telephone", K::kText, lenISubscriberLocation::lenTelephone},
    {"Fax", K::kText, lenISubscriberLocation::lenFax},
    {"Notes", K::kText, lenISubscriberLocation::lenNotes},
    {"IsPrimary", K::kBoolean},
};

constexpr ColumnDef kIUser[] = {
    {"IUserID", K::kKey},
    {"Parent", K::kInteger},
    {"UserName", K::kText, lenIUser::lenUserName, {}, true},
    {"Password", K::kText, 255},  // holds a password hash; the clear text is limited to 30 on input
    {"FirstName", K::kText, lenIUser::lenFirstName, {}, true},
    {"LastName", K::kText, lenIUser::lenLastName, {}, true},
    {"MiddleInitial", K::kText, lenIUser::lenMiddleInitial},
    {"Admin", K::kBoolean},
    {"MainUser", K::kBoolean},
    {"AllowLogon", K::kBoolean},
    {"EMail", K::kText, lenIUser::lenEMail},
    {"ReportsToID", K::kInteger},
    // The name's matching form (common/UserNames.h), kept by the library beside the spelling
    // given; lookups and the uniqueness of names go through it.
    {"UserKey", K::kText, 4 * lenIUser::lenUserName},
};

constexpr ColumnDef kSysSessions[] = {
    {"SysSessionsID", K::kKey},
    {"Account", K::kText, lenSysSessions::lenAccount},
    {"UserName", K::kText, lenSysSessions::lenUserName, {}, true},
    {"Token", K::kText, lenSysSessions::lenToken},
    {"LastUpdate", K::kDate, 0, ColumnDefault::kNow},
    {"UserKey", K::kText, 4 * lenSysSessions::lenUserName},  // as IUser.UserKey
};

constexpr ColumnDef kACAccountType[] = {
    {"ACAccountTypeID", K::kKey},
    {"Parent", K::kInteger},
    {"Name", K::kText, lenACAccountType::lenName, {}, true},
    {"Description", K::kText, lenACAccountType::lenDescription},
    {"FnclInstituteRqd", K::kBoolean},
    {"BalanceSheetType", K::kInteger},
};

constexpr ColumnDef kACFnclInstitution[] = {
    {"ACFnclInstitutionID", K::kKey},
    {"Parent", K::kInteger},
    {"Name", K::kText, lenACFnclInstitution::lenName, {}, true},
    {"Address", K::kText, lenACFnclInstitution::lenAddress},
    {"Contact", K::kText, lenACFnclInstitution::lenContact},
    {"Telephone", K::kText, lenACFnclInstitution::lenTelephone},
};

constexpr ColumnDef kACAccount[] = {
    {"ACAccountID", K::kKey},
    {"Parent", K::kInteger},
    {"AccountNumber", K::kText, lenACAccount::lenAccountNumber, {}, true},
    {"Name", K::kText, lenACAccount::lenName, {}, true},
    {"Description", K::kText, lenACAccount::lenDescription},
    {"Note", K::kText, lenACAccount::lenNote},
    {"Inactive", K::kBoolean},
    {"BankAccountNo", K::kText, lenACAccount::lenBankAccountNo},
    {"Balance", K::kCurrency, 0, ColumnDefault::kZero},
    {"AccountTypeID", K::kInteger},
    {"FnclInstitutionID", K::kInteger},
    {"ParentAccountID", K::kInteger},
};

constexpr ColumnDef kACTransLog[] = {
    {"ACTransLogID", K::kKey},
    {"Parent", K::kInteger},
    {"LogDate", K::kDate},
    {"TransactionDate", K::kDate},
    {"Description", K::kText, lenACTransLog::lenDescription},
    {"TransactionNumber", K::kText, lenACTransLog::lenTransactionNumber},
    {"TransLogStatus", K::kInteger},
    {"UserName", K::kText, lenACTransLog::lenUserName, {}, true},
    {"TransType", K::kInteger},
    {"ChequeNo", K::kText, lenACTransLog::lenChequeNo},
    {"Address", K::kText, lenACTransLog::lenAddress},
    {"Amount", K::kCurrency},
};

constexpr ColumnDef kACTransLogWIP[] = {
    {"ACTransLogWIPID", K::kKey},
    {"Parent", K::kInteger},
    {"AccountID", K::kInteger},
    {"IsDebit", K::kBoolean},
    {"Description", K::kText, lenACTransLogWIP::lenDescription},
    {"Amount", K::kCurrency},
};

constexpr ColumnDef kACTransaction[] = {
    {"ACTransactionID", K::kKey},
    {"Parent", K::kInteger},
    {"TransactionDate", K::kDate},
    {"Description", K::kText, lenACTransaction::lenDescription},
    {"Withdrawal", K::kCurrency},
    {"Deposit", K::kCurrency},
    {"TransactionNumber", K::kText, lenACTransaction::lenTransactionNumber},
    {"TransType", K::kInteger},
    {"Reconciled", K::kBoolean, 0, ColumnDefault::kZero},
};

constexpr ColumnDef kACInvoice[] = {
    {"ACInvoiceID", K::kKey},
    {"Paid", K::kInteger},
    {"Comment", K::kText, lenACInvoice::lenComment},
    {"TransactionNumber", K::kText, lenACInvoice::lenTransactionNumber},
    {"InvoiceDate", K::kDate},
    {"InvoiceNo", K::kText, lenACInvoice::lenInvoiceNo, {}, true},
    {"PurchaseOrderNumber", K::kText, lenACInvoice::lenPurchaseOrderNumber},
    {"Address", K::kText, lenACInvoice::lenAddress},
    {"Company", K::kText, lenACInvoice::lenCompany},
    {"Total", K::kCurrency},
    {"AccountID", K::kInteger},
};

constexpr ColumnDef kACInvoiceItem[] = {
    {"ACInvoiceItemID", K::kKey},
    {"Parent", K::kInteger},
    {"TaxID", K::kInteger},
    {"ItemCode", K::kText, lenACInvoiceItem::lenItemCode, {}, true},
    {"ItemName", K::kText, lenACInvoiceItem::lenItemName, {}, true},
    {"ItemPrice", K::kCurrency},
    {"ItemQuantity", K::kDouble},
    {"ItemUnit", K::kText, lenACInvoiceItem::lenItemUnit},
    {"AccountID", K::kInteger},
};

constexpr ColumnDef kCITaxCode[] = {
    {"CITaxCodeID", K::kKey},
    {"Parent", K::kInteger},
    {"TaxCode", K::kText, lenCITaxCode::lenTaxCode, {}, true},
    {"Description", K::kText, lenCITaxCode::lenDescription},
    {"Tax1Rate", K::kDouble},
    {"Tax1Name", K::kText, lenCITaxCode::lenTax1Name},
    {"Tax1Exempt", K::kBoolean},
    {"Tax2Rate", K::kDouble},
    {"Tax2Name", K::kText, lenCITaxCode::lenTax2Name},
    {"Tax2Exempt", K::kBoolean},
    {"Tax2PiggyBack", K::kBoolean},
    {"Inactive", K::kBoolean},
    {"Account1ID", K::kInteger},
    {"Account2ID", K::kInteger},
};

constexpr TableDef kTables[] = {
    {"ISubScriber", kISubScriber},
    {"ISubscriberLocation", kISubscriberLocation},
    {"IUser", kIUser},
    {"SysSessions", kSysSessions},
    {"ACAccountType", kACAccountType},
    {"ACFnclInstitution", kACFnclInstitution},
    {"ACAccount", kACAccount},
    {"ACTransLog", kACTransLog},
    {"ACTransLogWIP", kACTransLogWIP},
    {"ACTransaction", kACTransaction},
    {"ACInvoice", kACInvoice},
    {"ACInvoiceItem", kACInvoiceItem},
    {"CITaxCode", kCITaxCode},
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
};

}  // namespace

std::span<const TableDef> SchemaTables() { return kTables; }
std::span<const IndexDef> SchemaIndexes() { return kIndexes; }

const TableDef& SchemaTable(std::string_view name) {
  for (const TableDef& table : kTables) {
    if (table.name == name) return table;
  }
  throw Error::Runtime(kInvalidArgument, "The schema has no table named " + std::string(name) + ".");
}

const Catalog& CompanyCatalog() {
  static const Catalog catalog{kTables, kIndexes, kSchemaVersion, kApplicationId};
  return catalog;
}

void CreateSubscriberDatabase(const std::string& path, const Variant& company_name,
                              const std::optional<FirstUser>& first_user) {
  CreateEngineDatabase(BuildConnectionString(path), CompanyCatalog(), [&] {
    UnitOfWork::Run(path, Access::kWrite, [&] {
      Command command(path);
      command.SetText(
          "INSERT INTO ISubScriber (CompanyName,NextTransactionNumber,NextInvoiceNumber,NextExpenseReportNumber,"
          "NextClientAccountNumber) VALUES (?,1,1,1,1) RETURNING ISubScriberID;");
      command.Append("p1", ParamType::kText, lenISubScriber::lenCompanyName, company_name, "CompanyName");
      const Variant subscriber_id = command.ExecuteScalar();
      command.SetText("INSERT INTO ISubscriberLocation (Parent,Name,IsPrimary) VALUES (?,?,1);");
      command.Clear();
      command.Append("p1", ParamType::kLong, 0, subscriber_id);
      command.Append("p2", ParamType::kText, lenISubscriberLocation::lenName, company_name, "Name");
      command.Execute();
      if (!first_user) return;
      const std::string password = ClearPassword(first_user->password, "Password");
      command.SetText(
          "INSERT INTO IUser (Parent,UserName,Password,MainUser,Admin,AllowLogon,UserKey) VALUES (?,?,?,1,1,1,?);");
      command.Clear();
      command.Append("p1", ParamType::kLong, 0, subscriber_id);
      command.Append("p2", ParamType::kText, lenIUser::lenUserName, first_user->user_name, "UserName");
      command.Append("p3", ParamType::kText, 255, HashPassword(password), "Password");
      command.Append("p4", ParamType::kText, 0, UserNameKey(first_user->user_name), "UserKey");
      command.Execute();
    });
  });
}

}  // namespace ledgerkit
