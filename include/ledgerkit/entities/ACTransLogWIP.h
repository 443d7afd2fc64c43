// ACTransLogWIP: a debit or credit line posted to a transaction not yet committed; a read-only snapshot of one ACTransLogWIP row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACTransLogWIP final : public Entity {
 public:
  ACTransLogWIP() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
