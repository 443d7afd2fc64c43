#include "services/Ledger.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "common/DataAccessInternal.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/RowWrite.h"
#include "common/UnitOfWork.h"
#include "entities/Catalog.h"
#include "entities/RegisterTotals.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/enums/eTransTypeEnm.h"
#include "services/Arguments.h"
#include "services/Company.h"

namespace ledgerkit::services {

namespace {

using db::ACAccount;
using db::ACTransaction;
using db::ACTransLog;
using db::ACTransLogWIP;

// The owner of new rows: the company record, as services::CompanyRecord finds it.
constexpr const char* kCompanyKeySql = "(SELECT MIN(ISubScriberID) FROM ISubScriber WHERE ISubScriberID>0)";

// Accounts one statement reads or writes the balances of: well under every engine's limit on a
// statement's markers, and few enough shapes of the statement to keep each compiled.
constexpr size_t kAccountsPerStatement = 100;

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
  bool has_totals = false;         // the file keeps totals for the account (entities/RegisterTotals.h)
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
  for (size_t start = 0; start < balances.size(); start += kAccountsPerStatement) {
    const size_t count = std::min(kAccountsPerStatement, balances.size() - start);
    // The first row's markers typed: a server types the columns of a VALUES list by its rows, and
    // would take untyped markers as text, which a key cannot be compared with.
    Sql rows("(VALUES (CAST(", kValue, " AS BIGINT),CAST(", kValue, " AS BIGINT))");
    for (size_t i = 1; i < count; ++i) rows += Sql(",(", kValue, ",", kValue, ")");
    Command command(account);
    command.SetText(
        Sql("UPDATE ACAccount SET Balance=n.column2 FROM ", rows, ") AS n WHERE ACAccount.ACAccountID=n.column1;"));
    for (size_t i = start; i < start + count; ++i) {
      command.Bind(ACAccount::ACAccountID, balances[i].first);
      command.Bind(ACAccount::Balance, balances[i].second);
    }
    command.Execute();
  }
}

// Rows a batch statement of the recorder writes: headers of 9 values and register rows of 7,
// well within every engine's limit of markers.
constexpr int kHeadersPerStatement = 64;
constexpr int kRowsPerStatement = 128;

constexpr const char* kHeaderColumns =
    "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,TransLogStatus,UserName,"
    "TransType,Amount) VALUES ";
constexpr int kHeaderValues = 9;
constexpr const char* kRowColumns =
    "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
    "VALUES ";
constexpr int kRowValues = 7;

// An INSERT of `rows` rows of `values` markers each after `columns`.
Sql MultiRowInsert(const char* columns, int values, int rows) {
  const Sql row = Sql("(", ValueList(static_cast<size_t>(values)), ")");
  Sql sql(columns);
  for (int i = 0; i < rows; ++i) {
    if (i > 0) sql += ",";
    sql += row;
  }
  return sql + ";";
}

// Rows bound to a statement of `capacity` rows, run when it is full; the values are kept until
// then, for the shorter statement that writes the rest. A caller that knows how many rows are
// to come says so first (Expect): each statement is then made for the rows it will write, and
// no row is bound twice.
class RowBatch {
 public:
  RowBatch(EngineConnection& connection, const char* columns, int values, int capacity)
      : connection_(connection), columns_(columns), values_(values), capacity_(capacity) {}

  // The rows the next Adds bring, before any of them.
  void Expect(size_t rows) { expected_ = rows; }

  // Binds one row (its values converted and checked now, failing as BindParameter fails) and
  // runs the statement when it is full.
  void Add(std::vector<Parameter> row) {
    if (!statement_) {
      rows_ = NextRows();
      statement_ = connection_.Prepare(MultiRowInsert(columns_, values_, rows_));
    }
    BindRow(*statement_, pending_.size(), row);
    pending_.push_back(std::move(row));
    if (expected_ > 0) --expected_;
    if (static_cast<int>(pending_.size()) == rows_) {
      while (statement_->Step()) {
      }
      statement_->Reset();
      pending_.clear();
      if (NextRows() != rows_) statement_.reset();
    }
  }

