// Services on ledger transactions, for the operations of every manager: typed functions that run
// inside the caller's active writing unit of work on `account` (never a unit of their own), so
// that a public operation converts its arguments once and calls these instead of another public
// operation. Each runs a fixed, small number of statements, whatever the number of lines.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::services {

enum class Side { kDebit, kCredit };

// A transaction number as the operations select by it: the caller's value as text (Null selects
// what an empty text selects), converted at the door.
std::string NumberArgument(const Variant& value);

// Takes the next transaction number: consumed from then on, whatever happens next, so a call that
// fails after this (a bad type, a value refused) leaves it used. Object is nothing (91) without
// a company record. A caller takes the number first and converts its values after, as the
// values of the header are checked only once it is numbered.
std::string TakeNumber(const Variant& account);

// The type `value` names, of those a transaction is begun with (ttCHQ, ttGENJRNL, ttDEP,
// ttINV): eBadTransType otherwise.
int32_t BegunType(const Variant& value);

// What a new transaction is begun with; nullopt is stored as Null.
struct TransactionStart {
  int32_t type = 0;  // as BegunType gives it
  std::optional<Date> date;
  std::optional<std::string> description;
  std::optional<std::string> user_name;
  std::optional<std::string> cheque_no;  // stored for ttCHQ and ttINV only
  std::optional<std::string> address;    // stored for ttCHQ and ttINV only
  std::optional<Currency> amount;        // the header's Amount; the first line's amount for ttCHQ, ttDEP
  std::optional<int32_t> line_account;   // the account of the first line (ttCHQ: a credit, ttDEP: a debit)
  std::optional<std::string> memo;       // the description of the first line
};

// A caller's values for a new transaction of `type` (BegunType), converted at the door in the
// order they are stored, each failing naming its column: the header's date, description, user,
// cheque number and address (those of ttCHQ and ttINV only), amount; then for ttCHQ and ttDEP
// the first line's amount (never Null), account and description.
TransactionStart StartArguments(int32_t type, const Variant& date, const Variant& description,
                                const Variant& user_name, const Variant& cheque_no, const Variant& address,
                                const Variant& amount, const Variant& line_account, const Variant& memo);

// A transaction just begun: its number and the key of its header, for the lines added next.
struct BegunTransaction {
  std::string number;
  int32_t header = 0;
};

// Begins the ledger transaction `number` (just taken): logs the header in progress, owned by the
// company and logged now, with the first line of a cheque or deposit.
BegunTransaction BeginTransaction(const Variant& account, const std::string& number, const TransactionStart& start);

// The values of a header that UpdateHeader replaces; nullopt is stored as Null.
struct HeaderValues {
  std::optional<Date> date;
  std::optional<std::string> description, cheque_no, address;
  std::optional<Currency> amount;
};

// A caller's header values and the number that selects the header(s), converted at the door in
// the order they are stored; a Null number selects nothing.
HeaderValues HeaderArguments(const Variant& date, const Variant& description, const Variant& cheque_no,
                             const Variant& address, const Variant& amount);
std::optional<std::string> StoredNumberArgument(const Variant& number);

// Replaces date, description, cheque number, address and amount of the header(s) numbered
// `number`; status, log date, user and type stay. An unknown number changes nothing.
void UpdateHeader(const Variant& account, const std::optional<std::string>& number, const HeaderValues& values);

// The key of the header of the transaction `number`: the first header with that number.
// Invalid argument (5) naming the number when there is none.
int32_t RequireHeaderKey(const Variant& account, const std::string& number);

// A line's values as AddLine stores them; nullopt is stored as Null.
struct LineValues {
  std::optional<int32_t> account_id;
  Currency amount;  // on `side`; never Null (a Null amount would turn a balance Null)
  Side side = Side::kDebit;
  std::optional<std::string> description;
};

// Adds a waiting line to the header `header` and returns the line's key.
int32_t AddLine(const Variant& account, int32_t header, const LineValues& line);

// As AddLine, to the transaction `number` (found as RequireHeaderKey finds it) in one statement.
int32_t AddLine(const Variant& account, const std::string& number, const LineValues& line);

// A line that CommitTransaction posts itself, after the waiting lines, without its being
// written as a waiting line first; `label` names it in a refusal ("The credit of invoice item 7").
struct PostedLine {
  LineValues values;
  std::string label;
};

// Commits the transaction `number` (found as RequireHeaderKey finds it): one register row per
// waiting line, in their order, then one per line of `posted` (a debit's amount as Withdrawal,
// a credit's as Deposit), each account's stored balance moved by its credits minus its debits
// (a Null balance stays Null), the status of every header with the number committed and their
// waiting lines removed. Nothing is written unless every line names an account that exists
// (Invalid argument naming the line) and every sum stays in the currency range (Overflow
// naming the account).
void CommitTransaction(const Variant& account, const std::string& number, std::span<const PostedLine> posted = {});

// Removes the transaction `number` (as StoredNumberArgument gives it) completely: its waiting
// lines, its register rows (the stored balance of each account they name restored) and its
// headers. A number without a transaction changes nothing. Overflow naming the account when a
// restored sum would leave the range.
void AbortTransaction(const Variant& account, const std::optional<std::string>& number);

// One line of a transaction that TransactionRecorder records whole.
struct RecordedLine {
  int32_t account_id = 0;
  Currency amount;  // on `side`
  Side side = Side::kDebit;
  std::string description;
};

// Records whole general-journal transactions, one after another, each left as BeginTransaction,
// AddLine for each of its lines and CommitTransaction would leave it: a committed header (under
// the next transaction number, logged now), one register row per line in order, each account's
// stored balance moved by its credits minus its debits (a Null balance stays Null); no waiting
// lines. Runs in the caller's active writing unit of work on `account`, on a fixed number of
// statements kept prepared and reused across transactions: the numbers are taken in one
// statement, headers and register rows are written many rows to a statement, and the balances
// are written once, by Finish; until then the headers and rows of the latest transactions may
// be unwritten and the stored balances stand as before.
//
// A failure of Record or Finish leaves the recorder spent and what it wrote incomplete: the
// caller's unit of work must be rolled back. The numbers taken stay consumed after a rollback
// as BeginTransaction's do: those of the transactions recorded or attempted. Single-threaded;
// must not outlive the unit of work.
class TransactionRecorder {
 public:
  // `count`: the transactions to be recorded (their numbers are taken at the first Record).
  TransactionRecorder(const Variant& account, int64_t count);
  ~TransactionRecorder();
  TransactionRecorder(const TransactionRecorder&) = delete;
  TransactionRecorder& operator=(const TransactionRecorder&) = delete;

  // Records a general-journal transaction dated `date` with `description`, `user_name` and the
  // header's `amount`, and returns its number. Fails as BeginTransaction would (no company
  // record, a counter at its largest value, a value refused), then as AddLine would (a
  // description refused) and CommitTransaction (Overflow naming the account of a balance or
  // register total that would leave the currency range); `failed_line` is then set to the
  // index of the line at fault, or -1 for the transaction as a whole.
  std::string Record(Date date, const std::string& description, const std::string& user_name, Currency amount,
                     const std::vector<RecordedLine>& lines, int& failed_line);

  // Writes the headers and rows still pending and every stored balance the transactions moved.
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ledgerkit::services
