// OFX and QFX statements through libofx: its callbacks collect the accounts, their statements
// and transactions; the statement of the account asked for becomes the lines to import.
#include "statements/OfxStatement.h"

#include <libofx/libofx.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

struct OfxAccount {
  std::string currency;
  std::optional<Currency> ledger_balance;
  std::optional<Date> balance_date;
  std::vector<StatementLine> lines;
};

struct OfxRead {
  std::string path;
  std::vector<std::string> order;  // account ids as the file first names them
  std::map<std::string, OfxAccount> accounts;
  std::string fault;  // the first value that could not be taken; empty when none
  int64_t position = 0;

  OfxAccount& Account(const char* id) {
    std::string key(id);
    while (!key.empty() && key.back() == ' ') key.pop_back();  // a credit card's has no bank part
    if (accounts.find(key) == accounts.end()) order.push_back(key);
    return accounts[key];
  }
};

// The bank's calendar day of a time libofx read. libofx gives the instant; a day written
// without a time is taken by libofx to be late morning, so the day in UTC is the day written.
Date DayOf(time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  return Date::FromCivil(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
}

// An amount libofx read, exact: a figure with more than four decimals is refused rather than
// rounded, since the ledger keeps ten-thousandths and a rounded line would not be the bank's.
std::optional<Currency> ExactAmount(double amount, std::string& shown) {
  shown = DoubleToText(amount);
  const size_t point = shown.find('.');
  if (point != std::string::npos && shown.size() - point - 1 > 4) return std::nullopt;
  return CurrencyFromDouble(amount);
}

std::string Joined(std::initializer_list<std::string> parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (part.empty() || text.find(part) != std::string::npos) continue;
    text += (text.empty() ? "" : " - ") + part;
  }
  return text;
}

int OnTransaction(const OfxTransactionData data, void* context) {
  OfxRead& read = *static_cast<OfxRead*>(context);
  const int64_t position = ++read.position;
  if (!read.fault.empty()) return 0;
  if (!data.account_id_valid) {
    read.fault = "transaction " + std::to_string(position) + " names no account";
    return 0;
  }
  StatementLine line;
  line.position = position;
  if (!data.amount_valid) {
    read.fault = "transaction " + std::to_string(position) + " has no amount";
    return 0;
  }
  std::string shown;
  const std::optional<Currency> amount = ExactAmount(data.amount, shown);
  if (!amount) {
    read.fault = "transaction " + std::to_string(position) + " has the amount " + shown +
                 ", which has more than four decimals";
    return 0;
  }
  line.amount = *amount;
  if (data.date_posted_valid) {
    line.date = DayOf(data.date_posted);
  } else if (data.date_initiated_valid) {
    line.date = DayOf(data.date_initiated);
  } else {
    read.fault = "transaction " + std::to_string(position) + " has no date";
    return 0;
  }
  line.id = data.fi_id_valid ? std::string(data.fi_id) : std::string();
  line.cheque_number = data.check_number_valid ? std::string(data.check_number) : std::string();
  line.description = Joined({data.name_valid ? std::string(data.name) : std::string(),
                             data.memo_valid ? std::string(data.memo) : std::string()});
  read.Account(data.account_id).lines.push_back(std::move(line));
  return 0;
}

int OnStatement(const OfxStatementData data, void* context) {
  OfxRead& read = *static_cast<OfxRead*>(context);
  if (!data.account_id_valid) return 0;
  OfxAccount& account = read.Account(data.account_id);
  if (data.currency_valid) account.currency = data.currency;
  // An empty balance element comes through as a balance of 0.00 as of the epoch: not a balance.
  if (data.ledger_balance_valid && !(data.ledger_balance_date_valid && data.ledger_balance_date == 0)) {
    std::string shown;
    account.ledger_balance = ExactAmount(data.ledger_balance, shown);
    if (!account.ledger_balance && read.fault.empty()) {
      read.fault = "the ledger balance " + shown + " has more than four decimals";
    }
    if (data.ledger_balance_date_valid) account.balance_date = DayOf(data.ledger_balance_date);
  }
  return 0;
}

int OnAccount(const OfxAccountData data, void* context) {
  OfxRead& read = *static_cast<OfxRead*>(context);
  if (!data.account_id_valid) return 0;
  OfxAccount& account = read.Account(data.account_id);
  if (data.currency_valid && account.currency.empty()) account.currency = data.currency;
  return 0;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw Error::Runtime(kInvalidArgument, "The statement " + QuoteForMessage(path) + " " + why + ".");
}

// libofx names an account "BANKID ACCTID" (bank), "ACCTID" (credit card) and so on; the
// number a person gives is the last word.
bool NamesAccount(const std::string& id, const std::string& number) {
  if (id == number) return true;
  const size_t blank = id.rfind(' ');
  return blank != std::string::npos && id.substr(blank + 1) == number;
}

}  // namespace

Statement ReadOfxStatement(const std::string& path, const std::string& bank_account) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) Refuse(path, "is not a file that can be read");
  OfxRead read;
  read.path = path;
  // libofx writes its own messages to the console unless told not to; its verdict is read
  // from what it hands over.
  ofx_PARSER_msg = ofx_DEBUG_msg = ofx_DEBUG1_msg = ofx_DEBUG2_msg = ofx_DEBUG3_msg = ofx_DEBUG4_msg =
      ofx_DEBUG5_msg = ofx_STATUS_msg = ofx_INFO_msg = ofx_WARNING_msg = ofx_ERROR_msg = 0;
  const std::unique_ptr<void, int (*)(LibofxContextPtr)> context(libofx_get_new_context(), libofx_free_context);
  ofx_set_transaction_cb(context.get(), OnTransaction, &read);
  ofx_set_statement_cb(context.get(), OnStatement, &read);
  ofx_set_account_cb(context.get(), OnAccount, &read);
  libofx_proc_file(context.get(), path.c_str(), OFX);
  if (!read.fault.empty()) Refuse(path, "cannot be imported: " + read.fault);
  if (read.order.empty()) Refuse(path, "holds no OFX statement that libofx can read");

  std::string chosen;
  if (!bank_account.empty()) {
    for (const std::string& id : read.order) {
      if (NamesAccount(id, bank_account)) chosen = id;
    }
    if (chosen.empty()) Refuse(path, "holds no statement of the bank account " + QuoteForMessage(bank_account));
  } else if (read.order.size() > 1) {
    std::string ids;
    for (const std::string& id : read.order) ids += (ids.empty() ? "" : ", ") + QuoteForMessage(id);
    Refuse(path, "holds statements of several accounts (" + ids + "); name one with --bank-account");
  } else {
    chosen = read.order.front();
  }
  OfxAccount& account = read.accounts[chosen];
  Statement statement;
  statement.lines = std::move(account.lines);
  statement.currency = account.currency;
  statement.ledger_balance = account.ledger_balance;
  statement.balance_date = account.balance_date;
  statement.bank_account = chosen;
  return statement;
}

}  // namespace ledgerkit
