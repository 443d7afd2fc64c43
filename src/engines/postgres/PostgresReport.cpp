// The report rules of the PostgreSQL engine: which statements a caller's own report query may
// not run, judged on the statement text as the server will read it.
//
// A report runs as the company's report role (PostgresEngine.cpp), which may read and change the
// company's tables and nothing else. The role alone is no boundary within a session whose user
// may become another role: the server checks a change of role against the session's user, so
// whatever changes a setting (SET, set_config, the pg_settings view, or SQL run from a text by
// query_to_xml or ts_stat) could take the user's own rights back. Those, and what would outlive
// the call (an open transaction, prepared statements, cursors, temporary objects, code left in a
// schema every company shares), are refused here before anything runs. The text is read with the
// server's own rules for literals, quoted names and comments, so that nothing the server reads
// as a name can be hidden from this check in what a simpler reading takes for a literal.
#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {

namespace {

bool IdentifierStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) || c == '_' || u >= 0x80;
}

bool IdentifierPart(char c) {
  return IdentifierStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// A name or keyword of the statement: unquoted words lower-cased as the server folds them,
// quoted names with their quotes taken off (and lower-cased too, to compare).
struct Word {
  std::string text;
  bool quoted = false;
};

struct Lexed {
  std::vector<Word> words;
  bool unicode_name = false;  // a U&"..." name, whose escapes could spell any name
};

// Where the comment starting at `i` ends (block comments nest, as the server reads them), or `i`
// when none starts there.
size_t CommentEnd(std::string_view sql, size_t i) {
  if (sql.substr(i, 2) == "--") {
    const size_t end = sql.find('\n', i);
    return end == std::string_view::npos ? sql.size() : end + 1;
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

// Where the literal whose opening quote is at `i` ends. `escapes`: backslash escapes count (an
// E'...' literal).
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

// The opening quote of the next part of a literal continued after `i` (blanks holding a line
// break, and -- comments, between two quoted parts), or npos.
size_t Continuation(std::string_view sql, size_t i) {
  while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\f' || sql[i] == '\r')) ++i;
  if (i >= sql.size() || sql[i] != '\n') return std::string_view::npos;
  while (i < sql.size()) {
    if (std::isspace(static_cast<unsigned char>(sql[i]))) {
      ++i;
    } else if (sql.substr(i, 2) == "--") {
      const size_t end = sql.find('\n', i);
      if (end == std::string_view::npos) return std::string_view::npos;
      i = end + 1;
    } else {
      break;
    }
  }
  return i < sql.size() && sql[i] == '\'' ? i : std::string_view::npos;
}

// The delimiter of a dollar-quoted literal ($$ or $tag$) starting at `i`, or empty.
std::string_view DollarDelimiter(std::string_view sql, size_t i) {
  size_t j = i + 1;
  if (j < sql.size() && IdentifierStart(sql[j])) {
    while (j < sql.size() && IdentifierPart(sql[j]) && sql[j] != '$') ++j;
  }
  if (j < sql.size() && sql[j] == '$') return sql.substr(i, j + 1 - i);
  return {};
}

// The words and quoted names of `sql`, read as the server reads them with
// standard_conforming_strings on (set for every report): nothing inside a literal or a comment.
Lexed Lex(std::string_view sql) {
  Lexed out;
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
    if (const size_t end = CommentEnd(sql, i); end != i) {
      i = end;
    } else if (c == '\'') {
      i = QuotedEnd(sql, i, false);
    } else if ((c == 'e' || c == 'E') && next == '\'') {
      // An escaped literal's continuation parts are read with escapes too.
      i = QuotedEnd(sql, i + 1, true);
      for (size_t part = Continuation(sql, i); part != std::string_view::npos; part = Continuation(sql, i)) {
        i = QuotedEnd(sql, part, true);
      }
    } else if ((c == 'b' || c == 'B' || c == 'x' || c == 'X' || c == 'n' || c == 'N') && next == '\'') {
      i = QuotedEnd(sql, i + 1, false);
    } else if ((c == 'u' || c == 'U') && next == '&' && i + 2 < sql.size() && sql[i + 2] == '\'') {
      i = QuotedEnd(sql, i + 2, false);
    } else if ((c == 'u' || c == 'U') && next == '&' && i + 2 < sql.size() && sql[i + 2] == '"') {
      out.unicode_name = true;
      i += 2;
    } else if (c == '"') {
      std::string name;
      for (++i; i < sql.size(); ++i) {
        if (sql[i] == '"') {
          if (i + 1 < sql.size() && sql[i + 1] == '"') {
            name += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          name += sql[i];
        }
      }
      out.words.push_back(Word{LowerAscii(name), true});
    } else if (c == '$' && std::isdigit(static_cast<unsigned char>(next))) {
      for (++i; i < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i]));) ++i;
    } else if (c == '$' && !DollarDelimiter(sql, i).empty()) {
      const std::string_view delimiter = DollarDelimiter(sql, i);
      const size_t close = sql.find(delimiter, i + delimiter.size());
      i = close == std::string_view::npos ? sql.size() : close + delimiter.size();
    } else if (IdentifierStart(c)) {
      const size_t start = i;
      while (i < sql.size() && IdentifierPart(sql[i])) ++i;
      out.words.push_back(Word{LowerAscii(sql.substr(start, i - start)), false});
    } else {
      // Digits, operators and punctuation. A number's trailing letters are read as a word of their
      // own, which only ever refuses more.
      ++i;
    }
  }
  return out;
}

