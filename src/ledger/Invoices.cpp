// CACMgr: customer invoices. Each invoice rides on one ttINV ledger transaction: begun when the
// invoice is entered, posted and committed when it is issued, aborted when it is deleted.
#include <limits>
#include <optional>
#include <vector>

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "enums/PublicEnums.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "services/Ledger.h"

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
  command.SetText("SELECT MAX(CAST(InvoiceNo AS BIGINT)) FROM ACInvoice WHERE " +
                  command.Dialect().WholeNumberCondition("InvoiceNo") + ";");
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

// The values of an invoice, as entering and changing it write them.
struct InvoiceValues {
  const Variant& paid;
  const Variant& comment;
  const Variant& date;
  const Variant& number;
  const Variant& purchase_order;
  const Variant& address;
  const Variant& company;
  const Variant& total;
};

void SetInvoiceValues(RowWrite& row, const InvoiceValues& values) {
  using db::ACInvoice;
  row.Set(ACInvoice::Paid, values.paid)
      .Set(ACInvoice::Comment, values.comment)
      .Set(ACInvoice::InvoiceDate, values.date)
      .Set(ACInvoice::InvoiceNo, values.number)
      .Set(ACInvoice::PurchaseOrderNumber, values.purchase_order)
      .Set(ACInvoice::Address, values.address)
      .Set(ACInvoice::Company, values.company)
      .Set(ACInvoice::Total, values.total);
}

std::shared_ptr<EntityCollection> InvoicesWhere(const Variant& account, const char* filter) {
  return RunOperation(account, Access::kRead,
                      [&] { return Fetch<ACInvoice>(account, FetchArgs{.filter = filter, .sort = "InvoiceNo ASC"}); });
}

}  // namespace

Variant CACMgr::InsertInvoice(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                              const Variant& Paid, const Variant& Comment, const Variant& InvoiceDate,
                              Variant& InvoiceNo, const Variant& PurchaseOrderNumber, const Variant& Address,
                              const Variant& Company, const Variant& Total, const Variant& AccountID) {
  Variant number = InvoiceNo;
  const Variant key = RunOperation(Account, Access::kWrite, [&] {
    const Variant invoice_date = DateOrNull(InvoiceDate);
    const Variant total = MoneyOrNull(Total);
    const Variant receivable = ledger::NullableKey(AccountID, "AccountID");
    // The header keeps the number as the caller gave it, an empty one included.
    const std::string transaction =
        services::BeginTransaction(Account, services::TransactionStart{.type = static_cast<int32_t>(ttINV),
                                                                       .date = invoice_date,
                                                                       .description = Comment,
                                                                       .user_name = UserName,
                                                                       .cheque_no = number,
                                                                       .address = Address,
                                                                       .amount = total,
                                                                       .line_account = receivable,
                                                                       .memo = Comment})
            .number;
    const bool numbered = number.IsEmpty() || (number.type() == VarType::kString && number.AsString().empty());
    if (numbered) number = NextInvoiceNumber(Account);
    auto row = RowWrite::Of<db::ACInvoice>();
    SetInvoiceValues(row, InvoiceValues{Paid, Comment, invoice_date, number, PurchaseOrderNumber, Address, Company, total});
    row.Set(db::ACInvoice::TransactionNumber, transaction).Set(db::ACInvoice::AccountID, receivable);
    return row.Insert(Account);
  });
  // Written back only once the invoice is stored.
  InvoiceNo = number;
  return key;
}

void CACMgr::UpdateInvoice(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& InvoiceID, const Variant& Paid, const Variant& Comment,
                           const Variant& InvoiceDate, const Variant& InvoiceNo, const Variant& PurchaseOrderNumber,
                           const Variant& Address, const Variant& Company, const Variant& Total,
                           const Variant& TransNum, const Variant& AccountID) {
  RunOperation(Account, Access::kWrite, [&] {
    const Variant invoice_id = ledger::NullableKey(InvoiceID, "InvoiceID");
    const Variant invoice_date = DateOrNull(InvoiceDate);
    const Variant total = MoneyOrNull(Total);
    const Variant receivable = ledger::NullableKey(AccountID, "AccountID");
    services::UpdateHeader(Account, TransNum, invoice_date, Comment, InvoiceNo, Address, total);
    auto row = RowWrite::Of<db::ACInvoice>();
    SetInvoiceValues(row,
                     InvoiceValues{Paid, Comment, invoice_date, InvoiceNo, PurchaseOrderNumber, Address, Company, total});
    row.Set(db::ACInvoice::AccountID, receivable).Where(db::ACInvoice::ACInvoiceID, invoice_id, "InvoiceID");
    row.Update(Account);
  });
}

void CACMgr::IssueInvoice(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                          const Variant& InvoiceID) {
  RunOperation(Account, Access::kWrite, [&] {
    const int32_t invoice_id = ToKey(InvoiceID, "InvoiceID");
    const std::shared_ptr<ACInvoice> invoice = ledger::RequireByKey<ACInvoice>(Account, invoice_id, "InvoiceID");
    const auto tax_codes = Fetch<CITaxCode>(Account, FetchArgs{.filter = "CITaxCodeID<>0"});
    const Variant transaction = invoice->Value("TransactionNumber");
    const Variant comment = invoice->Value("Comment");
    // The transaction is looked up when the first line is posted, and once.
    std::optional<int32_t> header;
    auto post = [&](const Variant& account_id, Currency amount, services::Side side, const Variant& description) {
      if (!header) header = services::RequireHeaderKey(Account, transaction);
      services::AddLine(Account, *header, account_id, amount, side, description);
    };
    Currency total;
    std::vector<TaxTotal> summary;
    const auto items = invoice->Children("Items", Account);
    for (const auto& [key, entry] : items->entries()) {
      const auto& item = static_cast<const ACInvoiceItem&>(*entry);
      const double line_amount = ToDouble(item.Value("ItemPrice")) * ToDouble(item.Value("ItemQuantity"));
      // The debit is the exact sum of the credits: each credit is added as posted.
      const Currency credit = CurrencyFromDouble(line_amount);
      post(item.Value("AccountID"), credit, services::Side::kCredit, item.Value("ItemName"));
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
      post(tax.account, tax.amount, services::Side::kCredit, comment);
      total += tax.amount;
    }
    post(invoice->Value("AccountID"), total, services::Side::kDebit, comment);
    services::CommitTransaction(Account, transaction);
    auto issued = RowWrite::Of<db::ACInvoice>();
    issued.Set(db::ACInvoice::Paid, 0).Where(db::ACInvoice::ACInvoiceID, invoice_id, "InvoiceID");
    issued.Update(Account);
  });
}

void CACMgr::DeleteInvoice(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& InvoiceID) {
  RunOperation(Account, Access::kWrite, [&] {
    const int32_t invoice_id = ToKey(InvoiceID, "InvoiceID");
    const std::shared_ptr<ACInvoice> invoice = ledger::RequireByKey<ACInvoice>(Account, invoice_id, "InvoiceID");
    services::AbortTransaction(Account, invoice->Value("TransactionNumber"));
    RowWrite::Of<db::ACInvoiceItem>().Where(db::ACInvoiceItem::Parent, invoice_id, "InvoiceID").Delete(Account);
    RowWrite::Of<db::ACInvoice>().Where(db::ACInvoice::ACInvoiceID, invoice_id, "InvoiceID").Delete(Account);
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
    const int32_t invoice_id = ToKey(InvoiceID, "InvoiceID");
    return ledger::RequireByKey<ACInvoice>(Account, invoice_id, "InvoiceID");
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
