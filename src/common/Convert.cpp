#include "ledgerkit/common/Convert.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

// A decimal number read from text: value = (negative ? -1 : 1) * digits * 10^exponent.
// `digits` holds no leading zeros; it is empty for zero.
struct DecimalText {
  bool negative = false;
  std::string digits;
  int64_t exponent = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Reads [+-]digits[.digits][(e|E)[+-]digits] with surrounding blanks; at least one mantissa digit.
std::optional<DecimalText> ParseDecimal(std::string_view text) {
  text = TrimBlanks(text);
  DecimalText result;
  size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) result.negative = text[pos++] == '-';
  bool any_digit = false;
  int64_t fraction_digits = 0;
  bool in_fraction = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (IsDigit(c)) {
      any_digit = true;
      if (!(result.digits.empty() && c == '0')) result.digits += c;
      if (in_fraction) ++fraction_digits;
    } else if (c == '.' && !in_fraction) {
      in_fraction = true;
    } else {
      break;
    }
  }
  if (!any_digit) return std::nullopt;
  int64_t exponent = 0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool exponent_negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) exponent_negative = text[pos++] == '-';
    if (pos == text.size() || !IsDigit(text[pos])) return std::nullopt;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
      // Beyond a million the value is out of every range anyway; stop growing.
      if (exponent < 1'000'000) exponent = exponent * 10 + (text[pos] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (pos != text.size()) return std::nullopt;
  result.exponent = exponent - fraction_digits;
  // Trailing zeros of the digits move into the exponent, so digits stay short.
  while (!result.digits.empty() && result.digits.back() == '0') {
    result.digits.pop_back();
    ++result.exponent;
  }
  return result;
}

// The decimal scaled by 10^scale and rounded half to even, as a signed 64-bit integer;
// nothing when it does not fit.
std::optional<int64_t> RoundScaled(const DecimalText& decimal, int scale) {
  if (decimal.digits.empty()) return 0;
  const int64_t shift = decimal.exponent + scale;
  const int64_t digit_count = static_cast<int64_t>(decimal.digits.size());
  if (shift > 19 || digit_count + shift > 20) return std::nullopt;  // certainly more than 2^63
  // Integer part: all digits when shift >= 0 (followed by zeros), else the leading ones.
  const int64_t integer_digits = shift >= 0 ? digit_count : std::max<int64_t>(0, digit_count + shift);
  uint64_t magnitude = 0;
  for (int64_t i = 0; i < integer_digits; ++i) {
    if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
        __builtin_add_overflow(magnitude, static_cast<uint64_t>(decimal.digits[i] - '0'), &magnitude)) {
      return std::nullopt;
    }
  }
  for (int64_t i = 0; i < shift; ++i) {
    if (__builtin_mul_overflow(magnitude, 10u, &magnitude)) return std::nullopt;
  }
  if (shift < 0) {
    // Digits dropped: the first one decides, the rest only break a tie. Leading zeros of the
    // fraction that are not written in `digits` (value below one unit) mean "below half".
    const int64_t dropped = -shift;
    const bool all_digits_dropped = dropped >= digit_count;
    int first_dropped = 0;
    bool rest_nonzero = false;
    if (dropped == digit_count) {
      first_dropped = decimal.digits[0] - '0';
      rest_nonzero = digit_count > 1;
    } else if (!all_digits_dropped) {
      first_dropped = decimal.digits[integer_digits] - '0';
      for (int64_t i = integer_digits + 1; i < digit_count; ++i) rest_nonzero |= decimal.digits[i] != '0';
    }
    const bool round_up = first_dropped > 5 || (first_dropped == 5 && (rest_nonzero || (magnitude & 1u)));
    if (round_up && __builtin_add_overflow(magnitude, 1u, &magnitude)) return std::nullopt;
  }
  constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (decimal.negative) {
    if (magnitude > kMaxPositive + 1) return std::nullopt;
    return static_cast<int64_t>(0u - magnitude);
  }
  if (magnitude > kMaxPositive) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

[[noreturn]] void ThrowNull(const char* target) {
  throw Error::Runtime(kInvalidUseOfNull, std::string("Invalid use of Null: a Null value cannot become ") + target + ".");
}

