#include "services/Arguments.h"

#include "ledgerkit/common/Convert.h"
#include "common/Text.h"
#include "ledgerkit/common/Error.h"

namespace ledgerkit::services {

std::optional<std::string> TextArgument(const Variant& value, const ColumnDef& column, std::string_view label) {
  if (value.IsNull()) return std::nullopt;
  const std::string_view name = label.empty() ? column.name : label;
  std::string text = ToText(value, name);
  if (column.width > 0) RequireFitsWidth(text, static_cast<size_t>(column.width), name);
  return text;
}

namespace {

// nullopt for Null; otherwise `convert(value)`, a failure naming `label` when one is given.
template <class T>
std::optional<T> Converted(const Variant& value, std::string_view label, T (*convert)(const Variant&)) {
  if (value.IsNull()) return std::nullopt;
  try {
    return convert(value);
  } catch (const Error& error) {
    if (label.empty()) throw;
    throw error.WithArgument(label);
  }
}

}  // namespace

std::optional<bool> BooleanArgument(const Variant& value, std::string_view label) {
  return Converted<bool>(value, label, ToBoolean);
}

std::optional<int32_t> LongArgument(const Variant& value, std::string_view label) {
  return Converted<int32_t>(value, label, ToLong);
}

std::optional<int32_t> KeyArgument(const Variant& value, std::string_view label) {
  return Converted<int32_t>(value, label, ToKey);
}

std::optional<Currency> CurrencyArgument(const Variant& value, std::string_view label) {
  return Converted<Currency>(value, label, ToCurrency);
}

std::optional<Date> DateArgument(const Variant& value, std::string_view label) {
  return Converted<Date>(value, label, ToDate);
}

}  // namespace ledgerkit::services
