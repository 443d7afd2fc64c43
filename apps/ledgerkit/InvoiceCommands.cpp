// ledgerkit invoice new FILE --customer TEXT --date D --receivable NUMBER [...]   a pending invoice
// ledgerkit invoice add FILE INVOICE --item CODE --description TEXT --price X ...  one more line
// ledgerkit invoice show FILE INVOICE [--json]                                   header, lines, taxes, total
// ledgerkit invoice issue FILE INVOICE                                           posted to the ledger
// ledgerkit invoice list FILE [--pending | --outstanding | --paid] [--json]
// ledgerkit invoice pay FILE INVOICE --date D --bank NUMBER [--amount X]         a deposit against it
// ledgerkit invoice delete FILE INVOICE [--issued]
#include "InvoiceCommands.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "CommandArguments.h"
#include "Report.h"
#include "Table.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/entities/ACInvoice.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/ACTransLog.h"
#include "ledgerkit/entities/ACTransaction.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "ledgerkit/entities/ColumnWidths.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/ledger/InvoiceAmounts.h"
#include "ledgerkit/reports/CReportMgr.h"

namespace ledgerkit::cli {

namespace {

constexpr const char* kFileHelp = "Company file path, or postgresql://...?company=NAME for a company on a server";
constexpr const char* kInvoiceHelp = "The invoice number";

struct InvoiceOptions {
  std::string file, invoice, user = "ledgerkit";
  std::string customer, date, receivable, number, po, address, comment;
  std::string item, description, price, quantity, account, tax, unit;
  std::string bank, amount;
  bool pending = false, outstanding = false, paid = false, issued = false, as_json = false;
};

std::string Quoted(std::string_view option, const std::string& text) {
  return std::string(option) + " \"" + text + "\"";
}

// `text` as a quantity: a plain decimal number above zero.
double QuantityArgument(const std::string& text, std::string_view option) {
  double quantity = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), quantity);
  const bool plain = text.find_first_not_of("0123456789.") == std::string::npos;
  if (text.empty() || !plain || error != std::errc() || end != text.data() + text.size() || !std::isfinite(quantity)) {
    throw Error::Runtime(kInvalidArgument, Quoted(option, text) +
                                               " is not a quantity: quantities are written as "
                                               "plain numbers, as 3 or 1.5.");
  }
  if (quantity <= 0) throw Error::Runtime(kInvalidArgument, Quoted(option, text) + " is not above zero.");
  return quantity;
}

std::string TextOf(const Variant& value) { return value.IsNull() || value.IsEmpty() ? std::string() : ToText(value); }