bool StartsWithAny(const std::string& word, std::initializer_list<std::string_view> prefixes) {
  for (const std::string_view prefix : prefixes) {
    if (word.starts_with(prefix)) return true;
  }
  return false;
}

// The first keyword of the statement, looking through EXPLAIN and its options to the statement
// it runs; the index of the word after it.
size_t Leading(const std::vector<Word>& words, std::string& keyword) {
  size_t at = 0;
  keyword.clear();
  if (words.empty() || words[0].quoted) return 0;
  keyword = words[0].text;
  at = 1;
  if (keyword != "explain") return at;
  // EXPLAIN [ANALYZE] [VERBOSE] or EXPLAIN (option value, ...): every option is a word, so the
  // statement explained begins at the first word that starts a statement.
  for (; at < words.size(); ++at) {
    const std::string& word = words[at].text;
    if (words[at].quoted) continue;
    if (word == "select" || word == "insert" || word == "update" || word == "delete" || word == "merge" ||
        word == "values" || word == "with" || word == "table" || word == "execute" || word == "declare" ||
        word == "create") {
      keyword = word;
      return at + 1;
    }
  }
  return at;
}

}  // namespace

bool PostgresReportMayRun(std::string_view sql, std::string& refused) {
  const Lexed lexed = Lex(sql);
  if (lexed.unicode_name) {
    refused = "names written with Unicode escapes (U&\"...\")";
    return false;
  }
  std::string first;
  size_t after = Leading(lexed.words, first);
  for (const char* keyword : {"set", "reset", "begin", "start", "commit", "end", "rollback", "savepoint", "release",
                              "abort", "prepare", "execute", "deallocate", "discard", "listen", "notify", "unlisten",
                              "load", "copy", "vacuum", "lock", "do", "call", "checkpoint", "cluster", "reindex",
                              "grant", "revoke", "declare", "fetch", "move", "close"}) {
    if (first == keyword) {
      refused = UpperAscii(first);
      return false;
    }
  }
  if (first == "create") {
    // Code would stay behind in the one place the role may create anything, a schema the
    // company shares with every other (its temporary schema, or public on older servers), and
    // run later with whoever calls it.
    while (after < lexed.words.size() &&
           (lexed.words[after].text == "or" || lexed.words[after].text == "replace" ||
            lexed.words[after].text == "trusted" || lexed.words[after].text == "procedural" ||
            lexed.words[after].text == "constraint" || lexed.words[after].text == "default")) {
      ++after;
    }
    const std::string kind = after < lexed.words.size() ? lexed.words[after].text : std::string();
    for (const char* code : {"function", "procedure", "aggregate", "operator", "trigger", "rule", "cast",
                             "language", "type", "transform", "event", "conversion"}) {
      if (kind == code) {
        refused = "CREATE " + UpperAscii(kind);
        return false;
      }
    }
  }
  for (size_t i = 0; i < lexed.words.size(); ++i) {
    const Word& word = lexed.words[i];
    const std::string& name = word.text;
    // CREATE TEMP ... and SELECT ... INTO TEMP ...; elsewhere the word may be a name.
    const bool makes_table = first == "create" || (i > 0 && lexed.words[i - 1].text == "into");
    if (!word.quoted && makes_table && (name == "temp" || name == "temporary")) {
      refused = "temporary tables, views or sequences";
      return false;
    }
    if (name.starts_with("pg_temp")) {
      refused = "the temporary schema (" + name + ")";
      return false;
    }
    if (name == "pg_settings") {
      refused = "the pg_settings view";
      return false;
    }
    if (name == "set_config" || name == "pg_read_file" || name == "pg_read_binary_file" || name == "lo_import" ||
        name == "lo_export" || name == "pg_terminate_backend" || name == "pg_cancel_backend" || name == "pg_notify" ||
        name == "ts_stat" || name == "ts_rewrite" ||
        StartsWithAny(name, {"query_to_xml", "cursor_to_xml", "pg_ls_", "dblink", "pg_sleep", "pg_advisory",
                             "pg_try_advisory"})) {
      refused = name + "()";
      return false;
    }
  }
  return true;
}

}  // namespace ledgerkit
