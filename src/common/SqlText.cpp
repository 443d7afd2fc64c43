#include "common/SqlText.h"

#include "common/Convert.h"

namespace ledgerkit {

std::string QuoteSqlText(const Variant& value) {
  const std::string text = ToText(value);
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\0') {
      // A NUL cannot stand inside an SQL literal (the statement would end there): it is
      // joined in as char(0), so the text compares equal to the same text bound as a value.
      quoted += "'||char(0)||'";
      continue;
    }
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

std::string SqlInteger(const Variant& value) { return std::to_string(ToLong(value)); }

}  // namespace ledgerkit
