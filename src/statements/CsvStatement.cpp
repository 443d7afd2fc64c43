// The CSV statement: the file decoded to UTF-8, split into rows as RFC 4180 reads them, and each
// row turned into a statement line by the rules (statements/CsvRules.h).
#include "statements/CsvStatement.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strings.h>

#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "statements/CsvRules.h"

namespace ledgerkit {

namespace {

using namespace csv;

std::string LineOf(int64_t line, const std::string& file) { return "Line " + std::to_string(line) + " of " + file; }

[[noreturn]] void RowFault(int64_t line, const std::string& file, const std::string& message) {
  throw Error::Runtime(kInvalidArgument, LineOf(line, file) + ": " + message);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Runs of blanks and line breaks as one blank, none at either end: a description or an account
// spread over the columns of a template, or over the lines of a quoted field.
std::string CollapseBlanks(std::string_view text) {
  std::string collapsed;
  collapsed.reserve(text.size());
  bool blank = false;
  for (const char c : Trim(text)) {
    if (IsBlank(c)) {
      blank = true;
      continue;
    }
    if (blank) collapsed += ' ';
    blank = false;
    collapsed += c;
  }
  return collapsed;
}

// ---- Decoding --------------------------------------------------------------------------------

// The characters of windows-1252 for the bytes 0x80 to 0x9F (0: the byte has none); every other
// byte is the Latin-1 character of its value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The line of `text` that byte `offset` is on, counting LF, CRLF and a lone CR as line ends.
int64_t LineAt(std::string_view text, size_t offset) {
  int64_t line = 1;
  for (size_t at = 0; at < offset && at < text.size(); ++at) {
    if (text[at] == '\n' || (text[at] == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n'))) ++line;
  }
  return line;
}

std::string Decode(std::string bytes, Encoding encoding, const std::string& file) {
  if (encoding == Encoding::kUtf8) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return bytes;
  }
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 8);
  for (size_t at = 0; at < bytes.size(); ++at) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    char32_t code = byte;
    if (encoding == Encoding::kWindows1252 && byte >= 0x80 && byte < 0xA0) {
      code = kWindows1252High[byte - 0x80];
      if (code == 0) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", byte);
        RowFault(LineAt(bytes, at), file, std::string("the byte ") + hex + " is no character in windows-1252.");
      }
    }
    AppendUtf8(text, code);
  }
  return text;
}

// ---- Rows ------------------------------------------------------------------------------------

// One row: the line it begins on and its fields (`count` of them; the vector keeps the strings
// of longer rows for reuse).
struct Row {
  int64_t line = 0;
  std::vector<std::string> fields;
  size_t count = 0;
};

// The rows of a CSV text as RFC 4180 has them: fields in double quotes may hold the separator,
// line breaks and doubled quotes; a quote inside an unquoted field is an ordinary character;
// LF, CRLF and a lone CR end lines; blank lines are passed over; the last row may lack its line end.
class RowReader {
 public:
  RowReader(std::string_view text, char separator, const std::string& file)
      : text_(text), separator_(separator), file_(file), stops_{separator, '\r', '\n'} {}

  // The next row into `row`; false at the end of the text.
  bool Next(Row& row) {
    if (!SkipBlankLines()) return false;
    row.line = line_;
    row.count = 0;
    for (;;) {
      if (row.fields.size() <= row.count) row.fields.emplace_back();
      std::string& field = row.fields[row.count++];
      field.clear();
      size_t start = pos_;
      while (start < text_.size() && text_[start] == ' ') ++start;
      if (start < text_.size() && text_[start] == '"') {
        pos_ = start + 1;
        ReadQuoted(field, row.count);
      } else {
        const size_t stop = std::min(text_.find_first_of(std::string_view(stops_, 3), pos_), text_.size());
        field.assign(text_, pos_, stop - pos_);
        pos_ = stop;
      }
      if (pos_ >= text_.size()) return true;
      if (text_[pos_] == separator_) {
        ++pos_;
        continue;
      }
      SkipLineEnd();
      return true;
    }
  }

