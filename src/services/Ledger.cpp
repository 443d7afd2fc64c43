#include "services/Ledger.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

#include "common/Command.h"
#include "common/Convert.h"
#include "common/DataAccessInternal.h"
#include "common/Date.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/RowWrite.h"
#include "entities/Catalog.h"
#include "enums/PublicEnums.h"
#include "enums/eTransTypeEnm.h"
#include "services/Company.h"

namespace ledgerkit::services {

namespace {

using db::ACAccount;
using db::ACTransaction;
using db::ACTransLog;
using db::ACTransLogWIP;

// The owner of new rows: the company record, as services::CompanyRecord finds it.
constexpr const char* kCompanyKeySql = "(SELECT MIN(ISubScriberID) FROM ISubScriber WHERE ISubScriberID>0)";

// Accounts whose balances one statement writes: the engine limits the terms of a compound
// SELECT (500) and the markers of a statement.
constexpr size_t kBalancesPerStatement = 100;

std::string Text(const Variant& value) { return value.IsNull() ? std::string() : ToText(value); }

// An exact count of ten-thousandths given as text by the engine (CAST(... AS TEXT)); nullopt
// for anything else (a REAL, which no exact amount is).
std::optional<Currency> ExactAmount(const Variant& value) {
  const std::string text = ToText(value);
  int64_t scaled = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), scaled);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return Currency::FromScaled(scaled);
}

// An account a transaction posts to or takes back from, as the messages name it, with its
// stored balance and the file's kept register totals as they stand after the lines met so far.
struct PostedAccount {
  std::string label;               // "account 7 (1000 Bank)"
  std::optional<Currency> balance; // nullopt: a Null balance, which stays Null
  bool has_totals = false;         // the file keeps totals for the account (lk_RegisterTotal)
  std::optional<Currency> debits, credits;  // nullopt: a total the engine holds inexactly
};

// Reads the account columns of a row of the commit or abort SELECT from column `first` on:
// ACAccountID, AccountNumber, Name, Balance, CAST(Debits AS TEXT), CAST(Credits AS TEXT).
PostedAccount ReadPosted(const Recordset& row, int first, const Variant& account_id) {
  PostedAccount posted;
  posted.label = "account " + ToText(account_id) + " (" + Text(row.Field(first + 1)) + " " + Text(row.Field(first + 2)) + ")";
  const Variant& balance = row.Field(first + 3);
  if (!balance.IsNull()) posted.balance = ToCurrency(balance);
  posted.has_totals = !row.Field(first + 4).IsNull();
  if (posted.has_totals) {
    posted.debits = ExactAmount(row.Field(first + 4));
    posted.credits = ExactAmount(row.Field(first + 5));
  } else {
    posted.debits = posted.credits = Currency();
  }
  return posted;
}

// Runs a step that adds money to `account`'s balance or register totals; an Overflow it
// raises (from the checked Currency) is given the account's name.
template <class Step>
void CheckedSum(const PostedAccount& account, const char* what, Step step) {
  try {
    step();
  } catch (const Error& error) {
    if (error.number() != kOverflow) throw;
    throw Error::Runtime(kOverflow, "Overflow: the " + std::string(what) + " of " + account.label +
                                        " would leave the currency range; nothing is changed.");
  }
}

// Moves a kept register total by `amount` (added, or taken away when `add` is false) as the
// file's rule on register rows checks it: an inexact total, or one the change takes beyond the
// range, is an Overflow.
void MoveTotal(std::optional<Currency>& total, Currency amount, bool add) {
  if (!total) throw Error::Runtime(kOverflow, "Overflow: an inexact register total.");
  total = add ? *total + amount : *total - amount;
}

// Writes the balances of `accounts` (those whose balance is not Null), each as computed and
// checked here, a hundred accounts to a statement.
void WriteBalances(const Variant& account, const std::map<int32_t, PostedAccount>& accounts) {
  std::vector<std::pair<int32_t, Currency>> balances;
  for (const auto& [key, posted] : accounts) {
    if (posted.balance) balances.emplace_back(key, *posted.balance);
  }
  for (size_t start = 0; start < balances.size(); start += kBalancesPerStatement) {
    const size_t count = std::min(kBalancesPerStatement, balances.size() - start);
    // Every marker typed: a server types an untyped marker of a UNION as text, which a key
    // cannot be compared with.
    std::string rows = "SELECT CAST(? AS BIGINT) AS AccountID, CAST(? AS BIGINT) AS Balance";
    for (size_t i = 1; i < count; ++i) rows += " UNION ALL SELECT CAST(? AS BIGINT),CAST(? AS BIGINT)";
    Command command(account);
    command.SetText("UPDATE ACAccount SET Balance=n.Balance FROM (" + rows +
                    ") AS n WHERE ACAccount.ACAccountID=n.AccountID;");
    for (size_t i = start; i < start + count; ++i) {
      command.Bind(ACAccount::ACAccountID, balances[i].first);
      command.Bind(ACAccount::Balance, balances[i].second);
    }
    command.Execute();
  }
}

}  // namespace

