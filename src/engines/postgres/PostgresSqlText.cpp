// The reading of a SQL text by the server's rules (PostgresSqlText.h). Where this reading and the
// server's could differ, the difference only ever makes a literal or comment look shorter, never
// longer: a reader that took the server's code for the inside of a literal would let the report
// rules miss it.
#include "engines/postgres/PostgresSqlText.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "ledgerkit/common/Error.h"
#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {

namespace {

bool IdentifierStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || u >= 0x80;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

bool IdentifierPart(char c) { return IdentifierStart(c) || Digit(c) || c == '$'; }

bool Space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool Newline(char c) { return c == '\n' || c == '\r'; }

std::string FoldCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// Where the comment starting at `i` ends, or `i` when none starts there.
size_t CommentEnd(std::string_view sql, size_t i) {
  if (sql.substr(i, 2) == "--") {
    while (i < sql.size() && !Newline(sql[i])) ++i;
    return i;
  }
  if (sql.substr(i, 2) != "/*") return i;
  int depth = 0;
  while (i < sql.size()) {
    if (sql.substr(i, 2) == "/*") {
      ++depth;
      i += 2;
    } else if (sql.substr(i, 2) == "*/") {
      i += 2;
      if (--depth == 0) return i;
    } else {
      ++i;
    }
  }
  return sql.size();
}

// Where the quoted part whose opening quote is at `i` ends (after its closing quote). `escapes`:
// a backslash takes the next character with it, as in E'...'.
size_t QuotedEnd(std::string_view sql, size_t i, bool escapes) {
  for (++i; i < sql.size(); ++i) {
    if (escapes && sql[i] == '\\') {
      ++i;
    } else if (sql[i] == '\'') {
      if (i + 1 < sql.size() && sql[i + 1] == '\'') {
        ++i;
      } else {
        return i + 1;
      }
    }
  }
  return sql.size();
}

// The opening quote of the next part of a literal continued after `i`, or npos: the server joins
// two quoted parts with nothing but white space holding a line break between them, -- comments
// allowed after the break ('a'
// 'b' is 'ab').
size_t Continuation(std::string_view sql, size_t i) {
  while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\f')) ++i;
  if (i >= sql.size() || !Newline(sql[i])) return std::string_view::npos;
  while (i < sql.size()) {
    if (Space(sql[i])) {
      ++i;
    } else if (sql.substr(i, 2) == "--") {
      const size_t end = CommentEnd(sql, i);
      if (end >= sql.size()) return std::string_view::npos;
      i = end;
    } else {
      break;
    }
  }
  return i < sql.size() && sql[i] == '\'' ? i : std::string_view::npos;
}

// The end of a literal whose first quote is at `i`, with the parts continued after it.
size_t LiteralEnd(std::string_view sql, size_t i, bool escapes) {
  i = QuotedEnd(sql, i, escapes);
  for (size_t part = Continuation(sql, i); part != std::string_view::npos; part = Continuation(sql, i)) {
    i = QuotedEnd(sql, part, escapes);
  }
  return i;
}

// The delimiter of a dollar quote ($$ or $tag$) starting at `i`, or empty.
std::string_view DollarDelimiter(std::string_view sql, size_t i) {
  size_t j = i + 1;
  if (j < sql.size() && IdentifierStart(sql[j])) {
    while (j < sql.size() && (IdentifierStart(sql[j]) || Digit(sql[j]))) ++j;
  }
  if (j < sql.size() && sql[j] == '$') return sql.substr(i, j + 1 - i);
  return {};
}

// Where a number starting at `i` ends: digits (with _ between them), a fraction, an exponent.
// Letters right after it are read as a word of their own.
size_t NumberEnd(std::string_view sql, size_t i) {
  while (i < sql.size() && (Digit(sql[i]) || sql[i] == '_')) ++i;
  if (i < sql.size() && sql[i] == '.' && sql.substr(i, 2) != "..") {
    for (++i; i < sql.size() && (Digit(sql[i]) || sql[i] == '_');) ++i;
  }
  if (i < sql.size() && (sql[i] == 'e' || sql[i] == 'E')) {
    size_t j = i + 1;
    if (j < sql.size() && (sql[j] == '+' || sql[j] == '-')) ++j;
    if (j < sql.size() && Digit(sql[j])) {
      for (i = j; i < sql.size() && Digit(sql[i]);) ++i;
    }
  }
  return i;
}

}  // namespace

