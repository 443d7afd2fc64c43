#include "ledgerkit/common/Convert.h"

#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "ledgerkit/common/Error.h"

namespace ledgerkit {
namespace {

// Returned by ErrorNumberOf when the call did not fail.
constexpr int32_t kNoError = 0;

// Runs `call` and returns the number of the Error it throws, or kNoError.
template <class F>
int32_t ErrorNumberOf(F&& call) {
  try {
    (void)std::forward<F>(call)();
  } catch (const Error& error) {
    return error.number();
  }
  return kNoError;
}

// Runs `call` and returns the description of the Error it throws, or "(no error)".
template <class F>
std::string ErrorDescriptionOf(F&& call) {
  try {
    (void)std::forward<F>(call)();
  } catch (const Error& error) {
    return error.description();
  }
  return "(no error)";
}

Currency Units(int64_t units) { return Currency::FromUnits(units); }

TEST(Convert, RoundsHalfToEven) {
  EXPECT_EQ(ToLong(2.5), 2);
  EXPECT_EQ(ToLong(3.5), 4);
  EXPECT_EQ(ToLong(-2.5), -2);
  EXPECT_EQ(ToLong(-3.5), -4);
  EXPECT_EQ(ToLong(0.5), 0);
  EXPECT_EQ(ToLong(1.5), 2);
  EXPECT_EQ(ToLong(2.5000001), 3);
  EXPECT_EQ(ToLong(-0.4), 0);

  // Text is read as a decimal, blanks around it allowed, and rounded the same way.
  EXPECT_EQ(ToLong("2.5"), 2);
  EXPECT_EQ(ToLong(" 3.5 "), 4);
  EXPECT_EQ(ToLong("\t-2.5"), -2);
  EXPECT_EQ(ToLong("2.50000000000000000001"), 3);
  EXPECT_EQ(ToLong("+7"), 7);
  EXPECT_EQ(ToLong("1e3"), 1000);
  EXPECT_EQ(ToLong("25E-1"), 2);
  EXPECT_EQ(ToInteger(Variant("-6.5")), -6);

  // Currency to a whole number.
  EXPECT_EQ(ToLong(CurrencyFromText("2.5")), 2);
  EXPECT_EQ(ToLong(CurrencyFromText("3.5")), 4);
  EXPECT_EQ(ToLong(CurrencyFromText("-2.5")), -2);
  EXPECT_EQ(ToLong(CurrencyFromText("-3.5")), -4);
  EXPECT_EQ(ToLong(CurrencyFromText("-1.5")), -2);
  EXPECT_EQ(ToLong(CurrencyFromText("2.5001")), 3);
  EXPECT_EQ(ToLong(CurrencyFromText("-2.4999")), -2);
}

TEST(Convert, RoundsCurrencyHalfToEvenAtTheFourthDecimal) {
  // From doubles, through their shortest text, so 0.1 + 0.2 is 0.3 and not a hair above.
  EXPECT_EQ(CurrencyFromDouble(0.00005).scaled(), 0);
  EXPECT_EQ(CurrencyFromDouble(0.00015).scaled(), 2);
  EXPECT_EQ(CurrencyFromDouble(0.00025).scaled(), 2);
  EXPECT_EQ(CurrencyFromDouble(-0.00015).scaled(), -2);
  EXPECT_EQ(CurrencyFromDouble(1.00005).scaled(), 10000);
  EXPECT_EQ(CurrencyFromDouble(2.67565).scaled(), 26756);
  EXPECT_EQ(CurrencyFromDouble(0.1 + 0.2).scaled(), 3000);
  EXPECT_EQ(CurrencyFromDouble(1e-300).scaled(), 0);
  EXPECT_EQ(CurrencyFromDouble(-1234.5678).scaled(), -12345678);
  EXPECT_EQ(ToCurrency(0.00015).scaled(), 2);

  // Most doubles are rounded without writing out their text: the same as rounding the shortest
  // text, for amounts of every size, for doubles a hair off a count (sums, products), and for
  // those half a ten-thousandth off.
  std::mt19937_64 random(20261210);
  const auto through_text = [](double value) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return CurrencyFromText(std::string_view(text, static_cast<size_t>(written.ptr - text))).scaled();
  };
  for (int i = 0; i < 200'000; ++i) {
    const double magnitude = std::pow(10.0, static_cast<double>(random() % 16) - 5);
    const double count = static_cast<double>(static_cast<int64_t>(random() % 2'000'000'000) - 1'000'000'000);
    for (const double value : {count / 10000.0 * magnitude, std::nextafter(count / 10000.0, 0.0) * magnitude,
                               (count + 0.5) / 10000.0, count / 10000.0 * 3.0 * 1.05,
                               std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 60)}) {
      if (!std::isfinite(value) || std::fabs(value) >= 9.0e14) continue;
      ASSERT_EQ(CurrencyFromDouble(value).scaled(), through_text(value)) << std::hexfloat << value;
    }
  }
  for (const double edge : {999999999.99995, 1.0e9, 1000000000.00005, 999999999.99994, 0.00005, 0.000049999999}) {
    EXPECT_EQ(CurrencyFromDouble(edge).scaled(), through_text(edge)) << std::hexfloat << edge;
    EXPECT_EQ(CurrencyFromDouble(-edge).scaled(), through_text(-edge)) << std::hexfloat << edge;
  }

