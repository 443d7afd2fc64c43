#include "Demo.h"

#include <ostream>

#include "Copy.h"
#include "Report.h"
#include "Table.h"
#include "common/Convert.h"
#include "common/Recordset.h"
#include "entities/ACTransaction.h"
#include "entities/Schema.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"
#include "reports/CReportMgr.h"
#include "security/CSecurityMgr.h"
#include "subscriber/CAccountMgr.h"

namespace ledgerkit::cli {

namespace {

constexpr const char* kUser = "owner";
constexpr const char* kPassword = "demo-pass";

Variant Money(const char* amount) { return CurrencyFromText(amount); }
Variant Day(int month, int day) { return Date::FromCivil(2026, month, day); }

// The sample company, built through the public operations only, as a front end would.
class SampleCompany {
 public:
  SampleCompany(const std::string& path) : file_(path) {}

  void Build() {
    CreateSubscriberDatabase(ToText(file_), "Northwind Hardware", FirstUser{kUser, kPassword});
    token_ = CSecurityMgr().BeginUserSession(file_, kUser, kPassword);
    CAccountMgr().UpdateAccountBusinessInfo(file_, "Northwind Hardware", "12 Harbour Road", "", "", "Lakeside", "ON",
                                            "K0K 1A0", "Canada", "555-0100", "555-0101");

    const Variant bank_type = ledger_.AddAccountType(file_, kUser, token_, "Bank", "Bank accounts", true, bstASSET);
    const Variant asset_type = ledger_.AddAccountType(file_, kUser, token_, "Receivable", "Money owed to us", false, bstASSET);
    const Variant tax_type = ledger_.AddAccountType(file_, kUser, token_, "Sales tax", "Taxes collected", false, bstLIABILITY);
    const Variant equity_type = ledger_.AddAccountType(file_, kUser, token_, "Equity", "Owner's equity", false, bstEQUITY);
    const Variant income_type = ledger_.AddAccountType(file_, kUser, token_, "Income", "Revenue", false, bstINCOME);
    const Variant expense_type = ledger_.AddAccountType(file_, kUser, token_, "Expense", "Costs", false, bstEXPENSE);
    const Variant institution =
        ledger_.AddFnclInstitution(file_, kUser, token_, "First Harbour Bank", "1 Quay Street, Lakeside", "M. Teller", "555-0199");

    bank_ = Add("1000", "Bank", bank_type, institution);
    receivable_ = Add("1200", "Accounts receivable", asset_type);
    gst_ = Add("2100", "GST payable", tax_type);
    pst_ = Add("2200", "PST payable", tax_type);
    equity_ = Add("3000", "Owner's equity", equity_type);
    sales_ = Add("4000", "Sales", income_type);
    interest_ = Add("4900", "Interest income", income_type);
    rent_ = Add("5100", "Rent", expense_type);
    charges_ = Add("5200", "Bank charges", expense_type);

    // The owner puts money in: a deposit to the bank, credited to equity.
    const std::string deposit = ledger_.BeginTransaction(file_, kUser, token_, static_cast<int32_t>(ttDEP), Day(3, 1),
                                                         "Opening capital", bank_, Money("25000"), "", "Capital", "");
    ledger_.PostCredit(file_, deposit, equity_, Money("25000"), "Capital");
    ledger_.EndTransaction(file_, deposit);

    // A cheque for the rent: credit to the bank, debit to rent.
    const std::string cheque = ledger_.BeginTransaction(file_, kUser, token_, static_cast<int32_t>(ttCHQ), Day(3, 3), "March rent",
                                                        bank_, Money("1850"), "Lakeside Properties", "Rent, March", "1001");
    ledger_.PostDebit(file_, cheque, rent_, Money("1850"), "Rent, March");
    ledger_.EndTransaction(file_, cheque);

    // An invoice with two lines under a code with two taxes, the second piggy-backed.
    const Variant code = ledger_.AddTaxCode(file_, kUser, token_, "S", "GST and PST", 5.0, "GST", false, 7.0, "PST", false,
                                            true, false, gst_, pst_);
    Variant invoice_no;  // numbered by the ledger
    const Variant invoice = ledger_.InsertInvoice(file_, kUser, token_, -1, "Tools for Lakeside Builders", Day(3, 10),
                                                  invoice_no, "PO-7731", "4 Mill Lane, Lakeside", "Lakeside Builders",
                                                  Money("1361.6821"), receivable_);
    ledger_.AddInvoiceItem(file_, kUser, token_, invoice, code, "HAM-16", "Claw hammer", Money("24.95"), 10.0, "each", sales_);
    ledger_.AddInvoiceItem(file_, kUser, token_, invoice, code, "SAW-24", "Panel saw", Money("38.5"), 25.0, "each", sales_);
    ledger_.IssueInvoice(file_, kUser, token_, invoice);

    // The bank statement: both bank rows cleared, a service charge and interest.
    std::string cleared;
    for (const std::string& number : {deposit, cheque}) {
      const auto rows = ledger_.GetTransactionsByTransNum(file_, kUser, token_, number);
      for (const auto& [key, row] : rows->entries()) {
        if (ToLong(static_cast<const ACTransaction&>(*row).Value("AccountID")) == ToLong(bank_)) {
          cleared += (cleared.empty() ? "" : "|") + key;
        }
      }
    }
    ledger_.ReconcileAccount(file_, kUser, token_, bank_, cleared, Money("12.5"), Day(3, 31), charges_, Money("3.27"),
                             Day(3, 31), interest_);
  }

