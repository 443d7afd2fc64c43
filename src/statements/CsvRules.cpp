#include "statements/CsvRules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include <unicode/regex.h>
#include <unicode/utext.h>

#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit::csv {

struct CompiledPattern {
  std::unique_ptr<icu::RegexPattern> pattern;
  std::unique_ptr<icu::RegexMatcher> matcher;
};

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fault(const RuleSource& source, const std::string& message) {
  throw Error::Runtime(kInvalidArgument, source.Where() + ": " + message);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool IsNameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

// The assignments a rule name makes; the names hledger gives its fields.
struct TargetName {
  std::string_view name;
  Target target;
};
constexpr TargetName kTargetNames[] = {
    {"date", Target::kDate},           {"date-format", Target::kDateFormat},   {"decimal-mark", Target::kDecimalMark},
    {"amount", Target::kAmount},       {"amount-in", Target::kAmountIn},       {"amount-out", Target::kAmountOut},
    {"description", Target::kDescription}, {"currency", Target::kCurrency},   {"account2", Target::kAccount},
    {"account", Target::kAccount},     {"code", Target::kCode},
};

std::optional<Target> TargetOf(std::string_view name) {
  for (const TargetName& known : kTargetNames) {
    if (known.name == name) return known.target;
  }
  return std::nullopt;
}

// The values that are templates: field references are read in them.
bool TakesFields(Target target) { return target != Target::kDateFormat && target != Target::kDecimalMark; }

// Rules of the plain-text ledgers' CSV format that are read and have no effect here, because
// they change nothing a statement line holds: account1 (the command names the bank account),
// newest-first and intra-day-reversed (the order of the lines does not matter to the import).
bool IsIgnoredRule(std::string_view name) {
  return name == "account1" || name == "newest-first" || name == "intra-day-reversed";
}

// Rules of that format that are refused rather than read wrongly or dropped without a word.
bool IsUnsupportedRule(std::string_view name) {
  for (const std::string_view known : {"comment", "status", "date2", "balance", "balance-type", "timezone", "source",
                                       "archive", "decimal-separator"}) {
    if (name == known) return true;
  }
  // Numbered posting fields: account3, amount1-in, comment2, balance1, currency2...
  for (const std::string_view stem : {"account", "amount", "comment", "balance", "currency"}) {
    if (name.size() > stem.size() && name.substr(0, stem.size()) == stem &&
        std::isdigit(static_cast<unsigned char>(name[stem.size()]))) {
      return true;
    }
  }
  return false;
}

std::vector<DateFormatPart> ReadDateFormat(std::string_view format, const RuleSource& source) {
  std::vector<DateFormatPart> parts;
  int years = 0, months = 0, days = 0;
  for (size_t at = 0; at < format.size(); ++at) {
    const char c = format[at];
    if (c != '%') {
      if (IsBlank(c)) {
        if (parts.empty() || parts.back().kind != DateFormatPart::kBlank) parts.push_back({DateFormatPart::kBlank, true, ""});
      } else {
        parts.push_back({DateFormatPart::kLiteral, true, std::string(1, c)});
      }
      continue;
    }
    bool padded = true;
    if (at + 1 < format.size() && format[at + 1] == '-') {
      padded = false;
      ++at;
    }
    if (at + 1 >= format.size()) Fault(source, "the date format " + Quoted(format) + " ends in the middle of a %-directive.");
    const char directive = format[++at];
    DateFormatPart part{DateFormatPart::kLiteral, padded, ""};
    switch (directive) {
      case 'Y': part.kind = DateFormatPart::kYear4; ++years; break;
      case 'y': part.kind = DateFormatPart::kYear2; ++years; break;
      case 'm': part.kind = DateFormatPart::kMonth; ++months; break;
      case 'b': case 'h': part.kind = DateFormatPart::kMonthName; ++months; break;
      case 'B': part.kind = DateFormatPart::kMonthFullName; ++months; break;
      case 'd': part.kind = DateFormatPart::kDay; ++days; break;
      case 'H': part.kind = DateFormatPart::kHour; break;
      case 'M': part.kind = DateFormatPart::kMinute; break;
      case 'S': part.kind = DateFormatPart::kSecond; break;
      case '%': part.literal = "%"; break;
      default:
        Fault(source, "the date format " + Quoted(format) + " has %" + (padded ? "" : "-") + std::string(1, directive) +
                          ", which is not supported (%Y %y %-y %m %-m %d %-d %b %h %B %H %M %S and %% are).");
    }
    if (!padded && part.kind != DateFormatPart::kMonth && part.kind != DateFormatPart::kDay &&
        part.kind != DateFormatPart::kYear2 && part.kind != DateFormatPart::kHour &&
        part.kind != DateFormatPart::kMinute && part.kind != DateFormatPart::kSecond) {
      Fault(source, "the date format " + Quoted(format) + " has %-" + std::string(1, directive) +
                        "; only these can be unpadded: %-y %-m %-d %-H %-M %-S.");
    }
    parts.push_back(std::move(part));
  }
  if (years != 1 || months != 1 || days != 1) {
    Fault(source, "the date format " + Quoted(format) + " must give the year (%Y, or %y or %-y for 20yy), the month and the day once each.");
  }
  return parts;
}

// A value's field references: %name or %N (1-based), the name or number being the longest run
// of letters, digits, '_' and '-' (digits only for a number). A '%' before anything else is text.
// References are kept by name here and resolved once every fields rule has been read.
struct PendingReference {
  size_t piece;
  std::string name;
};

std::vector<TemplatePiece> ReadTemplate(std::string_view text, std::vector<PendingReference>& references) {
  std::vector<TemplatePiece> pieces;
  std::string literal;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '%' || at + 1 >= text.size() || !IsNameCharacter(text[at + 1])) {
      literal += text[at];
      continue;
    }
    size_t end = at + 1;
    if (std::isdigit(static_cast<unsigned char>(text[end]))) {
      while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    } else {
      while (end < text.size() && IsNameCharacter(text[end])) ++end;
    }
    if (!literal.empty()) pieces.push_back({std::exchange(literal, {}), std::nullopt});
    references.push_back({pieces.size(), Lower(text.substr(at + 1, end - at - 1))});
    pieces.push_back({"", size_t{0}});
    at = end - 1;
  }
  if (!literal.empty()) pieces.push_back({std::move(literal), std::nullopt});
  return pieces;
}

