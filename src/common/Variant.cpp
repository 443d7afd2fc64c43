#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

std::string_view VarTypeName(VarType type) {
  switch (type) {
    case VarType::kEmpty: return "Empty";
    case VarType::kNull: return "Null";
    case VarType::kInteger: return "Integer";
    case VarType::kLong: return "Long";
    case VarType::kDouble: return "Double";
    case VarType::kCurrency: return "Currency";
    case VarType::kDate: return "Date";
    case VarType::kString: return "String";
    case VarType::kBoolean: return "Boolean";
    case VarType::kObject: return "Object";
  }
  return "Unknown";
}

bool Variant::operator==(const Variant& other) const { return value_ == other.value_; }

}  // namespace ledgerkit