[[noreturn]] void ThrowMismatch(const Variant& value, const char* target) {
  std::string description = "Type mismatch: ";
  if (value.type() == VarType::kString) {
    description += "the text " + QuoteForMessage(value.AsString()) + " cannot become " + target + ".";
  } else if (value.IsNothing()) {
    throw Error::Runtime(kObjectIsNothing, std::string("The object is nothing; it cannot become ") + target + ".");
  } else {
    description += "a ";
    description += VarTypeName(value.type());
    description += " value cannot become ";
    description += target;
    description += ".";
  }
  throw Error::Runtime(kTypeMismatch, description);
}

[[noreturn]] void ThrowOverflow(const std::string& shown, const char* target) {
  throw Error::Runtime(kOverflow, "Overflow: " + shown + " is out of the range of " + target + ".");
}

// The shortest round-trip digits and decimal exponent of a finite, non-zero double.
DecimalText DecimalFromDouble(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  auto parsed = ParseDecimal(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
  return *parsed;  // to_chars always writes a readable decimal
}

// Text and numeric kinds rounded half to even to a whole number, before range checks.
int64_t ToWholeNumber(const Variant& value, const char* target) {
  switch (value.type()) {
    case VarType::kEmpty: return 0;
    case VarType::kNull: ThrowNull(target);
    case VarType::kInteger: return value.AsInteger();
    case VarType::kLong: return value.AsLong();
    case VarType::kBoolean: return value.AsBoolean() ? -1 : 0;
    case VarType::kDouble: {
      const double rounded = std::nearbyint(value.AsDouble());  // default mode: half to even
      if (!(rounded >= -9.2e18 && rounded <= 9.2e18)) ThrowOverflow(DoubleToText(value.AsDouble()), target);
      return static_cast<int64_t>(rounded);
    }
    case VarType::kCurrency: {
      const int64_t scaled = value.AsCurrency().scaled();
      int64_t units = scaled / Currency::kScale;
      const int64_t remainder = scaled % Currency::kScale;
      const int64_t half = Currency::kScale / 2;
      if (remainder > half || (remainder == half && (units & 1))) ++units;
      if (remainder < -half || (remainder == -half && (units & 1))) --units;
      return units;
    }
    case VarType::kString: {
      const auto decimal = ParseDecimal(value.AsString());
      if (!decimal) ThrowMismatch(value, target);
      const auto whole = RoundScaled(*decimal, 0);
      if (!whole) ThrowOverflow(QuoteForMessage(value.AsString()), target);
      return *whole;
    }
    case VarType::kDate:
    case VarType::kObject: ThrowMismatch(value, target);
  }
  ThrowMismatch(value, target);
}

template <class Int>
Int CheckedWhole(const Variant& value, const char* target) {
  const int64_t whole = ToWholeNumber(value, target);
  if (whole < std::numeric_limits<Int>::min() || whole > std::numeric_limits<Int>::max()) {
    ThrowOverflow(std::to_string(whole), target);
  }
  return static_cast<Int>(whole);
}

}  // namespace

int32_t ToLong(const Variant& value) { return CheckedWhole<int32_t>(value, "a Long"); }

int16_t ToInteger(const Variant& value) { return CheckedWhole<int16_t>(value, "an Integer"); }

double ToDouble(const Variant& value) {
  switch (value.type()) {
    case VarType::kEmpty: return 0.0;
    case VarType::kNull: ThrowNull("a Double");
    case VarType::kInteger: return value.AsInteger();
    case VarType::kLong: return value.AsLong();
    case VarType::kDouble: return value.AsDouble();
    case VarType::kBoolean: return value.AsBoolean() ? -1.0 : 0.0;
    case VarType::kCurrency: {
      // Both operands are exact below 2^53, so the quotient is the nearest double.
      const int64_t scaled = value.AsCurrency().scaled();
      if (scaled > -(int64_t{1} << 53) && scaled < (int64_t{1} << 53)) {
        return static_cast<double>(scaled) / Currency::kScale;
      }
      return std::strtod(value.AsCurrency().ToText().c_str(), nullptr);
    }
    case VarType::kString: {
      const std::string_view text = TrimBlanks(value.AsString());
      if (!ParseDecimal(text)) ThrowMismatch(value, "a Double");
      std::string_view digits = text.front() == '+' ? text.substr(1) : text;
      double result = 0.0;
      const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), result);
      if (parsed.ec == std::errc::result_out_of_range) {
        // Underflow towards zero is harmless; only a too-large magnitude is an overflow.
        const auto decimal = ParseDecimal(text);
        if (decimal->exponent + static_cast<int64_t>(decimal->digits.size()) < 0) return 0.0;
        ThrowOverflow(QuoteForMessage(value.AsString()), "a Double");
      }
      return result;
    }
    case VarType::kDate:
    case VarType::kObject: ThrowMismatch(value, "a Double");
  }
  ThrowMismatch(value, "a Double");
}