  // From text, exactly: the digits after the deciding one only break a tie.
  EXPECT_EQ(CurrencyFromText("0.00005").scaled(), 0);
  EXPECT_EQ(CurrencyFromText("0.00015").scaled(), 2);
  EXPECT_EQ(CurrencyFromText("0.000250000000000000001").scaled(), 3);
  EXPECT_EQ(CurrencyFromText("0.000249999999999999999").scaled(), 2);
  EXPECT_EQ(CurrencyFromText("0.00009").scaled(), 1);
  EXPECT_EQ(CurrencyFromText("0.000049").scaled(), 0);
  EXPECT_EQ(CurrencyFromText("0.0000000000000000000000000009").scaled(), 0);
  EXPECT_EQ(CurrencyFromText("-0.00015").scaled(), -2);
  EXPECT_EQ(CurrencyFromText("12345678901.23455").scaled(), 123456789012346);
  EXPECT_EQ(CurrencyFromText("12345678901.23445").scaled(), 123456789012344);
  EXPECT_EQ(CurrencyFromText("1.000000000000000000000000000001").scaled(), 10000);
  EXPECT_EQ(CurrencyFromText(" 1.5e2 ").scaled(), 1500000);
  EXPECT_EQ(CurrencyFromText("-0").scaled(), 0);
  EXPECT_EQ(CurrencyFromText("00012.50").scaled(), 125000);
  EXPECT_EQ(ToCurrency("0.00015").scaled(), 2);

