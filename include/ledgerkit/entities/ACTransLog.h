// ACTransLog: the header row of a ledger transaction; a read-only snapshot of one ACTransLog row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACTransLog final : public Entity {
 public:
  ACTransLog() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
