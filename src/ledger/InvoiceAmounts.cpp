// The amounts an invoice posts: a credit per line, a credit per tax name, and the receivable
// debit that is their exact sum.
#include "ledgerkit/ledger/InvoiceAmounts.h"

#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/CITaxCode.h"

namespace ledgerkit {

namespace {

void AddTax(std::vector<InvoiceTaxCredit>& summary, const Variant& name, Currency amount, const Variant& account) {
  for (InvoiceTaxCredit& entry : summary) {
    // Names match exactly; a Null name matches nothing.
    if (!name.IsNull() && !entry.name.IsNull() && ToText(entry.name) == ToText(name)) {
      entry.amount += amount;
      entry.account_id = account;
      return;
    }
  }
  summary.push_back(InvoiceTaxCredit{name, account, amount});
}

// Yes/no columns as the tax computation reads them: a Null flag is neither true nor false.
bool IsTrue(const Variant& flag) { return !flag.IsNull() && ToBoolean(flag); }
bool IsFalse(const Variant& flag) { return !flag.IsNull() && !ToBoolean(flag); }

// Adds the taxes of one line under `code` to the summary. Each tax is computed on this line
// alone and converted to currency (half to even at the fourth decimal).
void AddLineTaxes(std::vector<InvoiceTaxCredit>& summary, const CITaxCode& code, double line_amount) {
  Currency first_tax;
  if (IsFalse(FieldValue(code, db::CITaxCode::Tax1Exempt))) {
    first_tax = CurrencyFromDouble(line_amount * (ToDouble(FieldValue(code, db::CITaxCode::Tax1Rate)) / 100));
    AddTax(summary, FieldValue(code, db::CITaxCode::Tax1Name), first_tax, FieldValue(code, db::CITaxCode::Account1ID));
  }
  if (IsFalse(FieldValue(code, db::CITaxCode::Tax2Exempt))) {
    const double base = IsTrue(FieldValue(code, db::CITaxCode::Tax2PiggyBack)) ? line_amount + ToDouble(first_tax) : line_amount;
    AddTax(summary, FieldValue(code, db::CITaxCode::Tax2Name), CurrencyFromDouble(base * (ToDouble(FieldValue(code, db::CITaxCode::Tax2Rate)) / 100)),
           FieldValue(code, db::CITaxCode::Account2ID));
  }
}

const CITaxCode* CodeWithKey(const EntityCollection& tax_codes, int32_t tax_id) {
  for (const auto& [key, entry] : tax_codes.entries()) {
    const auto& code = static_cast<const CITaxCode&>(*entry);
    if (ToKey(code.Key()) == tax_id) return &code;
  }
  return nullptr;
}

}  // namespace

InvoicePosting ComputeInvoicePosting(const EntityCollection& items, const EntityCollection& tax_codes) {
  InvoicePosting posting;
  for (const auto& [key, entry] : items.entries()) {
    const auto& item = static_cast<const ACInvoiceItem&>(*entry);
    const double line_amount = ToDouble(FieldValue(item, db::ACInvoiceItem::ItemPrice)) * ToDouble(FieldValue(item, db::ACInvoiceItem::ItemQuantity));
    // The debit is the exact sum of the credits: each credit is added as posted.
    const Currency credit = CurrencyFromDouble(line_amount);
    posting.lines.push_back(InvoiceLineCredit{item.Key(), FieldValue(item, db::ACInvoiceItem::AccountID), FieldValue(item, db::ACInvoiceItem::ItemName), credit});
    posting.total += credit;
    const Variant& stored_tax_id = FieldValue(item, db::ACInvoiceItem::TaxID);
    if (stored_tax_id.IsNull()) continue;
    const int32_t tax_id = ToKey(stored_tax_id);
    if (tax_id <= 0) continue;
    if (const CITaxCode* code = CodeWithKey(tax_codes, tax_id)) AddLineTaxes(posting.taxes, *code, line_amount);
  }
  for (const InvoiceTaxCredit& tax : posting.taxes) posting.total += tax.amount;
  return posting;
}

}  // namespace ledgerkit
