// The journal import: a journal read whole and checked, then recorded in one unit of work, the
// chart through the ledger's public operations and the transactions through its services.
#include <cctype>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "reports/Journal.h"
#include "reports/JournalInternal.h"
#include "services/Chart.h"
#include "services/Company.h"
#include "services/Ledger.h"

namespace ledgerkit {

namespace {

using namespace journal;

enum class PostingKind { kReal, kVirtual, kBalancedVirtual };

// A line of the journal, or of a journal it includes.
struct Where {
  int line = 0;
  const std::string* file = nullptr;  // the included journal as messages name it; nothing: the journal itself
};

struct JournalPosting {
  Where line;
  std::string account;  // as written, without the brackets of a virtual posting
  PostingKind kind = PostingKind::kReal;
  std::optional<Currency> amount;
  std::string memo;
  // "= BALANCE" after the amount: the account's balance after this posting ("=*": with its
  // sub-accounts).
  std::optional<Currency> assertion;
  bool assertion_inclusive = false;
};

struct JournalTransaction {
  Where line;
  Date date;
  std::string description;
  std::vector<JournalPosting> postings;
};

// A journal's text as a message quotes it, control characters shown as \xHH: a message goes to
// terminals and to callers over JSON-RPC, and the journal's bytes are not to act there.
std::string Quoted(std::string_view text) {
  std::string shown;
  for (char c : QuoteForMessage(text)) {
    if (IsControl(c)) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

// "Line 12 of the journal", or of the included journal named.
std::string Place(Where where) {
  return "Line " + std::to_string(where.line) + " of " + (where.file ? Quoted(*where.file) : std::string("the journal"));
}

[[noreturn]] void LineFault(Where where, const std::string& message) {
  throw Error::Runtime(kInvalidArgument, Place(where) + ": " + message);
}

// A date as the journal tools write it: YYYY-MM-DD, YYYY/MM/DD or YYYY.MM.DD, a year of four
// digits (a short year would be read as one of the first centuries), month and day of one or two
// digits; or MM-DD (MM/DD, MM.DD) in `year`, when there is one (a Y directive's).
Date ReadDate(std::string_view text, Where line, std::optional<int> year) {
  int parts[3] = {0, 0, 0};
  size_t widths[3] = {0, 0, 0};
  size_t part = 0;
  char separator = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (++widths[part] > 4) LineFault(line, Quoted(text) + " is not a date (YYYY-MM-DD).");
      parts[part] = parts[part] * 10 + (c - '0');
    } else if ((c == '-' || c == '/' || c == '.') && widths[part] > 0 && part < 2 && (separator == 0 || c == separator)) {
      separator = c;
      ++part;
    } else {
      LineFault(line, Quoted(text) + " is not a date (YYYY-MM-DD).");
    }
  }
  if (part == 0 || widths[part] == 0) LineFault(line, Quoted(text) + " is not a date with a year (YYYY-MM-DD).");
  if (part == 1) {
    if (widths[0] > 2 || widths[1] > 2) LineFault(line, Quoted(text) + " is not a date (YYYY-MM-DD).");
    if (!year) {
      LineFault(line, Quoted(text) + " is not a date with a year (YYYY-MM-DD), and no Y directive before it gives one.");
    }
    parts[2] = parts[1];
    parts[1] = parts[0];
    parts[0] = *year;
  } else {
    if (widths[1] > 2 || widths[2] > 2) LineFault(line, Quoted(text) + " is not a date (YYYY-MM-DD).");
    if (widths[0] != 4) LineFault(line, Quoted(text) + " is not a date with a four-digit year (YYYY-MM-DD).");
  }
  try {
    return Date::FromCivil(parts[0], parts[1], parts[2]);
  } catch (const Error&) {
    LineFault(line, Quoted(text) + " is not a date.");
  }
}

// The next line of `in` into `text`, without its end: LF, CRLF or a lone CR (as old Mac files
// end their lines) ends a line. False at the end of the input.
bool NextLine(std::istream& in, std::string& text) {
  text.clear();
  std::streambuf* buffer = in.rdbuf();
  if (buffer == nullptr) return false;
  bool any = false;
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) return any;
    any = true;
    if (c == '\n') return true;
    if (c == '\r') {
      if (buffer->sgetc() == '\n') buffer->sbumpc();
      return true;
    }
    text.push_back(static_cast<char>(c));
  }
}

// An account directive's "type:" tag value as a balance-sheet class, as hledger reads the codes
// (any case): A, Asset(s), C, Cash; L, Liability, Liabilities; E, Equity, V, Conversion (a kind
// of equity); R, Revenue, Income; X, Expense(s). Nothing for anything else.
std::optional<int32_t> DeclaredClass(std::string_view code) {
  std::string lower(code);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "a" || lower == "asset" || lower == "assets" || lower == "c" || lower == "cash") return bstASSET;
  if (lower == "l" || lower == "liability" || lower == "liabilities") return bstLIABILITY;
  if (lower == "e" || lower == "equity" || lower == "v" || lower == "conversion") return bstEQUITY;
  if (lower == "r" || lower == "revenue" || lower == "revenues" || lower == "income") return bstINCOME;
  if (lower == "x" || lower == "expense" || lower == "expenses") return bstEXPENSE;
  return std::nullopt;
}