 private:
  // Passes over lines holding nothing but blanks; false when only such lines are left.
  bool SkipBlankLines() {
    for (;;) {
      size_t at = pos_;
      while (at < text_.size() && (text_[at] == ' ' || (text_[at] == '\t' && separator_ != '\t'))) ++at;
      if (at >= text_.size()) return false;
      if (text_[at] != '\r' && text_[at] != '\n') return true;
      pos_ = at;
      SkipLineEnd();
    }
  }

  void SkipLineEnd() {
    if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
    ++pos_;
    ++line_;
  }

  // The rest of a quoted field after its opening quote, and the blanks after its closing quote.
  void ReadQuoted(std::string& field, size_t column) {
    const int64_t opened = line_;
    for (;;) {
      if (pos_ >= text_.size()) {
        RowFault(opened, file_, "the quote that opens field " + std::to_string(column) +
                                    " on this line is never closed (the file ends inside it).");
      }
      const char c = text_[pos_];
      if (c == '"') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
          field += '"';
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      if (c == '\r' || c == '\n') {
        field += '\n';
        SkipLineEnd();
        continue;
      }
      const size_t stop = std::min(text_.find_first_of("\"\r\n", pos_), text_.size());
      field.append(text_, pos_, stop - pos_);
      pos_ = stop;
    }
    while (pos_ < text_.size() && (text_[pos_] == ' ' || (text_[pos_] == '\t' && separator_ != '\t'))) ++pos_;
    if (pos_ < text_.size() && text_[pos_] != separator_ && text_[pos_] != '\r' && text_[pos_] != '\n') {
      const size_t stop = std::min(text_.find_first_of(std::string_view(stops_, 3), pos_), text_.size());
      RowFault(line_, file_, "field " + std::to_string(column) + " has " + Quoted(text_.substr(pos_, stop - pos_)) +
                                 " after its closing quote.");
    }
  }

  std::string_view text_;
  char separator_;
  const std::string& file_;
  const char stops_[3];
  size_t pos_ = 0;
  int64_t line_ = 1;
};

// ---- Values ----------------------------------------------------------------------------------

constexpr const char* kMonthNames[12] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};

enum class DateFault { kNone, kNoMatch, kImpossible };

DateFault CivilDate(int year, int month, int day, int hour, int minute, int second, Date& date) {
  try {
    Date::FromCivil(year, month, day, hour, minute, second);  // the time is checked, then dropped
    date = Date::FromCivil(year, month, day);
    return DateFault::kNone;
  } catch (const Error&) {
    return DateFault::kImpossible;
  }
}

// A date in the form a date-format rule gives.
DateFault ReadFormattedDate(std::string_view text, const std::vector<DateFormatPart>& format, Date& date) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  size_t at = 0;
  auto number = [&](size_t least, size_t most, int& value) {
    size_t digits = 0;
    value = 0;
    while (digits < most && at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    return digits >= least;
  };
  auto month_name = [&](bool full) {
    for (int index = 0; index < 12; ++index) {
      const std::string_view name(kMonthNames[index]);
      const size_t length = full ? name.size() : 3;
      if (text.size() - at >= length && strncasecmp(text.data() + at, name.data(), length) == 0) {
        month = index + 1;
        at += length;
        return true;
      }
    }
    return false;
  };
  for (const DateFormatPart& part : format) {
    const size_t least = part.padded ? 2 : 1;
    bool ok = true;
    switch (part.kind) {
      case DateFormatPart::kLiteral:
        ok = text.size() - at >= part.literal.size() &&
             strncasecmp(text.data() + at, part.literal.data(), part.literal.size()) == 0;
        at += part.literal.size();
        break;
      case DateFormatPart::kBlank:
        ok = at < text.size() && (text[at] == ' ' || text[at] == '\t');
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        break;
      case DateFormatPart::kYear4: ok = number(4, 4, year); break;
      case DateFormatPart::kYear2:
        ok = number(least, 2, year);
        year += 2000;
        break;
      case DateFormatPart::kMonth: ok = number(least, 2, month); break;
      case DateFormatPart::kMonthName: ok = month_name(false); break;
      case DateFormatPart::kMonthFullName: ok = month_name(true); break;
      case DateFormatPart::kDay: ok = number(least, 2, day); break;
      case DateFormatPart::kHour: ok = number(least, 2, hour); break;
      case DateFormatPart::kMinute: ok = number(least, 2, minute); break;
      case DateFormatPart::kSecond: ok = number(least, 2, second); break;
    }
    if (!ok || at > text.size()) return DateFault::kNoMatch;
  }
  if (at != text.size()) return DateFault::kNoMatch;
  return CivilDate(year, month, day, hour, minute, second, date);
}