Currency CurrencyFromText(std::string_view text) {
  const auto decimal = ParseDecimal(text);
  if (!decimal) ThrowMismatch(Variant(text), "a Currency");
  const auto scaled = RoundScaled(*decimal, 4);
  if (!scaled) ThrowOverflow(QuoteForMessage(text), "a Currency");
  return Currency::FromScaled(*scaled);
}

// Below this magnitude the double, its shortest text and its product by 10^4 as computed lie
// within 0.01 ten-thousandths of each other: a product within 0.4 of a whole count rounds to that
// count however its text is written, so the text need not be written out. Nearer a half, the
// text decides.
constexpr double kRoundedWithoutTextBelow = 1.0e9;

Currency CurrencyFromDouble(double value) {
  if (!std::isfinite(value)) ThrowOverflow(DoubleToText(value), "a Currency");
  if (value == 0.0) return Currency();
  if (std::fabs(value) < kRoundedWithoutTextBelow) {
    const double scaled = value * Currency::kScale;
    const double whole = std::nearbyint(scaled);
    if (std::fabs(scaled - whole) <= 0.4) return Currency::FromScaled(static_cast<int64_t>(whole));
  }
  const auto scaled = RoundScaled(DecimalFromDouble(value), 4);
  if (!scaled) ThrowOverflow(DoubleToText(value), "a Currency");
  return Currency::FromScaled(*scaled);
}

Currency ToCurrency(const Variant& value) {
  switch (value.type()) {
    case VarType::kEmpty: return Currency();
    case VarType::kNull: ThrowNull("a Currency");
    case VarType::kInteger: return Currency::FromUnits(value.AsInteger());
    case VarType::kLong: return Currency::FromUnits(value.AsLong());
    case VarType::kBoolean: return Currency::FromUnits(value.AsBoolean() ? -1 : 0);
    case VarType::kDouble: return CurrencyFromDouble(value.AsDouble());
    case VarType::kCurrency: return value.AsCurrency();
    case VarType::kString: return CurrencyFromText(value.AsString());
    case VarType::kDate:
    case VarType::kObject: ThrowMismatch(value, "a Currency");
  }
  ThrowMismatch(value, "a Currency");
}

Date ToDate(const Variant& value) {
  switch (value.type()) {
    case VarType::kNull: ThrowNull("a Date");
    case VarType::kDate: return value.AsDate();
    case VarType::kString: {
      const auto date = Date::Parse(value.AsString());
      if (!date) ThrowMismatch(value, "a Date");
      return *date;
    }
    default: ThrowMismatch(value, "a Date");
  }
}

std::string DoubleToText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0.0) return "0";
  const DecimalText decimal = DecimalFromDouble(value);
  const std::string& digits = decimal.digits;
  const int64_t count = static_cast<int64_t>(digits.size());
  // Position of the decimal point relative to the first digit: value = 0.d1d2... * 10^point.
  const int64_t point = count + decimal.exponent;
  std::string text = decimal.negative ? "-" : "";
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-5 && magnitude < 1e15) {
    if (point <= 0) {
      text += "0.";
      text.append(static_cast<size_t>(-point), '0');
      text += digits;
    } else if (point >= count) {
      text += digits;
      text.append(static_cast<size_t>(point - count), '0');
    } else {
      text += digits.substr(0, static_cast<size_t>(point));
      text += '.';
      text += digits.substr(static_cast<size_t>(point));
    }
    return text;
  }
  text += digits[0];
  if (count > 1) {
    text += '.';
    text += digits.substr(1);
  }
  const int64_t exponent = point - 1;
  const int64_t exponent_size = exponent < 0 ? -exponent : exponent;
  text += exponent < 0 ? "E-" : "E+";
  if (exponent_size < 10) text += '0';  // at least two exponent digits
  text += std::to_string(exponent_size);
  return text;
}

