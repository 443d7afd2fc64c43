// eBalanceSheetTypeEnm: publishes and validates the stored enumeration eBalanceSheetType (enums/PublicEnums.h).
// Creatable by name; one values table per object (see EnumerationClass).
#pragma once

#include "ledgerkit/enums/EnumerationClass.h"

namespace ledgerkit {

class eBalanceSheetTypeEnm final : public EnumerationClass {
 public:
  eBalanceSheetTypeEnm();
  std::string_view ClassName() const override { return "eBalanceSheetTypeEnm"; }
};

}  // namespace ledgerkit