// A date without a date-format rule: YYYY-MM-DD, YYYY/MM/DD or YYYY.MM.DD, the month and day of
// one or two digits.
DateFault ReadDefaultDate(std::string_view text, Date& date) {
  int parts[3] = {0, 0, 0};
  size_t part = 0, digits = 0;
  char separator = 0;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (++digits > (part == 0 ? 4u : 2u)) return DateFault::kNoMatch;
      parts[part] = parts[part] * 10 + (c - '0');
    } else if ((c == '-' || c == '/' || c == '.') && part < 2 && (separator == 0 || c == separator) && digits > 0 &&
               (part > 0 || digits == 4)) {
      separator = c;
      ++part;
      digits = 0;
    } else {
      return DateFault::kNoMatch;
    }
  }
  if (part != 2 || digits == 0) return DateFault::kNoMatch;
  return CivilDate(parts[0], parts[1], parts[2], 0, 0, 0, date);
}

enum class AmountFault { kNone, kNotNumber, kSigns, kTwoMarks, kGrouping, kDecimals, kRange };

struct AmountValue {
  Currency value;
  bool has_sign = false;  // written with a sign or in parentheses
};

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }
bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// An amount as banks write it: a sign before it ('-', '+', either with a blank after it), a '-'
// after it or parentheses around it (one of these at most); a currency symbol ($ € £ ¥) or the
// row's currency before or after the number; digits with thousands separators (',' when the
// decimal mark is '.', '.' or a blank when it is ',', an apostrophe with either) in groups of
// three; at most four decimals
// that are not zero. The value is exact: nothing is rounded.
AmountFault ReadAmount(std::string_view written, char mark, std::string_view currency, AmountValue& amount) {
  std::string normalized;
  if (written.find("\xC2\xA0") != std::string_view::npos || written.find("\xE2\x80\xAF") != std::string_view::npos) {
    normalized = std::string(written);
    for (const std::string_view space : {std::string_view("\xC2\xA0"), std::string_view("\xE2\x80\xAF")}) {
      for (size_t at = normalized.find(space); at != std::string::npos; at = normalized.find(space, at)) {
        normalized.replace(at, space.size(), " ");
      }
    }
    written = normalized;
  }
  std::string_view text = Trim(written);
  const std::string_view symbols[] = {currency, "$", "\xE2\x82\xAC", "\xC2\xA3", "\xC2\xA5"};
  int signs = 0;
  bool negative = false, symbol_before = false, symbol_after = false;
  for (;;) {
    if (text.empty()) break;
    if (text.front() == '-' || text.front() == '+') {
      ++signs;
      negative = text.front() == '-';
      text = Trim(text.substr(1));
      continue;
    }
    if (text.front() == '(' && text.size() >= 2 && text.back() == ')') {
      ++signs;
      negative = true;
      text = Trim(text.substr(1, text.size() - 2));
      continue;
    }
    bool stripped = false;
    for (const std::string_view symbol : symbols) {
      if (!symbol_before && !symbol.empty() && StartsWith(text, symbol)) {
        text = Trim(text.substr(symbol.size()));
        symbol_before = stripped = true;
        break;
      }
    }
    if (!stripped) break;
  }
  for (;;) {
    if (text.empty()) break;
    if (text.back() == '-') {
      ++signs;
      negative = true;
      text = Trim(text.substr(0, text.size() - 1));
      continue;
    }
    bool stripped = false;
    for (const std::string_view symbol : symbols) {
      if (!symbol_after && !symbol.empty() && EndsWith(text, symbol)) {
        text = Trim(text.substr(0, text.size() - symbol.size()));
        symbol_after = stripped = true;
        break;
      }
    }
    if (!stripped) break;
  }

  int64_t units = 0, fraction = 0;
  size_t integer_digits = 0, fraction_digits = 0, group = 0;
  char group_separator = 0;
  bool seen_mark = false, grouping_fault = false, decimals_fault = false, range_fault = false;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      const int digit = c - '0';
      if (seen_mark) {
        if (++fraction_digits <= 4) {
          fraction = fraction * 10 + digit;
        } else if (digit != 0) {
          decimals_fault = true;
        }
      } else {
        ++integer_digits;
        ++group;
        if (__builtin_mul_overflow(units, int64_t{10}, &units) || __builtin_add_overflow(units, digit, &units)) {
          range_fault = true;
          units = 0;
        }
      }
    } else if (c == mark) {
      if (seen_mark) return AmountFault::kTwoMarks;
      if (group_separator != 0 && group != 3) grouping_fault = true;
      seen_mark = true;
    } else if (c == '\'' || (mark == '.' ? c == ',' : (c == '.' || c == ' '))) {
      if (seen_mark || (group_separator != 0 && c != group_separator)) {
        grouping_fault = true;
      } else if (group_separator == 0 ? (group < 1 || group > 3) : group != 3) {
        grouping_fault = true;
      }
      group_separator = c;
      group = 0;
    } else {
      return AmountFault::kNotNumber;
    }
  }
  if (integer_digits + fraction_digits == 0) return AmountFault::kNotNumber;
  if (signs > 1) return AmountFault::kSigns;
  if (group_separator != 0 && !seen_mark && group != 3) grouping_fault = true;
  if (grouping_fault) return AmountFault::kGrouping;
  if (decimals_fault) return AmountFault::kDecimals;
  for (size_t digit = std::min<size_t>(fraction_digits, 4); digit < 4; ++digit) fraction *= 10;
  int64_t scaled = 0;
  if (range_fault || __builtin_mul_overflow(units, Currency::kScale, &scaled) ||
      __builtin_add_overflow(scaled, fraction, &scaled)) {
    return AmountFault::kRange;
  }
  amount.value = Currency::FromScaled(negative ? -scaled : scaled);
  amount.has_sign = signs == 1;
  return AmountFault::kNone;
}