  // The whole range, both ends exactly.
  EXPECT_EQ(CurrencyFromText("922337203685477.5807").scaled(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(CurrencyFromText("-922337203685477.5808").scaled(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(CurrencyFromText("922337203685477.58074").scaled(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(CurrencyFromText("-922337203685477.58085").scaled(), std::numeric_limits<int64_t>::min());
}

TEST(Convert, FailsWithOverflowOutsideTheRange) {
  EXPECT_EQ(ToLong(2147483647.0), 2147483647);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(2147483647.5); }), kOverflow);  // rounds to 2^31
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(2147483648.0); }), kOverflow);
  EXPECT_EQ(ToLong("2147483647"), 2147483647);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("2147483648"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("2147483647.5"); }), kOverflow);
  EXPECT_EQ(ToLong(-2147483648.0), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ToLong(-2147483648.5), std::numeric_limits<int32_t>::min());  // rounds to the even -2^31
  EXPECT_EQ(ToLong("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(-2147483649.0); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("-2147483649"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(1e300); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(std::numeric_limits<double>::infinity()); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(std::numeric_limits<double>::quiet_NaN()); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("123456789012345678901234567890"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("1e20"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(CurrencyFromText("2147483648")); }), kOverflow);

  EXPECT_EQ(ToInteger(32767), 32767);
  EXPECT_EQ(ToInteger(-32768), -32768);
  EXPECT_EQ(ErrorNumberOf([] { return ToInteger(32768); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToInteger(-32769); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToInteger(32767.5); }), kOverflow);
  EXPECT_EQ(ToInteger(-32768.5), -32768);

  const Currency max = Currency::FromScaled(std::numeric_limits<int64_t>::max());
  const Currency min = Currency::FromScaled(std::numeric_limits<int64_t>::min());
  const Currency tiny = Currency::FromScaled(1);
  EXPECT_EQ(ErrorNumberOf([&] { return max + tiny; }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([&] { return min - tiny; }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([&] { return -min; }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([&] {
              Currency sum = max;
              sum += tiny;
              return sum;
            }),
            kOverflow);
  EXPECT_EQ((max - tiny + tiny).scaled(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ((-max).scaled(), -std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ErrorNumberOf([] { return Currency::FromUnits(922337203685478); }), kOverflow);
  EXPECT_EQ(Currency::FromUnits(922337203685477).scaled(), 9223372036854770000);

  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromText("123456789012345678901234567890"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromText("922337203685477.5808"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromText("-922337203685477.58086"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromText("1e15"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromDouble(1e15); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromDouble(std::numeric_limits<double>::infinity()); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return CurrencyFromDouble(std::numeric_limits<double>::quiet_NaN()); }), kOverflow);

  EXPECT_EQ(ErrorNumberOf([] { return ToDouble("1e309"); }), kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { return ToDouble("-1e309"); }), kOverflow);
  EXPECT_EQ(ToDouble("1e-400"), 0.0);
}

TEST(Convert, NullFailsAndEmptyIsZero) {
  const Variant null = Variant::Null();
  EXPECT_EQ(ErrorNumberOf([&] { return ToLong(null); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([&] { return ToInteger(null); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([&] { return ToDouble(null); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([&] { return ToCurrency(null); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([&] { return ToDate(null); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([&] { return ToText(null); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([&] { return ToBoolean(null); }), kInvalidUseOfNull);

  const Variant empty;
  EXPECT_EQ(ToLong(empty), 0);
  EXPECT_EQ(ToInteger(empty), 0);
  EXPECT_EQ(ToDouble(empty), 0.0);
  EXPECT_EQ(ToCurrency(empty).scaled(), 0);
  EXPECT_EQ(ToText(empty), "");
  EXPECT_FALSE(ToBoolean(empty));
  EXPECT_EQ(ErrorNumberOf([&] { return ToDate(empty); }), kTypeMismatch);
}

TEST(Convert, BooleansAreMinusOneAndZero) {
  EXPECT_EQ(ToLong(true), -1);
  EXPECT_EQ(ToLong(false), 0);
  EXPECT_EQ(ToInteger(true), -1);
  EXPECT_EQ(ToDouble(true), -1.0);
  EXPECT_EQ(ToCurrency(true).scaled(), -Currency::kScale);
  EXPECT_EQ(ToText(true), "True");
  EXPECT_EQ(ToText(false), "False");

  EXPECT_TRUE(ToBoolean("true"));
  EXPECT_TRUE(ToBoolean(" TRUE "));
  EXPECT_FALSE(ToBoolean("FALSE"));
  EXPECT_FALSE(ToBoolean("False"));
  EXPECT_FALSE(ToBoolean("0"));
  EXPECT_FALSE(ToBoolean("0.000"));
  EXPECT_TRUE(ToBoolean("2.5"));
  EXPECT_TRUE(ToBoolean("-1"));
  EXPECT_TRUE(ToBoolean("1e-30"));
  EXPECT_EQ(ErrorNumberOf([] { return ToBoolean("yes"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToBoolean("truex"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToBoolean(""); }), kTypeMismatch);

  EXPECT_TRUE(ToBoolean(Variant::Integer(3)));
  EXPECT_FALSE(ToBoolean(Variant::Integer(0)));
  EXPECT_TRUE(ToBoolean(-7));
  EXPECT_FALSE(ToBoolean(0.0));
  EXPECT_TRUE(ToBoolean(0.001));
  EXPECT_TRUE(ToBoolean(Currency::FromScaled(1)));
  EXPECT_FALSE(ToBoolean(Currency()));
  EXPECT_EQ(ErrorNumberOf([] { return ToBoolean(Date::FromCivil(2026, 3, 31)); }), kTypeMismatch);
}

TEST(Convert, TextThatIsNotANumberIsATypeMismatch) {
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("abc"); }), kTypeMismatch);
  EXPECT_NE(ErrorDescriptionOf([] { return ToLong("abc"); }).find("\"abc\""), std::string::npos);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("1 OR 1=1"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(""); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("   "); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("-"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("."); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("1,000"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("1.2.3"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("0x10"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("1e"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("+-1"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong("1 2"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToLong(Date::FromCivil(2026, 3, 31)); }), kTypeMismatch);

  EXPECT_EQ(ErrorNumberOf([] { return ToDouble("1e5x"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToDouble("nan"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToDouble("inf"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToDouble("1.5e+"); }), kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { return ToCurrency("12.34 USD"); }), kTypeMismatch);
  EXPECT_NE(ErrorDescriptionOf([] { return CurrencyFromText("12.34 USD"); }).find("12.34 USD"), std::string::npos);

  // Numbers that are text read as the same number.
  EXPECT_EQ(ToDouble(" 1e5 "), 1e5);
  EXPECT_EQ(ToDouble("+1.5"), 1.5);
  EXPECT_EQ(ToDouble("-.5"), -0.5);
  EXPECT_EQ(ToDouble("5."), 5.0);
  EXPECT_EQ(ToDouble("1.e2"), 100.0);
  EXPECT_EQ(ToDouble("4.9E-324"), std::numeric_limits<double>::denorm_min());

  // An object that refers to nothing is its own error.
  const Variant nothing = Variant::Nothing();
  EXPECT_EQ(ErrorNumberOf([&] { return ToText(nothing); }), kObjectIsNothing);
  EXPECT_EQ(ErrorNumberOf([&] { return ToLong(nothing); }), kObjectIsNothing);
  EXPECT_EQ(ErrorNumberOf([&] { return ToCurrency(nothing); }), kObjectIsNothing);
  EXPECT_EQ(ErrorNumberOf([&] { return ToBoolean(nothing); }), kObjectIsNothing);
}

TEST(Convert, WritesCurrencyAsPlainDecimal) {
  EXPECT_EQ(ToText(CurrencyFromText("-12.5")), "-12.5");
  EXPECT_EQ(ToText(Currency::FromScaled(1)), "0.0001");
  EXPECT_EQ(ToText(Currency::FromScaled(-1)), "-0.0001");
  EXPECT_EQ(ToText(Currency::FromScaled(500)), "0.05");
  EXPECT_EQ(ToText(Currency::FromScaled(-5000)), "-0.5");
  EXPECT_EQ(ToText(Units(2500)), "2500");
  EXPECT_EQ(ToText(Units(-1000000)), "-1000000");
  EXPECT_EQ(ToText(Currency()), "0");
  EXPECT_EQ(ToText(Currency::FromScaled(10010)), "1.001");
  EXPECT_EQ(ToText(Currency::FromScaled(std::numeric_limits<int64_t>::max())), "922337203685477.5807");
  EXPECT_EQ(ToText(Currency::FromScaled(std::numeric_limits<int64_t>::min())), "-922337203685477.5808");

  // The text reads back as the same amount.
  for (const int64_t scaled : {int64_t{0}, int64_t{1}, int64_t{-9999}, int64_t{123456789}, int64_t{-10000},
                               std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    EXPECT_EQ(CurrencyFromText(Currency::FromScaled(scaled).ToText()).scaled(), scaled) << scaled;
  }
}

TEST(Convert, WritesDoublesAsShortestText) {
  EXPECT_EQ(ToText(3.0), "3");
  EXPECT_EQ(ToText(0.1), "0.1");
  EXPECT_EQ(ToText(-0.5), "-0.5");
  EXPECT_EQ(ToText(0.0), "0");
  EXPECT_EQ(ToText(-0.0), "0");
  EXPECT_EQ(ToText(2500.0), "2500");
  EXPECT_EQ(ToText(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(ToText(1e15), "1E+15");
  EXPECT_EQ(ToText(-1e15), "-1E+15");
  EXPECT_EQ(ToText(1.5e15), "1.5E+15");
  EXPECT_EQ(ToText(123456789012345.0), "123456789012345");
  EXPECT_EQ(ToText(999999999999999.9), "999999999999999.9");
  EXPECT_EQ(ToText(0.00001), "0.00001");
  EXPECT_EQ(ToText(0.000012), "0.000012");
  EXPECT_EQ(ToText(0.000001), "1E-06");
  EXPECT_EQ(ToText(0.0000015), "1.5E-06");
  EXPECT_EQ(ToText(1e100), "1E+100");
  EXPECT_EQ(ToText(-2.5e-300), "-2.5E-300");
  EXPECT_EQ(ToText(Variant::Integer(-32768)), "-32768");
  EXPECT_EQ(ToText(std::numeric_limits<int32_t>::min()), "-2147483648");

  for (const double value : {0.1 + 0.2, 1 / 3.0, -2 / 3.0, 1e-7, 123456.789e10, 1e15 - 1, 1e23,
                             std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(), -1.2345678901234567e-300}) {
    EXPECT_EQ(ToDouble(ToText(value)), value) << ToText(value);
  }

  // Currency reads as the nearest double.
  EXPECT_EQ(ToDouble(CurrencyFromText("0.1")), 0.1);
  EXPECT_EQ(ToDouble(CurrencyFromText("-12345.6789")), -12345.6789);
  EXPECT_EQ(ToDouble(Currency::FromScaled(std::numeric_limits<int64_t>::max())), 922337203685477.5807);
}

TEST(Convert, ReadsDatesOnlyInTheStoredForms) {
  const Date midnight = Date::FromCivil(2026, 3, 31);
  const Date afternoon = Date::FromCivil(2026, 3, 31, 14, 5, 9);
  EXPECT_EQ(ToDate("2026-03-31"), midnight);
  EXPECT_EQ(ToDate("2026-03-31 14:05"), Date::FromCivil(2026, 3, 31, 14, 5, 0));
  EXPECT_EQ(ToDate("2026-03-31 14:05:09"), afternoon);
  EXPECT_EQ(ToDate("2026-03-31T14:05:09"), afternoon);
  EXPECT_EQ(ToDate("2024-02-29 23:59:59"), Date::FromCivil(2024, 2, 29, 23, 59, 59));
  EXPECT_EQ(ToDate(afternoon), afternoon);

  for (const char* text : {"2026-02-30", "2023-02-29", "2026-13-01", "2026-00-10", "0000-01-01", "2026/03/31",
                           "31.03.2026", "2026-03-31 25:00", "2026-03-31 24:00", "2026-03-31 14:60",
                           "2026-03-31 14:05:60", "2026-3-31", "2026-03-1", "", "2026-03-31 ", "2026-03-31 14",
                           "2026-03-31 14:05:09Z", "2026-03-31 14:05:09.5", "2026-03-31x14:05", "26-03-31",
                           "today"}) {
    EXPECT_EQ(ErrorNumberOf([&] { return ToDate(text); }), kTypeMismatch) << '"' << text << '"';
  }
  EXPECT_EQ(ErrorNumberOf([] { return ToDate(20260331); }), kTypeMismatch);

  EXPECT_EQ(ToText(midnight), "2026-03-31");
  EXPECT_EQ(ToText(afternoon), "2026-03-31 14:05:09");
  EXPECT_EQ(ToText(Date::FromCivil(2026, 3, 31, 0, 0, 1)), "2026-03-31 00:00:01");
  EXPECT_EQ(ToText(Date::FromCivil(1, 1, 1)), "0001-01-01");
  EXPECT_EQ(afternoon.ToStoredText(), "2026-03-31 14:05:09");
  EXPECT_EQ(midnight.ToStoredText(), "2026-03-31 00:00:00");
  EXPECT_EQ(ToDate(ToText(afternoon)), afternoon);
}

TEST(Convert, DatesFollowTheGregorianCalendar) {
  EXPECT_EQ(Date::FromCivil(2024, 2, 29).day(), 29);
  EXPECT_EQ(Date::FromCivil(2000, 2, 29).month(), 2);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(2023, 2, 29); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(1900, 2, 29); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(2026, 4, 31); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(0, 12, 31); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(10000, 1, 1); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(2026, 3, 31, 24, 0, 0); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { return Date::FromCivil(2026, 3, 31, 0, -1, 0); }), kInvalidArgument);

  // Ordering is chronological, across day, month and year boundaries.
  EXPECT_LT(Date::FromCivil(2025, 12, 31, 23, 59, 59), Date::FromCivil(2026, 1, 1));
  EXPECT_LT(Date::FromCivil(2026, 1, 31), Date::FromCivil(2026, 2, 1));
  EXPECT_LT(Date::FromCivil(999, 12, 31), Date::FromCivil(1000, 1, 1));
  EXPECT_GT(Date::FromCivil(2026, 3, 31, 0, 0, 1), Date::FromCivil(2026, 3, 31));

  // The first day is day zero; 1970-01-01 lies 719162 days later.
  EXPECT_EQ(Date::FromCivil(1, 1, 1).seconds(), 0);
  EXPECT_EQ(Date::FromCivil(1970, 1, 1).seconds(), int64_t{719162} * 86400);
  EXPECT_EQ(Date::FromCivil(9999, 12, 31, 23, 59, 59).ToText(), "9999-12-31 23:59:59");

  // Every day from 0001-01-01 to 9999-12-31 has the fields of the calendar and comes back
  // from them unchanged.
  using std::chrono::days;
  using std::chrono::sys_days;
  using std::chrono::year_month_day;
  const sys_days first = sys_days(year_month_day(std::chrono::year(1), std::chrono::January, std::chrono::day(1)));
  const sys_days last =
      sys_days(year_month_day(std::chrono::year(9999), std::chrono::December, std::chrono::day(31)));
  std::optional<std::string> first_mismatch;
  int64_t day_count = 0;
  for (sys_days current = first; current <= last && !first_mismatch; current += days(1), ++day_count) {
    const year_month_day civil(current);
    const int y = static_cast<int>(civil.year());
    const int m = static_cast<int>(static_cast<unsigned>(civil.month()));
    const int d = static_cast<int>(static_cast<unsigned>(civil.day()));
    const Date date = Date::FromSeconds(day_count * 86400 + 43200);
    if (date.year() != y || date.month() != m || date.day() != d ||
        Date::FromCivil(y, m, d, 12).seconds() != date.seconds()) {
      first_mismatch = std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d) + " read as " +
                       date.ToText();
    }
  }
  EXPECT_EQ(first_mismatch, std::nullopt);
  EXPECT_EQ(day_count, 3652059);
}

}  // namespace
}  // namespace ledgerkit
