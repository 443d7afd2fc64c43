#include "Copy.h"

#include <signal.h>

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <ostream>

#include <CLI/CLI.hpp>

#include "ledgerkit/common/DataAccess.h"
#include "common/DataAccessInternal.h"
#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "common/UnfinishedFiles.h"
#include "common/UnitOfWork.h"
#include "entities/Catalog.h"
#include "entities/RegisterTotals.h"

namespace ledgerkit::cli {

namespace {

// "SELECT a, b FROM T ORDER BY a" and "INSERT INTO T (a, b) VALUES (?, ?)" for every column of
// the catalog's table, in catalog order, each name as the engine reads it (Note is a keyword).
std::string ColumnList(const TableDef& table, const EngineDialect& dialect) {
  std::string list;
  for (const ColumnDef& column : table.columns) list += (list.empty() ? "" : ", ") + dialect.QuoteIdentifier(column.name);
  return list;
}

std::string SelectSql(const TableDef& table, const EngineDialect& dialect) {
  return "SELECT " + ColumnList(table, dialect) + " FROM " + std::string(table.name) + " ORDER BY " +
         dialect.QuoteIdentifier(table.columns[0].name);
}

Sql InsertSql(const TableDef& table, const EngineDialect& dialect) {
  return Sql("INSERT INTO ", table.name, " (", ColumnList(table, dialect), ") VALUES (",
             ValueList(table.columns.size()), ")");
}

bool HoldsWholeNumber(FieldType kind) {
  switch (kind) {
    case FieldType::kKey:
    case FieldType::kLong:
    case FieldType::kInteger:
    case FieldType::kCurrency:
    case FieldType::kBoolean: return true;
    default: return false;
  }
}

// The row being copied, for messages: "ACAccount row ACAccountID=7".
std::string RowLabel(const TableDef& table, const EngineStatement& row) {
  const std::string key = row.ColumnIsNull(0) ? "Null" : std::string(row.ColumnText(0));
  return std::string(table.name) + " row " + std::string(table.columns[0].name) + "=" + key;
}

[[noreturn]] void CannotHold(const TableDef& table, const EngineStatement& row, const ColumnDef& column,
                             const std::string& what) {
  throw Error::Runtime(kInvalidArgument,
                       "The copy cannot hold " + RowLabel(table, row) + ": " + std::string(column.name) + " " + what +
                           "; correct it in the source (ledgerkit query) and copy again.");
}

// Binds column `index` of the source's current row to marker `index + 1` of the insert, as the
// destination holds that column's kind. A number column takes only whole numbers in the 64-bit
// range (a file may hold a fraction or text there, which a server column cannot): an amount is
// never rounded on its way.
void BindValue(const TableDef& table, const EngineStatement& row, int index, EngineStatement& insert) {
  const ColumnDef& column = table.columns[static_cast<size_t>(index)];
  const int marker = index + 1;
  if (row.ColumnIsNull(index)) return insert.BindNull(marker);
  if (row.ColumnIsBinary(index)) CannotHold(table, row, column, "holds binary data");
  const std::optional<int64_t> whole = row.ColumnInteger(index);
  const std::optional<double> real = whole ? std::nullopt : row.ColumnReal(index);
  if (HoldsWholeNumber(column.kind)) {
    if (whole) return insert.BindInteger(marker, *whole);
    if (real) {
      const double value = *real;
      // 2^63 is exactly representable; every double below it in magnitude that is whole fits.
      if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9223372036854775808.0) {
        return insert.BindInteger(marker, static_cast<int64_t>(value));
      }
      CannotHold(table, row, column, "holds " + std::string(row.ColumnText(index)) + ", which is no whole number");
    }
    const std::string_view text = row.ColumnText(index);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
      CannotHold(table, row, column, "holds the text " + QuoteForMessage(text) + ", which is no whole number");
    }
    return insert.BindInteger(marker, value);
  }
  if (column.kind == FieldType::kDouble && (whole || real)) {
    return insert.BindReal(marker, whole ? static_cast<double>(*whole) : *real);
  }
  if (column.kind == FieldType::kVariant && whole) return insert.BindInteger(marker, *whole);
  if (column.kind == FieldType::kVariant && real) return insert.BindReal(marker, *real);
  insert.BindText(marker, row.ColumnText(index));
}

// The accounts whose kept register totals differ between `a` and `b`, or are kept in only one.
int64_t CountDifferences(const RegisterTotalsByAccount& a, const RegisterTotalsByAccount& b) {
  int64_t differ = 0;
  for (const auto& [id, values] : a) {
    const auto found = b.find(id);
    if (found == b.end() || found->second != values) ++differ;
  }
  for (const auto& [id, values] : b) differ += a.contains(id) ? 0 : 1;
  return differ;
}