BegunTransaction BeginTransaction(const Variant& account, const TransactionStart& start) {
  // The counter is kept on the company record: a number taken proves there is one.
  Variant taken;
  try {
    taken = TakeTransactionNumber(account);
  } catch (const Error& error) {
    if (error.number() != kObjectIsNothing) throw;
    throw Error::Runtime(kObjectIsNothing, CompanyDatabaseName(account) + " has no company record.");
  }
  // From here the number is consumed, whatever happens next.
  const std::string number = std::to_string(ToLong(taken));
  if (!eTransTypeEnm().IsValidValue(start.type)) {
    throw Error::Library(errCACMgr::eBadTransType, messages::kBadTransType).WithArgument("TransType");
  }
  const int32_t type = ToLong(start.type);
  const bool long_form = type == ttCHQ || type == ttINV;
  if (!long_form && type != ttGENJRNL && type != ttDEP) {
    throw Error::Library(errCACMgr::eBadTransType, messages::kBadTransType).WithArgument("TransType");
  }

  std::vector<Parameter> values = {
      Param(ACTransLog::LogDate, Date::Now()),
      Param(ACTransLog::TransactionDate, start.date),
      Param(ACTransLog::Description, start.description),
      Param(ACTransLog::TransactionNumber, number),
      Param(ACTransLog::TransLogStatus, static_cast<int32_t>(tlsINPROGRESS)),
      Param(ACTransLog::UserName, start.user_name),
      Param(ACTransLog::TransType, type),
  };
  if (long_form) {
    values.push_back(Param(ACTransLog::ChequeNo, start.cheque_no));
    values.push_back(Param(ACTransLog::Address, start.address));
  }
  values.push_back(Param(ACTransLog::Amount, start.amount));
  std::string columns(ACTransLog::Parent.name);
  std::string markers = kCompanyKeySql;
  for (const Parameter& value : values) {
    columns += "," + value.name;
    markers += ",?";
  }
  Command header(account);
  header.SetText("INSERT INTO ACTransLog (" + columns + ") VALUES (" + markers + ") RETURNING ACTransLogID;");
  for (Parameter& value : values) header.Append(std::move(value));
  const int32_t header_key = ToLong(header.ExecuteScalar());

  if (type == ttCHQ || type == ttDEP) {
    // The amount of a line is money, never Null (a Null amount would turn a balance Null).
    AddLine(account, header_key, start.line_account, ToCurrency(start.amount, "Amount"),
            type == ttCHQ ? Side::kCredit : Side::kDebit, start.memo);
  }
  return BegunTransaction{number, header_key};
}

void UpdateHeader(const Variant& account, const Variant& number, const Variant& date, const Variant& description,
                  const Variant& cheque_no, const Variant& address, const Variant& amount) {
  auto header = RowWrite::Of<ACTransLog>();
  header.Set(ACTransLog::TransactionDate, date)
      .Set(ACTransLog::Description, description)
      .Set(ACTransLog::ChequeNo, cheque_no)
      .Set(ACTransLog::Address, address)
      .Set(ACTransLog::Amount, amount)
      .Where(ACTransLog::TransactionNumber, number);
  header.Update(account);
}

int32_t RequireHeaderKey(const Variant& account, const Variant& number) {
  Command command(account);
  command.SetText("SELECT MIN(ACTransLogID) FROM ACTransLog WHERE TransactionNumber=?;");
  command.Append(SelectingText(number, "TransactionNumber"));
  const Variant key = command.ExecuteScalar();
  if (key.IsNull()) {
    throw Error::Runtime(kInvalidArgument,
                         "No ledger transaction has the number " + (number.IsNull() ? std::string("Null") : ToText(number)) + ".");
  }
  return ToLong(key);
}

Variant AddLine(const Variant& account, int32_t header, const Variant& account_id, Currency amount, Side side,
                const Variant& description) {
  auto line = RowWrite::Of<ACTransLogWIP>();
  line.Set(ACTransLogWIP::Parent, header)
      .Set(ACTransLogWIP::AccountID, account_id)
      .Set(ACTransLogWIP::IsDebit, side == Side::kDebit)
      .Set(ACTransLogWIP::Description, description)
      .Set(ACTransLogWIP::Amount, amount);
  return line.Insert(account);
}