  // Writes the rows still pending.
  void Flush() {
    if (pending_.empty()) return;
    const auto rest = connection_.Prepare(MultiRowInsert(columns_, values_, static_cast<int>(pending_.size())));
    for (size_t row = 0; row < pending_.size(); ++row) BindRow(*rest, row, pending_[row]);
    while (rest->Step()) {
    }
    pending_.clear();
  }

 private:
  // Binds `row` as the statement's row number `index` (from 0).
  void BindRow(EngineStatement& statement, size_t index, const std::vector<Parameter>& row) const {
    const int first = static_cast<int>(index) * values_;
    for (int i = 0; i < values_; ++i) BindParameter(statement, first + i + 1, row[i]);
  }

  // The rows the next statement is made for.
  int NextRows() const { return expected_ > 0 ? static_cast<int>(std::min<size_t>(expected_, capacity_)) : capacity_; }

  EngineConnection& connection_;
  const char* columns_;
  int values_;
  int capacity_;
  size_t expected_ = 0;  // rows the caller said are still to come
  int rows_ = 0;         // the rows `statement_` writes
  std::unique_ptr<EngineStatement> statement_;
  std::vector<std::vector<Parameter>> pending_;
};

// The values of the register row of one line of the transaction `number`: a debit's amount as
// its Withdrawal, a credit's as its Deposit, the other 0; in kRowColumns' order.
std::vector<Parameter> RegisterRow(int32_t account_id, const Variant& date, const Variant& description, Side side,
                                   Currency amount, const Variant& number, const Variant& type) {
  const bool is_debit = side == Side::kDebit;
  return {Param(ACTransaction::Parent, account_id), Param(ACTransaction::TransactionDate, date),
          Param(ACTransaction::Description, description),
          Param(ACTransaction::Withdrawal, is_debit ? amount : Currency()),
          Param(ACTransaction::Deposit, is_debit ? Currency() : amount),
          Param(ACTransaction::TransactionNumber, number), Param(ACTransaction::TransType, type)};
}


// The accounts of `count` keys (markers), each row as ReadPosted reads it from column 0.
Sql PostedAccountsSql(size_t count) {
  return Sql("SELECT a.ACAccountID, a.AccountNumber, a.Name, a.Balance, " + RegisterTotalsAmountsSql("t") +
                 " FROM ACAccount a" + RegisterTotalsJoinSql("t", "a.ACAccountID") + " WHERE a.ACAccountID IN (",
             ValueList(count), ");");
}

// Reads the accounts the `posted` lines name that `accounts` does not hold yet, a hundred to a
// statement, as the commit's own read gives them; then every posted line must name one that
// exists. `transaction` is the number as the messages give it.
void ReadPostedAccounts(const Variant& account, const std::string& transaction, std::span<const PostedLine> posted,
                        std::map<int32_t, PostedAccount>& accounts) {
  std::vector<int32_t> wanted;
  for (const PostedLine& line : posted) {
    const std::optional<int32_t> key = line.values.account_id;
    if (key && !accounts.contains(*key) && std::find(wanted.begin(), wanted.end(), *key) == wanted.end()) {
      wanted.push_back(*key);
    }
  }
  for (size_t start = 0; start < wanted.size(); start += kAccountsPerStatement) {
    const size_t count = std::min(kAccountsPerStatement, wanted.size() - start);
    Command read(account);
    read.SetText(PostedAccountsSql(count));
    for (size_t i = start; i < start + count; ++i) read.Bind(ACAccount::ACAccountID, wanted[i]);
    for (const auto rows = read.ExecuteQuery(); !rows->AtEOF(); rows->MoveNext()) {
      const Variant key = rows->Field(0);
      accounts.emplace(ToLong(key), ReadPosted(*rows, 0, key));
    }
  }
  for (const PostedLine& line : posted) {
    const std::string named = line.label + " of transaction " + transaction;
    if (!line.values.account_id) throw Error::Runtime(kInvalidArgument, named + " names no account; nothing is committed.");
    if (!accounts.contains(*line.values.account_id)) {
      throw Error::Runtime(kInvalidArgument, named + " names account " + std::to_string(*line.values.account_id) +
                                                 ", which does not exist; nothing is committed.");
    }
  }
}

// Writes the register rows of the `posted` lines of the header whose date, number and type are
// given, in their order, as the recorder writes its rows.
void InsertPostedLines(const Variant& account, const Variant& date, const Variant& number, const Variant& type,
                       std::span<const PostedLine> posted) {
  RowBatch rows(UnitOfWork::Active(account)->connection(), kRowColumns, kRowValues, kRowsPerStatement);
  rows.Expect(posted.size());
  for (const PostedLine& line : posted) {
    const LineValues& values = line.values;
    rows.Add(RegisterRow(*values.account_id, date, OrNull(values.description), values.side, values.amount, number, type));
  }
  rows.Flush();
}

}  // namespace