// A pattern is searched as plain text when it has none of the characters that mean something
// in a regular expression.
bool IsPlainPattern(std::string_view pattern) {
  for (const char c : pattern) {
    if (static_cast<unsigned char>(c) >= 0x80 || std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// How long a search may run, in ICU's steps of the match engine (each on the order of a
// millisecond): ten seconds or so for one pattern and one row, far more than any real rule needs.
constexpr int32_t kSearchTimeLimit = 10000;

std::shared_ptr<CompiledPattern> Compile(std::string_view text, const RuleSource& source) {
  auto compiled = std::make_shared<CompiledPattern>();
  UErrorCode status = U_ZERO_ERROR;
  UParseError parse_error{};
  compiled->pattern.reset(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))), UREGEX_CASE_INSENSITIVE,
      parse_error, status));
  if (U_SUCCESS(status)) compiled->matcher.reset(compiled->pattern->matcher(status));
  if (U_SUCCESS(status)) compiled->matcher->setTimeLimit(kSearchTimeLimit, status);
  if (U_FAILURE(status)) {
    Fault(source, "the pattern " + Quoted(text) + " is not a regular expression (" + u_errorName(status) +
                      (parse_error.offset >= 0 ? " at character " + std::to_string(parse_error.offset + 1) : std::string()) + ").");
  }
  return compiled;
}

class RulesReader {
 public:
  CsvRules Read(const std::string& path) {
    ReadFile(fs::path(path), nullptr);
    Resolve();
    return std::move(rules_);
  }

 private:
  enum class State { kTop, kPatterns, kBlock };

