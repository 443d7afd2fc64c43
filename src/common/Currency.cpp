#include "ledgerkit/common/Currency.h"

#include <string>

#include "ledgerkit/common/Error.h"

namespace ledgerkit {

namespace {

[[noreturn]] void ThrowCurrencyOverflow(const char* what) {
  throw Error::Runtime(kOverflow, std::string("The currency ") + what + " is out of range.");
}

}  // namespace

Currency Currency::FromUnits(int64_t units) {
  int64_t scaled = 0;
  if (__builtin_mul_overflow(units, kScale, &scaled)) ThrowCurrencyOverflow("amount");
  return Currency(scaled);
}

std::string Currency::ToText() const {
  // Work on the magnitude as unsigned so that the most negative amount has a text too.
  const bool negative = scaled_ < 0;
  const uint64_t magnitude = negative ? 0u - static_cast<uint64_t>(scaled_) : static_cast<uint64_t>(scaled_);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / kScale);
  uint64_t fraction = magnitude % kScale;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += '.';
    text += digits;
  }
  return text;
}

Currency Currency::operator-() const {
  int64_t result = 0;
  if (__builtin_sub_overflow(int64_t{0}, scaled_, &result)) ThrowCurrencyOverflow("negation");
  return Currency(result);
}

Currency Currency::operator+(Currency other) const {
  int64_t result = 0;
  if (__builtin_add_overflow(scaled_, other.scaled_, &result)) ThrowCurrencyOverflow("sum");
  return Currency(result);
}

Currency Currency::operator-(Currency other) const {
  int64_t result = 0;
  if (__builtin_sub_overflow(scaled_, other.scaled_, &result)) ThrowCurrencyOverflow("difference");
  return Currency(result);
}

}  // namespace ledgerkit