Variant AddLine(const Variant& account, const Variant& number, const Variant& account_id, Currency amount, Side side,
                const Variant& description) {
  Command command(account);
  command.SetText(
      "INSERT INTO ACTransLogWIP (Parent,AccountID,IsDebit,Description,Amount) "
      "SELECT ACTransLogID,?,?,?,? FROM ACTransLog WHERE TransactionNumber=? ORDER BY ACTransLogID LIMIT 1 "
      "RETURNING ACTransLogWIPID;");
  command.Bind(ACTransLogWIP::AccountID, account_id);
  command.Bind(ACTransLogWIP::IsDebit, side == Side::kDebit);
  command.Bind(ACTransLogWIP::Description, description);
  command.Bind(ACTransLogWIP::Amount, amount);
  command.Append(SelectingText(number, "TransactionNumber"));
  std::shared_ptr<Recordset> inserted;
  try {
    inserted = command.ExecuteQuery();
  } catch (const Error&) {
    // A value refused before the statement ran: the missing transaction is what a caller hears
    // of first, as if it had been looked up before the values were bound.
    RequireHeaderKey(account, number);
    throw;
  }
  if (inserted->AtEOF()) RequireHeaderKey(account, number);
  return inserted->Field(0);
}

void CommitTransaction(const Variant& account, const Variant& number) {
  // The header and its waiting lines, each with the account it names (its label, balance and
  // kept register totals), in one read; no row when there is no such header.
  Command read(account);
  read.SetText(
      "SELECT h.ACTransLogID, h.TransactionNumber, h.TransactionDate, h.TransType, w.ACTransLogWIPID, w.AccountID, "
      "w.IsDebit, w.Amount, a.ACAccountID, a.AccountNumber, a.Name, a.Balance, CAST(t.Debits AS TEXT), "
      "CAST(t.Credits AS TEXT) FROM ACTransLog h LEFT JOIN ACTransLogWIP w ON w.Parent=h.ACTransLogID "
      "LEFT JOIN ACAccount a ON a.ACAccountID=w.AccountID LEFT JOIN lk_RegisterTotal t ON t.AccountID=w.AccountID "
      "WHERE h.ACTransLogID=(SELECT MIN(ACTransLogID) FROM ACTransLog WHERE TransactionNumber=?) "
      "ORDER BY w.ACTransLogWIPID;");
  read.Append(SelectingText(number, "TransactionNumber"));
  const auto rows = read.ExecuteQuery();
  if (rows->AtEOF()) RequireHeaderKey(account, number);
  const Variant header_key = rows->Field(0);
  const Variant header_number = rows->Field(1);
  const Variant header_date = rows->Field(2);
  const Variant header_type = rows->Field(3);

  // Every line must name an account that exists before anything is written: money is never
  // posted to no account.
  struct Line {
    int32_t account_id;
    Variant is_debit, amount;
  };
  std::vector<Line> lines;
  std::map<int32_t, PostedAccount> accounts;
  for (; !rows->AtEOF(); rows->MoveNext()) {
    if (rows->Field(4).IsNull()) break;  // a header without lines
    const Variant account_id = rows->Field(5);
    const std::string line = "Line " + ToText(rows->Field(4)) + " of transaction " + Text(header_number);
    if (account_id.IsNull()) throw Error::Runtime(kInvalidArgument, line + " names no account; nothing is committed.");
    if (rows->Field(8).IsNull()) {
      throw Error::Runtime(kInvalidArgument,
                           line + " names account " + ToText(account_id) + ", which does not exist; nothing is committed.");
    }
    const int32_t key = ToLong(account_id);
    if (!accounts.contains(key)) accounts.emplace(key, ReadPosted(*rows, 8, account_id));
    lines.push_back(Line{key, rows->Field(6), rows->Field(7)});
  }

  // Each line in order moves its account's register totals (the file's rule refuses totals out
  // of range) and its credit-positive balance: a credit adds, a debit subtracts. Every sum is
  // checked here, so the account is named and the statements below cannot fail on one.
  for (const Line& line : lines) {
    const bool is_debit = ToBoolean(line.is_debit);
    const Currency amount = ToCurrency(line.amount);
    PostedAccount& posted = accounts.at(line.account_id);
    CheckedSum(posted, "register totals", [&] { MoveTotal(is_debit ? posted.debits : posted.credits, amount, true); });
    if (!posted.balance) continue;
    CheckedSum(posted, "balance", [&] { posted.balance = is_debit ? *posted.balance - amount : *posted.balance + amount; });
  }

  auto status = RowWrite::Of<ACTransLog>();
  status.Set(ACTransLog::TransLogStatus, static_cast<int32_t>(tlsCOMMITTED))
      .Where(ACTransLog::TransactionNumber, header_number);
  status.Update(account);

  if (!lines.empty()) {
    Command post(account);
    post.SetText(
        "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
        "SELECT AccountID, ?, Description, CASE WHEN IsDebit<>0 THEN Amount ELSE 0 END, "
        "CASE WHEN IsDebit<>0 THEN 0 ELSE Amount END, ?, ? FROM ACTransLogWIP WHERE Parent=? "
        "ORDER BY ACTransLogWIPID;");
    post.Bind(ACTransaction::TransactionDate, header_date);
    post.Bind(ACTransaction::TransactionNumber, header_number);
    post.Bind(ACTransaction::TransType, header_type);
    post.Bind(ACTransLogWIP::Parent, header_key);
    post.Execute();
    WriteBalances(account, accounts);
  }

  Command done(account);
  done.SetText(
      "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=?);");
  done.Bind(ACTransLog::TransactionNumber, header_number);
  done.Execute();
}