  // Reads one rules file, `including` the include rule that names it (none for the first).
  void ReadFile(const fs::path& path, const RuleSource* including) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    const fs::path key = error ? path : canonical;
    std::ifstream in(path, std::ios::binary);
    if (!in || !fs::is_regular_file(path, error)) {
      if (including == nullptr) throw Error::Runtime(kInvalidArgument, "Cannot read the rules file " + Quoted(path.string()) + ".");
      Fault(*including, "the included rules file " + Quoted(path.filename().string()) + " cannot be read (" +
                            Quoted(path.string()) + " is missing or unreadable).");
    }
    for (const fs::path& open : open_files_) {
      if (open == key) Fault(*including, "including " + Quoted(path.filename().string()) + " comes back round to a rules file already being read (an include loop).");
    }
    open_files_.push_back(key);
    const std::string name = path.filename().string();
    std::string line;
    RuleSource source{name, 0};
    while (std::getline(in, line)) {
      ++source.line;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (source.line == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
      if (!IsWellFormedUtf8(line)) Fault(source, "the line is not UTF-8 text: " + Quoted(line) + ".");
      ReadLine(line, source, path.parent_path());
    }
    // A block ends with its file: rules of the including file are not under it.
    if (state_ == State::kPatterns) Fault(rules_.blocks.back().source, "the if-block has no indented rules under it.");
    state_ = State::kTop;
    open_files_.pop_back();
  }

  void ReadLine(std::string_view line, const RuleSource& source, const fs::path& folder) {
    const std::string_view text = Trim(line);
    if (text.empty()) {
      if (state_ == State::kPatterns) Fault(rules_.blocks.back().source, "the if-block has no indented rules under it.");
      state_ = State::kTop;
      return;
    }
    if (text.front() == '#' || text.front() == ';') return;
    const bool indented = IsBlank(line.front());
    if (state_ == State::kPatterns && !indented) {
      AddMatcher(text, source);
      return;
    }
    if (indented) {
      if (state_ == State::kTop) {
        Fault(source, "the indented rule " + Quoted(text) + " is under no if (a blank line ends an if-block).");
      }
      state_ = State::kBlock;
      ReadBlockRule(text, source);
      return;
    }
    state_ = State::kTop;
    ReadTopRule(text, source, folder);
  }

  static std::pair<std::string, std::string_view> Split(std::string_view text) {
    size_t end = 0;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    return {Lower(text.substr(0, end)), Trim(text.substr(end))};
  }

  void ReadTopRule(std::string_view text, const RuleSource& source, const fs::path& folder) {
    const auto [name, value] = Split(text);
    if (name == "if") {
      rules_.blocks.push_back(Block{{}, {}, 0, false, source});
      state_ = State::kPatterns;
      if (!value.empty()) AddMatcher(value, source);
    } else if (name == "fields") {
      ReadFields(value, source);
    } else if (name == "skip") {
      rules_.skip = ReadCount(value, source);
    } else if (name == "separator") {
      ReadSeparator(value, source);
    } else if (name == "encoding") {
      ReadEncoding(value, source);
    } else if (name == "include") {
      if (value.empty()) Fault(source, "include needs the name of a rules file.");
      const fs::path included(value);
      ReadFile(included.is_absolute() ? included : folder / included, &source);
    } else if (name.size() > 2 && name.compare(0, 2, "if") == 0 && !IsNameCharacter(name[2])) {
      Fault(source, "if-tables (" + Quoted(name.substr(0, 3)) + ") are not supported; write one if-block for each row of the table.");
    } else if (name == "end") {
      Fault(source, "end stops the reading of rows only inside an if-block.");
    } else {
      ReadAssignment(name, value, source, std::nullopt);
    }
  }

  void ReadBlockRule(std::string_view text, const RuleSource& source) {
    Block& block = rules_.blocks.back();
    const auto [name, value] = Split(text);
    if (name == "skip") {
      block.skip = ReadCount(value, source);
    } else if (name == "end") {
      if (!value.empty()) Fault(source, "end takes no value.");
      block.end = true;
    } else if (name == "if" || name == "fields" || name == "separator" || name == "encoding" || name == "include") {
      Fault(source, "the rule " + Quoted(name) + " belongs at the top level, not in an if-block.");
    } else {
      ReadAssignment(name, value, source, rules_.blocks.size() - 1);
    }
  }

