// ACAccountType: an account type of the chart of accounts; a read-only snapshot of one ACAccountType row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACAccountType final : public Entity {
 public:
  ACAccountType() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
