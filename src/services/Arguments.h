// The conversions by which a public operation takes its Variant arguments at the door, once,
// into the typed values the services take, and the way back to a bound value. A Null argument
// stays Null (nullopt), stored as NULL; any other value is converted as binding it would,
// failing the same way and, for text, against the width of the column it is stored in, named
// in messages by `label`.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Catalog.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::services {

// Text for `column`; Invalid argument (5) when longer than its width.
std::optional<std::string> TextArgument(const Variant& value, const ColumnDef& column, std::string_view label = {});
// A failure names `label` as the argument at fault when one is given.
std::optional<bool> BooleanArgument(const Variant& value, std::string_view label = {});
std::optional<int32_t> LongArgument(const Variant& value, std::string_view label = {});
// A key: a fractional value is refused, not rounded.
std::optional<int32_t> KeyArgument(const Variant& value, std::string_view label = {});
std::optional<Currency> CurrencyArgument(const Variant& value, std::string_view label = {});
std::optional<Date> DateArgument(const Variant& value, std::string_view label = {});

// The bound value: NULL for nullopt.
template <class T>
Variant OrNull(const std::optional<T>& value) {
  return value ? Variant(*value) : Variant::Null();
}

}  // namespace ledgerkit::services
