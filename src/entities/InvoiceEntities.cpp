// The invoicing entities: invoices, their lines and tax codes. Their fetches and
// object-valued properties mark a failure once.
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACInvoice.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/entities/ISubScriber.h"

namespace ledgerkit {

const EntityDef& ACInvoice::Def() {
  using C = db::ACInvoice;
  static const EntityDef def(C::kTable, 0, {},
                             {
                                 Scalar(C::ACInvoiceID),
                                 Scalar(C::AccountID),
                                 Linked("RcvblAccount", "AccountID", &ACAccount::Def),
                                 Scalar(C::Paid),
                                 Scalar(C::Comment),
                                 Scalar(C::TransactionNumber),
                                 Scalar(C::InvoiceDate),
                                 Scalar(C::InvoiceNo),
                                 Scalar(C::PurchaseOrderNumber),
                                 Scalar(C::Address),
                                 Scalar(C::Company),
                                 Scalar(C::Total),
                                 ChildRows("Items", &ACInvoiceItem::Def, db::ACInvoiceItem::Parent,
                                           Ascending({db::ACInvoiceItem::ItemCode})),
                             },
                             &MakeEntity<ACInvoice>);
  return def;
}

const EntityDef& ACInvoiceItem::Def() {
  using C = db::ACInvoiceItem;
  static const EntityDef def(C::kTable, 0, {},
                             {
                                 Scalar(C::ACInvoiceItemID),
                                 Scalar("InvoiceID", C::Parent),
                                 Linked("Invoice", "InvoiceID", &ACInvoice::Def),
                                 Scalar(C::TaxID),
                                 Linked("Tax", "TaxID", &CITaxCode::Def),
                                 Scalar(C::AccountID),
                                 Linked("RevAccount", "AccountID", &ACAccount::Def),
                                 Scalar(C::ItemCode),
                                 Scalar(C::ItemName),
                                 Scalar(C::ItemPrice),
                                 Scalar(C::ItemQuantity),
                                 Scalar(C::ItemUnit),
                             },
                             &MakeEntity<ACInvoiceItem>);
  return def;
}

const EntityDef& CITaxCode::Def() {
  using C = db::CITaxCode;
  static const EntityDef def(C::kTable, 0, {},
                             {
                                 Scalar(C::CITaxCodeID),
                                 Scalar("SubscriberID", C::Parent),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def),
                                 Scalar(C::Account1ID),
                                 Linked("Account1", "Account1ID", &ACAccount::Def),
                                 Scalar(C::Account2ID),
                                 Linked("Account2", "Account2ID", &ACAccount::Def),
                                 Scalar(C::TaxCode),
                                 Scalar(C::Description),
                                 Scalar(C::Tax1Rate),
                                 Scalar(C::Tax1Name),
                                 Scalar(C::Tax1Exempt),
                                 Scalar(C::Tax2Rate),
                                 Scalar(C::Tax2Name),
                                 Scalar(C::Tax2Exempt),
                                 Scalar(C::Tax2PiggyBack),
                                 Scalar(C::Inactive),
                             },
                             &MakeEntity<CITaxCode>);
  return def;
}

}  // namespace ledgerkit