std::string NumberArgument(const Variant& value) {
  if (value.IsNull()) return std::string();
  return ToText(value, ACTransLog::TransactionNumber.name);
}

std::optional<std::string> StoredNumberArgument(const Variant& number) {
  return TextArgument(number, ACTransLog::TransactionNumber);
}

std::string TakeNumber(const Variant& account) {
  // The counter is kept on the company record: a number taken proves there is one.
  Variant taken;
  try {
    taken = TakeTransactionNumber(account);
  } catch (const Error& error) {
    if (error.number() != kObjectIsNothing) throw;
    throw Error::Runtime(kObjectIsNothing, CompanyDatabaseName(account) + " has no company record.");
  }
  return std::to_string(ToLong(taken));
}

int32_t BegunType(const Variant& value) {
  if (eTransTypeEnm().IsValidValue(value)) {
    const int32_t type = ToLong(value);
    if (type == ttCHQ || type == ttINV || type == ttGENJRNL || type == ttDEP) return type;
  }
  throw Error::Library(errCACMgr::eBadTransType, messages::kBadTransType).WithArgument("TransType");
}

namespace {

// Cheques and invoices store a cheque number and an address on their header.
bool LongForm(int32_t type) { return type == ttCHQ || type == ttINV; }
// Cheques and deposits are begun with their first line.
bool BegunWithLine(int32_t type) { return type == ttCHQ || type == ttDEP; }

}  // namespace

TransactionStart StartArguments(int32_t type, const Variant& date, const Variant& description,
                                const Variant& user_name, const Variant& cheque_no, const Variant& address,
                                const Variant& amount, const Variant& line_account, const Variant& memo) {
  TransactionStart start{.type = type};
  start.date = DateArgument(date, ACTransLog::TransactionDate.name);
  start.description = TextArgument(description, ACTransLog::Description);
  start.user_name = TextArgument(user_name, ACTransLog::UserName);
  if (LongForm(type)) {
    start.cheque_no = TextArgument(cheque_no, ACTransLog::ChequeNo);
    start.address = TextArgument(address, ACTransLog::Address);
  }
  start.amount = CurrencyArgument(amount, ACTransLog::Amount.name);
  if (BegunWithLine(type)) {
    // The first line's amount: never Null (a Null amount would turn a balance Null).
    if (!start.amount) ToCurrency(amount, "Amount");
    start.line_account = KeyArgument(line_account, ACTransLogWIP::AccountID.name);
    start.memo = TextArgument(memo, ACTransLogWIP::Description);
  }
  return start;
}

