// CITaxCode: a sales-tax code with up to two taxes; a read-only snapshot of one CITaxCode row.
// Returned by operations only, never created by name. Its declaration (properties in order,
// links and collections) is in the entity definitions file of its group.
#pragma once

#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

class CITaxCode final : public Entity {
 public:
  CITaxCode() : Entity(Def()) {}
  static const EntityDef& Def();
};

}  // namespace ledgerkit
