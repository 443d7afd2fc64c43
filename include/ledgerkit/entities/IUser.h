// IUser: a user of the company's database; a read-only snapshot of one IUser row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class IUser final : public Entity {
 public:
  IUser() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
