// ACInvoiceItem: one line of an invoice; a read-only snapshot of one ACInvoiceItem row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACInvoiceItem final : public Entity {
 public:
  ACInvoiceItem() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
