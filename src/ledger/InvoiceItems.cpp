// CACMgr: the lines of an invoice.
#include "common/Convert.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"

namespace ledgerkit {

Variant CACMgr::AddInvoiceItem(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& InvoiceID, const Variant& TaxID, const Variant& ItemCode,
                               const Variant& ItemName, const Variant& ItemPrice, const Variant& ItemQuantity,
                               const Variant& ItemUnit, const Variant& AccountID) {
  return ledger::InsertReturningKey(
      Account,
      "INSERT INTO ACInvoiceItem (Parent,TaxID,ItemCode,ItemName,ItemPrice,ItemQuantity,ItemUnit,AccountID) "
      "VALUES (?,?,?,?,?,?,?,?) RETURNING ACInvoiceItemID;",
      {{"p1", FieldType::kKey, 0, InvoiceID, "InvoiceID"},
       {"p2", FieldType::kKey, 0, TaxID, "TaxID"},
       {"p3", FieldType::kText, lenACInvoiceItem::lenItemCode, ItemCode, "ItemCode"},
       {"p4", FieldType::kText, lenACInvoiceItem::lenItemName, ItemName, "ItemName"},
       {"p5", FieldType::kCurrency, 0, ItemPrice, "ItemPrice"},
       {"p6", FieldType::kDouble, 0, ItemQuantity, "ItemQuantity"},
       {"p7", FieldType::kText, lenACInvoiceItem::lenItemUnit, ItemUnit, "ItemUnit"},
       {"p8", FieldType::kKey, 0, AccountID, "AccountID"}});
}

void CACMgr::UpdateInvoiceItem(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& ItemID, const Variant& TaxID, const Variant& ItemCode,
                               const Variant& ItemName, const Variant& ItemPrice, const Variant& ItemQuantity,
                               const Variant& ItemUnit, const Variant& AccountID) {
  ledger::RunWrite(Account,
                   "UPDATE ACInvoiceItem SET TaxID=?,ItemCode=?,ItemName=?,ItemPrice=?,ItemQuantity=?,ItemUnit=?,"
                   "AccountID=? WHERE ACInvoiceItemID=?;",
                   {{"p1", FieldType::kKey, 0, TaxID, "TaxID"},
                    {"p2", FieldType::kText, lenACInvoiceItem::lenItemCode, ItemCode, "ItemCode"},
                    {"p3", FieldType::kText, lenACInvoiceItem::lenItemName, ItemName, "ItemName"},
                    {"p4", FieldType::kCurrency, 0, ItemPrice, "ItemPrice"},
                    {"p5", FieldType::kDouble, 0, ItemQuantity, "ItemQuantity"},
                    {"p6", FieldType::kText, lenACInvoiceItem::lenItemUnit, ItemUnit, "ItemUnit"},
                    {"p7", FieldType::kKey, 0, AccountID, "AccountID"},
                    {"p8", FieldType::kKey, 0, ItemID, "ItemID"}});
}

void CACMgr::DeleteInvoiceItem(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& ItemID) {
  ledger::RunWrite(Account, "DELETE FROM ACInvoiceItem WHERE ACInvoiceItemID=?;",
                   {{"p1", FieldType::kKey, 0, ItemID, "ItemID"}});
}

std::shared_ptr<ACInvoiceItem> CACMgr::GetInvoiceItem(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& InvoiceItemID) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t item_id = ToKey(InvoiceItemID);
    return ledger::RequireByKey<ACInvoiceItem>(Account, item_id);
  });
}

}  // namespace ledgerkit