  // Reads an assignment into the top level (no `block`) or the block of that index.
  void ReadAssignment(const std::string& name, std::string_view value, const RuleSource& source,
                      std::optional<size_t> block) {
    std::vector<Assignment>& into = block ? rules_.blocks[*block].assignments : rules_.assignments;
    if (IsIgnoredRule(name)) return;
    const std::optional<Target> target = TargetOf(name);
    if (!target) {
      if (IsUnsupportedRule(name)) Fault(source, "the rule " + Quoted(name) + " is not supported by this reader.");
      Fault(source, "unknown rule " + Quoted(name) + ".");
    }
    Assignment assignment{*target, name, std::string(value), {}, {}, '.', false, source};
    if (*target == Target::kDateFormat) {
      if (value.empty()) Fault(source, "date-format needs a format, as in \"date-format %d/%m/%Y\".");
      assignment.date_format = ReadDateFormat(value, source);
    } else if (*target == Target::kDecimalMark) {
      if (value != "," && value != ".") Fault(source, "the decimal mark " + Quoted(value) + " is neither \",\" nor \".\".");
      assignment.decimal_mark = value.front();
    } else {
      std::vector<PendingReference> references;
      assignment.pieces = ReadTemplate(value, references);
      // "amount -%N" negates the field rather than putting a second sign before a signed one.
      if (*target == Target::kAmount && assignment.pieces.size() >= 2 && !assignment.pieces[0].column &&
          assignment.pieces[0].literal == "-") {
        assignment.negated = true;
        assignment.pieces.erase(assignment.pieces.begin());
        for (PendingReference& reference : references) --reference.piece;
      }
      for (PendingReference& reference : references) {
        pending_.push_back({block, into.size(), reference.piece, std::move(reference.name), source});
      }
    }
    into.push_back(std::move(assignment));
  }

  void ReadFields(std::string_view value, const RuleSource& source) {
    rules_.field_names.clear();
    fields_source_ = source;
    size_t start = 0;
    for (;;) {
      const size_t comma = value.find(',', start);
      std::string field = Lower(Trim(value.substr(start, comma == std::string_view::npos ? value.npos : comma - start)));
      if (field == "_") field.clear();
      for (const char c : field) {
        if (!IsNameCharacter(c)) Fault(source, "the field name " + Quoted(field) + " may hold only letters, digits, '_' and '-'.");
      }
      if (!field.empty() && std::isdigit(static_cast<unsigned char>(field.front()))) {
        Fault(source, "the field name " + Quoted(field) + " begins with a digit, which %N (a column number) would shadow.");
      }
      for (const std::string& earlier : rules_.field_names) {
        if (!field.empty() && earlier == field) Fault(source, "the field name " + Quoted(field) + " is given twice.");
      }
      rules_.field_names.push_back(field);
      // A field named as an assignment is read as one, "amount" as "amount %amount".
      const std::optional<Target> target = TargetOf(field);
      if (!field.empty() && target && TakesFields(*target) && field != "account") {
        ReadAssignment(field, "%" + field, source, std::nullopt);
      }
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }

  static size_t ReadCount(std::string_view value, const RuleSource& source) {
    if (value.empty()) return 1;
    size_t count = 0;
    for (const char c : value) {
      if (!std::isdigit(static_cast<unsigned char>(c)) || count > 100000000) {
        Fault(source, "skip takes a number of rows, not " + Quoted(value) + ".");
      }
      count = count * 10 + static_cast<size_t>(c - '0');
    }
    return count;
  }

  void ReadSeparator(std::string_view value, const RuleSource& source) {
    const std::string lower = Lower(value);
    if (value == "," || value == ";" || value == "|") {
      rules_.separator = value.front();
    } else if (lower == "tab" || value == "\\t" || value == "\t") {
      rules_.separator = '\t';
    } else {
      Fault(source, "the separator " + Quoted(value) + " is not one of , ; | TAB.");
    }
  }

  void ReadEncoding(std::string_view value, const RuleSource& source) {
    const std::string lower = Lower(value);
    if (lower == "utf-8" || lower == "utf8") {
      rules_.encoding = Encoding::kUtf8;
    } else if (lower == "iso-8859-1" || lower == "iso8859-1" || lower == "latin1" || lower == "latin-1" ||
               lower == "iso_8859-1") {
      rules_.encoding = Encoding::kLatin1;
    } else if (lower == "windows-1252" || lower == "cp1252") {
      rules_.encoding = Encoding::kWindows1252;
    } else {
      Fault(source, "the encoding " + Quoted(value) + " is not supported (utf-8, iso-8859-1 and windows-1252 are).");
    }
  }

  void AddMatcher(std::string_view text, const RuleSource& source) {
    if (text.front() == '&') Fault(source, "patterns joined with & are not supported; the pattern lines of an if are OR-ed.");
    Matcher matcher;
    matcher.source = source;
    if (text.front() == '!') {
      matcher.negated = true;
      text = Trim(text.substr(1));
    }
    if (!text.empty() && text.front() == '%') {
      size_t end = 1;
      while (end < text.size() && IsNameCharacter(text[end])) ++end;
      pending_matchers_.push_back({rules_.blocks.size() - 1, rules_.blocks.back().matchers.size(), Lower(text.substr(1, end - 1)), source});
      matcher.column = 0;
      text = Trim(text.substr(end));
    }
    if (text.empty()) Fault(source, "the if-block's pattern is empty.");
    matcher.pattern = std::string(text);
    matcher.literal = IsPlainPattern(text);
    if (!matcher.literal) matcher.regex = Compile(text, source);
    rules_.blocks.back().matchers.push_back(std::move(matcher));
  }

  // The column a field reference names: a name of the fields rule, or a number from 1.
  size_t ColumnOf(const std::string& name, const RuleSource& source) const {
    if (std::isdigit(static_cast<unsigned char>(name.front()))) {
      if (name.size() > 6 || std::stoul(name) == 0) Fault(source, "%" + name + " is not a column (they are numbered from 1).");
      return std::stoul(name) - 1;
    }
    for (size_t column = 0; column < rules_.field_names.size(); ++column) {
      if (rules_.field_names[column] == name) return column;
    }
    if (rules_.field_names.empty()) Fault(source, "%" + name + " names a field, but no fields rule names the columns.");
    Fault(source, "%" + name + " is not a field the fields rule (" + fields_source_.Where() + ") names.");
  }

  void Resolve() {
    for (const Pending& pending : pending_) {
      std::vector<Assignment>& assignments = pending.block ? rules_.blocks[*pending.block].assignments : rules_.assignments;
      assignments[pending.assignment].pieces[pending.piece].column = ColumnOf(pending.name, pending.source);
    }
    for (const PendingMatcher& pending : pending_matchers_) {
      rules_.blocks[pending.block].matchers[pending.matcher].column = ColumnOf(pending.name, pending.source);
    }
  }

  // A field reference waiting for the fields rule, which may come later: in the assignment of
  // that index at the top level (no block) or in the block of that index.
  struct Pending {
    std::optional<size_t> block;
    size_t assignment;
    size_t piece;
    std::string name;
    RuleSource source;
  };
  struct PendingMatcher {
    size_t block;
    size_t matcher;
    std::string name;
    RuleSource source;
  };

  CsvRules rules_;
  State state_ = State::kTop;
  std::vector<fs::path> open_files_;
  std::vector<Pending> pending_;
  std::vector<PendingMatcher> pending_matchers_;
  RuleSource fields_source_;
};

}  // namespace

