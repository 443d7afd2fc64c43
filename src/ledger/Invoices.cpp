// CACMgr: customer invoices. Each invoice rides on one ttINV ledger transaction: begun when the
// invoice is entered, posted and committed when it is issued, aborted when it is deleted.
#include <limits>
#include <vector>

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"

namespace ledgerkit {

namespace {

// One entry of an invoice's tax summary: the sum of every tax of that name, and the account
// that collects it (the account of the code met last).
struct TaxTotal {
  Variant name;
  Currency amount;
  Variant account;
};

void AddTax(std::vector<TaxTotal>& summary, const Variant& name, Currency amount, const Variant& account) {
  for (TaxTotal& entry : summary) {
    // Names match exactly; a Null name matches nothing.
    if (!name.IsNull() && !entry.name.IsNull() && ToText(entry.name) == ToText(name)) {
      entry.amount += amount;
      entry.account = account;
      return;
    }
  }
  summary.push_back(TaxTotal{name, amount, account});
}

// Yes/no columns as the tax computation reads them: a Null flag is neither true nor false.
bool IsTrue(const Variant& flag) { return !flag.IsNull() && ToBoolean(flag); }
bool IsFalse(const Variant& flag) { return !flag.IsNull() && !ToBoolean(flag); }

// Adds the taxes of one line under `code` to the summary. Each tax is computed on this line
// alone and converted to currency (half to even at the fourth decimal).
void AddLineTaxes(std::vector<TaxTotal>& summary, const CITaxCode& code, double line_amount) {
  Currency first_tax;
  if (IsFalse(code.Value("Tax1Exempt"))) {
    first_tax = CurrencyFromDouble(line_amount * (ToDouble(code.Value("Tax1Rate")) / 100));
    AddTax(summary, code.Value("Tax1Name"), first_tax, code.Value("Account1ID"));
  }
  if (IsFalse(code.Value("Tax2Exempt"))) {
    const double base = IsTrue(code.Value("Tax2PiggyBack")) ? line_amount + ToDouble(first_tax) : line_amount;
    AddTax(summary, code.Value("Tax2Name"), CurrencyFromDouble(base * (ToDouble(code.Value("Tax2Rate")) / 100)),
           code.Value("Account2ID"));
  }
}

// One more than the greatest stored invoice number that is a whole number; 1 when none is.
Variant NextInvoiceNumber(const Variant& account) {
  Command command(account);
  command.SetText(
      "SELECT MAX(CAST(InvoiceNo AS INTEGER)) FROM ACInvoice WHERE InvoiceNo<>'' AND InvoiceNo NOT GLOB '*[^0-9]*';");
  const Variant greatest = command.ExecuteScalar();
  if (greatest.IsNull()) return 1;
  const int32_t number = ToLong(greatest);
  if (number == std::numeric_limits<int32_t>::max()) {
    throw Error::Runtime(kOverflow, "Overflow: the greatest invoice number is 2147483647, so there is no next one.");
  }
  return number + 1;
}

// Money and dates an invoice passes on to its transaction and stores itself, converted once:
// Null stays Null (stored as NULL), anything else becomes a Currency or a Date or fails.
Variant MoneyOrNull(const Variant& value) { return value.IsNull() ? Variant::Null() : Variant(ToCurrency(value)); }
Variant DateOrNull(const Variant& value) { return value.IsNull() ? Variant::Null() : Variant(ToDate(value)); }

std::shared_ptr<EntityCollection> InvoicesWhere(const Variant& account, const char* filter) {
  return RunOperation(account, Access::kRead,
                      [&] { return Fetch<ACInvoice>(account, FetchArgs{.filter = filter, .sort = "InvoiceNo ASC"}); });
}

}  // namespace

Variant CACMgr::InsertInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                              const Variant& Paid, const Variant& Comment, const Variant& InvoiceDate,
                              Variant& InvoiceNo, const Variant& PurchaseOrderNumber, const Variant& Address,
                              const Variant& Company, const Variant& Total, const Variant& AccountID) {
  Variant number = InvoiceNo;
  const Variant key = RunOperation(Account, Access::kWrite, [&] {
    const Variant invoice_date = DateOrNull(InvoiceDate);
    const Variant total = MoneyOrNull(Total);
    const Variant receivable = ledger::NullableKey(AccountID);
    // The header keeps the number as the caller gave it, an empty one included.
    const std::string transaction = BeginTransaction(Account, UserName, Token, static_cast<int32_t>(ttINV),
                                                     invoice_date, Comment, receivable, total, Address, Comment, number);
    const bool numbered = number.IsEmpty() || (number.type() == VarType::kString && number.AsString().empty());
    if (numbered) number = NextInvoiceNumber(Account);
    Command command(Account);
    command.SetText(
        "INSERT INTO ACInvoice (Paid,Comment,InvoiceDate,InvoiceNo,PurchaseOrderNumber,Address,Company,Total,"
        "TransactionNumber,AccountID) VALUES (?,?,?,?,?,?,?,?,?,?) RETURNING ACInvoiceID;");
    command.Append("p1", FieldType::kLong, 0, Paid, "Paid");
    command.Append("p2", FieldType::kText, lenACInvoice::lenComment, Comment, "Comment");
    command.Append("p3", FieldType::kDate, 0, invoice_date, "InvoiceDate");
    command.Append("p4", FieldType::kText, lenACInvoice::lenInvoiceNo, number, "InvoiceNo");
    command.Append("p5", FieldType::kText, lenACInvoice::lenPurchaseOrderNumber, PurchaseOrderNumber,
                   "PurchaseOrderNumber");
    command.Append("p6", FieldType::kText, lenACInvoice::lenAddress, Address, "Address");
    command.Append("p7", FieldType::kText, lenACInvoice::lenCompany, Company, "Company");
    command.Append("p8", FieldType::kCurrency, 0, total, "Total");
    command.Append("p9", FieldType::kText, lenACInvoice::lenTransactionNumber, transaction, "TransactionNumber");
    command.Append("p10", FieldType::kKey, 0, receivable, "AccountID");
    return command.ExecuteScalar();
  });
  // Written back only once the invoice is stored.
  InvoiceNo = number;
  return key;
}

