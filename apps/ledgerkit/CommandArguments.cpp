#include "CommandArguments.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/Text.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/ledger/CACMgr.h"

namespace ledgerkit::cli {

namespace {

std::string Named(std::string_view option, const std::string& text) {
  return std::string(option) + " \"" + text + "\"";
}

}  // namespace

Date DayArgument(const std::string& text, std::string_view option) {
  bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-';
  for (size_t i = 0; shaped && i < text.size(); ++i) {
    if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) shaped = false;
  }
  const auto day = shaped ? Date::Parse(text) : std::nullopt;
  if (!day) {
    throw Error::Runtime(kTypeMismatch,
                         Named(option, text) + " is not a date: dates are written YYYY-MM-DD, as 2026-03-31.");
  }
  return *day;
}

Currency AmountArgument(const std::string& text, std::string_view option, bool zero_allowed) {
  Currency amount;
  try {
    amount = CurrencyFromText(text);
  } catch (const Error&) {
    throw Error::Runtime(kTypeMismatch, Named(option, text) +
                                               " is not an amount: amounts are written with a point and at most four "
                                               "decimals, as 1250.50.");
  }
  if (amount < Currency() || (amount == Currency() && !zero_allowed)) {
    throw Error::Runtime(kInvalidArgument, Named(option, text) + (zero_allowed ? " is below zero." : " is not above zero."));
  }
  return amount;
}

void RequireFits(const std::string& text, size_t width, std::string_view option) {
  const size_t characters = CountCharacters(text);
  if (characters > width) {
    throw Error::Runtime(kInvalidArgument, Named(option, text) + " has " + std::to_string(characters) +
                                               " characters; at most " + std::to_string(width) + " fit.");
  }
}

AccountAmount AccountAmountArgument(const std::string& text, std::string_view option) {
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos) return AccountAmount{text, Currency(), false};
  if (equals == 0 || equals + 1 == text.size()) {
    throw Error::Runtime(kInvalidArgument, Named(option, text) + " is written NUMBER=AMOUNT, as 5100=250.00.");
  }
  return AccountAmount{text.substr(0, equals), AmountArgument(text.substr(equals + 1), option), true};
}

AccountNumbers::AccountNumbers(const Variant& file) {
  const auto accounts = CACMgr().GetAllAccounts(file, "", "");
  for (const auto& [key, entry] : accounts->entries()) {
    const auto& account = static_cast<const ACAccount&>(*entry);
    const Variant& number = account.Value("AccountNumber");
    if (number.IsNull()) continue;
    const int32_t id = ToLong(account.Key());
    keys_[ToText(number)].push_back(id);
    numbers_[id] = ToText(number);
  }
}

const std::vector<int32_t>& AccountNumbers::Keys(const std::string& number) const {
  static const std::vector<int32_t> none;
  const auto found = keys_.find(number);
  return found == keys_.end() ? none : found->second;
}

std::string AccountNumbers::NumberOf(int32_t key) const {
  const auto found = numbers_.find(key);
  return found == numbers_.end() ? std::string() : found->second;
}

Variant AccountNumbers::Key(const std::string& number, std::string_view option) const {
  const std::vector<int32_t>& keys = Keys(number);
  if (keys.empty()) throw Error::Runtime(kInvalidArgument, Named(option, number) + ": no account has the number " + number + ".");
  if (keys.size() > 1) {
    std::string list;
    for (size_t i = 0; i < keys.size(); ++i) {
      list += (i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ") + std::to_string(keys[i]);
    }
    throw Error::Runtime(kInvalidArgument, Named(option, number) + ": the number " + number +
                                               " is ambiguous, the accounts with keys " + list +
                                               " share it; give each its own number (ledgerkit account edit) first.");
  }
  return Variant(keys.front());
}

}  // namespace ledgerkit::cli