std::string AmountFaultText(AmountFault fault, char mark) {
  const std::string other = mark == '.' ? "," : ".";
  switch (fault) {
    case AmountFault::kNone: break;
    case AmountFault::kNotNumber: return "is not a number";
    case AmountFault::kSigns: return "has more than one sign (a sign, a trailing '-' and parentheses are each one)";
    case AmountFault::kTwoMarks: return std::string("has two decimal marks ('") + mark + "')";
    case AmountFault::kGrouping:
      return std::string("has thousands separators out of place for the decimal mark '") + mark +
             "' (a decimal-mark rule sets '" + other + "')";
    case AmountFault::kDecimals: return "has more than four decimals (amounts are exact to 0.0001 and are not rounded)";
    case AmountFault::kRange: return "is out of the range of an amount";
  }
  return "";
}

// ---- Rules applied to rows -------------------------------------------------------------------

class StatementReader {
 public:
  StatementReader(const std::string& csv_path, const CsvRules& rules)
      : rules_(rules), file_(std::filesystem::path(csv_path).filename().string()), separator_(Separator(csv_path)) {
    for (const Assignment& assignment : rules_.assignments) Choose(base_, assignment);
    for (const Block& block : rules_.blocks) {
      for (const Matcher& matcher : block.matchers) whole_row_ |= !matcher.column.has_value();
    }
  }

