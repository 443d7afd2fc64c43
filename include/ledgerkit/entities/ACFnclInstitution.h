// ACFnclInstitution: a bank or other institution that holds accounts; a read-only snapshot of one ACFnclInstitution row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class ACFnclInstitution final : public Entity {
 public:
  ACFnclInstitution() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
