// The rules file of a CSV statement, read and checked: how the file is laid out (skip,
// separator, encoding, fields) and what each row gives (assignments, top-level and in if-blocks).
// README.md ("CSV rules") describes the format; statements/CsvStatement.cpp applies the rules.
//
// Library-internal to statements/. A CsvRules is an immutable value once read.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ledgerkit::csv {

// Where a rule is: "Line 7 of bank.rules", the start of every message about it.
struct RuleSource {
  std::string file;  // the rules file's name, as messages give it
  int line = 0;
  std::string Where() const { return "Line " + std::to_string(line) + " of " + file; }
};

// What an assignment sets for a row.
enum class Target : size_t {
  kDate,
  kDateFormat,
  kDecimalMark,
  kAmount,
  kAmountIn,
  kAmountOut,
  kDescription,
  kCurrency,
  kAccount,  // the counter-account: account2 or account
  kCode,     // the cheque number
  kCount
};
inline constexpr size_t kTargetCount = static_cast<size_t>(Target::kCount);

// A value with field references: literal text and columns (0-based) in turn.
struct TemplatePiece {
  std::string literal;               // used when column is empty
  std::optional<size_t> column;
};

// A strftime-like date format, checked when read: %Y %y %-y %m %-m %d %-d %b %h %B %H %-H %M %-M
// %S %-S %% and literal text (a blank matches one or more blanks).
struct DateFormatPart {
  enum Kind { kLiteral, kBlank, kYear4, kYear2, kMonth, kMonthName, kMonthFullName, kDay, kHour, kMinute, kSecond };
  Kind kind = kLiteral;
  bool padded = true;  // two digits exactly; false (%-m, %-y): one or two
  std::string literal;
};

struct Assignment {
  Target target = Target::kDate;
  std::string name;  // the rule's name as written (account2, amount-in...)
  std::string text;  // the value as written
  std::vector<TemplatePiece> pieces;  // for the values that take field references
  std::vector<DateFormatPart> date_format;  // kDateFormat
  char decimal_mark = '.';                  // kDecimalMark
  // kAmount written "-%N" (a '-' then the field): the amount read from the field is negated, for
  // a card statement that shows charges as positive. The '-' is not among `pieces`.
  bool negated = false;
  RuleSource source;
};

// A compiled regular expression (ICU's, case-insensitive): its engine keeps its backtracking
// off the call stack and within limits, so a huge or hostile row cannot crash the reader.
struct CompiledPattern;

// One pattern line of an if-block: a case-insensitive regular expression searched in the whole
// row (the fields joined with the separator) or in one field.
struct Matcher {
  std::optional<size_t> column;  // empty: the whole row
  bool negated = false;          // "!" before the pattern: the line matches when it does not
  std::string pattern;
  // A pattern of ASCII text without regular-expression syntax is searched as plain text
  // (ignoring case), which is much faster than a regular expression on large statements.
  bool literal = false;
  std::shared_ptr<CompiledPattern> regex;  // when not literal; one matcher, not for threads
  RuleSource source;

  // Whether the pattern (negation aside) is found in `subject`, UTF-8 text. Fails with the
  // message's end, "the pattern ... could not be searched in the row ...", when the engine
  // gives up (it runs out of its step or memory limits).
  bool Found(std::string_view subject, const std::string& where_row) const;
};

struct Block {
  std::vector<Matcher> matchers;  // any one matching selects the block
  std::vector<Assignment> assignments;
  size_t skip = 0;   // "skip [N]" in the block: this row and the N-1 after it are not read
  bool end = false;  // "end" in the block: this row and every row after it are not read
  RuleSource source;
};

enum class Encoding { kUtf8, kLatin1, kWindows1252 };

struct CsvRules {
  size_t skip = 0;
  std::optional<char> separator;  // empty: from the CSV file's name
  Encoding encoding = Encoding::kUtf8;
  std::vector<std::string> field_names;  // by column; "" for a column without a name
  std::vector<Assignment> assignments;   // top level, in order (a later one wins)
  std::vector<Block> blocks;             // in order (a later matching one wins)
};

// Reads the rules file at `path` with the files it includes. Invalid argument (5),
// "Line N of FILE: ...", for a rule that cannot be read, is unknown or not supported, a field
// reference no fields rule names, an include that is missing or comes back round.
CsvRules ReadCsvRules(const std::string& path);

// A text as messages quote it: in double quotes, cut when long, control characters and bytes
// that are not UTF-8 shown as \xHH.
std::string Quoted(std::string_view text);

}  // namespace ledgerkit::csv
