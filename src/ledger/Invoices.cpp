// CACMgr: customer invoices. Each invoice rides on one ttINV ledger transaction: begun when the
// invoice is entered, posted and committed when it is issued, aborted when it is deleted.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/Command.h"
#include "common/Engine.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/ledger/InvoiceAmounts.h"
#include "ledger/LedgerInternal.h"
#include "services/Arguments.h"
#include "services/Ledger.h"

namespace ledgerkit {

namespace {

// Refuses to issue an invoice that is not pending (Paid -1) or that has been posted already (its
// transaction committed), whatever its Paid says: posting it again would double its receivable.
// An invoice entered as outstanding (Paid 0) but never posted is refused too, with the way out:
// a caller that means to post it sets it pending first.
void RequireUnposted(const Variant& account, const ACInvoice& invoice, int32_t invoice_id) {
  const Variant& paid = FieldValue(invoice, db::ACInvoice::Paid);
  // The status is compared as "+TransLogStatus" so that the header is found by its number: with
  // both indexes to choose from, the file engine took the status one and read every committed
  // header of the company at each issue.
  Command committed(account);
  committed.SetText(
      Sql("SELECT COUNT(*) FROM ACTransLog WHERE TransactionNumber=", kValue, " AND +TransLogStatus=", kValue, ";"));
  committed.Append(SelectingText(FieldValue(invoice, db::ACInvoice::TransactionNumber), "TransactionNumber"));
  committed.Bind(db::ACTransLog::TransLogStatus, static_cast<int32_t>(tlsCOMMITTED));
  std::string state;
  if (!paid.IsNull() && ToLong(paid) == 1) {
    state = "paid";
  } else if (ToLong(committed.ExecuteScalar()) > 0) {
    state = "already issued (its transaction " + ledger::Shown(FieldValue(invoice, db::ACInvoice::TransactionNumber)) + " is committed)";
  } else if (!paid.IsNull() && ToLong(paid) == 0) {
    state = "entered as outstanding (Paid 0) without being posted; set Paid to -1 (pending) to issue it";
  } else if (paid.IsNull() || ToLong(paid) != -1) {
    state = "in no known state (Paid " + ledger::Shown(paid) + ")";
  }
  if (state.empty()) return;
  throw Error::Runtime(kInvalidArgument, "Invoice " + ledger::Shown(FieldValue(invoice, db::ACInvoice::InvoiceNo)) + " (key " +
                                             std::to_string(invoice_id) + ") cannot be issued: it is " + state + ".")
      .WithArgument("InvoiceID");
}

// One more than the greatest stored invoice number that is a whole number; 1 when none is. The
// greatest is the last entry of the file's index of whole invoice numbers, read as text so that
// no count of digits is refused; numbers are whole numbers of 32 bits.
Variant NextInvoiceNumber(const Variant& account) {
  Command command(account);
  const EngineDialect& dialect = command.Dialect();
  command.SetText(Sql("SELECT CAST(MAX(" + dialect.WholeNumberValue("InvoiceNo") + ") AS TEXT) FROM ACInvoice WHERE " +
                      dialect.WholeNumberCondition("InvoiceNo") + ";"));
  const Variant greatest = command.ExecuteScalar();
  if (greatest.IsNull()) return 1;
  const std::string text = ToText(greatest);
  int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number >= std::numeric_limits<int32_t>::max()) {
    throw Error::Runtime(kOverflow,
                         "Overflow: an invoice number is 2147483647 or greater, so there is no next one to give.");
  }
  return static_cast<int32_t>(number + 1);
}

// Money and dates an invoice passes on to its transaction and stores itself, converted once:
// Null stays Null (stored as NULL), anything else becomes a Currency or a Date or fails.
Variant MoneyOrNull(const Variant& value) { return services::OrNull(services::CurrencyArgument(value)); }
Variant DateOrNull(const Variant& value) { return services::OrNull(services::DateArgument(value)); }

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

// The lines of an invoice's posting, as its commit posts them: each credit, each tax credit,
// then the receivable debit, in that order, each named as a refusal names it.
std::vector<services::PostedLine> PostingLines(const InvoicePosting& posting, const Variant& comment,
                                               const Variant& receivable) {
  std::vector<services::PostedLine> lines;
  lines.reserve(posting.lines.size() + posting.taxes.size() + 1);
  const auto add = [&](const Variant& account_id, Currency amount, services::Side side, const Variant& description,
                       std::string label) {
    services::PostedLine& line = lines.emplace_back();
    if (!account_id.IsNull()) line.values.account_id = ToLong(account_id);
    line.values.amount = amount;
    line.values.side = side;
    if (!description.IsNull()) line.values.description = ToText(description);
    line.label = std::move(label);
  };
  for (const InvoiceLineCredit& line : posting.lines) {
    add(line.account_id, line.amount, services::Side::kCredit, line.description,
        "The credit of invoice item " + ledger::Shown(line.item_id));
  }
  for (const InvoiceTaxCredit& tax : posting.taxes) {
    add(tax.account_id, tax.amount, services::Side::kCredit, comment, "The " + ledger::Shown(tax.name) + " credit");
  }
  add(receivable, posting.total, services::Side::kDebit, comment, "The receivable debit");
  return lines;
}

std::shared_ptr<EntityCollection> InvoicesWhere(const Variant& account, const char* filter) {
  return RunOperation(account, Access::kRead, [&] {
    return Fetch<ACInvoice>(account, FetchArgs{.filter = Sql(filter), .sort = "InvoiceNo ASC"});
  });
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
    const std::string transaction = services::TakeNumber(Account);
    const services::TransactionStart start = services::StartArguments(ttINV, invoice_date, Comment, UserName, number,
                                                                      Address, total, receivable, Comment);
    services::BeginTransaction(Account, transaction, start);
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
    const services::HeaderValues header = services::HeaderArguments(invoice_date, Comment, InvoiceNo, Address, total);
    services::UpdateHeader(Account, services::StoredNumberArgument(TransNum), header);
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
    RequireUnposted(Account, *invoice, invoice_id);
    const auto tax_codes = Fetch<CITaxCode>(Account, FetchArgs{.filter = Sql("CITaxCodeID<>0")});
    const std::string transaction = services::NumberArgument(FieldValue(*invoice, db::ACInvoice::TransactionNumber));
    const Variant comment = FieldValue(*invoice, db::ACInvoice::Comment);
    const InvoicePosting posting = ComputeInvoicePosting(*invoice->Children("Items", Account), *tax_codes);
    services::CommitTransaction(Account, transaction,
                                PostingLines(posting, comment, FieldValue(*invoice, db::ACInvoice::AccountID)));
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
    services::AbortTransaction(Account,
                               services::StoredNumberArgument(FieldValue(*invoice, db::ACInvoice::TransactionNumber)));
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
        Account, FetchArgs{.filter = Sql("TransactionNumber=", kValue), .bind = {SelectingText(TransNum, "TransNum")}});
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