// Copies every row of `table` from `from` to `to`; returns how many. A row the destination
// refuses fails naming the row, with the engine's number and source.
int64_t CopyTable(const TableDef& table, EngineConnection& from, EngineConnection& to) {
  const auto rows = from.Prepare(Sql(SelectSql(table, from.Dialect())));
  const auto insert = to.Prepare(InsertSql(table, to.Dialect()));
  const int columns = static_cast<int>(table.columns.size());
  int64_t copied = 0;
  while (rows->Step()) {
    insert->Reset();
    for (int i = 0; i < columns; ++i) BindValue(table, *rows, i, *insert);
    try {
      while (insert->Step()) {
      }
    } catch (const Error& error) {
      throw Error(error.number(), error.source(),
                  "The destination refused " + RowLabel(table, *rows) + ": " + error.description());
    }
    ++copied;
  }
  return copied;
}

// SIGINT, SIGTERM or SIGHUP during a copy: the file being made goes, then the signal ends the
// process as it would have (a copy to a server is rolled back by the server when the session
// ends).
void RemoveUnfinishedAndStop(int signal_number) {
  RemoveUnfinishedFiles();
  ::raise(signal_number);  // the handler was reset on entry: this ends the process
}

void StopCleanlyOnSignals() {
  struct sigaction action {};
  action.sa_handler = RemoveUnfinishedAndStop;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A signal the caller had ignored (nohup, a background job) stays ignored.
    if (::sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

bool IsServerCompany(const std::string& account) {
  try {
    return !NamesCompanyFile(account);
  } catch (const Error&) {
    // No engine of the build reads it (an unknown scheme): no file is looked for under that name.
    return true;
  }
}

std::string ShownCompany(const std::string& account) { return ShownAccount(account); }

CopyResult CopyCompany(const std::string& source, const std::string& destination, bool hold_source_writes) {
  CopyResult result;
  const Catalog& catalog = CompanyCatalog();
  // The source's read transaction is open before the destination is made and until it is
  // filled: every table is read from one state of the source.
  UnitOfWork::Run(source, hold_source_writes ? Access::kWrite : Access::kRead, [&] {
    EngineConnection& from = UnitOfWork::Active(source)->connection();
    const RegisterTotalsByAccount source_totals = AllRegisterTotals(from);
    CreateEngineDatabase(BuildConnectionString(destination), catalog, [&] {
      UnitOfWork::Run(destination, Access::kWrite, [&] {
        EngineConnection& to = UnitOfWork::Active(destination)->connection();
        for (const TableDef& table : catalog.tables) {
          result.rows.emplace_back(std::string(table.name), CopyTable(table, from, to));
          to.AdvanceKeyCounter(table, from.KeyCounter(table));
        }
        result.totals_rebuilt = CountDifferences(source_totals, AllRegisterTotals(to));
      });
    });
  });
  return result;
}

Subcommand AddCopyCommand(CLI::App& app) {
  struct Options {
    std::string source, destination;
  };
  auto options = std::make_shared<Options>();
  auto* command = app.add_subcommand(
      "copy", "Copy a company, every row with its keys, into a new company file or a new company on a server "
              "(all or nothing; refuses an existing destination).");
  command->add_option("SRC", options->source, "Company file path or postgresql:// URI to copy")->required();
  command->add_option("DST", options->destination, "New company file path or postgresql://...?company=NAME URI")->required();
  return Subcommand{command, [options](std::ostream& out) {
                      StopCleanlyOnSignals();
                      const CopyResult copied = CopyCompany(options->source, options->destination);
                      int64_t total = 0;
                      std::string tables;
                      for (const auto& [table, rows] : copied.rows) {
                        total += rows;
                        if (rows != 0) tables += (tables.empty() ? "" : ", ") + table + " " + std::to_string(rows);
                      }
                      out << "Copied " << ShownCompany(options->source) << " to " << ShownCompany(options->destination)
                          << ": " << total << (total == 1 ? " row" : " rows") << (tables.empty() ? "" : " (" + tables + ")");
                      if (copied.totals_rebuilt != 0) {
                        out << "; the kept register totals of " << copied.totals_rebuilt
                            << (copied.totals_rebuilt == 1 ? " account" : " accounts")
                            << " did not match the source's register and were rebuilt from it";
                      }
                      out << ".\n";
                      return 0;
                    }};
}

}  // namespace ledgerkit::cli
