// The company database's tables, one struct per table: its name, each column as a constant
// (name, kind, width, default, letter case) and the columns in the order the entity fetch
// selects them. The one place a column is described: the DDL, the entity fetches and every
// bound value (Command::Bind, WriteRow) take kind, width and label from here.
//
// Library-internal.
#pragma once

#include <span>
#include <string_view>

#include "common/Catalog.h"
#include "ledgerkit/entities/ColumnWidths.h"

namespace ledgerkit::db {

using K = FieldType;

struct ISubScriber {
  static constexpr std::string_view kTable = "ISubScriber";
  static constexpr ColumnDef ISubScriberID{"ISubScriberID", K::kKey};
  static constexpr ColumnDef CompanyName{"CompanyName", K::kText, lenISubScriber::lenCompanyName, {}, true};
  static constexpr ColumnDef AccountNo{"AccountNo", K::kText, lenISubScriber::lenAccountNo};
  static constexpr ColumnDef NextTransactionNumber{"NextTransactionNumber", K::kLong};
  static constexpr ColumnDef NextInvoiceNumber{"NextInvoiceNumber", K::kLong};
  static constexpr ColumnDef NextExpenseReportNumber{"NextExpenseReportNumber", K::kLong};
  static constexpr ColumnDef NextClientAccountNumber{"NextClientAccountNumber", K::kLong};
  static constexpr ColumnDef kColumns[] = {ISubScriberID, CompanyName, AccountNo, NextTransactionNumber, NextInvoiceNumber, NextExpenseReportNumber, NextClientAccountNumber};
};

struct ISubscriberLocation {
  static constexpr std::string_view kTable = "ISubscriberLocation";
  static constexpr ColumnDef ISubscriberLocationID{"ISubscriberLocationID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef Name{"Name", K::kText, lenISubscriberLocation::lenName, {}, true};
  static constexpr ColumnDef Address1{"Address1", K::kText, lenISubscriberLocation::lenAddress1};
  static constexpr ColumnDef Address2{"Address2", K::kText, lenISubscriberLocation::lenAddress2};
  static constexpr ColumnDef Address3{"Address3", K::kText, lenISubscriberLocation::lenAddress3};
  static constexpr ColumnDef City{"City", K::kText, lenISubscriberLocation::lenCity};
  static constexpr ColumnDef Province{"Province", K::kText, lenISubscriberLocation::lenProvince};
  static constexpr ColumnDef PostalCode{"PostalCode", K::kText, lenISubscriberLocation::lenPostalCode};
  static constexpr ColumnDef Country{"Country", K::kText, lenISubscriberLocation::lenCountry};
  static constexpr ColumnDef Telephone{"Telephone", K::kText, lenISubscriberLocation::lenTelephone};
  static constexpr ColumnDef Fax{"Fax", K::kText, lenISubscriberLocation::lenFax};
  static constexpr ColumnDef Notes{"Notes", K::kText, lenISubscriberLocation::lenNotes};
  static constexpr ColumnDef IsPrimary{"IsPrimary", K::kBoolean};
  static constexpr ColumnDef kColumns[] = {ISubscriberLocationID, Parent, Name, Address1, Address2, Address3, City, Province, PostalCode, Country, Telephone, Fax, Notes, IsPrimary};
};

struct IUser {
  static constexpr std::string_view kTable = "IUser";
  static constexpr ColumnDef IUserID{"IUserID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef UserName{"UserName", K::kText, lenIUser::lenUserName, {}, true};
  static constexpr ColumnDef Password{"Password", K::kText, 255};  // holds a password hash; the clear text is limited to 30 on input
  static constexpr ColumnDef FirstName{"FirstName", K::kText, lenIUser::lenFirstName, {}, true};
  static constexpr ColumnDef LastName{"LastName", K::kText, lenIUser::lenLastName, {}, true};
  static constexpr ColumnDef MiddleInitial{"MiddleInitial", K::kText, lenIUser::lenMiddleInitial};
  static constexpr ColumnDef Admin{"Admin", K::kBoolean};
  static constexpr ColumnDef MainUser{"MainUser", K::kBoolean};
  static constexpr ColumnDef AllowLogon{"AllowLogon", K::kBoolean};
  static constexpr ColumnDef EMail{"EMail", K::kText, lenIUser::lenEMail};
  static constexpr ColumnDef ReportsToID{"ReportsToID", K::kKey};
  // The name's matching form (security/UserNames.h), kept by the library beside the spelling
  // given; lookups and the uniqueness of names go through it.
  static constexpr ColumnDef UserKey{"UserKey", K::kText, 4 * lenIUser::lenUserName};
  static constexpr ColumnDef kColumns[] = {IUserID, Parent, UserName, Password, FirstName, LastName, MiddleInitial, Admin, MainUser, AllowLogon, EMail, ReportsToID, UserKey};
};

struct SysSessions {
  static constexpr std::string_view kTable = "SysSessions";
  static constexpr ColumnDef SysSessionsID{"SysSessionsID", K::kKey};
  static constexpr ColumnDef Account{"Account", K::kText, lenSysSessions::lenAccount};
  static constexpr ColumnDef UserName{"UserName", K::kText, lenSysSessions::lenUserName, {}, true};
  static constexpr ColumnDef Token{"Token", K::kText, lenSysSessions::lenToken};
  static constexpr ColumnDef LastUpdate{"LastUpdate", K::kDate, 0, ColumnDefault::kNow};
  static constexpr ColumnDef UserKey{"UserKey", K::kText, 4 * lenSysSessions::lenUserName};  // as IUser.UserKey
  static constexpr ColumnDef kColumns[] = {SysSessionsID, Account, UserName, Token, LastUpdate, UserKey};
};

struct ACAccountType {
  static constexpr std::string_view kTable = "ACAccountType";
  static constexpr ColumnDef ACAccountTypeID{"ACAccountTypeID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef Name{"Name", K::kText, lenACAccountType::lenName, {}, true};
  static constexpr ColumnDef Description{"Description", K::kText, lenACAccountType::lenDescription};
  static constexpr ColumnDef FnclInstituteRqd{"FnclInstituteRqd", K::kBoolean};
  static constexpr ColumnDef BalanceSheetType{"BalanceSheetType", K::kLong};
  static constexpr ColumnDef kColumns[] = {ACAccountTypeID, Parent, Name, Description, FnclInstituteRqd, BalanceSheetType};
};

struct ACFnclInstitution {
  static constexpr std::string_view kTable = "ACFnclInstitution";
  static constexpr ColumnDef ACFnclInstitutionID{"ACFnclInstitutionID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef Name{"Name", K::kText, lenACFnclInstitution::lenName, {}, true};
  static constexpr ColumnDef Address{"Address", K::kText, lenACFnclInstitution::lenAddress};
  static constexpr ColumnDef Contact{"Contact", K::kText, lenACFnclInstitution::lenContact};
  static constexpr ColumnDef Telephone{"Telephone", K::kText, lenACFnclInstitution::lenTelephone};
  static constexpr ColumnDef kColumns[] = {ACFnclInstitutionID, Parent, Name, Address, Contact, Telephone};
};

struct ACAccount {
  static constexpr std::string_view kTable = "ACAccount";
  static constexpr ColumnDef ACAccountID{"ACAccountID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef AccountNumber{"AccountNumber", K::kText, lenACAccount::lenAccountNumber, {}, true};
  static constexpr ColumnDef Name{"Name", K::kText, lenACAccount::lenName, {}, true};
  static constexpr ColumnDef Description{"Description", K::kText, lenACAccount::lenDescription};
  static constexpr ColumnDef Note{"Note", K::kText, lenACAccount::lenNote};
  static constexpr ColumnDef Inactive{"Inactive", K::kBoolean};
  static constexpr ColumnDef BankAccountNo{"BankAccountNo", K::kText, lenACAccount::lenBankAccountNo};
  static constexpr ColumnDef Balance{"Balance", K::kCurrency, 0, ColumnDefault::kZero};
  static constexpr ColumnDef AccountTypeID{"AccountTypeID", K::kKey};
  static constexpr ColumnDef FnclInstitutionID{"FnclInstitutionID", K::kKey};
  static constexpr ColumnDef ParentAccountID{"ParentAccountID", K::kKey};
  static constexpr ColumnDef kColumns[] = {ACAccountID, Parent, AccountNumber, Name, Description, Note, Inactive, BankAccountNo, Balance, AccountTypeID, FnclInstitutionID, ParentAccountID};
};

struct ACTransLog {
  static constexpr std::string_view kTable = "ACTransLog";
  static constexpr ColumnDef ACTransLogID{"ACTransLogID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef LogDate{"LogDate", K::kDate};
  static constexpr ColumnDef TransactionDate{"TransactionDate", K::kDate};
  static constexpr ColumnDef Description{"Description", K::kText, lenACTransLog::lenDescription};
  static constexpr ColumnDef TransactionNumber{"TransactionNumber", K::kText, lenACTransLog::lenTransactionNumber};
  static constexpr ColumnDef TransLogStatus{"TransLogStatus", K::kLong};
  static constexpr ColumnDef UserName{"UserName", K::kText, lenACTransLog::lenUserName, {}, true};
  static constexpr ColumnDef TransType{"TransType", K::kLong};
  static constexpr ColumnDef ChequeNo{"ChequeNo", K::kText, lenACTransLog::lenChequeNo};
  static constexpr ColumnDef Address{"Address", K::kText, lenACTransLog::lenAddress};
  static constexpr ColumnDef Amount{"Amount", K::kCurrency};
  static constexpr ColumnDef kColumns[] = {ACTransLogID, Parent, LogDate, TransactionDate, Description, TransactionNumber, TransLogStatus, UserName, TransType, ChequeNo, Address, Amount};
};

struct ACTransLogWIP {
  static constexpr std::string_view kTable = "ACTransLogWIP";
  static constexpr ColumnDef ACTransLogWIPID{"ACTransLogWIPID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef AccountID{"AccountID", K::kKey};
  static constexpr ColumnDef IsDebit{"IsDebit", K::kBoolean};
  static constexpr ColumnDef Description{"Description", K::kText, lenACTransLogWIP::lenDescription};
  static constexpr ColumnDef Amount{"Amount", K::kCurrency};
  static constexpr ColumnDef kColumns[] = {ACTransLogWIPID, Parent, AccountID, IsDebit, Description, Amount};
};

struct ACTransaction {
  static constexpr std::string_view kTable = "ACTransaction";
  static constexpr ColumnDef ACTransactionID{"ACTransactionID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef TransactionDate{"TransactionDate", K::kDate};
  static constexpr ColumnDef Description{"Description", K::kText, lenACTransaction::lenDescription};
  static constexpr ColumnDef Withdrawal{"Withdrawal", K::kCurrency};
  static constexpr ColumnDef Deposit{"Deposit", K::kCurrency};
  static constexpr ColumnDef TransactionNumber{"TransactionNumber", K::kText, lenACTransaction::lenTransactionNumber};
  static constexpr ColumnDef TransType{"TransType", K::kLong};
  static constexpr ColumnDef Reconciled{"Reconciled", K::kBoolean, 0, ColumnDefault::kZero};
  static constexpr ColumnDef kColumns[] = {ACTransactionID, Parent, TransactionDate, Description, Withdrawal, Deposit, TransactionNumber, TransType, Reconciled};
};

// The bank's id of each statement line imported on a bank account (reports/BankStatement.h)
// and the transaction it was recorded as: a line whose id the account holds, for a transaction
// still on its register, is not imported again.
struct ACStatementLine {
  static constexpr std::string_view kTable = "ACStatementLine";
  static constexpr ColumnDef ACStatementLineID{"ACStatementLineID", K::kKey};
  static constexpr ColumnDef AccountID{"AccountID", K::kKey};
  static constexpr ColumnDef StatementID{"StatementID", K::kText, 255};
  static constexpr ColumnDef TransactionNumber{"TransactionNumber", K::kText, lenACTransaction::lenTransactionNumber};
  static constexpr ColumnDef kColumns[] = {ACStatementLineID, AccountID, StatementID, TransactionNumber};
};

struct ACInvoice {
  static constexpr std::string_view kTable = "ACInvoice";
  static constexpr ColumnDef ACInvoiceID{"ACInvoiceID", K::kKey};
  static constexpr ColumnDef Paid{"Paid", K::kLong};
  static constexpr ColumnDef Comment{"Comment", K::kText, lenACInvoice::lenComment};
  static constexpr ColumnDef TransactionNumber{"TransactionNumber", K::kText, lenACInvoice::lenTransactionNumber};
  static constexpr ColumnDef InvoiceDate{"InvoiceDate", K::kDate};
  static constexpr ColumnDef InvoiceNo{"InvoiceNo", K::kText, lenACInvoice::lenInvoiceNo, {}, true};
  static constexpr ColumnDef PurchaseOrderNumber{"PurchaseOrderNumber", K::kText, lenACInvoice::lenPurchaseOrderNumber};
  static constexpr ColumnDef Address{"Address", K::kText, lenACInvoice::lenAddress};
  static constexpr ColumnDef Company{"Company", K::kText, lenACInvoice::lenCompany};
  static constexpr ColumnDef Total{"Total", K::kCurrency};
  static constexpr ColumnDef AccountID{"AccountID", K::kKey};
  static constexpr ColumnDef kColumns[] = {ACInvoiceID, Paid, Comment, TransactionNumber, InvoiceDate, InvoiceNo, PurchaseOrderNumber, Address, Company, Total, AccountID};
};

struct ACInvoiceItem {
  static constexpr std::string_view kTable = "ACInvoiceItem";
  static constexpr ColumnDef ACInvoiceItemID{"ACInvoiceItemID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef TaxID{"TaxID", K::kKey};
  static constexpr ColumnDef ItemCode{"ItemCode", K::kText, lenACInvoiceItem::lenItemCode, {}, true};
  static constexpr ColumnDef ItemName{"ItemName", K::kText, lenACInvoiceItem::lenItemName, {}, true};
  static constexpr ColumnDef ItemPrice{"ItemPrice", K::kCurrency};
  static constexpr ColumnDef ItemQuantity{"ItemQuantity", K::kDouble};
  static constexpr ColumnDef ItemUnit{"ItemUnit", K::kText, lenACInvoiceItem::lenItemUnit};
  static constexpr ColumnDef AccountID{"AccountID", K::kKey};
  static constexpr ColumnDef kColumns[] = {ACInvoiceItemID, Parent, TaxID, ItemCode, ItemName, ItemPrice, ItemQuantity, ItemUnit, AccountID};
};

struct CITaxCode {
  static constexpr std::string_view kTable = "CITaxCode";
  static constexpr ColumnDef CITaxCodeID{"CITaxCodeID", K::kKey};
  static constexpr ColumnDef Parent{"Parent", K::kKey};
  static constexpr ColumnDef TaxCode{"TaxCode", K::kText, lenCITaxCode::lenTaxCode, {}, true};
  static constexpr ColumnDef Description{"Description", K::kText, lenCITaxCode::lenDescription};
  static constexpr ColumnDef Tax1Rate{"Tax1Rate", K::kDouble};
  static constexpr ColumnDef Tax1Name{"Tax1Name", K::kText, lenCITaxCode::lenTax1Name};
  static constexpr ColumnDef Tax1Exempt{"Tax1Exempt", K::kBoolean};
  static constexpr ColumnDef Tax2Rate{"Tax2Rate", K::kDouble};
  static constexpr ColumnDef Tax2Name{"Tax2Name", K::kText, lenCITaxCode::lenTax2Name};
  static constexpr ColumnDef Tax2Exempt{"Tax2Exempt", K::kBoolean};
  static constexpr ColumnDef Tax2PiggyBack{"Tax2PiggyBack", K::kBoolean};
  static constexpr ColumnDef Inactive{"Inactive", K::kBoolean};
  static constexpr ColumnDef Account1ID{"Account1ID", K::kKey};
  static constexpr ColumnDef Account2ID{"Account2ID", K::kKey};
  static constexpr ColumnDef kColumns[] = {CITaxCodeID, Parent, TaxCode, Description, Tax1Rate, Tax1Name, Tax1Exempt, Tax2Rate, Tax2Name, Tax2Exempt, Tax2PiggyBack, Inactive, Account1ID, Account2ID};
};

}  // namespace ledgerkit::db

namespace ledgerkit {

// Every table, in creation order, and every index (each column the managers filter, join or
// sort on).
std::span<const TableDef> SchemaTables();
std::span<const IndexDef> SchemaIndexes();
// The table named `name`; Invalid argument (5) when the schema has none.
const TableDef& SchemaTable(std::string_view name);
// The kept register totals (lk_RegisterTotal): ACTransaction's Withdrawal and Deposit summed per
// Parent. Read through entities/RegisterTotals.h, never by name.
const KeptTotalsDef& RegisterTotalsDef();

}  // namespace ledgerkit
