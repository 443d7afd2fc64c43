// The kinds of value the library stores, binds and gives back: the one list the schema catalog,
// bound parameters and result sets share.
#pragma once

#include <string_view>

namespace ledgerkit {

// kInteger is a 16-bit integer and kVariant a column of no declared type, in result sets only.
// kKey is a whole number that names a row (a table's own key, or a link such as Parent): bound
// through ToKey, so a fractional or out-of-range value is refused, never rounded to another
// row's key; result sets give such columns as kLong.
enum class FieldType { kText, kLong, kInteger, kDouble, kCurrency, kDate, kBoolean, kVariant, kKey };

// The type's name as callers see it: "text", "long", "integer", "double", "currency", "date",
// "boolean", "variant", "key".
std::string_view FieldTypeName(FieldType type);

}  // namespace ledgerkit