void CACMgr::UpdateInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                           const Variant& InvoiceID, const Variant& Paid, const Variant& Comment,
                           const Variant& InvoiceDate, const Variant& InvoiceNo, const Variant& PurchaseOrderNumber,
                           const Variant& Address, const Variant& Company, const Variant& Total,
                           const Variant& TransNum, const Variant& AccountID) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant invoice_id = ledger::NullableKey(InvoiceID);
    const Variant invoice_date = DateOrNull(InvoiceDate);
    const Variant total = MoneyOrNull(Total);
    const Variant receivable = ledger::NullableKey(AccountID);
    UpdateTransLog(Account, UserName, Token, TransNum, invoice_date, Comment, InvoiceNo, Address, total);
    ledger::RunWrite(Account,
                     "UPDATE ACInvoice SET Paid=?,Comment=?,InvoiceDate=?,InvoiceNo=?,PurchaseOrderNumber=?,"
                     "Address=?,Company=?,Total=?,AccountID=? WHERE ACInvoiceID=?;",
                     {{"p1", FieldType::kLong, 0, Paid, "Paid"},
                      {"p2", FieldType::kText, lenACInvoice::lenComment, Comment, "Comment"},
                      {"p3", FieldType::kDate, 0, invoice_date, "InvoiceDate"},
                      {"p4", FieldType::kText, lenACInvoice::lenInvoiceNo, InvoiceNo, "InvoiceNo"},
                      {"p5", FieldType::kText, lenACInvoice::lenPurchaseOrderNumber, PurchaseOrderNumber,
                       "PurchaseOrderNumber"},
                      {"p6", FieldType::kText, lenACInvoice::lenAddress, Address, "Address"},
                      {"p7", FieldType::kText, lenACInvoice::lenCompany, Company, "Company"},
                      {"p8", FieldType::kCurrency, 0, total, "Total"},
                      {"p9", FieldType::kKey, 0, receivable, "AccountID"},
                      {"p10", FieldType::kKey, 0, invoice_id, "InvoiceID"}});
  });
}