std::vector<SqlToken> LexPostgresSql(std::string_view sql) {
  std::vector<SqlToken> tokens;
  size_t i = 0;
  const auto add = [&](SqlTokenKind kind, size_t end, std::string name = {}) {
    tokens.push_back(SqlToken{kind, i, end, std::move(name)});
    i = end;
  };
  while (i < sql.size()) {
    const char c = sql[i];
    const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
    const char after = i + 2 < sql.size() ? sql[i + 2] : '\0';
    if (Space(c)) {
      size_t end = i;
      while (end < sql.size() && Space(sql[end])) ++end;
      add(SqlTokenKind::kBlank, end);
    } else if (const size_t comment_end = CommentEnd(sql, i); comment_end != i) {
      add(SqlTokenKind::kComment, comment_end);
    } else if (c == '\'') {
      add(SqlTokenKind::kString, LiteralEnd(sql, i, false));
    } else if ((c == 'e' || c == 'E') && next == '\'') {
      // The parts of an escaped literal continued after a line break are read with escapes too.
      add(SqlTokenKind::kString, LiteralEnd(sql, i + 1, true));
    } else if ((c == 'b' || c == 'B' || c == 'x' || c == 'X' || c == 'n' || c == 'N') && next == '\'') {
      add(SqlTokenKind::kString, LiteralEnd(sql, i + 1, false));
    } else if ((c == 'u' || c == 'U') && next == '&' && after == '\'') {
      add(SqlTokenKind::kString, LiteralEnd(sql, i + 2, false));
    } else if (c == '"' || ((c == 'u' || c == 'U') && next == '&' && after == '"')) {
      const bool unicode = c != '"';
      size_t j = unicode ? i + 3 : i + 1;
      std::string name;
      for (; j < sql.size(); ++j) {
        if (sql[j] == '"') {
          if (j + 1 < sql.size() && sql[j + 1] == '"') {
            name += '"';
            ++j;
          } else {
            ++j;
            break;
          }
        } else {
          name += sql[j];
        }
      }
      add(unicode ? SqlTokenKind::kUnicodeName : SqlTokenKind::kQuotedName, j, std::move(name));
    } else if (c == '$' && Digit(next)) {
      size_t end = i + 1;
      while (end < sql.size() && Digit(sql[end])) ++end;
      add(SqlTokenKind::kParameter, end);
    } else if (c == '$' && !DollarDelimiter(sql, i).empty()) {
      const std::string_view delimiter = DollarDelimiter(sql, i);
      const size_t close = sql.find(delimiter, i + delimiter.size());
      add(SqlTokenKind::kString, close == std::string_view::npos ? sql.size() : close + delimiter.size());
    } else if (IdentifierStart(c)) {
      size_t end = i;
      while (end < sql.size() && IdentifierPart(sql[end])) ++end;
      add(SqlTokenKind::kWord, end, FoldCase(sql.substr(i, end - i)));
    } else if (Digit(c) || (c == '.' && Digit(next))) {
      add(SqlTokenKind::kNumber, NumberEnd(sql, i));
    } else {
      add(SqlTokenKind::kSymbol, i + 1);
    }
  }
  return tokens;
}

size_t NextSignificant(const std::vector<SqlToken>& tokens, size_t from) {
  while (from < tokens.size() &&
         (tokens[from].kind == SqlTokenKind::kBlank || tokens[from].kind == SqlTokenKind::kComment)) {
    ++from;
  }
  return from;
}

void RequireOneStatement(std::string_view sql, const std::vector<SqlToken>& tokens) {
  bool seen = false;     // a statement before the current one
  bool current = false;  // the current one holds something
  for (const SqlToken& token : tokens) {
    if (token.kind == SqlTokenKind::kBlank || token.kind == SqlTokenKind::kComment) continue;
    if (token.kind == SqlTokenKind::kSymbol && sql[token.begin] == ';') {
      seen = seen || current;
      current = false;
      continue;
    }
    if (seen && !current) {
      throw Error::Runtime(kInvalidArgument,
                           "The SQL text holds more than one statement; only one runs per call. The second begins: " +
                               std::string(sql.substr(token.begin, 60)));
    }
    current = true;
  }
  if (!seen && !current) throw Error::Runtime(kInvalidArgument, "The SQL text holds no statement.");
}

