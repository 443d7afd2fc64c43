#include "common/SqlMoney.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ledgerkit/common/Currency.h"

namespace ledgerkit {

namespace {

// The count of ten-thousandths the argument holds, or nothing when it holds none.
std::optional<int64_t> ScaledArgument(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return sqlite3_value_int64(value);
    case SQLITE_FLOAT: {
      // 2^63 is exactly representable; every double below it in magnitude fits int64 once rounded.
      const double rounded = std::nearbyint(sqlite3_value_double(value));
      if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) return std::nullopt;
      return static_cast<int64_t>(rounded);
    }
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const std::string_view view(text, static_cast<size_t>(sqlite3_value_bytes(value)));
      int64_t scaled = 0;
      const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), scaled);
      if (error != std::errc() || end != view.data() + view.size() || view.empty()) return std::nullopt;
      return scaled;
    }
    default:
      return std::nullopt;
  }
}

void MoneyFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto scaled = ScaledArgument(argv[0]);
  if (!scaled) {
    const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    std::string shown = raw != nullptr ? raw : "";
    if (shown.size() > 60) shown = shown.substr(0, 60) + "...";
    const std::string message =
        "MONEY takes a whole count of ten-thousandths (a money column or a sum of one); '" + shown + "' is none.";
    sqlite3_result_error(context, message.c_str(), -1);
    return;
  }
  const std::string text = Currency::FromScaled(*scaled).ToText();
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

int RegisterMoneyFunction(sqlite3* db) {
  return sqlite3_create_function_v2(db, "MONEY", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, MoneyFunction, nullptr,
                                    nullptr, nullptr);
}

}  // namespace ledgerkit