BegunTransaction BeginTransaction(const Variant& account, const std::string& number, const TransactionStart& start) {
  std::vector<Parameter> values = {
      Param(ACTransLog::LogDate, Date::Now()),
      Param(ACTransLog::TransactionDate, OrNull(start.date)),
      Param(ACTransLog::Description, OrNull(start.description)),
      Param(ACTransLog::TransactionNumber, number),
      Param(ACTransLog::TransLogStatus, static_cast<int32_t>(tlsINPROGRESS)),
      Param(ACTransLog::UserName, OrNull(start.user_name)),
      Param(ACTransLog::TransType, start.type),
  };
  if (LongForm(start.type)) {
    values.push_back(Param(ACTransLog::ChequeNo, OrNull(start.cheque_no)));
    values.push_back(Param(ACTransLog::Address, OrNull(start.address)));
  }
  values.push_back(Param(ACTransLog::Amount, OrNull(start.amount)));
  std::string columns(ACTransLog::Parent.name);
  for (const Parameter& value : values) columns += "," + value.name;
  Command header(account);
  header.SetText(Sql("INSERT INTO ACTransLog (", columns, ") VALUES (", kCompanyKeySql, ",", ValueList(values.size()),
                     ") RETURNING ACTransLogID;"));
  for (Parameter& value : values) header.Append(std::move(value));
  const int32_t header_key = ToLong(header.ExecuteScalar());

  if (BegunWithLine(start.type)) {
    AddLine(account, header_key,
            LineValues{.account_id = start.line_account,
                       .amount = start.amount.value_or(Currency()),
                       .side = start.type == ttCHQ ? Side::kCredit : Side::kDebit,
                       .description = start.memo});
  }
  return BegunTransaction{number, header_key};
}

HeaderValues HeaderArguments(const Variant& date, const Variant& description, const Variant& cheque_no,
                             const Variant& address, const Variant& amount) {
  return HeaderValues{.date = DateArgument(date, ACTransLog::TransactionDate.name),
                      .description = TextArgument(description, ACTransLog::Description),
                      .cheque_no = TextArgument(cheque_no, ACTransLog::ChequeNo),
                      .address = TextArgument(address, ACTransLog::Address),
                      .amount = CurrencyArgument(amount, ACTransLog::Amount.name)};
}

void UpdateHeader(const Variant& account, const std::optional<std::string>& number, const HeaderValues& values) {
  auto header = RowWrite::Of<ACTransLog>();
  header.Set(ACTransLog::TransactionDate, OrNull(values.date))
      .Set(ACTransLog::Description, OrNull(values.description))
      .Set(ACTransLog::ChequeNo, OrNull(values.cheque_no))
      .Set(ACTransLog::Address, OrNull(values.address))
      .Set(ACTransLog::Amount, OrNull(values.amount))
      .Where(ACTransLog::TransactionNumber, OrNull(number));
  header.Update(account);
}

int32_t RequireHeaderKey(const Variant& account, const std::string& number) {
  Command command(account);
  command.SetText(Sql("SELECT MIN(ACTransLogID) FROM ACTransLog WHERE TransactionNumber=", kValue, ";"));
  command.Append(SelectingText(number, "TransactionNumber"));
  const Variant key = command.ExecuteScalar();
  if (key.IsNull()) throw Error::Runtime(kInvalidArgument, "No ledger transaction has the number " + number + ".");
  return ToLong(key);
}

int32_t AddLine(const Variant& account, int32_t header, const LineValues& line) {
  auto row = RowWrite::Of<ACTransLogWIP>();
  row.Set(ACTransLogWIP::Parent, header)
      .Set(ACTransLogWIP::AccountID, OrNull(line.account_id))
      .Set(ACTransLogWIP::IsDebit, line.side == Side::kDebit)
      .Set(ACTransLogWIP::Description, OrNull(line.description))
      .Set(ACTransLogWIP::Amount, line.amount);
  return ToLong(row.Insert(account));
}

int32_t AddLine(const Variant& account, const std::string& number, const LineValues& line) {
  Command command(account);
  command.SetText(
      Sql("INSERT INTO ACTransLogWIP (Parent,AccountID,IsDebit,Description,Amount) "
          "SELECT ACTransLogID,",
          kValue, ",", kValue, ",", kValue, ",", kValue, " FROM ACTransLog WHERE TransactionNumber=", kValue,
          " ORDER BY ACTransLogID LIMIT 1 "
          "RETURNING ACTransLogWIPID;"));
  command.Bind(ACTransLogWIP::AccountID, OrNull(line.account_id));
  command.Bind(ACTransLogWIP::IsDebit, line.side == Side::kDebit);
  command.Bind(ACTransLogWIP::Description, OrNull(line.description));
  command.Bind(ACTransLogWIP::Amount, line.amount);
  command.Append(SelectingText(number, "TransactionNumber"));
  const auto inserted = command.ExecuteQuery();
  if (inserted->AtEOF()) RequireHeaderKey(account, number);
  return ToLong(inserted->Field(0));
}