  Statement Read(std::string_view text) {
    Statement statement;
    RowReader reader(text, separator_, file_);
    Row row;
    size_t index = 0, skipping = 0;
    while (reader.Next(row)) {
      RequireUtf8(row);
      if (index++ < rules_.skip) continue;
      if (skipping > 0) {
        --skipping;
        continue;
      }
      Chosen chosen = base_;
      bool skip = false, end = false;
      if (!rules_.blocks.empty()) {
        const std::string joined = whole_row_ ? Joined(row) : std::string();
        for (const Block& block : rules_.blocks) {
          if (!Matches(block, row, joined)) continue;
          for (const Assignment& assignment : block.assignments) Choose(chosen, assignment);
          if (block.skip > 0) {
            skip = true;
            skipping = std::max(skipping, block.skip - 1);
          }
          end |= block.end;
        }
      }
      if (end) break;
      if (skip) continue;
      statement.lines.push_back(Line(row, chosen, statement));
    }
    return statement;
  }

 private:
  // The assignment that wins for each target, and its rank: a later rule wins over an earlier
  // one, a matching if-block over the top level, a later block over an earlier one.
  struct Chosen {
    const Assignment* assignment[kTargetCount] = {};
    size_t rank[kTargetCount] = {};
  };

  void Choose(Chosen& chosen, const Assignment& assignment) {
    const auto target = static_cast<size_t>(assignment.target);
    chosen.assignment[target] = &assignment;
    chosen.rank[target] = ++rank_;
  }

  char Separator(const std::string& csv_path) const {
    if (rules_.separator) return *rules_.separator;
    std::string extension = std::filesystem::path(csv_path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".ssv") return ';';
    if (extension == ".tsv") return '\t';
    return ',';
  }

