// The company database described without any engine's words: its tables, their columns and
// what each column holds, the indexes, and the marks that tell a company database and its
// version. The entities define the one catalog (entities/Catalog.h, CompanyCatalog); every
// engine writes its own schema from it, and every bound value takes its kind, width and label
// from it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/FieldType.h"

namespace ledgerkit {

// What a column holds when a row is inserted without it; each engine writes the meaning in its
// own form.
enum class ColumnDefault {
  kNone,  // Null
  kZero,  // the number 0 (a zero amount, False)
  kNow,   // the local date and time of the insert, to the second
};

struct ColumnDef {
  std::string_view name;
  FieldType kind;                                      // kKey for the table's own key (its first column) and links
  int32_t width = 0;                                   // characters, for kText
  ColumnDefault default_value = ColumnDefault::kNone;  // when the insert leaves the column out
  bool ignore_case = false;                            // compared and sorted without regard to letter case
};

struct TableDef {
  std::string_view name;
  std::span<const ColumnDef> columns;  // in the order the entity fetch selects them; the key first
};

struct IndexDef {
  std::string_view table;
  std::string_view columns;  // comma-separated
  // An index of the whole numbers the one text column `columns` holds
  // (EngineDialect::WholeNumberValue), over the rows where it holds one (WholeNumberCondition):
  // the greatest is read from its last entry rather than from every row.
  bool whole_numbers = false;
};

// One sum a KeptTotalsDef keeps: the amounts of `amount` (Null counting for nothing) summed
// into `total`, and the rows with an amount counted in `count`, which tells "no amounts" from
// amounts that sum to 0.
struct KeptSumDef {
  std::string_view amount;
  std::string_view total;
  std::string_view count;
};

// Totals of a table's amounts kept per value of one of its columns, in a table of the library's
// own, on every change of the source rows whoever makes it (each engine writes triggers for
// it); rows whose `source_key` is Null are kept nowhere. The table's columns are `key` (the
// value of `source_key`, its primary key) and each sum's total and count, exact integers that
// are never Null (0 when nothing was added). A change that would take a total out of the
// currency range is refused as an Overflow ("Overflow: <overflow_what> would leave the currency
// range.").
struct KeptTotalsDef {
  std::string_view table;       // lk_RegisterTotal
  std::string_view key;         // AccountID
  std::string_view source;      // ACTransaction
  std::string_view source_key;  // Parent
  std::span<const KeptSumDef> sums;
  std::string_view overflow_what;
  // The engine's names of the triggers on the source table, for each kind of change (an engine
  // may serve two kinds with one), and of the function they run, where the engine needs one.
  std::string_view insert_trigger, delete_trigger, update_trigger, change_function;
};

// A money column whose value a change may not take out of the currency range (refused as an
// Overflow, "Overflow: <what> would leave the currency range."). An engine whose integer
// arithmetic refuses such a value itself needs nothing more.
struct RangeGuardDef {
  std::string_view table;
  std::string_view column;
  std::string_view what;     // "an account's balance"
  std::string_view trigger;  // the engine's name of the guard, where one is written
};

// A row of `table` that rows of `referencing` still name in `column` is not deleted ("The
// <row> is not deleted: <rows> (<referencing>.<column>) still refer to it.").
struct DeleteGuardDef {
  std::string_view table;  // ACAccount (its key is its first column)
  std::string_view row;    // "account"
  std::string_view referencing;
  std::string_view column;
  std::string_view rows;     // "register rows"
  std::string_view trigger;  // the engine's name of the guard, where each has one of its own
};

class EngineConnection;
class EngineDialect;

// The CREATE INDEX statement of `index` in `dialect`'s words, under the name the index always
// has; `if_missing` leaves an index of that name that is there (an upgrade meets the indexes of
// companies written by earlier libraries).
std::string IndexSql(const IndexDef& index, const EngineDialect& dialect, bool if_missing = false);

// What one schema version changed, as a step the engines apply to a company of an earlier
// version (EngineConnection::CheckSchema), in the order of the catalog's list.
enum class SchemaStepKind {
  kAddTable,         // `table`, with the columns it has at that step (ColumnsAtStep)
  kAddColumn,        // `column` added to `table`; existing rows take its default
  kAddIndex,         // an index on `table` (`columns`, `whole_numbers`), made as the catalog's are
  kRedefineColumns,  // every table there takes the catalog's definition of each of its columns
                     // (kind, width, letter case, the checks on its values), keeping every row
  kBackfill,         // `backfill` fills what earlier steps added, in the upgrade's transaction
};

// A backfill works through the connection's ordinary Prepare, Bind and Step calls, so one
// function serves every engine. An Error it throws undoes the whole upgrade.
using SchemaBackfill = void (*)(EngineConnection& connection);

struct SchemaStep {
  int32_t version;  // the version the company has once this step (and the others of it) is done
  SchemaStepKind kind;
  std::string_view table = {};        // kAddTable, kAddColumn, kAddIndex
  const ColumnDef* column = nullptr;  // kAddColumn: as the catalog's table lists it
  std::string_view columns = {};      // kAddIndex: comma-separated
  std::string_view name = {};         // kBackfill: what it fills, for the engine's messages
  SchemaBackfill backfill = nullptr;  // kBackfill
  bool whole_numbers = false;         // kAddIndex: as IndexDef::whole_numbers
};

struct Catalog {
  std::span<const TableDef> tables;
  std::span<const IndexDef> indexes;
  int32_t version;  // the schema version a database made from this catalog carries
  int32_t mark;     // tells a company database from any other database of the engine
  std::span<const KeptTotalsDef> kept_totals;   // made after the tables, in this order
  std::span<const RangeGuardDef> range_guards;
  std::span<const DeleteGuardDef> delete_guards;
  // What each version after the first changed, oldest first; the one place that says it. The
  // tables, indexes and rules above are those of `version`; after the steps an engine makes the
  // rules (kept totals' triggers, range and delete guards) again from the catalog.
  std::span<const SchemaStep> steps;
};

// The columns `table` has once `step` (one of the catalog's steps) is done: the catalog's, less
// those a step after it in the list adds.
std::vector<ColumnDef> ColumnsAtStep(const Catalog& catalog, const TableDef& table, const SchemaStep& step);

// The catalog's table `name`, as a step names it; Invalid argument (5) for a name it lacks.
const TableDef& CatalogTable(const Catalog& catalog, std::string_view name);

// Runs a kBackfill step on `connection`, inside the upgrade's transaction; Invalid argument (5)
// for a step that names no function.
void RunBackfill(EngineConnection& connection, const SchemaStep& step);

// The text of the Overflow a range guard (or a kept total) raises, and of a delete guard's
// refusal; the same words on every engine.
std::string RangeGuardMessage(std::string_view what);
std::string DeleteGuardMessage(const DeleteGuardDef& guard);

// The column `column` of the table `table` as the catalog describes it, both names compared
// without regard to the letter case of A-Z (as the engines read unquoted names); nothing for a
// name the catalog does not hold. A kept-totals table is the catalog's too: its key is a kKey
// column and each total and count a kLong.
std::optional<ColumnDef> FindCatalogColumn(const Catalog& catalog, std::string_view table, std::string_view column);

// The company database's catalog (entities/Catalog.cpp).
const Catalog& CompanyCatalog();

}  // namespace ledgerkit
