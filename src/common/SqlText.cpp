#include "common/SqlText.h"

#include "common/Convert.h"

namespace ledgerkit {

std::string QuoteSqlText(const Variant& value) {
  const std::string text = ToText(value);
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

std::string SqlInteger(const Variant& value) { return std::to_string(ToLong(value)); }

}  // namespace ledgerkit
