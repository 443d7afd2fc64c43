// ISubscriberLocation: an address of the company; a read-only snapshot of one ISubscriberLocation row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ISubscriberLocation final : public Entity {
 public:
  ISubscriberLocation() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
