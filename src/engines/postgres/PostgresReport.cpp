// The report rules of the PostgreSQL engine: which statements a caller's own report query may
// not run, judged on the statement text as the server will read it.
//
// A report runs as the company's report role (PostgresEngine.cpp), which may read and change the
// company's tables and nothing else. The role alone is no boundary within a session whose user
// may become another role: the server checks a change of role against the session's user, so
// whatever changes a setting (SET, set_config, the pg_settings view, or SQL run from a text by
// query_to_xml or ts_stat) could take the user's own rights back. Those, and what would outlive
// the call (an open transaction, prepared statements, cursors, temporary or unlogged tables,
// large objects, the role's own settings and password, code left in a schema every company
// shares), and row locks, are refused here before anything runs. The text is read by the
// engine's one reading of SQL (PostgresSqlText.h), the server's own rules for literals, dollar
// quotes, quoted names and comments, so that nothing the server reads as a name can be hidden
// from this check in what a simpler reading takes for a literal.
#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "engines/postgres/PostgresEngine.h"
#include "engines/postgres/PostgresSqlText.h"

namespace ledgerkit {

namespace {

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
  bool called = false;     // a ( follows: a function's name
  bool qualified = false;  // a . comes before: the name of something in a schema
};

struct Lexed {
  std::vector<Word> words;
  bool unicode_name = false;  // a U&"..." name, whose escapes could spell any name
};

// The words and quoted names of `sql`, read by the engine's one reading of SQL text
// (PostgresSqlText.h), with standard_conforming_strings on as for every report: nothing inside
// a literal or a comment.
Lexed Lex(std::string_view sql) {
  const std::vector<SqlToken> tokens = LexPostgresSql(sql);
  Lexed out;
  for (size_t t = 0; t < tokens.size(); ++t) {
    const SqlToken& token = tokens[t];
    if (token.kind == SqlTokenKind::kUnicodeName) out.unicode_name = true;
    if (token.kind != SqlTokenKind::kWord && token.kind != SqlTokenKind::kQuotedName) continue;
    Word word;
    word.quoted = token.kind == SqlTokenKind::kQuotedName;
    word.text = token.name;
    if (word.quoted) {
      for (char& c : word.text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
    }
    const size_t next = NextSignificant(tokens, t + 1);
    word.called = next < tokens.size() && tokens[next].kind == SqlTokenKind::kSymbol && sql[tokens[next].begin] == '(';
    size_t previous = t;
    while (previous > 0 && (tokens[previous - 1].kind == SqlTokenKind::kBlank ||
                            tokens[previous - 1].kind == SqlTokenKind::kComment)) {
      --previous;
    }
    word.qualified = previous > 0 && tokens[previous - 1].kind == SqlTokenKind::kSymbol &&
                     sql[tokens[previous - 1].begin] == '.';
    out.words.push_back(std::move(word));
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
  if (first == "alter" && after < lexed.words.size() && !lexed.words[after].quoted) {
    // A role's own settings and password, and the defaults of what it makes, stay with the role
    // after the call; a large object is no company table.
    const std::string& what = lexed.words[after].text;
    if (what == "role" || what == "user" || what == "group" || what == "default" || what == "large") {
      refused = "ALTER " + UpperAscii(what);
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
    // CREATE [LOCAL|GLOBAL] TEMP|UNLOGGED ... and SELECT ... INTO [LOCAL|GLOBAL] TEMP|UNLOGGED ...;
    // elsewhere the word may be a name.
    size_t before = i;
    while (before > 0 && !lexed.words[before - 1].quoted &&
           (lexed.words[before - 1].text == "local" || lexed.words[before - 1].text == "global")) {
      --before;
    }
    const bool makes_table =
        first == "create" || (before > 0 && !lexed.words[before - 1].quoted && lexed.words[before - 1].text == "into");
    if (!word.quoted && makes_table && (name == "temp" || name == "temporary")) {
      refused = "temporary tables, views or sequences";
      return false;
    }
    if (!word.quoted && makes_table && name == "unlogged") {
      refused = "unlogged tables";
      return false;
    }
    // Row locks: a report reads the state its transaction sees, and holds back no writer.
    if (!word.quoted && name == "for" && i + 1 < lexed.words.size() && !lexed.words[i + 1].quoted) {
      const std::string& lock = lexed.words[i + 1].text;
      const bool no_key = lock == "no" && i + 3 < lexed.words.size() && lexed.words[i + 2].text == "key" &&
                          lexed.words[i + 3].text == "update";
      const bool key_share = lock == "key" && i + 2 < lexed.words.size() && lexed.words[i + 2].text == "share";
      if (lock == "update" || lock == "share" || no_key || key_share) {
        refused = std::string("row locks (FOR ") +
                  (no_key ? "NO KEY UPDATE" : key_share ? "KEY SHARE" : UpperAscii(lock)) + ")";
        return false;
      }
    }
    // Large objects belong to the database, not to the company, and outlive the call.
    if (word.called && (name.starts_with("lo_") || name == "loread" || name == "lowrite")) {
      refused = "large objects (" + name + "())";
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
