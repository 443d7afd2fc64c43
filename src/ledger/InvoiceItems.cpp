// CACMgr: the lines of an invoice.
#include "ledgerkit/common/Convert.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"

namespace ledgerkit {

namespace {

// The columns an add and an update write alike.
void SetItemValues(RowWrite& row, const Variant& tax_id, const Variant& code, const Variant& name, const Variant& price,
                   const Variant& quantity, const Variant& unit, const Variant& account_id) {
  using db::ACInvoiceItem;
  row.Set(ACInvoiceItem::TaxID, tax_id)
      .Set(ACInvoiceItem::ItemCode, code)
      .Set(ACInvoiceItem::ItemName, name)
      .Set(ACInvoiceItem::ItemPrice, price)
      .Set(ACInvoiceItem::ItemQuantity, quantity)
      .Set(ACInvoiceItem::ItemUnit, unit)
      .Set(ACInvoiceItem::AccountID, account_id);
}

}  // namespace

Variant CACMgr::AddInvoiceItem(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& InvoiceID, const Variant& TaxID, const Variant& ItemCode,
                               const Variant& ItemName, const Variant& ItemPrice, const Variant& ItemQuantity,
                               const Variant& ItemUnit, const Variant& AccountID) {
  return RunOperation(Account, Access::kWrite, [&] {
    // A line of no invoice would never be posted nor shown; the invoice's state is not
    // consulted, since changing lines never touches what an issued invoice posted.
    const int32_t invoice_id = ToKey(InvoiceID, "InvoiceID");
    ledger::RequireByKey<ACInvoice>(Account, invoice_id, "InvoiceID");
    auto row = RowWrite::Of<db::ACInvoiceItem>();
    row.Set(db::ACInvoiceItem::Parent, invoice_id, "InvoiceID");
    SetItemValues(row, TaxID, ItemCode, ItemName, ItemPrice, ItemQuantity, ItemUnit, AccountID);
    return row.Insert(Account);
  });
}

void CACMgr::UpdateInvoiceItem(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& ItemID, const Variant& TaxID, const Variant& ItemCode,
                               const Variant& ItemName, const Variant& ItemPrice, const Variant& ItemQuantity,
                               const Variant& ItemUnit, const Variant& AccountID) {
  auto row = RowWrite::Of<db::ACInvoiceItem>();
  SetItemValues(row, TaxID, ItemCode, ItemName, ItemPrice, ItemQuantity, ItemUnit, AccountID);
  row.Where(db::ACInvoiceItem::ACInvoiceItemID, ItemID, "ItemID");
  ledger::UpdateRows(Account, row);
}

void CACMgr::DeleteInvoiceItem(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& ItemID) {
  ledger::DeleteRows(Account,
                     RowWrite::Of<db::ACInvoiceItem>().Where(db::ACInvoiceItem::ACInvoiceItemID, ItemID, "ItemID"));
}

std::shared_ptr<ACInvoiceItem> CACMgr::GetInvoiceItem(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& InvoiceItemID) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t item_id = ToKey(InvoiceItemID, "InvoiceItemID");
    return ledger::RequireByKey<ACInvoiceItem>(Account, item_id, "InvoiceItemID");
  });
}

}  // namespace ledgerkit
