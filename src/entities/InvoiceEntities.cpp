// The invoicing entities: invoices, their lines and tax codes. Their fetches and
// object-valued properties mark a failure once.
#include "entities/ACAccount.h"
#include "entities/ACInvoice.h"
#include "entities/ACInvoiceItem.h"
#include "entities/CITaxCode.h"
#include "entities/ISubScriber.h"

namespace ledgerkit {

const EntityDef& ACInvoice::Def() {
  static const EntityDef def("ACInvoice", 0, {},
                             {
                                 Scalar("ACInvoiceID"),
                                 Scalar("AccountID"),
                                 Linked("RcvblAccount", "AccountID", &ACAccount::Def),
                                 Scalar("Paid"),
                                 Scalar("Comment"),
                                 Scalar("TransactionNumber"),
                                 Scalar("InvoiceDate"),
                                 Scalar("InvoiceNo"),
                                 Scalar("PurchaseOrderNumber"),
                                 Scalar("Address"),
                                 Scalar("Company"),
                                 Scalar("Total"),
                                 ChildRows("Items", &ACInvoiceItem::Def, "ItemCode ASC"),
                             },
                             &MakeEntity<ACInvoice>);
  return def;
}

const EntityDef& ACInvoiceItem::Def() {
  static const EntityDef def("ACInvoiceItem", 0, {},
                             {
                                 Scalar("ACInvoiceItemID"),
                                 Scalar("InvoiceID", "Parent"),
                                 Linked("Invoice", "InvoiceID", &ACInvoice::Def),
                                 Scalar("TaxID"),
                                 Linked("Tax", "TaxID", &CITaxCode::Def),
                                 Scalar("AccountID"),
                                 Linked("RevAccount", "AccountID", &ACAccount::Def),
                                 Scalar("ItemCode"),
                                 Scalar("ItemName"),
                                 Scalar("ItemPrice"),
                                 Scalar("ItemQuantity"),
                                 Scalar("ItemUnit"),
                             },
                             &MakeEntity<ACInvoiceItem>);
  return def;
}

const EntityDef& CITaxCode::Def() {
  static const EntityDef def("CITaxCode", 0, {},
                             {
                                 Scalar("CITaxCodeID"),
                                 Scalar("SubscriberID", "Parent"),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def),
                                 Scalar("Account1ID"),
                                 Linked("Account1", "Account1ID", &ACAccount::Def),
                                 Scalar("Account2ID"),
                                 Linked("Account2", "Account2ID", &ACAccount::Def),
                                 Scalar("TaxCode"),
                                 Scalar("Description"),
                                 Scalar("Tax1Rate"),
                                 Scalar("Tax1Name"),
                                 Scalar("Tax1Exempt"),
                                 Scalar("Tax2Rate"),
                                 Scalar("Tax2Name"),
                                 Scalar("Tax2Exempt"),
                                 Scalar("Tax2PiggyBack"),
                                 Scalar("Inactive"),
                             },
                             &MakeEntity<CITaxCode>);
  return def;
}

}  // namespace ledgerkit