CsvRules ReadCsvRules(const std::string& path) { return RulesReader().Read(path); }

bool Matcher::Found(std::string_view subject, const std::string& where_row) const {
  if (literal) {
    const auto found = std::search(subject.begin(), subject.end(), pattern.begin(), pattern.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return found != subject.end() || pattern.empty();
  }
  UErrorCode status = U_ZERO_ERROR;
  UText text = UTEXT_INITIALIZER;
  utext_openUTF8(&text, subject.data(), static_cast<int64_t>(subject.size()), &status);
  bool found = false;
  if (U_SUCCESS(status)) {
    regex->matcher->reset(&text);
    // The matcher keeps a shallow clone of the text, left dangling until the next reset; it
    // reads nothing through it before then.
    found = regex->matcher->find(status);
  }
  utext_close(&text);
  if (U_FAILURE(status)) {
    throw Error::Runtime(kInvalidArgument, where_row + ": the pattern " + Quoted(pattern) + " (" + source.Where() +
                                               ") could not be searched in the row (" + u_errorName(status) + ").");
  }
  return found;
}

std::string Quoted(std::string_view text) {
  const std::string quoted = QuoteForMessage(text);
  std::string shown;
  shown.reserve(quoted.size());
  for (size_t at = 0; at < quoted.size();) {
    const auto byte = static_cast<unsigned char>(quoted[at]);
    const Utf8Sequence sequence = Utf8SequenceAt(quoted, at);
    if (byte < 0x20 || byte == 0x7F || !sequence.valid) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
      ++at;
    } else {
      shown.append(quoted, at, sequence.length);
      at += sequence.length;
    }
  }
  return shown;
}

}  // namespace ledgerkit::csv
