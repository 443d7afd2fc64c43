// Values read from the command line, checked before a command writes anything: dates, amounts
// and account numbers. Each refusal is an Invalid argument error whose message names the option
// and the value, and says how the value is written: Type mismatch (13) for text that is not a
// date or an amount, Invalid argument (5) for a value out of range or an account not found.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::cli {

// `text` as a calendar day written YYYY-MM-DD (nothing else: no time, no other order);
// `option` names it in the refusal ("--date 2026-02-30 is not a date written YYYY-MM-DD").
Date DayArgument(const std::string& text, std::string_view option);

// `text` as an amount of money, at most four decimals. Unless `zero_allowed`, it must be above
// zero; a negative amount is always refused.
Currency AmountArgument(const std::string& text, std::string_view option, bool zero_allowed = false);

// Refuses (Invalid argument, naming `option`) a text of more characters than `width`, the width
// of the column it is stored in: checked before anything is written, where the library would
// only refuse it once a transaction number was taken.
void RequireFits(const std::string& text, size_t width, std::string_view option);

// "NUMBER=AMOUNT" split at its last '='; the amount as AmountArgument reads it. An entry with no
// '=' is the number alone, with no amount (`has_amount` false).
struct AccountAmount {
  std::string number;
  Currency amount;
  bool has_amount = false;
};
AccountAmount AccountAmountArgument(const std::string& text, std::string_view option);

// The company's accounts by number, read once. A number that two accounts share is ambiguous:
// Key refuses it, naming both keys, so a command never picks one of them silently.
class AccountNumbers {
 public:
  explicit AccountNumbers(const Variant& file);

  // The key of the account numbered `number`; Invalid argument naming `option` when no account
  // or more than one has it.
  Variant Key(const std::string& number, std::string_view option) const;
  // The keys of the accounts numbered `number` (none, one, or several when the file already
  // holds duplicates).
  const std::vector<int32_t>& Keys(const std::string& number) const;
  // The number of the account with key `key`; empty when it has none or there is no such account.
  std::string NumberOf(int32_t key) const;

 private:
  std::map<std::string, std::vector<int32_t>> keys_;
  std::map<int32_t, std::string> numbers_;
};

}  // namespace ledgerkit::cli
