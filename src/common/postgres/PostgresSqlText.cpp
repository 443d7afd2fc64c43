// The reading of a SQL text by the server's rules (PostgresSqlText.h). Where this reading and the
// server's could differ, the difference only ever makes a literal or comment look shorter, never
// longer: a reader that took the server's code for the inside of a literal would let the report
// rules miss it.
#include "common/postgres/PostgresSqlText.h"

#include <cctype>

#include "common/Error.h"

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

}  // namespace ledgerkit