void CommitTransaction(const Variant& account, const std::string& number, std::span<const PostedLine> posted) {
  // The header and its waiting lines, each with the account it names (its label, balance and
  // kept register totals), in one read; no row when there is no such header.
  Command read(account);
  read.SetText(
      Sql("SELECT h.ACTransLogID, h.TransactionNumber, h.TransactionDate, h.TransType, w.ACTransLogWIPID, w.AccountID, "
          "w.IsDebit, w.Amount, a.ACAccountID, a.AccountNumber, a.Name, a.Balance, " +
              RegisterTotalsAmountsSql("t") +
              " FROM ACTransLog h LEFT JOIN ACTransLogWIP w ON w.Parent=h.ACTransLogID "
              "LEFT JOIN ACAccount a ON a.ACAccountID=w.AccountID" +
              RegisterTotalsJoinSql("t", "w.AccountID") +
              " WHERE h.ACTransLogID=(SELECT MIN(ACTransLogID) FROM ACTransLog WHERE TransactionNumber=",
          kValue,
          ") "
          "ORDER BY w.ACTransLogWIPID;"));
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
    bool is_debit;
    Currency amount;
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
    lines.push_back(Line{key, ToBoolean(rows->Field(6)), ToCurrency(rows->Field(7))});
  }
  const bool waiting = !lines.empty();
  ReadPostedAccounts(account, Text(header_number), posted, accounts);
  for (const PostedLine& line : posted) {
    lines.push_back(Line{*line.values.account_id, line.values.side == Side::kDebit, line.values.amount});
  }

  // Each line in order moves its account's register totals (the file's rule refuses totals out
  // of range) and its credit-positive balance: a credit adds, a debit subtracts. Every sum is
  // checked here, so the account is named and the statements below cannot fail on one.
  for (const Line& line : lines) {
    PostedAccount& moved = accounts.at(line.account_id);
    const Currency amount = line.amount;
    CheckedSum(moved, "register totals", [&] { MoveTotal(line.is_debit ? moved.debits : moved.credits, amount, true); });
    if (!moved.balance) continue;
    CheckedSum(moved, "balance", [&] { moved.balance = line.is_debit ? *moved.balance - amount : *moved.balance + amount; });
  }

  auto status = RowWrite::Of<ACTransLog>();
  status.Set(ACTransLog::TransLogStatus, static_cast<int32_t>(tlsCOMMITTED))
      .Where(ACTransLog::TransactionNumber, header_number);
  status.Update(account);

  if (waiting) {
    Command post(account);
    post.SetText(Sql(
        "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
        "SELECT AccountID, ",
        kValue,
        ", Description, CASE WHEN IsDebit<>0 THEN Amount ELSE 0 END, "
        "CASE WHEN IsDebit<>0 THEN 0 ELSE Amount END, ",
        kValue, ", ", kValue, " FROM ACTransLogWIP WHERE Parent=", kValue,
        " "
        "ORDER BY ACTransLogWIPID;"));
    post.Bind(ACTransaction::TransactionDate, header_date);
    post.Bind(ACTransaction::TransactionNumber, header_number);
    post.Bind(ACTransaction::TransType, header_type);
    post.Bind(ACTransLogWIP::Parent, header_key);
    post.Execute();
  }
  InsertPostedLines(account, header_date, header_number, header_type, posted);
  if (!lines.empty()) WriteBalances(account, accounts);

  Command done(account);
  done.SetText(Sql(
      "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=", kValue,
      ");"));
  done.Bind(ACTransLog::TransactionNumber, header_number);
  done.Execute();
}

