// eTransTypeEnm: publishes and validates the stored enumeration eTransType (enums/PublicEnums.h).
// Creatable by name; one values table per object (see EnumerationClass).
#pragma once

#include "ledgerkit/enums/EnumerationClass.h"

namespace ledgerkit {

class eTransTypeEnm final : public EnumerationClass {
 public:
  eTransTypeEnm();
  std::string_view ClassName() const override { return "eTransTypeEnm"; }
};

}  // namespace ledgerkit
