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

template <class Convert>
auto Labelled(std::string_view label, Convert&& convert) {
  try {
    return convert();
  } catch (const Error& error) {
    if (label.empty()) throw;
    throw error.WithArgument(label);
  }
}

}  // namespace

std::optional<bool> BooleanArgument(const Variant& value, std::string_view label) {
  if (value.IsNull()) return std::nullopt;
  return Labelled(label, [&] { return ToBoolean(value); });
}

std::optional<int32_t> LongArgument(const Variant& value, std::string_view label) {
  if (value.IsNull()) return std::nullopt;
  return Labelled(label, [&] { return ToLong(value); });
}

std::optional<int32_t> KeyArgument(const Variant& value, std::string_view label) {
  if (value.IsNull()) return std::nullopt;
  return Labelled(label, [&] { return ToKey(value); });
}

std::optional<Currency> CurrencyArgument(const Variant& value, std::string_view label) {
  if (value.IsNull()) return std::nullopt;
  return Labelled(label, [&] { return ToCurrency(value); });
}

std::optional<Date> DateArgument(const Variant& value, std::string_view label) {
  if (value.IsNull()) return std::nullopt;
  return Labelled(label, [&] { return ToDate(value); });
}

}  // namespace ledgerkit::services
