// Building SQL text from caller values without letting them become SQL: a text goes between
// single quotes with every quote doubled, a key is converted to a whole number first.
#pragma once

#include <string>

#include "common/Variant.h"

namespace ledgerkit {

// The value as an SQL text expression: 'it''s' for it's, a NUL joined in as char(0). Fails
// like ToText (Null: 94).
std::string QuoteSqlText(const Variant& value);

// The value as the decimal digits of a 32-bit integer, so that text such as "1 OR 1=1" fails
// with Type mismatch (13) before any statement is built.
std::string SqlInteger(const Variant& value);

}  // namespace ledgerkit
