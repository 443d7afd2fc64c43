// Command: the parameterised statement by which managers write and read back keys.
//
// One statement at a time (common/Sql.h) with positional parameters, each with a name ("p1", "p2",
// ...), a type, a size and a value. Values are converted to the parameter's type and checked
// against its size when they are bound, at Execute: a text longer than its size is refused,
// never cut. The command joins the unit of work active on its Account (seeing its rows and
// writing inside it) or, when there is none, uses a connection of its own for its lifetime.
// The compiled statement is kept while the text stays the same, so a loop that assigns new
// values and executes again compiles once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Catalog.h"
#include "common/Sql.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// A value bound to a statement's marker: converted to `type` (kKey through ToKey, so a
// fractional value is refused, not rounded) and, for text, checked against `size` characters.
struct Parameter {
  std::string name;
  FieldType type = FieldType::kLong;
  // Characters, for kText. 0: no limit, for a value that only selects rows (a filter's text
  // that is longer than its column simply matches nothing).
  int32_t size = 0;
  Variant value;
  // What the value is, for messages ("Name"); the parameter's name when left empty.
  std::string label;
};

// `value` as the value of the catalog column `column` (entities/Catalog.h): bound as the
// column's kind, a text checked against the column's width, named in messages by `label`
// (the column's name when empty).
Parameter Param(const ColumnDef& column, Variant value, std::string_view label = {});

// `value` compared with `column` to select rows: bound as the column's kind, a text without a
// width check (a longer text simply matches nothing), Null as Null.
Parameter Selecting(const ColumnDef& column, Variant value);

// A caller's text that only selects rows: bound as text without a width check (a longer text
// simply matches nothing); Null selects what an empty text selects.
Parameter SelectingText(const Variant& value, std::string label);

// Binds `parameter`'s value, converted to its type, to the marker `index` (from 1). Fails as the
// conversion fails, or with Invalid argument (5) for a text longer than its size.
void BindParameter(EngineStatement& statement, int index, const Parameter& parameter);

class Command {
 public:
  // Fails with an engine Error when `account` names no database and no unit is active on it.
  explicit Command(const Variant& account);
  ~Command();
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // Sets the statement text; exactly one statement. The parameter list is kept.
  void SetText(Sql sql);

  // Adds the value of the next marker, as the value of `column` (see Param).
  void Bind(const ColumnDef& column, Variant value, std::string_view label = {}) {
    parameters_.push_back(Param(column, std::move(value), label));
  }
  void Append(std::string name, FieldType type, int32_t size, Variant value, std::string label = {});
  void Append(Parameter parameter) { parameters_.push_back(std::move(parameter)); }
  // Removes the parameter at `index` (zero-based); Invalid argument (5) when there is none.
  void Delete(size_t index);
  // Removes every parameter.
  void Clear() { parameters_.clear(); }
  size_t Count() const { return parameters_.size(); }
  // Assigns a new value to the parameter named `name`; Invalid argument (5) when there is none.
  void Assign(std::string_view name, Variant value);
  // Assigns a new value to the parameter at `index` (zero-based, in marker order); Invalid
  // argument (5) when there is none. For a statement run again with new values.
  void Assign(size_t index, Variant value);

  // Binds the parameters in order and runs the statement to its end. The number of parameters
  // must equal the number of markers (Invalid argument otherwise). Returns rows changed.
  int64_t Execute();
  // Runs a statement that returns rows (a SELECT, or a write with RETURNING) and gives the
  // first column of its first row, typed by its declared type, or read as `as` when given
  // (an expression over money columns read as Currency stays exact). Fails with No current
  // row (3021) when it returns no row.
  Variant ExecuteScalar(std::optional<FieldType> as = std::nullopt);
  // Runs a statement that returns rows and gives them all as a disconnected result set.
  std::shared_ptr<Recordset> ExecuteQuery();
  // The SQL forms of the engine the command runs on.
  const EngineDialect& Dialect() { return scope_.connection().Dialect(); }

 private:
  void Bind();

  ConnectionScope scope_;
  Sql text_;
  std::unique_ptr<EngineStatement> statement_;
  std::vector<Parameter> parameters_;
};

}  // namespace ledgerkit