// The transaction number a payment's description names, or "" when it names none.
std::string PaidTransaction(const std::string& description) {
  static constexpr std::string_view kMarker = " (transaction ";
  const size_t start = description.rfind(kMarker);
  if (start == std::string::npos || description.back() != ')') return {};
  const std::string number =
      description.substr(start + kMarker.size(), description.size() - start - kMarker.size() - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return {};
  return number;
}

std::string PaymentDescription(const std::string& invoice_number, const std::string& transaction) {
  return "Payment of invoice " + invoice_number + " (transaction " + transaction + ")";
}

// What has been paid against invoices, by the number of each invoice's transaction, read from
// the register of each receivable account once.
class Payments {
 public:
  explicit Payments(Variant file) : file_(std::move(file)) {}

  Currency Of(const Variant& receivable, const std::string& transaction) {
    if (receivable.IsNull() || receivable.IsEmpty()) return Currency();
    const int32_t key = ToLong(receivable);
    auto found = by_account_.find(key);
    if (found == by_account_.end()) found = by_account_.emplace(key, Read(key)).first;
    const auto paid = found->second.find(transaction);
    return paid == found->second.end() ? Currency() : paid->second;
  }

 private:
  std::map<std::string, Currency> Read(int32_t receivable) const {
    std::map<std::string, Currency> paid;
    const auto rows = CReportMgr().AccountRegister(file_, "", "", receivable, Variant(), Variant());
    const size_t kind = rows->ColumnIndex("RowKind"), type = rows->ColumnIndex("TransType"),
                 description = rows->ColumnIndex("Description"), debit = rows->ColumnIndex("Debit"),
                 credit = rows->ColumnIndex("Credit");
    for (const auto& row : rows->Rows()) {
      if (TextOf(row[kind]) != "detail" || TextOf(row[type]) != "DEP") continue;
      const std::string transaction = PaidTransaction(TextOf(row[description]));
      if (transaction.empty()) continue;
      Currency& sum = paid[transaction];
      if (!row[credit].IsNull()) sum += row[credit].AsCurrency();
      if (!row[debit].IsNull()) sum -= row[debit].AsCurrency();
    }
    return paid;
  }

  Variant file_;
  std::map<int32_t, std::map<std::string, Currency>> by_account_;
};

// One invoice as the commands see it: its row, whether it was posted, what its transaction
// debited to its receivable account and what has been paid against it.
struct Invoice {
  std::shared_ptr<ACInvoice> row;
  int32_t key = 0;
  std::string number;
  std::string transaction;
  bool posted = false;
  Currency posted_debit;
  Currency paid;

  const Variant& Value(std::string_view property) const { return row->Value(property); }
  bool MarkedPaid() const { return !Value("Paid").IsNull() && ToLong(Value("Paid")) == 1; }
  // Paid 1 is paid; otherwise a committed transaction is outstanding, any other pending.
  std::string State() const { return MarkedPaid() ? "paid" : posted ? "outstanding" : "pending"; }
  Currency Owed() const { return posted_debit - paid; }
  std::string Named() const { return "invoice " + number + " (key " + std::to_string(key) + ")"; }
};

Invoice Load(const Variant& file, std::shared_ptr<ACInvoice> row, Payments& payments) {
  CACMgr ledger;
  Invoice invoice;
  invoice.row = std::move(row);
  invoice.key = ToLong(invoice.row->Key());
  invoice.number = TextOf(invoice.Value("InvoiceNo"));
  invoice.transaction = TextOf(invoice.Value("TransactionNumber"));
  const Variant status = ledger.GetTransLog(file, "", "", invoice.transaction)->Value("TransLogStatus");
  invoice.posted = !status.IsNull() && ToLong(status) == tlsCOMMITTED;
  if (!invoice.posted) return invoice;
  const Variant& receivable = invoice.Value("AccountID");
  const auto rows = ledger.GetTransactionsByTransNum(file, "", "", invoice.transaction);
  for (const auto& [key, entry] : rows->entries()) {
    const auto& posted = static_cast<const ACTransaction&>(*entry);
    const Variant& withdrawal = posted.Value("Withdrawal");
    if (receivable.IsNull() || withdrawal.IsNull() || ToLong(posted.Value("AccountID")) != ToLong(receivable)) continue;
    invoice.posted_debit += ToCurrency(withdrawal);
  }
  invoice.paid = payments.Of(receivable, invoice.transaction);
  return invoice;
}

// The invoices numbered `number` (several only when the file already holds duplicates).
std::vector<std::shared_ptr<ACInvoice>> InvoicesNumbered(const Variant& file, const std::string& number) {
  std::vector<std::shared_ptr<ACInvoice>> found;
  const auto all = CACMgr().GetAllInvoices(file, "", "");
  for (const auto& [key, entry] : all->entries()) {
    auto invoice = std::static_pointer_cast<ACInvoice>(entry);
    if (TextOf(invoice->Value("InvoiceNo")) == number) found.push_back(std::move(invoice));
  }
  return found;
}

// The invoice numbered `number`; refused when none or several have the number.
Invoice FindInvoice(const Variant& file, const std::string& number, Payments& payments) {
  const auto found = InvoicesNumbered(file, number);
  if (found.empty()) {
    throw Error::Runtime(kInvalidArgument, Quoted("INVOICE", number) + ": no invoice has the number " + number + ".");
  }
  if (found.size() > 1) {
    std::vector<std::string> keys;
    for (const auto& invoice : found) keys.push_back(TextOf(invoice->Key()));
    throw Error::Runtime(kInvalidArgument, Quoted("INVOICE", number) + ": the number " + number +
                                               " is ambiguous, the invoices with keys " + Listed(keys) + " share it.");
  }
  return Load(file, found.front(), payments);
}

// The invoice numbered `number`, refused unless it is in the state `wanted`; `action` says what
// was asked ("add lines to", "pay").
Invoice FindInvoiceIn(const Variant& file, const std::string& number, const std::string& wanted,
                      const std::string& action, Payments& payments) {
  Invoice invoice = FindInvoice(file, number, payments);
  if (invoice.State() != wanted) {
    throw Error::Runtime(kInvalidArgument, "Cannot " + action + " " + invoice.Named() + ": it is " + invoice.State() +
                                               ", not " + wanted + ".");
  }
  return invoice;
}

std::shared_ptr<EntityCollection> TaxCodes(const Variant& file) { return CACMgr().GetAllTaxCodes(file, "", ""); }

InvoicePosting PostingOf(const Variant& file, Invoice& invoice) {
  return ComputeInvoicePosting(*invoice.row->Children("Items", file), *TaxCodes(file));
}

// The key of the active tax code whose one-character code is `code`.
Variant TaxCodeKey(const Variant& file, const std::string& code) {
  std::vector<std::shared_ptr<CITaxCode>> found;
  const auto codes = TaxCodes(file);
  for (const auto& [key, entry] : codes->entries()) {
    auto tax = std::static_pointer_cast<CITaxCode>(entry);
    if (TextOf(tax->Value("TaxCode")) == code) found.push_back(std::move(tax));
  }
  if (found.empty()) throw Error::Runtime(kInvalidArgument, Quoted("--tax", code) + ": no tax code is " + code + ".");
  if (found.size() > 1) {
    throw Error::Runtime(kInvalidArgument, Quoted("--tax", code) + ": the tax codes with keys " +
                                               TextOf(found[0]->Key()) + " and " + TextOf(found[1]->Key()) +
                                               " share the code " + code + ".");
  }
  const Variant& inactive = found.front()->Value("Inactive");
  if (!inactive.IsNull() && ToBoolean(inactive)) {
    throw Error::Runtime(kInvalidArgument, Quoted("--tax", code) + ": the tax code " + code + " is inactive.");
  }
  return found.front()->Key();
}

// Writes the invoice back with `paid` and `total`, every other value as it is stored (the
// ledger's update overwrites them all, and its transaction's header with them).
void Rewrite(const Variant& file, const std::string& user, const Invoice& invoice, const Variant& paid,
             const Variant& total) {
  CACMgr().UpdateInvoice(file, user, "", invoice.key, paid, invoice.Value("Comment"), invoice.Value("InvoiceDate"),
                         invoice.Value("InvoiceNo"), invoice.Value("PurchaseOrderNumber"), invoice.Value("Address"),
                         invoice.Value("Company"), total, invoice.Value("TransactionNumber"),
                         invoice.Value("AccountID"));
}

// ---- The actions ------------------------------------------------------------------------------

int RunNew(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  const Date date = DayArgument(options.date, "--date");
  const Variant receivable = AccountNumbers(file).Key(options.receivable, "--receivable");
  if (options.customer.empty()) throw Error::Runtime(kInvalidArgument, "--customer is empty: name the customer.");
  const std::string comment = options.comment.empty() ? "Invoice for " + options.customer : options.comment;
  RequireFits(options.customer, lenACInvoice::lenCompany, "--customer");
  RequireFits(options.number, lenACInvoice::lenInvoiceNo, "--number");
  RequireFits(options.po, lenACInvoice::lenPurchaseOrderNumber, "--po");
  RequireFits(options.address, lenACInvoice::lenAddress, "--address");
  RequireFits(comment, lenACInvoice::lenComment, options.comment.empty() ? "--customer" : "--comment");
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  return WriteInOneUnit(options.file, out, [&](std::ostream& said) {
    // A number two invoices share could no longer name either of them.
    if (!options.number.empty()) {
      const auto taken = InvoicesNumbered(file, options.number);
      if (!taken.empty()) {
        throw Error::Runtime(kInvalidArgument, Quoted("--number", options.number) + ": invoice " + options.number +
                                                   " exists already (key " + TextOf(taken.front()->Key()) + ").");
      }
    }
    Variant number = options.number;
    const Variant key = CACMgr().InsertInvoice(file, options.user, "", -1, comment, date, number, options.po,
                                               options.address, options.customer, Currency(), receivable);
    said << "Entered invoice " << TextOf(number) << " (key " << TextOf(key) << ") for " << options.customer
         << ", pending: add its lines with ledgerkit invoice add.\n";
  });
}

int RunAdd(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  const Currency price = AmountArgument(options.price, "--price", true);
  const double quantity = QuantityArgument(options.quantity, "--quantity");
  const AccountNumbers accounts(file);
  const Variant revenue = accounts.Key(options.account, "--account");
  const Variant tax = options.tax.empty() ? Variant(0) : TaxCodeKey(file, options.tax);
  if (options.item.empty()) throw Error::Runtime(kInvalidArgument, "--item is empty: give the line an item code.");
  RequireFits(options.item, lenACInvoiceItem::lenItemCode, "--item");
  RequireFits(options.description, lenACInvoiceItem::lenItemName, "--description");
  RequireFits(options.unit, lenACInvoiceItem::lenItemUnit, "--unit");
  return WriteInOneUnit(options.file, out, [&](std::ostream& said) {
    Payments payments(file);
    Invoice invoice = FindInvoiceIn(file, options.invoice, "pending", "add a line to", payments);
    if (!invoice.Value("AccountID").IsNull() && ToLong(invoice.Value("AccountID")) == ToLong(revenue)) {
      throw Error::Runtime(kInvalidArgument, Quoted("--account", options.account) + " is the receivable account of " +
                                                 invoice.Named() + "; a line credits a revenue account.");
    }
    CACMgr().AddInvoiceItem(file, options.user, "", invoice.key, tax, options.item, options.description, price,
                            quantity, options.unit, revenue);
    // The total is recomputed from every stored line, so it is right whatever changed them before.
    const Currency total = PostingOf(file, invoice).total;
    Rewrite(file, options.user, invoice, invoice.Value("Paid"), total);
    said << "Added " << options.item << " to invoice " << invoice.number << ": " << DoubleToText(quantity) << " at "
         << MoneyText(price) << "; the invoice's total is now " << MoneyText(total) << ".\n";
  });
}

// The lines, taxes and total of an invoice as a statement: a "detail" row per line, a "tax"
// row per tax name and a "total" row.
std::shared_ptr<Recordset> InvoiceRows(const Variant& file, Invoice& invoice, const InvoicePosting& posting) {
  const AccountNumbers accounts(file);
  std::map<int32_t, std::string> letters;
  const auto codes = TaxCodes(file);
  for (const auto& [key, entry] : codes->entries()) {
    const auto& code = static_cast<const CITaxCode&>(*entry);
    letters[ToLong(code.Key())] = TextOf(code.Value("TaxCode"));
  }
  auto number_of = [&](const Variant& account) {
    return account.IsNull() ? Variant::Null() : Variant(accounts.NumberOf(ToLong(account)));
  };
  auto rows = NewListing({{"RowKind", FieldType::kText},
                          {"Code", FieldType::kText},
                          {"Description", FieldType::kText},
                          {"Quantity", FieldType::kDouble},
                          {"Unit", FieldType::kText},
                          {"Price", FieldType::kCurrency},
                          {"Amount", FieldType::kCurrency},
                          {"Account", FieldType::kText},
                          {"Tax", FieldType::kText}});
  const auto items = invoice.row->Children("Items", file);
  size_t line = 0;
  for (const auto& [key, entry] : items->entries()) {
    const auto& item = static_cast<const ACInvoiceItem&>(*entry);
    const Variant& tax_id = item.Value("TaxID");
    const auto letter = tax_id.IsNull() ? letters.end() : letters.find(ToLong(tax_id));
    rows->AddNew();
    rows->SetField("RowKind", "detail");
    rows->SetField("Code", item.Value("ItemCode"));
    rows->SetField("Description", item.Value("ItemName"));
    rows->SetField("Quantity", item.Value("ItemQuantity"));
    rows->SetField("Unit", item.Value("ItemUnit"));
    rows->SetField("Price", item.Value("ItemPrice"));
    rows->SetField("Amount", posting.lines[line++].amount);
    rows->SetField("Account", number_of(item.Value("AccountID")));
    if (letter != letters.end()) rows->SetField("Tax", letter->second);
  }
  for (const InvoiceTaxCredit& tax : posting.taxes) {
    rows->AddNew();
    rows->SetField("RowKind", "tax");
    rows->SetField("Description", tax.name);
    rows->SetField("Amount", tax.amount);
    rows->SetField("Account", number_of(tax.account_id));
  }
  rows->AddNew();
  rows->SetField("RowKind", "total");
  rows->SetField("Description", "Total");
  rows->SetField("Amount", posting.total);
  rows->SetField("Account", number_of(invoice.Value("AccountID")));
  rows->MoveFirst();
  return rows;
}

// A column's name as a key of the JSON form: in lower case ("Amount" is "amount").
std::string JsonKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

nlohmann::ordered_json JsonValue(const Variant& value) {
  switch (value.type()) {
    case VarType::kNull:
    case VarType::kEmpty: return nullptr;
    case VarType::kDouble: return value.AsDouble();
    case VarType::kInteger:
    case VarType::kLong: return ToLong(value);
    default: return CellText(value);
  }
}

int RunShow(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  Payments payments(file);
  Invoice invoice = FindInvoice(file, options.invoice, payments);
  const InvoicePosting posting = PostingOf(file, invoice);
  const auto rows = InvoiceRows(file, invoice, posting);
  const std::string receivable = invoice.Value("AccountID").IsNull()
                                     ? std::string()
                                     : AccountNumbers(file).NumberOf(ToLong(invoice.Value("AccountID")));
  const std::vector<std::pair<const char*, Variant>> header = {{"Customer", invoice.Value("Company")},
                                                               {"Date", invoice.Value("InvoiceDate")},
                                                               {"Order", invoice.Value("PurchaseOrderNumber")},
                                                               {"Address", invoice.Value("Address")},
                                                               {"Comment", invoice.Value("Comment")},
                                                               {"Receivable", receivable},
                                                               {"Transaction", invoice.transaction}};
  if (options.as_json) {
    nlohmann::ordered_json shown = {{"invoice", invoice.number}, {"key", invoice.key}, {"state", invoice.State()}};
    for (const auto& [name, value] : header) shown[JsonKey(name)] = JsonValue(value);
    nlohmann::ordered_json lines = nlohmann::ordered_json::array(), taxes = nlohmann::ordered_json::array();
    const auto& columns = rows->Columns();
    for (const auto& row : rows->Rows()) {
      const std::string kind = TextOf(row[0]);
      if (kind == "total") continue;
      nlohmann::ordered_json entry = nlohmann::ordered_json::object();
      for (size_t i = 1; i < columns.size(); ++i) {
        if (kind == "tax" && columns[i].name != "Description" && columns[i].name != "Account" &&
            columns[i].name != "Amount") {
          continue;
        }
        entry[JsonKey(kind == "tax" && columns[i].name == "Description" ? "Name" : columns[i].name)] =
            JsonValue(row[i]);
      }
      (kind == "tax" ? taxes : lines).push_back(std::move(entry));
    }
    shown["lines"] = std::move(lines);
    shown["taxes"] = std::move(taxes);
    shown["total"] = posting.total.ToText();
    const nlohmann::ordered_json none(nullptr);
    shown["posted"] = invoice.posted ? nlohmann::ordered_json(invoice.posted_debit.ToText()) : none;
    shown["paid"] = invoice.paid.ToText();
    shown["owed"] = invoice.posted ? nlohmann::ordered_json(invoice.Owed().ToText()) : none;
    out << shown.dump(2) << "\n";
    return 0;
  }
  out << "Invoice " << invoice.number << " (key " << invoice.key << "), " << invoice.State() << "\n";
  for (const auto& [name, value] : header) {
    const std::string text = CellText(value);
    if (!text.empty()) out << name << std::string(12 - std::string_view(name).size(), ' ') << text << "\n";
  }
  out << "\n";
  PrintStatement(*rows, out);
  if (invoice.posted) {
    out << "Posted " << MoneyText(invoice.posted_debit) << ", paid " << MoneyText(invoice.paid) << ", owed "
        << MoneyText(invoice.Owed()) << ".\n";
  }
  return 0;
}

int RunIssue(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  return WriteInOneUnit(options.file, out, [&](std::ostream& said) {
    Payments payments(file);
    Invoice invoice = FindInvoice(file, options.invoice, payments);
    const InvoicePosting posting = PostingOf(file, invoice);
    // The stored total follows the lines even when they were changed by other means; an invoice
    // posted already is left for the ledger to refuse.
    const Variant& total = invoice.Value("Total");
    if (!invoice.posted && (total.IsNull() || ToCurrency(total) != posting.total)) {
      Rewrite(file, options.user, invoice, invoice.Value("Paid"), posting.total);
    }
    CACMgr().IssueInvoice(file, options.user, "", invoice.key);
    said << "Issued invoice " << invoice.number << ": " << MoneyText(posting.total) << " debited to account "
         << AccountNumbers(file).NumberOf(ToLong(invoice.Value("AccountID"))) << " in transaction "
         << invoice.transaction << ".\n";
  });
}

int RunList(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  const std::string wanted = options.pending       ? "pending"
                             : options.outstanding ? "outstanding"
                             : options.paid        ? "paid"
                                                   : "";
  Payments payments(file);
  auto rows = NewListing({{"RowKind", FieldType::kText},
                          {"Invoice", FieldType::kText},
                          {"Key", FieldType::kLong},
                          {"Date", FieldType::kDate},
                          {"Customer", FieldType::kText},
                          {"State", FieldType::kText},
                          {"Total", FieldType::kCurrency},
                          {"Paid", FieldType::kCurrency},
                          {"Owed", FieldType::kCurrency}});
  const auto all = CACMgr().GetAllInvoices(file, "", "");
  for (const auto& [key, entry] : all->entries()) {
    Invoice invoice = Load(file, std::static_pointer_cast<ACInvoice>(entry), payments);
    if (!wanted.empty() && invoice.State() != wanted) continue;
    rows->AddNew();
    rows->SetField("RowKind", "detail");
    rows->SetField("Invoice", invoice.number);
    rows->SetField("Key", invoice.key);
    rows->SetField("Date", invoice.Value("InvoiceDate"));
    rows->SetField("Customer", invoice.Value("Company"));
    rows->SetField("State", invoice.State());
    rows->SetField("Total", invoice.posted ? invoice.posted_debit : PostingOf(file, invoice).total);
    if (invoice.posted) {
      rows->SetField("Paid", invoice.paid);
      rows->SetField("Owed", invoice.Owed());
    }
  }
  rows->MoveFirst();
  if (options.as_json) {
    PrintJson(*rows, out);
  } else {
    PrintStatement(*rows, out);
  }
  return 0;
}

int RunPay(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  const Date date = DayArgument(options.date, "--date");
  const Variant bank = AccountNumbers(file).Key(options.bank, "--bank");
  const bool asked = !options.amount.empty();
  const Currency asked_amount = asked ? AmountArgument(options.amount, "--amount") : Currency();
  RequireFits(options.user, lenACTransLog::lenUserName, "--user");
  return WriteInOneUnit(options.file, out, [&](std::ostream& said) {
    CACMgr ledger;
    Payments payments(file);
    Invoice invoice = FindInvoiceIn(file, options.invoice, "outstanding", "record a payment of", payments);
    const Variant& receivable = invoice.Value("AccountID");
    if (ToLong(receivable) == ToLong(bank)) {
      throw Error::Runtime(kInvalidArgument, Quoted("--bank", options.bank) + " is the receivable account of " +
                                                 invoice.Named() + "; a payment is deposited to a bank account.");
    }
    const Currency owed = invoice.Owed();
    const Currency amount = asked ? asked_amount : owed;
    if (amount > owed) {
      throw Error::Runtime(kInvalidArgument, Quoted("--amount", options.amount) + " is more than the " +
                                                 MoneyText(owed) + " still owed on " + invoice.Named() + ".");
    }
    std::string number;
    if (amount > Currency()) {
      const std::string description = PaymentDescription(invoice.number, invoice.transaction);
      number = ledger.BeginTransaction(file, options.user, "", static_cast<int32_t>(ttDEP), date, description, bank,
                                       amount, "", description, "");
      ledger.PostCredit(file, number, receivable, amount, description);
      ledger.EndTransaction(file, number);
    }
    const Currency left = owed - amount;
    if (left == Currency()) Rewrite(file, options.user, invoice, 1, invoice.Value("Total"));
    said << (number.empty() ? "Nothing was owed on invoice " + invoice.number
                            : "Recorded a payment of " + MoneyText(amount) + " on invoice " + invoice.number +
                                  " in transaction " + number)
         << (left == Currency() ? "; it is paid.\n" : "; " + MoneyText(left) + " is still owed.\n");
  });
}

int RunDelete(const InvoiceOptions& options, std::ostream& out) {
  const Variant file = options.file;
  return WriteInOneUnit(options.file, out, [&](std::ostream& said) {
    CACMgr ledger;
    Payments payments(file);
    Invoice invoice = FindInvoice(file, options.invoice, payments);
    if (invoice.State() == "pending") {
      ledger.DeletePendingInvoice(file, options.user, "", invoice.key);
    } else if (!options.issued) {
      throw Error::Runtime(kInvalidArgument, "Cannot delete " + invoice.Named() + ": it is " + invoice.State() +
                                                 " and deleting it removes what it posted (--issued deletes it).");
    } else if (invoice.paid != Currency()) {
      // The deposits would stay in the bank and the receivable with no invoice to answer for them.
      throw Error::Runtime(kInvalidArgument, "Cannot delete " + invoice.Named() + ": payments of " +
                                                 MoneyText(invoice.paid) + " are recorded against it.");
    } else {
      ledger.DeleteOutstandingInvoice(file, options.user, "", invoice.key);
    }
    said << "Deleted " << invoice.Named()
         << (invoice.posted ? " and what it posted in transaction " : " and its transaction ") << invoice.transaction
         << ".\n";
  });
}

CLI::App* AddAction(CLI::App& invoice, const char* name, const char* description, InvoiceOptions& options,
                    const std::string& example, bool names_invoice = true) {
  auto* action = invoice.add_subcommand(name, description);
  action->add_option("FILE", options.file, kFileHelp)->required();
  if (names_invoice) action->add_option("INVOICE", options.invoice, kInvoiceHelp)->required();
  action->footer("Example:\n  " + example + "\n");
  return action;
}

void AddUser(CLI::App& action, InvoiceOptions& options) {
  action.add_option("--user", options.user, "User name recorded with the transaction")->capture_default_str();
}

}  // namespace

