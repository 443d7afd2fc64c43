// ACAccount: an account of the chart of accounts; a read-only snapshot of one ACAccount row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACAccount final : public Entity {
 public:
  ACAccount() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
