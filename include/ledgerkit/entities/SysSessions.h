// SysSessions: a logon session; a read-only snapshot of one SysSessions row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class SysSessions final : public Entity {
 public:
  SysSessions() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