void AbortTransaction(const Variant& account, const std::optional<std::string>& number) {
  Command command(account);
  command.Bind(ACTransLog::TransactionNumber, OrNull(number));
  command.SetText(Sql(
      "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=", kValue,
      ");"));
  command.Execute();

  // The register rows of the transaction that name an account, each with that account's label,
  // balance and kept totals, in the order they were written.
  command.SetText(Sql("SELECT r.Parent, r.Withdrawal, r.Deposit, a.ACAccountID, a.AccountNumber, a.Name, a.Balance, " +
                          RegisterTotalsAmountsSql("t") +
                          " FROM ACTransaction r LEFT JOIN ACAccount a ON a.ACAccountID=r.Parent" +
                          RegisterTotalsJoinSql("t", "r.Parent") + " WHERE r.TransactionNumber=",
                      kValue, " AND r.Parent IS NOT NULL ORDER BY r.ACTransactionID;"));
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
      throw Error::Runtime(kOverflow, "Overflow: the amounts transaction " + number.value_or("") + " posted to account " +
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

  command.SetText(Sql("DELETE FROM ACTransaction WHERE TransactionNumber=", kValue, ";"));
  command.Execute();
  command.SetText(Sql("DELETE FROM ACTransLog WHERE TransactionNumber=", kValue, ";"));
  command.Execute();
}

}  // namespace ledgerkit::services

namespace ledgerkit::services {

struct TransactionRecorder::State {
  State(const Variant& account_value, int64_t count_value)
      : account(account_value),
        connection(UnitOfWork::Active(account_value)->connection()),
        count(count_value),
        headers(connection, kHeaderColumns, kHeaderValues, kHeadersPerStatement),
        rows(connection, kRowColumns, kRowValues, kRowsPerStatement) {}

  // Takes the numbers of every transaction to come in one advance of the counter, as
  // TakeTransactionNumber takes one: the company record's counter, refused as it refuses.
  void TakeNumbers() {
    taken = true;
    Command read(account);
    read.SetText(
        Sql("SELECT ISubScriberID, NextTransactionNumber FROM ISubScriber WHERE ISubScriberID=(SELECT "
            "MIN(ISubScriberID) FROM ISubScriber WHERE ISubScriberID>0);"));
    const auto company = read.ExecuteQuery();
    if (company->AtEOF()) {
      throw Error::Runtime(kObjectIsNothing, CompanyDatabaseName(account) + " has no company record.");
    }
    company_key = ToLong(company->Field(0));
    if (company->Field(1).IsNull()) return;  // a counter left for the caller to set: no number
    first = ToLong(company->Field(1));
    const int64_t room = int64_t{std::numeric_limits<int32_t>::max()} - *first;
    available = std::min(count, room);
    Command advance(account);
    advance.SetText(Sql("UPDATE ISubScriber SET NextTransactionNumber=", kValue, " WHERE ISubScriberID=", kValue, ";"));
    advance.Bind(db::ISubScriber::NextTransactionNumber, static_cast<int32_t>(*first + available));
    advance.Bind(db::ISubScriber::ISubScriberID, company_key);
    advance.Execute();
    // The numbers of the transactions recorded or attempted stay consumed after a rollback, as
    // BeginTransaction's do; those never reached are given back.
    UnitOfWork::Active(account)->KeepAfterRollback([first = *first, used = used](EngineConnection& kept) {
      const int32_t next = first + static_cast<int32_t>(*used);
      const auto statement = kept.Prepare(
          Sql("UPDATE ISubScriber SET NextTransactionNumber=", kValue, " WHERE NextTransactionNumber<", kValue, ";"));
      statement->BindInteger(1, next);
      statement->BindInteger(2, next);
      while (statement->Step()) {
      }
    });
  }

  // The account a line names, as CommitTransaction reads it, read at its first line.
  PostedAccount& Posted(int32_t account_id) {
    const auto found = accounts.find(account_id);
    if (found != accounts.end()) return found->second;
    Command read(account);
    read.SetText(PostedAccountsSql(1));
    read.Bind(ACAccount::ACAccountID, account_id);
    const auto row = read.ExecuteQuery();
    if (row->AtEOF()) {
      throw Error::Runtime(kInvalidArgument, "A line names account " + std::to_string(account_id) +
                                                 ", which does not exist; nothing is committed.");
    }
    return accounts.emplace(account_id, ReadPosted(*row, 0, account_id)).first->second;
  }