void CACMgr::IssueInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                          const Variant& InvoiceID) {
  RunOperation(Account, Access::kWrite, [&] {
    const int32_t invoice_id = ToKey(InvoiceID);
    const std::shared_ptr<ACInvoice> invoice = ledger::RequireByKey<ACInvoice>(Account, invoice_id);
    const auto tax_codes = GetAllTaxCodes(Account, UserName, Token);
    const Variant transaction = invoice->Value("TransactionNumber");
    const Variant comment = invoice->Value("Comment");
    Currency total;
    std::vector<TaxTotal> summary;
    const auto items = invoice->Children("Items", Account);
    for (const auto& [key, entry] : items->entries()) {
      const auto& item = static_cast<const ACInvoiceItem&>(*entry);
      const double line_amount = ToDouble(item.Value("ItemPrice")) * ToDouble(item.Value("ItemQuantity"));
      // The debit is the exact sum of the credits: each credit is added as posted.
      const Currency credit = CurrencyFromDouble(line_amount);
      PostCredit(Account, transaction, item.Value("AccountID"), credit, item.Value("ItemName"));
      total += credit;
      const Variant& stored_tax_id = item.Value("TaxID");
      if (stored_tax_id.IsNull()) continue;
      const int32_t tax_id = ToKey(stored_tax_id);
      if (tax_id <= 0) continue;
      for (const auto& [code_key, code] : tax_codes->entries()) {
        const auto& tax_code = static_cast<const CITaxCode&>(*code);
        if (ToKey(tax_code.Value("CITaxCodeID")) == tax_id) AddLineTaxes(summary, tax_code, line_amount);
      }
    }
    for (const TaxTotal& tax : summary) {
      PostCredit(Account, transaction, tax.account, tax.amount, comment);
      total += tax.amount;
    }
    PostDebit(Account, transaction, invoice->Value("AccountID"), total, comment);
    EndTransaction(Account, transaction);
    Command issued(Account);
    issued.SetText("UPDATE ACInvoice SET Paid=0 WHERE ACInvoiceID=?;");
    issued.Append("p1", FieldType::kKey, 0, invoice_id, "InvoiceID");
    issued.Execute();
  });
}

void CACMgr::DeleteInvoice(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& InvoiceID) {
  RunOperation(Account, Access::kWrite, [&] {
    const int32_t invoice_id = ToKey(InvoiceID);
    const std::shared_ptr<ACInvoice> invoice = ledger::RequireByKey<ACInvoice>(Account, invoice_id);
    AbortTransaction(Account, invoice->Value("TransactionNumber"));
    Command command(Account);
    command.Append("p1", FieldType::kKey, 0, invoice_id, "InvoiceID");
    command.SetText("DELETE FROM ACInvoiceItem WHERE Parent=?;");
    command.Execute();
    command.SetText("DELETE FROM ACInvoice WHERE ACInvoiceID=?;");
    command.Execute();
  });
}

void CACMgr::DeletePendingInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                                  const Variant& InvoiceID) {
  DeleteInvoice(Account, UserName, Token, InvoiceID);
}

void CACMgr::DeleteOutstandingInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                                      const Variant& InvoiceID) {
  DeleteInvoice(Account, UserName, Token, InvoiceID);
}

std::shared_ptr<ACInvoice> CACMgr::GetInvoice(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/, const Variant& InvoiceID) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t invoice_id = ToKey(InvoiceID);
    return ledger::RequireByKey<ACInvoice>(Account, invoice_id);
  });
}

std::shared_ptr<ACInvoice> CACMgr::GetInvoiceByTrans(const Variant& Account, const Variant& /*UserName*/,
                                                     const Variant& /*Token*/, const Variant& TransNum) {
  return RunOperation(Account, Access::kRead, [&] {
    const auto invoices = Fetch<ACInvoice>(
        Account, FetchArgs{.filter = "TransactionNumber=?", .bind = {SelectingText(TransNum, "TransNum")}});
    return RequireFirst<ACInvoice>(*invoices, "No invoice has the transaction number " + ledger::Shown(TransNum) + ".");
  });
}

std::shared_ptr<EntityCollection> CACMgr::GetAllInvoices(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/) {
  return InvoicesWhere(Account, "ACInvoiceID<>0");
}

std::shared_ptr<EntityCollection> CACMgr::GetAllPaidInvoices(const Variant& Account, const Variant& /*UserName*/,
                                                             const Variant& /*Token*/) {
  return InvoicesWhere(Account, "Paid=1");
}

std::shared_ptr<EntityCollection> CACMgr::GetAllOutstandingInvoices(const Variant& Account, const Variant& /*UserName*/,
                                                                    const Variant& /*Token*/) {
  return InvoicesWhere(Account, "Paid=0");
}

std::shared_ptr<EntityCollection> CACMgr::GetAllPendingInvoices(const Variant& Account, const Variant& /*UserName*/,
                                                                const Variant& /*Token*/) {
  return InvoicesWhere(Account, "Paid=-1");
}

}  // namespace ledgerkit
