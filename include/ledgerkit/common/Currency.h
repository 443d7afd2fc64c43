// Currency: an exact signed amount of money, counted in ten-thousandths.
//
// A value type; every arithmetic operation is checked and fails with the runtime Overflow error
// rather than wrapping. Conversions from doubles and text (with half-even rounding at the fourth
// decimal) live in common/Convert.h, so there is one place for them.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace ledgerkit {

class Currency {
 public:
  static constexpr int64_t kScale = 10000;

  constexpr Currency() = default;
  // The amount `scaled` / 10000, exactly.
  static constexpr Currency FromScaled(int64_t scaled) { return Currency(scaled); }
  // A whole number of currency units; fails with Overflow when out of range.
  static Currency FromUnits(int64_t units);

  constexpr int64_t scaled() const { return scaled_; }

  // Plain decimal text: no grouping, no trailing zeros ("-12.5", "0.0001", "2500").
  std::string ToText() const;

  Currency operator-() const;
  Currency operator+(Currency other) const;
  Currency operator-(Currency other) const;
  Currency& operator+=(Currency other) { return *this = *this + other; }
  Currency& operator-=(Currency other) { return *this = *this - other; }

  constexpr auto operator<=>(const Currency&) const = default;

 private:
  constexpr explicit Currency(int64_t scaled) : scaled_(scaled) {}
  int64_t scaled_ = 0;
};

}  // namespace ledgerkit