namespace postgres {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

namespace {

// True when the tokens make a statement that cannot change the database: a query that writes
// nowhere. The first keyword is looked for past parentheses and empty statements.
bool ReadsOnly(std::string_view sql, const std::vector<SqlToken>& tokens) {
  size_t first = NextSignificant(tokens, 0);
  while (first < tokens.size() && tokens[first].kind == SqlTokenKind::kSymbol &&
         (sql[tokens[first].begin] == '(' || sql[tokens[first].begin] == ';')) {
    first = NextSignificant(tokens, first + 1);
  }
  if (first >= tokens.size() || tokens[first].kind != SqlTokenKind::kWord) return false;
  const std::string& keyword = tokens[first].name;
  if (keyword != "select" && keyword != "values" && keyword != "with" && keyword != "table") return false;
  for (const SqlToken& token : tokens) {
    if (token.kind != SqlTokenKind::kWord) continue;
    for (const char* writer : {"insert", "update", "delete", "merge", "into"}) {
      if (token.name == writer) return false;
    }
  }
  return true;
}

class PostgresDialect final : public EngineDialect {
 public:
  // Unquoted names are folded to lower case, so the quoted form is written that way too.
  std::string QuoteIdentifier(std::string_view name) const override { return "\"" + Lower(name) + "\""; }
  // lower() under the "C" collation folds A-Z only; the columns' ICU collation would also
  // take a fullwidth or other-script spelling for the same text.
  Sql AsciiNoCaseEquals(std::string_view column) const override {
    return Sql("lower(", column, " COLLATE \"C\")=lower(CAST(", kValue, " AS text) COLLATE \"C\")");
  }
  std::string WholeNumberCondition(std::string_view column) const override {
    // Byte-wise: a regular expression cannot run under the columns' case-blind collation.
    return "(" + std::string(column) + " COLLATE \"C\" ~ '^[0-9]+$')";
  }
  // NUMERIC, which takes any count of digits: a cast to an integer type would refuse a long one.
  std::string WholeNumberValue(std::string_view column) const override {
    return "CAST(" + std::string(column) + " AS NUMERIC)";
  }
  // Columns hold only their own type.
  std::string HoldsIntegerCondition(std::string_view column) const override {
    return "(" + std::string(column) + " IS NOT NULL)";
  }
  std::string StoredTypeExpression(std::string_view column) const override {
    return "pg_typeof(" + std::string(column) + ")::text";
  }
  // Opening checks the schema and refuses one that is missing or holds no company with 3F000.
  bool IsMissingCompany(const Error& error) const override { return error.number() == PostgresErrorNumber("3F000"); }
  bool IsSumOverflow(const Error& error) const override {
    // Found anywhere in the description: on its way to the caller the error gains a marker and
    // the blocks of the operations it passed through.
    return error.number() == PostgresErrorNumber("22003") && error.source() == kPostgresSource &&
           error.description().find("integer overflow") != std::string::npos;
  }
};

}  // namespace

// A statement of the library's, rendered with the server's markers: sent as it stands; read for
// its one statement, whether it only reads and the spellings of its words. Invalid argument (5)
// for a text of no statement or of two.
namespace {

// The words of `sql` as written, for the result columns; Invalid argument (5) for a call of
// MONEY(...), which the server would read as a cast to its own money type.
void ReadWords(std::string_view sql, const std::vector<SqlToken>& tokens, StatementText& out) {
  for (size_t t = 0; t < tokens.size(); ++t) {
    const SqlToken& token = tokens[t];
    if (token.kind != SqlTokenKind::kWord) continue;
    out.spellings.try_emplace(token.name, sql.substr(token.begin, token.end - token.begin));
    const size_t next = NextSignificant(tokens, t + 1);
    size_t previous = t;
    while (previous > 0 && (tokens[previous - 1].kind == SqlTokenKind::kBlank ||
                            tokens[previous - 1].kind == SqlTokenKind::kComment)) {
      --previous;
    }
    const bool qualified = previous > 0 && sql[tokens[previous - 1].begin] == '.';
    if (token.name == "money" && !qualified && next < tokens.size() && sql[tokens[next].begin] == '(') {
      throw Error::Runtime(kInvalidArgument,
                           "On a server a query writes the company's MONEY function as lk_money(...): " +
                               std::string(sql.substr(token.begin, token.end - token.begin)) +
                               "(...) is the server's cast to its own money type. Nothing was run.");
    }
  }
}

}  // namespace

StatementText LibraryText(std::string sql, int markers) {
  const std::vector<SqlToken> tokens = LexPostgresSql(sql);
  RequireOneStatement(sql, tokens);
  StatementText out;
  out.reads_only = ReadsOnly(sql, tokens);
  out.parameters = markers;
  ReadWords(sql, tokens, out);
  out.text = std::move(sql);
  return out;
}

// A caller's report statement, as the server is to read it: the text exactly as written (a
// report takes no parameters, and the caller writes the server's SQL), with the spellings of
// its words for the result columns. Invalid argument (5) for a text of no statement or of two,
// and for MONEY(...), which the server would read as a cast to its own money type: there the
// company's function is lk_money(...).
StatementText ReportText(std::string_view sql) {
  const std::vector<SqlToken> tokens = LexPostgresSql(sql);
  RequireOneStatement(sql, tokens);
  StatementText out;
  out.text = sql;
  out.reads_only = ReadsOnly(sql, tokens);
  ReadWords(sql, tokens, out);
  return out;
}

// `text` as a literal the server reads back as it is (standard_conforming_strings on).
std::string QuoteLiteral(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

const EngineDialect& Dialect() {
  static const PostgresDialect dialect;
  return dialect;
}

}  // namespace postgres

}  // namespace ledgerkit