// The value of the tag `name` in a comment ("x:1, type: A"): tags are "name:value" pieces
// separated by commas, the name the word just before the colon. Nothing when it has no such tag.
std::optional<std::string_view> TagValue(std::string_view comment, std::string_view name) {
  for (size_t start = 0; start <= comment.size();) {
    const size_t comma = comment.find(',', start);
    const std::string_view piece = comment.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const size_t colon = piece.find(':');
    if (colon != std::string_view::npos) {
      const std::string_view before = Trim(piece.substr(0, colon));
      const size_t blank = before.find_last_of(" \t");
      if ((blank == std::string_view::npos ? before : before.substr(blank + 1)) == name) return Trim(piece.substr(colon + 1));
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return std::nullopt;
}

// An account name as the chart is found by it: each part cleaned as the journal writes it.
std::string AccountKey(std::string_view name) {
  std::string key;
  for (size_t start = 0;;) {
    const size_t colon = name.find(':', start);
    key += JournalNamePart(name.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    key += ':';
    start = colon + 1;
  }
  return key;
}

// What a journal holds that the import records or reports, read whole by JournalReader.
struct ReadJournal {
  std::vector<JournalTransaction> transactions;
  // The class an account directive's "type:" tag gives an account and the accounts below it,
  // by the account's name as the chart is found by it (AccountKey).
  std::map<std::string, int32_t> declared_classes;
  std::vector<std::string> warnings;
};

// Reads a journal and the journals it includes, checking every line; the first fault throws
// naming its file and line. The reader owns the names of the included files that the lines of
// what it read point to, so it must outlive them.
class JournalReader {
 public:
  // Reads `in`; `path` is its file, for the includes it names (empty: a journal with no file of
  // its own, which cannot include another).
  ReadJournal Read(std::istream& in, const std::filesystem::path& path) {
    if (!path.empty()) open_.push_back(OpenFile{Identity(path), path.string()});
    ReadFile(in, nullptr, path);
    return std::move(read_);
  }

 private:
  // What a directive sets for the lines after it, in the file it is in and the files that file
  // includes from then on; an included file's own settings end with it.
  struct Scope {
    char decimal_mark = '.';  // ',' after a directive that makes it so
    std::optional<int> year;  // a Y directive's, for dates written without one
    std::vector<std::pair<std::string, std::string>> aliases;  // OLD, NEW in the order written
  };

  static std::filesystem::path Identity(const std::filesystem::path& path) {
    std::error_code ignored;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
    return canonical.empty() ? path.lexically_normal() : canonical;
  }

  void ReadFile(std::istream& in, const std::string* file, const std::filesystem::path& path) {
    std::string text;
    Where line{0, file};
    bool in_comment_block = false;
    bool in_directive = false;
    while (NextLine(in, text)) {
      ++line.line;
      if (line.line == 1 && text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
      // What is imported is exported again for tools that read UTF-8 only; a comment too.
      if (!IsWellFormedUtf8(text)) LineFault(line, "the line is not UTF-8 text.");
      const std::string_view view = text;
      if (in_comment_block) {
        if (Trim(view) == "end comment") in_comment_block = false;
        continue;
      }
      if (Trim(view).empty()) {
        Close();
        in_directive = false;
        continue;
      }
      if (IsBlank(view.front())) {
        const std::string_view rest = Trim(view);
        if (rest.front() == ';' || rest.front() == '#') {
          // A comment line in a transaction, or of an account directive, where it may declare the type.
          if (!current_ && in_directive && !declaring_.empty()) TakeType(declaring_, rest.substr(1), line);
          continue;
        }
        if (current_) {
          ReadPosting(rest, line);
        } else if (!in_directive) {
          LineFault(line, "an indented line outside a transaction.");
        }
        continue;
      }
      Close();
      in_directive = false;
      declaring_.clear();
      const char first = view.front();
      if (first == ';' || first == '#' || first == '*' || first == '%' || first == '|') continue;
      if (std::isdigit(static_cast<unsigned char>(first))) {
        ReadHeader(view, line);
        continue;
      }
      if (Trim(view) == "comment") {
        in_comment_block = true;
        continue;
      }
      in_directive = ReadDirective(view, line, path);
    }
    Close();
  }

  void Close() {
    if (!current_) return;
    if (current_->postings.empty()) {
      read_.warnings.push_back(Place(current_->line) + ": the transaction has no postings; it is not imported.");
    } else {
      read_.transactions.push_back(std::move(*current_));
    }
    current_.reset();
  }

  // The "type:" tag of an account directive's comment, when it has one, declares the class of
  // the account `account` and those below it.
  void TakeType(const std::string& account, std::string_view comment, Where line) {
    const auto code = TagValue(comment, "type");
    if (!code) return;
    const auto sheet = DeclaredClass(*code);
    if (!sheet) {
      LineFault(line, Quoted(*code) +
                          " is not an account type (A, L, E, R, X, C or V; Asset, Liability, Equity, Revenue, "
                          "Income, Expense, Cash or Conversion).");
    }
    read_.declared_classes[AccountKey(account)] = *sheet;
  }

  // The account name of a posting with the aliases in force applied, the latest first, each to
  // what the ones before it made: an alias OLD = NEW renames the account OLD and those below it.
  std::string Aliased(std::string name) const {
    for (auto alias = scope_.aliases.rbegin(); alias != scope_.aliases.rend(); ++alias) {
      const std::string& old = alias->first;
      if (name.size() >= old.size() && name.compare(0, old.size(), old) == 0 &&
          (name.size() == old.size() || name[old.size()] == ':')) {
        name = alias->second + name.substr(old.size());
      }
    }
    return name;
  }

  // `include FILE`: the file read where the directive stands, found from the directory of the
  // file that names it, with the settings in force passed in and restored after it.
  void Include(std::string_view written, Where line, const std::filesystem::path& path) {
    if (written.empty()) LineFault(line, "an include names no file.");
    if (path.empty()) {
      LineFault(line, "the include of " + Quoted(written) +
                          " needs the journal's own file to be found from; a journal read from a stream without "
                          "a file cannot include another.");
    }
    const std::filesystem::path included = (path.parent_path() / std::filesystem::path(std::string(written))).lexically_normal();
    const std::filesystem::path identity = Identity(included);
    for (size_t i = 0; i < open_.size(); ++i) {
      if (open_[i].identity != identity) continue;
      std::string chain;
      for (size_t j = i; j < open_.size(); ++j) chain += Quoted(open_[j].shown) + " includes ";
      LineFault(line, "the includes go round in a loop: " + chain + Quoted(open_[i].shown) + ".");
    }
    std::ifstream in(included, std::ios::binary);
    if (!in || std::filesystem::is_directory(included)) {
      LineFault(line, "cannot read the included journal " + Quoted(included.string()) + ".");
    }
    const std::string* name = &names_.emplace_back(included.string());
    open_.push_back(OpenFile{identity, *name});
    const Scope outer = scope_;
    ReadFile(in, name, included);
    scope_ = outer;
    open_.pop_back();
  }

  // Directives that do not change what the transactions mean are passed over (with their
  // indented lines); periodic and automated transaction rules too, with a warning; the others
  // would, and are refused. True when the indented lines after it belong to the directive.
  bool ReadDirective(std::string_view text, Where line, const std::filesystem::path& path) {
    const std::string_view word = text.substr(0, text.find_first_of(" \t"));
    const std::string_view argument = Trim(text.substr(word.size()));
    static constexpr std::string_view kPassed[] = {"commodity", "payee", "tag", "P", "D", "end"};
    if (text.front() == '~') {
      read_.warnings.push_back(Place(line) + ": the periodic transaction rule " + Quoted(Trim(text)) +
                               " is not imported (hledger too uses it only with --forecast).");
      return true;
    }
    if (text.front() == '=') {
      read_.warnings.push_back(Place(line) + ": the automated posting rule " + Quoted(Trim(text)) +
                               " is not imported (hledger too applies it only with --auto).");
      return true;
    }
    if (word == "decimal-mark") {
      if (argument != "." && argument != ",") LineFault(line, "the decimal mark is '.' or ','.");
      scope_.decimal_mark = argument.front();
      return true;
    }
    if (word == "include") {
      Include(Trim(argument.substr(0, argument.find(';'))), line, path);
      return false;
    }
    if (word == "account") {
      const size_t end = std::min({argument.find("  "), argument.find('\t'), argument.find(';')});
      declaring_ = std::string(Trim(argument.substr(0, end)));
      if (declaring_.empty()) LineFault(line, "an account directive names no account.");
      const size_t comment = argument.find(';');
      if (comment != std::string_view::npos) TakeType(declaring_, argument.substr(comment + 1), line);
      return true;
    }
    if (word == "alias") {
      const size_t equals = argument.find('=');
      const std::string_view old = Trim(argument.substr(0, equals));
      if (!old.empty() && old.front() == '/') {
        LineFault(line, "regular-expression aliases (" + Quoted(Trim(text)) + ") are not imported.");
      }
      if (equals == std::string_view::npos || old.empty()) LineFault(line, "an alias is written \"alias OLD = NEW\".");
      scope_.aliases.emplace_back(std::string(old), std::string(Trim(argument.substr(equals + 1))));
      return true;
    }
    if (word == "end" && argument == "aliases") {
      scope_.aliases.clear();
      return true;
    }
    if (word == "Y" || word == "year" || (word == "apply" && argument.starts_with("year"))) {
      const std::string_view year = word == "apply" ? Trim(argument.substr(4)) : argument;
      if (year.size() != 4 || !std::all_of(year.begin(), year.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        LineFault(line, "the year of a Y directive is four digits, not " + Quoted(year) + ".");
      }
      scope_.year = std::stoi(std::string(year));
      return true;
    }
    if (word == "commodity" || word == "D") TakeDecimalMark(text.substr(word.size()));
    for (std::string_view passed : kPassed) {
      if (word == passed) return true;
    }
    LineFault(line, Quoted(word) + " is neither a transaction nor a directive that can be imported.");
  }

  // A commodity or default-commodity directive's sample amount ("1.000,00 EUR") sets the
  // decimal mark of the amounts after it: the last mark when both are written, else the one
  // mark written once (as in "1,000 EUR", read as one with three decimals); a mark written
  // several times only groups. A sample without a mark changes nothing.
  void TakeDecimalMark(std::string_view text) {
    const size_t first = text.find_first_of("0123456789");
    if (first == std::string_view::npos) return;
    size_t end = first;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.' ||
                                 text[end] == ',')) {
      ++end;
    }
    const std::string_view number = text.substr(first, end - first);
    const size_t last = number.find_last_of(".,");
    if (last == std::string_view::npos) return;
    const char mark = number[last];
    const char other = mark == '.' ? ',' : '.';
    if (number.find(other) != std::string_view::npos || number.find(mark) == last) {
      scope_.decimal_mark = mark;
    } else {
      scope_.decimal_mark = other;
    }
  }

  void ReadHeader(std::string_view text, Where line) {
    const size_t end = text.find_first_of(" \t;");
    std::string_view date = text.substr(0, end);
    const size_t equals = date.find('=');
    JournalTransaction transaction;
    transaction.line = line;
    transaction.date = ReadDate(date.substr(0, equals), line, scope_.year);
    // A secondary date is not kept, but a wrong one is refused like any other date; without a
    // year it has the primary date's.
    if (equals != std::string_view::npos) ReadDate(date.substr(equals + 1), line, transaction.date.year());
    std::string_view rest = end == std::string_view::npos ? std::string_view() : Trim(text.substr(end));
    if (!rest.empty() && (rest.front() == '*' || rest.front() == '!')) rest = Trim(rest.substr(1));
    if (!rest.empty() && rest.front() == '(') {
      const size_t close = rest.find(')');
      if (close != std::string_view::npos) rest = Trim(rest.substr(close + 1));
    }
    transaction.description = std::string(Trim(rest.substr(0, rest.find(';'))));
    current_ = std::move(transaction);
  }

  void ReadPosting(std::string_view text, Where line) {
    JournalPosting posting;
    posting.line = line;
    if ((text.front() == '*' || text.front() == '!') && text.size() > 1 && IsBlank(text[1])) text = Trim(text.substr(1));
    std::string_view account, rest;
    if (text.front() == '(' || text.front() == '[') {
      const char close = text.front() == '(' ? ')' : ']';
      const size_t end = text.find(close);
      if (end == std::string_view::npos) LineFault(line, "a virtual posting's account has no closing " + std::string(1, close) + ".");
      posting.kind = close == ')' ? PostingKind::kVirtual : PostingKind::kBalancedVirtual;
      account = text.substr(1, end - 1);
      rest = text.substr(end + 1);
    } else {
      size_t end = text.find("  ");
      end = std::min(end, text.find('\t'));
      end = std::min(end, text.find(';'));
      account = text.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : text.substr(end);
    }
    posting.account = Aliased(std::string(Trim(account)));
    if (posting.account.empty()) LineFault(line, "a posting without an account.");
    const size_t comment = rest.find(';');
    if (comment != std::string_view::npos) {
      posting.memo = std::string(Trim(rest.substr(comment + 1)));
      rest = rest.substr(0, comment);
    }
    rest = Trim(rest);
    const size_t equals = rest.find('=');
    if (equals != std::string_view::npos) {
      // "= B", "== B" (the same here, with one currency), "=* B" or "==* B".
      std::string_view asserted = rest.substr(equals + 1);
      if (!asserted.empty() && asserted.front() == '=') asserted.remove_prefix(1);
      if (!asserted.empty() && asserted.front() == '*') {
        posting.assertion_inclusive = true;
        asserted.remove_prefix(1);
      }
      asserted = Trim(asserted);
      if (asserted.empty() || asserted.find('=') != std::string_view::npos) {
        LineFault(line, Quoted(rest) + " is not an amount with a balance assertion.");
      }
      const std::string_view amount = Trim(rest.substr(0, equals));
      if (amount.empty()) {
        LineFault(line, "a balance assignment (" + Quoted(rest) + " without an amount) is not imported.");
      }
      posting.amount = ReadAmount(amount, line);
      posting.assertion = ReadAmount(asserted, line);
    } else if (!rest.empty()) {
      posting.amount = ReadAmount(rest, line);
    }
    current_->postings.push_back(std::move(posting));
  }

  // An amount: a decimal number with the decimal mark ('.', or ',' after a directive sets it)
  // and optional grouping by the other mark, at most
  // four decimals (more only when they are zeros), a sign, and at most one commodity symbol in
  // the whole journal. A price is refused.
  Currency ReadAmount(std::string_view text, Where line) {
    const std::string shown = Quoted(text);
    if (text.find('@') != std::string_view::npos) LineFault(line, "prices and costs (" + shown + ") are not imported.");
    bool negative = false;
    bool signed_ = false;
    auto take_sign = [&] {
      if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        if (signed_) LineFault(line, shown + " is not an amount.");
        negative = text.front() == '-';
        signed_ = true;
        text = Trim(text.substr(1));
      }
    };
    auto take_commodity = [&](std::string_view& from, bool front) -> std::string {
      if (from.empty()) return {};
      if (front ? from.front() == '"' : from.back() == '"') {
        const size_t other = front ? from.find('"', 1) : from.rfind('"', from.size() - 2);
        if (other == std::string_view::npos || from.size() < 2) LineFault(line, shown + " is not an amount.");
        std::string symbol = front ? std::string(from.substr(1, other - 1)) : std::string(from.substr(other + 1, from.size() - other - 2));
        from = front ? Trim(from.substr(other + 1)) : Trim(from.substr(0, other));
        return symbol;
      }
      auto is_symbol = [](char c) {
        return !std::isdigit(static_cast<unsigned char>(c)) && c != '-' && c != '+' && c != '.' && c != ',' && !IsBlank(c);
      };
      size_t length = 0;
      if (front) {
        while (length < from.size() && is_symbol(from[length])) ++length;
        std::string symbol(from.substr(0, length));
        from = Trim(from.substr(length));
        return symbol;
      }
      while (length < from.size() && is_symbol(from[from.size() - 1 - length])) ++length;
      std::string symbol(from.substr(from.size() - length));
      from = Trim(from.substr(0, from.size() - length));
      return symbol;
    };
    take_sign();
    std::string symbol = take_commodity(text, true);
    take_sign();
    const std::string suffix = take_commodity(text, false);
    if (!symbol.empty() && !suffix.empty()) LineFault(line, shown + " is not an amount.");
    if (symbol.empty()) symbol = suffix;
    if (!symbol.empty()) {
      if (commodity_.empty()) commodity_ = symbol;
      if (symbol != commodity_) {
        LineFault(line, shown + " is in " + Quoted(symbol) + ", but the journal's amounts are in " +
                            Quoted(commodity_) + "; the ledger keeps one currency.");
      }
    }
    // The number: digits, optional groups of three after the grouping mark, then the decimal
    // mark and the decimals.
    const char group_mark = scope_.decimal_mark == '.' ? ',' : '.';
    std::string digits;
    size_t point = text.find(scope_.decimal_mark);
    const std::string_view whole = text.substr(0, point);
    const std::string_view decimals = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    size_t group = 0;
    bool grouped = false;
    for (size_t i = 0; i < whole.size(); ++i) {
      const char c = whole[i];
      if (c == group_mark) {
        if (digits.empty() || (grouped && group != 3)) LineFault(line, shown + " is not an amount.");
        grouped = true;
        group = 0;
      } else if (std::isdigit(static_cast<unsigned char>(c))) {
        digits += c;
        ++group;
      } else {
        LineFault(line, shown + " is not an amount.");
      }
    }
    if (grouped && group != 3) LineFault(line, shown + " is not an amount.");
    for (char c : decimals) {
      if (!std::isdigit(static_cast<unsigned char>(c))) LineFault(line, shown + " is not an amount.");
    }
    std::string_view kept = decimals;
    while (kept.size() > 4 && kept.back() == '0') kept.remove_suffix(1);
    if (kept.size() > 4) {
      LineFault(line, shown + " has more than four decimals; the ledger keeps amounts to the ten-thousandth.");
    }
    if (digits.empty() && kept.empty()) LineFault(line, shown + " is not an amount.");
    std::string number = negative ? "-" : "";
    number += digits.empty() ? "0" : digits;
    if (!kept.empty()) number += "." + std::string(kept);
    try {
      return CurrencyFromText(number);
    } catch (const Error&) {
      LineFault(line, shown + " is beyond the range of amounts the ledger keeps.");
    }
  }

  ReadJournal read_;
  std::optional<JournalTransaction> current_;
  std::string commodity_;
  Scope scope_;
  std::string declaring_;                      // the account of the account directive being read
  std::deque<std::string> names_;              // the included files, as messages name them
  struct OpenFile {
    std::filesystem::path identity;  // canonical, to find a loop
    std::string shown;               // as messages name it
  };
  std::vector<OpenFile> open_;                 // the files being read, the outermost first
};

// Runs one public operation of an import; its failure names the journal's line.
template <class Body>
auto AtLine(Where line, Body&& body) {
  try {
    return body();
  } catch (const Error& error) {
    throw error.WithDescription(Place(line) + ": " + error.description());
  }
}

// Fills the one elided amount of each group of postings that must balance and checks that
// every such group adds up to zero.
void Balance(JournalTransaction& transaction) {
  for (PostingKind kind : {PostingKind::kReal, PostingKind::kBalancedVirtual}) {
    Currency sum;
    JournalPosting* elided = nullptr;
    for (JournalPosting& posting : transaction.postings) {
      if (posting.kind == PostingKind::kVirtual && !posting.amount) {
        LineFault(posting.line, "a virtual posting in parentheses needs an amount.");
      }
      if (posting.kind != kind) continue;
      if (!posting.amount) {
        if (elided) LineFault(posting.line, "only one posting of a transaction may leave out its amount.");
        elided = &posting;
        continue;
      }
      try {
        sum += *posting.amount;
      } catch (const Error&) {
        LineFault(posting.line, "the transaction's postings add up beyond the range of amounts.");
      }
    }
    if (elided) {
      // The least amount has no opposite in range.
      try {
        elided->amount = -sum;
      } catch (const Error&) {
        LineFault(elided->line, "the left-out amount, the opposite of " + sum.ToText() +
                                    ", is beyond the range of amounts the ledger keeps.");
      }
    } else if (sum != Currency()) {
      LineFault(transaction.line, "the transaction does not balance: its postings add up to " + sum.ToText() + ".");
    }
  }
}

// Checks every balance assertion, in journal order, against the balance the journal's postings
// so far (elided amounts filled) give the account, virtual postings included.
void CheckAssertions(const std::vector<JournalTransaction>& transactions) {
  std::map<std::string, Currency> balances;
  for (const JournalTransaction& transaction : transactions) {
    for (const JournalPosting& posting : transaction.postings) {
      const std::string key = AccountKey(posting.account);
      try {
        balances[key] += *posting.amount;
      } catch (const Error&) {
        LineFault(posting.line, "the balance of " + Quoted(posting.account) + " runs beyond the range of amounts.");
      }
      if (!posting.assertion) continue;
      Currency balance = balances[key];
      if (posting.assertion_inclusive) {
        balance = Currency();
        const std::string below = key + ":";
        for (const auto& [name, amount] : balances) {
          if (name != key && !name.starts_with(below)) continue;
          try {
            balance += amount;
          } catch (const Error&) {
            LineFault(posting.line, "the balance of " + Quoted(posting.account) + " runs beyond the range of amounts.");
          }
        }
      }
      if (balance != *posting.assertion) {
        LineFault(posting.line, "the balance assertion of " + Quoted(posting.account) + " is false: its balance" +
                                    (posting.assertion_inclusive ? " with its sub-accounts" : "") + " is " +
                                    balance.ToText() + ", not " + posting.assertion->ToText() + ".");
      }
    }
  }
}

// The class a top-level account name gives its accounts, when it names one.
std::optional<int32_t> TopLevelClass(std::string_view top) {
  std::string lower(top);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "assets" || lower == "asset") return bstASSET;
  if (lower == "liabilities" || lower == "liability") return bstLIABILITY;
  if (lower == "equity") return bstEQUITY;
  if (lower == "income" || lower == "revenue" || lower == "revenues") return bstINCOME;
  if (lower == "expenses" || lower == "expense") return bstEXPENSE;
  return std::nullopt;
}

// Finds or creates, through the public operations, the accounts a journal names.
class ChartBuilder {
 public:
  ChartBuilder(const Variant& account, const Variant& user, const std::map<std::string, int32_t>& declared_classes,
               JournalImport& counts)
      : account_(account), user_(user), declared_classes_(declared_classes), counts_(counts) {
    const Chart chart = ReadChart(ActiveConnection(account));
    // A type name may be a type of several classes, one type each; the chart's first of a class
    // is the one found.
    for (const auto& [id, type] : chart.types) {
      if (type.balance_sheet_type) types_.try_emplace({*type.balance_sheet_type, type.name}, id);
    }
    for (const auto& [id, entry] : chart.accounts) {
      if (entry.type) accounts_.try_emplace({*entry.type, entry.parent.value_or(0), entry.label}, id);
    }
    // The chart's numbers, each with the accounts that have it and their names as the journal
    // writes them: an account of the journal whose number the chart has is that account.
    auto numbers = ActiveConnection(account).Prepare(
        Sql("SELECT ACAccountID, AccountNumber, Name FROM ACAccount ORDER BY ACAccountID;"));
    while (numbers->Step()) {
      const auto id = KeyColumn(*numbers, 0);
      const std::string number = TextColumn(*numbers, 1);
      if (!id || number.empty()) continue;
      const auto charted = chart.accounts.find(*id);
      by_number_[number].push_back(NumberedAccount{*id, JournalNamePart(TextColumn(*numbers, 2)), TextColumn(*numbers, 2),
                                                   charted == chart.accounts.end() ? std::nullopt : charted->second.type});
    }
  }

  int32_t Resolve(const std::string& name, Where line) {
    const auto known = resolved_.find(name);
    if (known != resolved_.end()) return known->second;
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
      const size_t colon = name.find(':', start);
      parts.push_back(JournalNamePart(std::string_view(name).substr(start, colon - start)));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    const auto sheet = ClassOf(parts);
    if (!sheet) {
      LineFault(line, "the account " + Quoted(name) +
                          " is not under Assets, Liabilities, Equity, Income (or Revenue) or Expenses, and no account "
                          "directive declares its type (\"account " + parts.front() + "  ; type: A\", or L, E, R, X).");
    }
    // Class:Type:Account[:Sub...]; with fewer parts the type is named after the top level.
    const std::string& type_name = parts.size() >= 3 ? parts[1] : parts[0];
    std::vector<std::string> labels(parts.begin() + (parts.size() >= 3 ? 2 : parts.size() == 2 ? 1 : 0), parts.end());
    // The type is created only when an account is: an account found by its number keeps its own
    // type, which its sub-accounts in the journal then have too.
    std::optional<int32_t> type = FindType(*sheet, type_name);
    int32_t parent = 0;
    for (const std::string& label : labels) {
      const auto [id, id_type] = Account(type, parent, label, line, [&] { return CreateType(*sheet, type_name, line); });
      parent = id;
      type = id_type;
    }
    resolved_.emplace(name, parent);
    return parent;
  }

 private:
  // The class of the account whose name has the cleaned `parts`: the one an account directive
  // declares for it or for the nearest account above it, else the one its top level names.
  std::optional<int32_t> ClassOf(const std::vector<std::string>& parts) const {
    if (!declared_classes_.empty()) {
      std::string key;
      std::optional<int32_t> declared;
      for (const std::string& part : parts) {
        key += (key.empty() ? "" : ":") + part;
        const auto found = declared_classes_.find(key);
        if (found != declared_classes_.end()) declared = found->second;
      }
      if (declared) return declared;
    }
    return TopLevelClass(parts.front());
  }

  // The type of the class named `name`; nothing when the class has none (another class may).
  std::optional<int32_t> FindType(int32_t sheet, const std::string& name) const {
    const auto found = types_.find({sheet, name});
    if (found != types_.end()) return found->second;
    return std::nullopt;
  }

  int32_t CreateType(int32_t sheet, const std::string& name, Where line) {
    if (const auto found = FindType(sheet, name)) return *found;
    const int32_t id = AtLine(line, [&] {
      if (!type_owner_) type_owner_ = services::CompanyKey(account_);
      return services::AddAccountType(account_, *type_owner_,
                                      {.name = name, .description = "", .institution_required = false, .balance_sheet_type = sheet});
    });
    types_.emplace(std::make_pair(sheet, name), id);
    ++counts_.account_types_created;
    return id;
  }

  // The account `label` under `parent` (0: top level) of type `type`, and its type: found by
  // its place in the chart, else by its number, else created (with the type `make_type` gives
  // when `type` is nothing).
  template <class MakeType>
  std::pair<int32_t, std::optional<int32_t>> Account(std::optional<int32_t> type, int32_t parent,
                                                     const std::string& label, Where line, MakeType&& make_type) {
    if (type) {
      const auto found = accounts_.find(std::make_tuple(*type, parent, label));
      if (found != accounts_.end()) return {found->second, type};
    }
    // "NUMBER Name": the first word is the number when it begins with a digit and more follows.
    std::string number, name = label;
    const size_t blank = label.find(' ');
    if (blank != std::string::npos && std::isdigit(static_cast<unsigned char>(label.front()))) {
      number = label.substr(0, blank);
      name = label.substr(blank + 1);
    }
    if (!number.empty()) {
      // A number names one account: the chart's when it has the number (wherever the journal
      // places it), refused when the names differ; never a second account with the number.
      const auto numbered = by_number_.find(number);
      if (numbered != by_number_.end()) {
        const std::vector<NumberedAccount>& holders = numbered->second;
        if (holders.size() > 1) {
          std::string keys;
          for (size_t i = 0; i < holders.size(); ++i) {
            keys += (i == 0 ? "" : i + 1 == holders.size() ? " and " : ", ") + std::to_string(holders[i].id);
          }
          LineFault(line, "the account number " + number + " of " + Quoted(label) +
                              " is ambiguous: the company's accounts with keys " + keys + " share it.");
        }
        const NumberedAccount& holder = holders.front();
        if (holder.journal_name != name) {
          LineFault(line, "the account number " + number + " is named " + Quoted(name) + " in the journal but " +
                              Quoted(holder.name) + " in the company; rename one of them so that they agree.");
        }
        return {holder.id, holder.type};
      }
    }
    const int32_t new_type = type ? *type : make_type();
    const int32_t id = AtLine(line, [&] {
      if (!account_owner_) account_owner_ = services::AccountOwner(account_, user_);
      const services::AccountValues values{.number = number,
                                           .name = name,
                                           .description = "",
                                           .note = "",
                                           .inactive = false,
                                           .bank_account_no = "",
                                           .parent_account = parent == 0 ? std::nullopt : std::optional<int32_t>(parent),
                                           .account_type = new_type,
                                           .institution = std::nullopt};
      return services::AddAccount(account_, *account_owner_, values);
    });
    accounts_.emplace(std::make_tuple(new_type, parent, label), id);
    if (!number.empty()) by_number_[number].push_back(NumberedAccount{id, name, name, new_type});
    ++counts_.accounts_created;
    return {id, new_type};
  }

  struct NumberedAccount {
    int32_t id = 0;
    std::string journal_name;  // the name as the journal writes it
    std::string name;          // as stored
    std::optional<int32_t> type;
  };

  const Variant& account_;
  const Variant& user_;
  const std::map<std::string, int32_t>& declared_classes_;
  JournalImport& counts_;
  // The companies that own the types and the accounts made, found at the first of each.
  std::optional<int32_t> type_owner_, account_owner_;
  std::map<std::pair<int32_t, std::string>, int32_t> types_;          // class, name -> key
  std::map<std::tuple<int32_t, int32_t, std::string>, int32_t> accounts_;  // type, parent, label -> key
  std::map<std::string, int32_t> resolved_;                                // journal name -> key
  std::map<std::string, std::vector<NumberedAccount>> by_number_;          // account number -> accounts
};

// Checks what `reader` read from `journal` (a file at `path`, or a stream when it is empty) and
// records it.
JournalImport Import(const Variant& account, std::istream& journal, const std::filesystem::path& path,
                     const Variant& user_name) {
  JournalReader reader;  // owns the names of included files the lines point to
  ReadJournal read = reader.Read(journal, path);
  std::vector<JournalTransaction>& transactions = read.transactions;
  for (JournalTransaction& transaction : transactions) Balance(transaction);
  CheckAssertions(transactions);
  JournalImport counts;
  UnitOfWork::Run(account, Access::kWrite, [&] {
    const Variant user =
        user_name.IsEmpty() || ToText(user_name).empty() ? ImportUser(ActiveConnection(account), "own the accounts an import creates") : user_name;
    const std::string user_text = ToText(user);
    ChartBuilder chart(account, user, read.declared_classes, counts);
    // The transactions go straight to the ledger's services, a few statements reused for all,
    // leaving what BeginTransaction, PostDebit, PostCredit and EndTransaction would.
    services::TransactionRecorder recorder(account, static_cast<int64_t>(transactions.size()));
    std::vector<services::RecordedLine> lines;
    for (const JournalTransaction& transaction : transactions) {
      lines.clear();
      Currency debits;
      for (const JournalPosting& posting : transaction.postings) {
        lines.push_back(services::RecordedLine{chart.Resolve(posting.account, posting.line), Currency(),
                                               services::Side::kDebit, posting.memo});
        if (*posting.amount > Currency()) AtLine(posting.line, [&] { debits += *posting.amount; });
      }
      for (size_t i = 0; i < lines.size(); ++i) {
        const JournalPosting& posting = transaction.postings[i];
        if (*posting.amount >= Currency()) {
          lines[i].amount = *posting.amount;
        } else {
          AtLine(posting.line, [&] { lines[i].amount = -*posting.amount; });
          lines[i].side = services::Side::kCredit;
        }
      }
      int failed_line = -1;
      try {
        recorder.Record(transaction.date, transaction.description, user_text, debits, lines, failed_line);
      } catch (const Error& error) {
        const Where where = failed_line < 0 ? transaction.line : transaction.postings[failed_line].line;
        throw error.WithDescription(Place(where) + ": " + error.description());
      }
      ++counts.transactions;
    }
    recorder.Finish();
  });
  counts.warnings = std::move(read.warnings);
  return counts;
}

}  // namespace

JournalImport ImportJournal(const Variant& account, std::istream& journal, const Variant& user_name) {
  return WithMarkedReraise([&] { return Import(account, journal, {}, user_name); });
}

JournalImport ImportJournal(const Variant& account, const std::filesystem::path& journal, const Variant& user_name) {
  return WithMarkedReraise([&] {
    std::ifstream in;
    if (!std::filesystem::is_directory(journal)) in.open(journal, std::ios::binary);
    if (!in) throw Error::Runtime(kInvalidArgument, "Cannot read the journal " + journal.string() + ".");
    return Import(account, in, journal, user_name);
  });
}

}  // namespace ledgerkit
