// Library-internal, shared by the files of the PostgreSQL engine only: the one reading of a SQL
// text by the server's own rules, which the library's statements and the report rules
// (PostgresReport.cpp) both go by; the texts the server is sent, and the dialect's SQL forms.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/Engine.h"

namespace ledgerkit {

enum class SqlTokenKind {
  kBlank,        // white space
  kComment,      // -- to the end of the line, or /* ... */ (nested ones included)
  kWord,         // a keyword or unquoted name
  kQuotedName,   // "..." ("" inside for one ")
  kUnicodeName,  // U&"...", whose escapes may spell any name
  kString,       // '...', E'...', B'...', X'...', N'...', U&'...', $$...$$ or $tag$...$tag$
  kParameter,    // $1, $2, ...
  kNumber,       // 12, 1.5, .5, 1e-3
  kSymbol,       // any other single character: operators, parentheses, ; , [ ] ?
};

struct SqlToken {
  SqlTokenKind kind;
  size_t begin = 0;  // where it starts and ends in the text
  size_t end = 0;
  // kWord: the word folded to lower case (A-Z only), as the server folds it; kQuotedName: the
  // name with its quotes taken off, as written; empty otherwise.
  std::string name;
};

// The tokens of `sql`, covering it from start to end, read as the server reads a text with
// standard_conforming_strings on: a backslash is an escape only in E'...' (and the parts of it
// continued after a line break), a block comment ends at its own */ however many it holds, a
// dollar quote at the next occurrence of its own delimiter. A literal, name or comment left open
// runs to the end of the text (the server refuses such a text).
std::vector<SqlToken> LexPostgresSql(std::string_view sql);

// The index of the first token at or after `from` that is no blank or comment; tokens.size()
// when none is left.
size_t NextSignificant(const std::vector<SqlToken>& tokens, size_t from);

// Checks that the text holds exactly one statement, as the server counts them (`;` outside
// literals, names and comments ends one; an empty one, nothing but blanks and comments, is
// none): Invalid argument (5) for a text that holds none, and for one that holds a second, whose
// beginning the message quotes.
void RequireOneStatement(std::string_view sql, const std::vector<SqlToken>& tokens);

namespace postgres {

// A statement text as the server is sent it, read once by LexPostgresSql: the number of its
// markers ($1, $2, ...); the words it is written with, for the names of result columns (the
// server folds unquoted names to lower case); whether it only reads.
struct StatementText {
  std::string text;
  int parameters = 0;
  std::map<std::string, std::string, std::less<>> spellings;  // lower case -> as written
  bool reads_only = false;
};

// A statement of the library's (common/Sql.h), rendered with the server's markers, of which it
// holds `markers`, or a host's own (OpenRecordset): sent as it stands. Invalid argument (5) for
// a text of no statement or of two, and for MONEY(...) as in ReportText.
StatementText LibraryText(std::string sql, int markers);

// A caller's report statement, as the server is to read it: the text exactly as written (a
// report takes no parameters, and the caller writes the server's SQL), with the spellings of
// its words for the result columns. Invalid argument (5) for a text of no statement or of two,
// and for MONEY(...), which the server would read as a cast to its own money type: there the
// company's function is lk_money(...).
StatementText ReportText(std::string_view sql);

// `text` as a literal the server reads back as it is (standard_conforming_strings on).
std::string QuoteLiteral(std::string_view text);

// `text` with A-Z folded to lower case, as the server folds an unquoted name.
std::string Lower(std::string_view text);

// The SQL forms of the PostgreSQL engine (EngineDialect).
const EngineDialect& Dialect();

}  // namespace postgres

}  // namespace ledgerkit