void AbortTransaction(const Variant& account, const Variant& number) {
  Command command(account);
  command.Bind(ACTransLog::TransactionNumber, number);
  command.SetText(
      "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=?);");
  command.Execute();

  // The register rows of the transaction that name an account, each with that account's label,
  // balance and kept totals, in the order they were written.
  command.SetText(
      "SELECT r.Parent, r.Withdrawal, r.Deposit, a.ACAccountID, a.AccountNumber, a.Name, a.Balance, "
      "CAST(t.Debits AS TEXT), CAST(t.Credits AS TEXT) FROM ACTransaction r "
      "LEFT JOIN ACAccount a ON a.ACAccountID=r.Parent LEFT JOIN lk_RegisterTotal t ON t.AccountID=r.Parent "
      "WHERE r.TransactionNumber=? AND r.Parent IS NOT NULL ORDER BY r.ACTransactionID;");
  const auto rows = command.ExecuteQuery();
  struct Undone {
    Currency net;                        // credits minus debits the transaction posted
    std::optional<PostedAccount> posted; // nullopt: an account that no longer exists
    std::vector<std::pair<Variant, Variant>> amounts;  // Withdrawal, Deposit of each row
  };
  std::map<int32_t, Undone> undone;
  for (; !rows->AtEOF(); rows->MoveNext()) {
    const int32_t account_id = ToLong(rows->Field(0));
    Undone& entry = undone[account_id];
    if (entry.amounts.empty() && !rows->Field(3).IsNull()) entry.posted = ReadPosted(*rows, 3, rows->Field(0));
    entry.amounts.emplace_back(rows->Field(1), rows->Field(2));
    try {
      if (!rows->Field(1).IsNull()) entry.net = entry.net - ToCurrency(rows->Field(1));
      if (!rows->Field(2).IsNull()) entry.net = entry.net + ToCurrency(rows->Field(2));
    } catch (const Error& error) {
      if (error.number() != kOverflow) throw;
      throw Error::Runtime(kOverflow, "Overflow: the amounts transaction " + ToText(number) + " posted to account " +
                                          std::to_string(account_id) + " sum beyond the currency range.");
    }
  }

  // Account by account: its balance restored, then its rows taken off its kept totals, each
  // sum checked here so that the account is named.
  std::map<int32_t, PostedAccount> restored;
  for (auto& [account_id, entry] : undone) {
    if (!entry.posted) continue;
    PostedAccount& posted = *entry.posted;
    const Currency net = entry.net;
    const auto& amounts = entry.amounts;  // clang 14 cannot capture a structured binding
    if (posted.balance) CheckedSum(posted, "balance", [&] { posted.balance = *posted.balance - net; });
    if (posted.has_totals) {
      CheckedSum(posted, "register totals", [&] {
        for (const auto& [withdrawal, deposit] : amounts) {
          if (!withdrawal.IsNull()) MoveTotal(posted.debits, ToCurrency(withdrawal), false);
          if (!deposit.IsNull()) MoveTotal(posted.credits, ToCurrency(deposit), false);
        }
      });
    }
    restored.emplace(account_id, std::move(posted));
  }
  WriteBalances(account, restored);

  command.SetText("DELETE FROM ACTransaction WHERE TransactionNumber=?;");
  command.Execute();
  command.SetText("DELETE FROM ACTransLog WHERE TransactionNumber=?;");
  command.Execute();
}

}  // namespace ledgerkit::services