std::string ToText(const Variant& value) {
  switch (value.type()) {
    case VarType::kEmpty: return "";
    case VarType::kNull: ThrowNull("a String");
    case VarType::kInteger: return std::to_string(value.AsInteger());
    case VarType::kLong: return std::to_string(value.AsLong());
    case VarType::kDouble: return DoubleToText(value.AsDouble());
    case VarType::kCurrency: return value.AsCurrency().ToText();
    case VarType::kDate: return value.AsDate().ToText();
    case VarType::kString: return value.AsString();
    case VarType::kBoolean: return value.AsBoolean() ? "True" : "False";
    case VarType::kObject: ThrowMismatch(value, "a String");
  }
  ThrowMismatch(value, "a String");
}

int32_t ToKey(const Variant& value) {
  constexpr const char* kTarget = "a key";
  // Shown in the refusal of a fractional number: it names no row, so none is chosen for it.
  auto not_whole = [](const std::string& shown) {
    throw Error::Runtime(kTypeMismatch, "Type mismatch: " + shown + " is not a whole number, so it cannot be a key.");
  };
  switch (value.type()) {
    case VarType::kEmpty:
    case VarType::kInteger:
    case VarType::kLong: return ToLong(value);
    case VarType::kNull: ThrowNull(kTarget);
    case VarType::kDouble: {
      const double number = value.AsDouble();
      if (std::isfinite(number) && std::trunc(number) != number) not_whole(DoubleToText(number));
      return CheckedWhole<int32_t>(value, kTarget);
    }
    case VarType::kCurrency:
      if (value.AsCurrency().scaled() % Currency::kScale != 0) not_whole(value.AsCurrency().ToText());
      return CheckedWhole<int32_t>(value, kTarget);
    case VarType::kString: {
      const auto decimal = ParseDecimal(value.AsString());
      if (!decimal) ThrowMismatch(value, kTarget);
      // Trailing zeros sit in the exponent, so a negative one means a fractional digit.
      if (!decimal->digits.empty() && decimal->exponent < 0) not_whole("the text \"" + value.AsString() + "\"");
      return CheckedWhole<int32_t>(value, kTarget);
    }
    case VarType::kBoolean:
    case VarType::kDate:
    case VarType::kObject: ThrowMismatch(value, kTarget);
  }
  ThrowMismatch(value, kTarget);
}

Variant OptionalKey(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Variant::Null();
  if (value.type() == VarType::kString && value.AsString().empty()) return Variant::Null();
  const int32_t key = ToKey(value);
  return key == 0 ? Variant::Null() : Variant(key);
}

namespace {

template <class Convert>
auto ForArgument(std::string_view argument, Convert&& convert) {
  try {
    return convert();
  } catch (const Error& error) {
    throw error.WithArgument(argument);
  }
}

}  // namespace

int32_t ToKey(const Variant& value, std::string_view argument) {
  return ForArgument(argument, [&] { return ToKey(value); });
}

Variant OptionalKey(const Variant& value, std::string_view argument) {
  return ForArgument(argument, [&] { return OptionalKey(value); });
}

Currency ToCurrency(const Variant& value, std::string_view argument) {
  return ForArgument(argument, [&] { return ToCurrency(value); });
}

Date ToDate(const Variant& value, std::string_view argument) {
  return ForArgument(argument, [&] { return ToDate(value); });
}

std::string ToText(const Variant& value, std::string_view argument) {
  return ForArgument(argument, [&] { return ToText(value); });
}

bool ToBoolean(const Variant& value) {
  switch (value.type()) {
    case VarType::kEmpty: return false;
    case VarType::kNull: ThrowNull("a Boolean");
    case VarType::kInteger: return value.AsInteger() != 0;
    case VarType::kLong: return value.AsLong() != 0;
    case VarType::kDouble: return value.AsDouble() != 0.0;
    case VarType::kCurrency: return value.AsCurrency().scaled() != 0;
    case VarType::kBoolean: return value.AsBoolean();
    case VarType::kString: {
      const std::string_view text = TrimBlanks(value.AsString());
      auto equals_ignoring_case = [text](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (size_t i = 0; i < word.size(); ++i) {
          if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
        }
        return true;
      };
      if (equals_ignoring_case("true")) return true;
      if (equals_ignoring_case("false")) return false;
      const auto decimal = ParseDecimal(text);
      if (!decimal) ThrowMismatch(value, "a Boolean");
      return !decimal->digits.empty();
    }
    case VarType::kDate:
    case VarType::kObject: ThrowMismatch(value, "a Boolean");
  }
  ThrowMismatch(value, "a Boolean");
}

}  // namespace ledgerkit
