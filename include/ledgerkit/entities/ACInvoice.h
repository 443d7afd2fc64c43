// ACInvoice: a customer invoice; a read-only snapshot of one ACInvoice row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACInvoice final : public Entity {
 public:
  ACInvoice() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
