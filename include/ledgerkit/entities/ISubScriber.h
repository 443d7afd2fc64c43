// ISubScriber: the subscribing company; a read-only snapshot of one ISubScriber row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ISubScriber final : public Entity {
 public:
  ISubScriber() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
