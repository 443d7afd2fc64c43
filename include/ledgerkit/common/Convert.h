// Conversions between Variant kinds: the one place where rounding, text forms of numbers and
// dates, and the Null/Empty rules live.
//
// Every function fails with a runtime Error: Invalid use of Null (94) for Null, Type mismatch
// (13) for a value that cannot become the target type, Overflow (6) for one out of its range.
// Rounding to an integer or to the fourth decimal of a Currency is always half to even.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

int32_t ToLong(const Variant& value);
int16_t ToInteger(const Variant& value);
double ToDouble(const Variant& value);
Currency ToCurrency(const Variant& value);
Date ToDate(const Variant& value);
std::string ToText(const Variant& value);
bool ToBoolean(const Variant& value);

// A key: the whole number a value names, never a neighbouring one. Numbers and decimal texts
// whose value is whole pass in any form (2, 2.0, "2", " 2 ", "2e0", Currency 2); a fractional
// value (1.5, "2.4") and any other text ("1 OR 1=1") are a Type mismatch (13), and so are
// Boolean, Date and Object values. Empty is 0; Null is Invalid use of Null (94); a whole
// number outside the 32-bit range is an Overflow (6).
int32_t ToKey(const Variant& value);

// An optional link argument as it is stored: Null when the value is Null, Empty, a text of
// length 0 or converts to 0; otherwise the value as a key (ToKey, whose failures it shares).
Variant OptionalKey(const Variant& value);

// The same conversions for a member's argument: a failure names `argument` as the one at fault
// (Error::argument), its number and description unchanged.
int32_t ToKey(const Variant& value, std::string_view argument);
Variant OptionalKey(const Variant& value, std::string_view argument);
Currency ToCurrency(const Variant& value, std::string_view argument);
Date ToDate(const Variant& value, std::string_view argument);
std::string ToText(const Variant& value, std::string_view argument);

// Exact decimal text to Currency, half-even at the fourth decimal. Fails like ToCurrency.
Currency CurrencyFromText(std::string_view text);
// A double to Currency through its shortest round-trip decimal text.
Currency CurrencyFromDouble(double value);
// Shortest round-trip text of a double, without exponent for 1e-5 <= |x| < 1e15
// ("3", "0.1", "1E+15", "1.5E-06").
std::string DoubleToText(double value);

}  // namespace ledgerkit