  const Variant& account;
  EngineConnection& connection;
  int64_t count;
  bool taken = false;
  bool spent = false;
  int32_t company_key = 0;
  std::optional<int32_t> first;  // the first number taken; nothing when the counter is Null
  int64_t available = 0;         // numbers taken
  std::shared_ptr<int64_t> used = std::make_shared<int64_t>(0);
  RowBatch headers;
  RowBatch rows;
  std::map<int32_t, PostedAccount> accounts;
};

TransactionRecorder::TransactionRecorder(const Variant& account, int64_t count)
    : state_(std::make_unique<State>(account, count)) {
  // About a kibibyte of pages per transaction (its header, rows and their index entries, with
  // room), so that a large import writes each page out once, at the end, instead of again and
  // again as the engine's usual small cache overflows; at most 256 MiB.
  state_->connection.HoldPagesInMemory(std::min<int64_t>(count, 256 * 1024));
}

TransactionRecorder::~TransactionRecorder() = default;

std::string TransactionRecorder::Record(Date date, const std::string& description, const std::string& user_name,
                                        Currency amount, const std::vector<RecordedLine>& lines, int& failed_line) {
  State& state = *state_;
  failed_line = -1;
  if (state.spent) throw Error::Runtime(kInvalidArgument, "The transaction recorder failed before; nothing more is recorded.");
  state.spent = true;  // until this transaction is recorded whole
  if (!state.taken) state.TakeNumbers();
  // As TakeTransactionNumber: a Null counter gives no number, which BeginTransaction cannot use.
  if (!state.first) ToLong(Variant::Null());
  if (*state.used >= state.available) {
    throw Error::Runtime(kOverflow, "Overflow: the transaction counter already holds 2147483647, its largest value.");
  }
  const std::string number = std::to_string(*state.first + *state.used);
  ++*state.used;

  const Variant type = static_cast<int32_t>(ttGENJRNL);
  state.headers.Add({Param(ACTransLog::Parent, state.company_key), Param(ACTransLog::LogDate, Date::Now()),
                     Param(ACTransLog::TransactionDate, date), Param(ACTransLog::Description, description),
                     Param(ACTransLog::TransactionNumber, number),
                     Param(ACTransLog::TransLogStatus, static_cast<int32_t>(tlsCOMMITTED)),
                     Param(ACTransLog::UserName, user_name), Param(ACTransLog::TransType, type),
                     Param(ACTransLog::Amount, amount)});
  // Each line checked as AddLine checks it, then, in order, its account's register totals and
  // balance moved as CommitTransaction moves them.
  for (size_t i = 0; i < lines.size(); ++i) {
    failed_line = static_cast<int>(i);
    const RecordedLine& line = lines[i];
    state.rows.Add(RegisterRow(line.account_id, date, line.description, line.side, line.amount, number, type));
  }
  failed_line = -1;
  for (const RecordedLine& line : lines) {
    const bool is_debit = line.side == Side::kDebit;
    PostedAccount& posted = state.Posted(line.account_id);
    CheckedSum(posted, "register totals", [&] { MoveTotal(is_debit ? posted.debits : posted.credits, line.amount, true); });
    if (!posted.balance) continue;
    CheckedSum(posted, "balance", [&] {
      posted.balance = is_debit ? *posted.balance - line.amount : *posted.balance + line.amount;
    });
  }
  state.spent = false;
  return number;
}

void TransactionRecorder::Finish() {
  State& state = *state_;
  if (state.spent) throw Error::Runtime(kInvalidArgument, "The transaction recorder failed before; nothing more is recorded.");
  state.spent = true;
  state.headers.Flush();
  state.rows.Flush();
  WriteBalances(state.account, state.accounts);
  state.spent = false;
}

}  // namespace ledgerkit::services
