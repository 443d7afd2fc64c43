// eTransLogStatusEnm: publishes and validates the stored enumeration eTransLogStatus (enums/PublicEnums.h).
// Creatable by name; one values table per object (see EnumerationClass).
#pragma once

#include "ledgerkit/enums/EnumerationClass.h"

namespace ledgerkit {

class eTransLogStatusEnm final : public EnumerationClass {
 public:
  eTransLogStatusEnm();
  std::string_view ClassName() const override { return "eTransLogStatusEnm"; }
};

}  // namespace ledgerkit
