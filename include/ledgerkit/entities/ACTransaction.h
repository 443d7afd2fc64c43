// ACTransaction: a committed ledger line (one register row); a read-only snapshot of one ACTransaction row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACTransaction final : public Entity {
 public:
  ACTransaction() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
