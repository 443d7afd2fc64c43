// The amounts an invoice posts when it is issued, computed from its lines and the company's tax
// codes: the one computation CACMgr::IssueInvoice posts from, for any caller that shows an
// invoice's total before it is issued. Pure: it reads the objects it is given and nothing else.
#pragma once

#include <vector>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/EntityCollection.h"

namespace ledgerkit {

// The credit of one invoice line: ItemPrice times ItemQuantity, converted to currency (half to
// even at the fourth decimal), to the line's revenue account, described by its ItemName.
struct InvoiceLineCredit {
  Variant item_id;      // ACInvoiceItemID
  Variant account_id;   // the line's AccountID
  Variant description;  // the line's ItemName
  Currency amount;
};

// The credit of one tax name: every tax of that name over all lines, each computed on its own
// line and converted to currency, summed; to the account of the tax code met last.
struct InvoiceTaxCredit {
  Variant name;
  Variant account_id;
  Currency amount;
};

struct InvoicePosting {
  std::vector<InvoiceLineCredit> lines;  // in the order of `items`
  std::vector<InvoiceTaxCredit> taxes;   // in the order each name is first met
  Currency total;                        // the receivable debit: the exact sum of every credit
};

// The posting of an invoice whose lines are `items` (ACInvoiceItem objects, in the order they
// are posted: the invoice's Items, by item code) under `tax_codes` (CITaxCode objects, every code
// of the company). A line whose TaxID is Null, 0 or less, or names no code, is untaxed. Tax 1
// is charged unless Tax1Exempt; tax 2 unless Tax2Exempt, on the line plus its tax 1 when
// Tax2PiggyBack; a Null exemption flag charges no tax of that kind, a Null piggy-back flag is
// not piggy-backed. Fails with Overflow (6) when a sum leaves the currency range, with the
// conversion errors of a line's price or quantity that is no number.
InvoicePosting ComputeInvoicePosting(const EntityCollection& items, const EntityCollection& tax_codes);

}  // namespace ledgerkit