std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text;
}

std::shared_ptr<Recordset> NewListing(std::initializer_list<std::pair<const char*, FieldType>> columns) {
  auto result = std::make_shared<Recordset>();
  for (const auto& [name, type] : columns) result->AppendColumn(name, type, 0, kFieldMayBeNull);
  result->Open();
  return result;
}

Subcommand AddInvoiceCommand(CLI::App& app) {
  auto options = std::make_shared<InvoiceOptions>();
  auto* invoice = app.add_subcommand("invoice",
                                     "Customer invoices: enter, add lines, show, issue, list, record "
                                     "payments, delete.");
  invoice->require_subcommand(1);
  using Action = std::function<int(const InvoiceOptions&, std::ostream&)>;
  std::vector<std::pair<CLI::App*, Action>> actions;

  auto* entered =
      AddAction(*invoice, "new", "Enter a pending invoice (no lines yet) and print its number.", *options,
                "ledgerkit invoice new books.ldb --customer \"Bolt Ltd\" --date 2026-03-31 --receivable 1200", false);
  entered->add_option("--customer", options->customer, "The customer's name")->required();
  entered->add_option("--date", options->date, "Invoice date (YYYY-MM-DD)")->required();
  entered->add_option("--receivable", options->receivable, "Number of the receivable account it debits")->required();
  entered->add_option("--number", options->number, "Invoice number (default: one more than the greatest)");
  entered->add_option("--po", options->po, "The customer's purchase order");
  entered->add_option("--address", options->address, "Billing address");
  entered->add_option("--comment", options->comment,
                      "Description of the invoice and its postings (default: \"Invoice for CUSTOMER\")");
  AddUser(*entered, *options);
  actions.emplace_back(entered, RunNew);

  auto* added = AddAction(*invoice, "add", "Add a line to a pending invoice; its total is recomputed.", *options,
                          "ledgerkit invoice add books.ldb 1 --item W1 --description Widget --price 100 --quantity 2 "
                          "--account 4000 --tax G");
  added->add_option("--item", options->item, "Item code (lines are listed and posted in item-code order)")->required();
  added->add_option("--description", options->description, "What was sold; describes the line's posting")->required();
  added->add_option("--price", options->price, "Unit price")->required();
  added->add_option("--quantity", options->quantity, "Quantity, above zero")->required();
  added->add_option("--account", options->account, "Number of the revenue account credited")->required();
  added->add_option("--tax", options->tax, "The one-character tax code (default: untaxed)");
  added->add_option("--unit", options->unit, "Unit of measure");
  AddUser(*added, *options);
  actions.emplace_back(added, RunAdd);

  auto* shown = AddAction(*invoice, "show", "Print an invoice: header, lines, taxes and total.", *options,
                          "ledgerkit invoice show books.ldb 1 --json");
  shown->add_flag("--json", options->as_json, "Print it as one JSON object");
  actions.emplace_back(shown, RunShow);

  auto* issued = AddAction(*invoice, "issue", "Post a pending invoice to the ledger; prints the total posted.",
                           *options, "ledgerkit invoice issue books.ldb 1");
  AddUser(*issued, *options);
  actions.emplace_back(issued, RunIssue);

  auto* listed = AddAction(*invoice, "list", "List invoices with their totals, what was paid and what is owed.",
                           *options, "ledgerkit invoice list books.ldb --outstanding", false);
  auto* pending = listed->add_flag("--pending", options->pending, "Only invoices not issued yet");
  auto* outstanding = listed->add_flag("--outstanding", options->outstanding, "Only issued invoices not paid in full");
  listed->add_flag("--paid", options->paid, "Only invoices paid in full")->excludes(pending)->excludes(outstanding);
  pending->excludes(outstanding);
  listed->add_flag("--json", options->as_json, "Print the rows as a JSON array of objects");
  actions.emplace_back(listed, RunList);

  auto* paid = AddAction(*invoice, "pay",
                         "Record a payment of an issued invoice: a deposit to the bank credited to "
                         "its receivable; paid in full, the invoice is marked paid.",
                         *options, "ledgerkit invoice pay books.ldb 1 --date 2026-04-15 --bank 1000 --amount 50");
  paid->add_option("--date", options->date, "Date of the deposit (YYYY-MM-DD)")->required();
  paid->add_option("--bank", options->bank, "Number of the bank account the money went to")->required();
  paid->add_option("--amount", options->amount, "Amount paid (default: everything still owed)");
  AddUser(*paid, *options);
  actions.emplace_back(paid, RunPay);

  auto* deleted = AddAction(*invoice, "delete",
                            "Delete a pending invoice, or with --issued an issued one and what it "
                            "posted (refused once payments are recorded against it).",
                            *options, "ledgerkit invoice delete books.ldb 1");
  deleted->add_flag("--issued", options->issued, "Delete an issued invoice too, removing what it posted");
  AddUser(*deleted, *options);
  actions.emplace_back(deleted, RunDelete);

  return Subcommand{invoice, [options, actions](std::ostream& out) {
                      for (const auto& [action, run] : actions) {
                        if (*action) return run(*options, out);
                      }
                      return 0;
                    }};
}

}  // namespace ledgerkit::cli