  const Variant& file() const { return file_; }
  const Variant& bank() const { return bank_; }

 private:
  Variant Add(const char* number, const char* name, const Variant& type, const Variant& institution = "") {
    return ledger_.AddAccount(file_, kUser, token_, number, name, "", "", false, "", "", type, institution);
  }

  Variant file_;
  Variant token_;
  CACMgr ledger_;
  Variant bank_, receivable_, gst_, pst_, equity_, sales_, interest_, rent_, charges_;
};

// True when the balance sheet's total assets equal its total liabilities and equity.
bool SheetBalances(const Recordset& sheet) {
  Variant assets, both;
  for (const auto& row : sheet.Rows()) {
    if (ToText(row[sheet.ColumnIndex("RowKind")]) != "total") continue;
    const Variant& section = row[sheet.ColumnIndex("Section")];
    if (section.IsNull()) both = row[sheet.ColumnIndex("Amount")];
    if (!section.IsNull() && ToText(section) == "Assets") assets = row[sheet.ColumnIndex("Amount")];
  }
  return !assets.IsEmpty() && !both.IsEmpty() && assets.AsCurrency() == both.AsCurrency();
}

// True when the trial balance has no "difference" row.
bool TrialBalances(const Recordset& trial) {
  for (const auto& row : trial.Rows()) {
    if (ToText(row[trial.ColumnIndex("RowKind")]) == "difference") return false;
  }
  return true;
}

}  // namespace

int RunDemo(const std::string& path, std::ostream& out) {
  SampleCompany company(path);
  company.Build();
  const Variant march31 = Day(3, 31);
  CReportMgr reports;
  const auto trial = reports.TrialBalance(company.file(), kUser, "", march31);
  const auto sheet = reports.BalanceSheet(company.file(), kUser, "", march31);
  out << "Northwind Hardware, a sample company recorded in " << ShownCompany(path) << "\n"
      << "Log on as \"" << kUser << "\" with the password \"" << kPassword << "\".\n\n";
  out << "Trial balance as of 2026-03-31\n\n";
  PrintReportTable("trial-balance", *trial, out);
  out << "\nBalance sheet as of 2026-03-31\n\n";
  PrintReportTable("balance-sheet", *sheet, out);
  out << "\nIncome statement for March 2026\n\n";
  PrintReportTable("income-statement", *reports.IncomeStatement(company.file(), kUser, "", Day(3, 1), march31, false),
                   out);
  out << "\nBank register (account 1000, reconciled with the March statement)\n\n";
  PrintReportTable("account-register", *reports.AccountRegister(company.file(), kUser, "", company.bank(), Variant(), march31),
                   out);
  out << "\nAged receivables as of 2026-04-30\n\n";
  PrintReportTable("aged-receivables", *reports.AgedReceivables(company.file(), kUser, "", Day(4, 30)), out);
  const std::string shown = ShownCompany(path);
  out << "\nSee more with: ledgerkit report NAME " << shown << " (ledgerkit report --help); check the "
      << (IsServerCompany(path) ? "company" : "file") << " with: ledgerkit check " << shown << "\n";
  return TrialBalances(*trial) && SheetBalances(*sheet) ? 0 : 1;
}

}  // namespace ledgerkit::cli
