// How the library describes a table of the company database: its columns with their kind,
// width, default and letter-case rule, and the indexes over them. Engine-neutral: each engine
// writes its own DDL from these descriptions (entities/Catalog.h holds the tables themselves).
//
// Library-internal.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/FieldType.h"

namespace ledgerkit {

struct ColumnDef {
  std::string_view name;
  FieldType kind;  // kKey for the table's own key (its first column) and for links
  int32_t width = 0;               // characters, for kText
  std::string_view default_sql{};  // DEFAULT clause expression, when the column has one
  bool ignore_case = false;        // compared and sorted without regard to letter case
};

struct TableDef {
  std::string_view name;
  std::span<const ColumnDef> columns;  // in the order the entity fetch selects them
};

struct IndexDef {
  std::string_view table;
  std::string_view columns;  // comma-separated
};

}  // namespace ledgerkit
