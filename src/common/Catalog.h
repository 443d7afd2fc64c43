// The company database described without any engine's words: its tables, their columns and
// what each column holds, the indexes, and the marks that tell a company database and its
// version. The entities define the one catalog (entities/Catalog.h, CompanyCatalog); every
// engine writes its own schema from it, and every bound value takes its kind, width and label
// from it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

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
};

struct Catalog {
  std::span<const TableDef> tables;
  std::span<const IndexDef> indexes;
  int32_t version;  // the schema version a database made from this catalog carries
  int32_t mark;     // tells a company database from any other database of the engine
};

// The company database's catalog (entities/Catalog.cpp).
const Catalog& CompanyCatalog();

}  // namespace ledgerkit
