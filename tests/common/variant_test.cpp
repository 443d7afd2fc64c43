// Variant made from every number type a caller may hold: no type is ambiguous, each value keeps
// its number, and the kind follows the one rule (fits 32 bits: Long; otherwise Double).
#include "ledgerkit/common/Variant.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"

namespace ledgerkit {
namespace {

struct Case {
  std::string what;
  Variant value;
  VarType type;
  double number;
};

TEST(Variant, EveryIntegerAndFloatingTypeConvertsWithoutAmbiguity) {
  const std::vector<Case> cases = {
      {"int8_t min", int8_t{-128}, VarType::kLong, -128},
      {"uint8_t max", uint8_t{255}, VarType::kLong, 255},
      {"char", 'A', VarType::kLong, 65},
      {"int16_t min", int16_t{-32768}, VarType::kLong, -32768},
      {"uint16_t max", uint16_t{65535}, VarType::kLong, 65535},
      {"int32_t min", std::numeric_limits<int32_t>::min(), VarType::kLong, -2147483648.0},
      {"uint32_t at the Long limit", uint32_t{2147483647}, VarType::kLong, 2147483647},
      {"uint32_t beyond the Long limit", uint32_t{2147483648u}, VarType::kDouble, 2147483648.0},
      {"uint32_t max", std::numeric_limits<uint32_t>::max(), VarType::kDouble, 4294967295.0},
      {"int64_t small", int64_t{-42}, VarType::kLong, -42},
      {"int64_t at the Long minimum", int64_t{-2147483648LL}, VarType::kLong, -2147483648.0},
      {"int64_t below the Long minimum", int64_t{-2147483649LL}, VarType::kDouble, -2147483649.0},
      {"int64_t beyond the Long maximum", int64_t{2147483648LL}, VarType::kDouble, 2147483648.0},
      {"int64_t 2^53", int64_t{1} << 53, VarType::kDouble, 9007199254740992.0},
      {"uint64_t small", uint64_t{7}, VarType::kLong, 7},
      {"uint64_t max", std::numeric_limits<uint64_t>::max(), VarType::kDouble, 18446744073709551615.0},
      {"long", 100000L, VarType::kLong, 100000},
      {"long long", -5000000000LL, VarType::kDouble, -5000000000.0},
      {"unsigned long", 3000000000UL, VarType::kDouble, 3000000000.0},
      {"size_t", std::size_t{12}, VarType::kLong, 12},
      {"float", 0.5f, VarType::kDouble, 0.5},
      {"double", 2.25, VarType::kDouble, 2.25},
      {"long double", 1.5L, VarType::kDouble, 1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.value.type(), c.type);
    if (c.type == VarType::kLong) {
      EXPECT_EQ(c.value.AsLong(), static_cast<int32_t>(c.number));
    } else {
      EXPECT_EQ(c.value.AsDouble(), c.number);
    }
  }
  // Boolean and the 16-bit Integer keep their own ways in.
  EXPECT_EQ(Variant(true).type(), VarType::kBoolean);
  EXPECT_EQ(Variant::Integer(int16_t{7}).type(), VarType::kInteger);
}

TEST(Variant, WideIntegersReachConversionsAsTheirNumbers) {
  // A whole number held in a 64-bit type names the same key, and one beyond the key range is
  // refused as an Overflow, never wrapped to a neighbouring row.
  EXPECT_EQ(ToKey(int64_t{5}), 5);
  EXPECT_EQ(ToKey(uint64_t{2147483647}), 2147483647);
  try {
    ToKey(int64_t{1} << 32);
    ADD_FAILURE() << "a key beyond 32 bits was accepted";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kOverflow);
  }
  EXPECT_EQ(ToText(int64_t{5000000000}), "5000000000");
  EXPECT_EQ(ToCurrency(uint64_t{123456789012}), CurrencyFromText("123456789012"));
}

}  // namespace
}  // namespace ledgerkit