  void RequireUtf8(const Row& row) const {
    for (size_t column = 0; column < row.count; ++column) {
      const std::string& field = row.fields[column];
      for (size_t at = 0; at < field.size();) {
        const Utf8Sequence sequence = Utf8SequenceAt(field, at);
        if (!sequence.valid) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(field[at]));
          RowFault(row.line, file_, "column " + std::to_string(column + 1) + " is not UTF-8 text (byte " + hex +
                                        "); an encoding rule names the file's encoding (iso-8859-1, windows-1252).");
        }
        at += sequence.length;
      }
    }
  }

  std::string Joined(const Row& row) const {
    std::string joined;
    for (size_t column = 0; column < row.count; ++column) {
      if (column > 0) joined += separator_;
      joined += row.fields[column];
    }
    return joined;
  }

  // Whether one of the block's patterns matches; a field the row does not have matches as empty.
  bool Matches(const Block& block, const Row& row, const std::string& joined) const {
    for (const Matcher& matcher : block.matchers) {
      std::string_view subject = joined;
      if (matcher.column) subject = *matcher.column < row.count ? std::string_view(row.fields[*matcher.column]) : "";
      if (matcher.Found(subject, LineOf(row.line, file_)) != matcher.negated) return true;
    }
    return false;
  }

  // The value of an assignment for the row; a field past the row's end is an error.
  std::string Value(const Assignment& assignment, const Row& row) const {
    std::string value;
    for (const TemplatePiece& piece : assignment.pieces) {
      if (!piece.column) {
        value += piece.literal;
        continue;
      }
      if (*piece.column >= row.count) {
        RowFault(row.line, file_, "the row has " + std::to_string(row.count) + " field" + (row.count == 1 ? "" : "s") +
                                      "; the rule " + Quoted(assignment.name + " " + assignment.text) + " (" +
                                      assignment.source.Where() + ") reads column " + std::to_string(*piece.column + 1) + ".");
      }
      value += row.fields[*piece.column];
    }
    return value;
  }

  // " in column N" when the assignment reads one column, for messages about its value.
  static std::string InColumn(const Assignment& assignment) {
    std::optional<size_t> column;
    for (const TemplatePiece& piece : assignment.pieces) {
      if (!piece.column) continue;
      if (column) return " from " + Quoted(assignment.text);
      column = piece.column;
    }
    if (!column) return " from " + Quoted(assignment.text);
    return " in column " + std::to_string(*column + 1);
  }

  const Assignment* Of(const Chosen& chosen, Target target) const { return chosen.assignment[static_cast<size_t>(target)]; }
  size_t RankOf(const Chosen& chosen, Target target) const { return chosen.rank[static_cast<size_t>(target)]; }

  StatementLine Line(const Row& row, const Chosen& chosen, Statement& statement) {
    StatementLine line;
    line.position = row.line;

    const Assignment* date = Of(chosen, Target::kDate);
    if (date == nullptr) RowFault(row.line, file_, "no rule gives the row's date (a date rule, or a field named date).");
    const std::string date_text(Trim(Value(*date, row)));
    const Assignment* format = Of(chosen, Target::kDateFormat);
    const DateFault date_fault = format ? ReadFormattedDate(date_text, format->date_format, line.date)
                                        : ReadDefaultDate(date_text, line.date);
    if (date_fault == DateFault::kNoMatch) {
      RowFault(row.line, file_, "the date " + Quoted(date_text) + InColumn(*date) + " does not match " +
                                    (format ? "the date format " + Quoted(format->text) + " (" + format->source.Where() + ")"
                                            : std::string("YYYY-MM-DD, YYYY/MM/DD or YYYY.MM.DD (a date-format rule gives another form)")) +
                                    ".");
    }
    if (date_fault == DateFault::kImpossible) {
      RowFault(row.line, file_, "the date " + Quoted(date_text) + InColumn(*date) + " is not a day of the calendar.");
    }

    const Assignment* currency = Of(chosen, Target::kCurrency);
    const std::string currency_text = currency ? std::string(Trim(Value(*currency, row))) : std::string();
    if (!currency_text.empty()) {
      if (statement.currency.empty()) {
        statement.currency = currency_text;
        currency_line_ = row.line;
      } else if (statement.currency != currency_text) {
        RowFault(row.line, file_, "the currency " + Quoted(currency_text) + " is not the statement's currency " +
                                      Quoted(statement.currency) + " (line " + std::to_string(currency_line_) + ").");
      }
    }
    const Assignment* mark_rule = Of(chosen, Target::kDecimalMark);
    const char mark = mark_rule ? mark_rule->decimal_mark : '.';
    line.amount = Amount(row, chosen, mark, currency_text);

    if (const Assignment* description = Of(chosen, Target::kDescription)) line.description = CollapseBlanks(Value(*description, row));
    if (const Assignment* account = Of(chosen, Target::kAccount)) line.account = CollapseBlanks(Value(*account, row));
    if (const Assignment* code = Of(chosen, Target::kCode)) line.cheque_number = CollapseBlanks(Value(*code, row));
    return line;
  }

  // The amount: from the amount rule, or from amount-in and amount-out, whichever was set last.
  Currency Amount(const Row& row, const Chosen& chosen, char mark, const std::string& currency) const {
    const Assignment* amount = Of(chosen, Target::kAmount);
    const Assignment* in = Of(chosen, Target::kAmountIn);
    const Assignment* out = Of(chosen, Target::kAmountOut);
    const size_t in_out_rank = std::max(RankOf(chosen, Target::kAmountIn), RankOf(chosen, Target::kAmountOut));
    if (amount != nullptr && RankOf(chosen, Target::kAmount) > in_out_rank) {
      const std::string text(Trim(Value(*amount, row)));
      if (text.empty()) RowFault(row.line, file_, "the amount" + InColumn(*amount) + " is empty.");
      const Currency value = Read(row, *amount, text, mark, currency).value;
      return amount->negated ? -value : value;
    }
    if (in == nullptr && out == nullptr) {
      RowFault(row.line, file_, "no rule gives the row's amount (amount, or amount-in and amount-out).");
    }
    const std::string in_text = in ? std::string(Trim(Value(*in, row))) : std::string();
    const std::string out_text = out ? std::string(Trim(Value(*out, row))) : std::string();
    if (in_text.empty() && out_text.empty()) {
      RowFault(row.line, file_, std::string("the row has no amount: ") + (in ? "amount-in" + InColumn(*in) : std::string()) +
                                    (in && out ? " and " : "") + (out ? "amount-out" + InColumn(*out) : std::string()) +
                                    (in && out ? " are" : " is") + " empty.");
    }
    std::optional<AmountValue> in_value, out_value;
    if (!in_text.empty()) {
      in_value = Read(row, *in, in_text, mark, currency);
      if (in_value->has_sign && in_value->value < Currency()) {
        RowFault(row.line, file_, "the amount-in " + Quoted(in_text) + InColumn(*in) +
                                      " is negative; money in is written without a sign or with '+'.");
      }
    }
    if (!out_text.empty()) {
      out_value = Read(row, *out, out_text, mark, currency);
      // A '-' before money out says again that it goes out; a '+' there contradicts the column.
      if (out_value->has_sign && out_value->value > Currency()) {
        RowFault(row.line, file_, "the amount-out " + Quoted(out_text) + InColumn(*out) +
                                      " has a '+'; money out is written without a sign or with '-'.");
      }
      if (out_value->value > Currency()) out_value->value = -out_value->value;
    }
    const bool in_counts = in_value && in_value->value != Currency();
    const bool out_counts = out_value && out_value->value != Currency();
    if (in_counts && out_counts) {
      RowFault(row.line, file_, "both amount-in " + Quoted(in_text) + InColumn(*in) + " and amount-out " + Quoted(out_text) +
                                    InColumn(*out) + " have an amount; one of them must be empty or zero.");
    }
    if (out_counts) return out_value->value;
    return in_value ? in_value->value : out_value->value;
  }

  AmountValue Read(const Row& row, const Assignment& assignment, const std::string& text, char mark,
                   const std::string& currency) const {
    AmountValue value;
    const AmountFault fault = ReadAmount(text, mark, currency, value);
    if (fault != AmountFault::kNone) {
      RowFault(row.line, file_, "the " + assignment.name + " " + Quoted(text) + InColumn(assignment) + " " +
                                    AmountFaultText(fault, mark) + ".");
    }
    return value;
  }

  const CsvRules& rules_;
  const std::string file_;
  const char separator_;
  Chosen base_;
  size_t rank_ = 0;
  bool whole_row_ = false;
  int64_t currency_line_ = 0;
};

}  // namespace

Statement ReadCsvStatement(const std::string& csv_path, const std::string& rules_path) {
  const CsvRules rules = ReadCsvRules(rules_path);
  std::ifstream in(csv_path, std::ios::binary);
  std::error_code error;
  if (!in || !std::filesystem::is_regular_file(csv_path, error)) throw Error::Runtime(kInvalidArgument, "Cannot read the statement file " + Quoted(csv_path) + ".");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Error::Runtime(kInvalidArgument, "Cannot read the statement file " + Quoted(csv_path) + ".");
  const std::string file = std::filesystem::path(csv_path).filename().string();
  const std::string text = Decode(std::move(bytes), rules.encoding, file);
  return StatementReader(csv_path, rules).Read(text);
}

}  // namespace ledgerkit
