#include "common/RowWrite.h"

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"

namespace ledgerkit {

namespace {

// "a=? AND b=?" or "a=?,b=?" over the parameters' column names.
Sql Assignments(const std::vector<Parameter>& parameters, std::string_view separator) {
  Sql sql;
  for (const Parameter& parameter : parameters) {
    if (!sql.empty()) sql += separator;
    sql += Sql(parameter.name, "=", kValue);
  }
  return sql;
}

}  // namespace

RowWrite& RowWrite::Set(const ColumnDef& column, Variant value, std::string_view label) {
  values_.push_back(Param(column, std::move(value), label));
  return *this;
}

RowWrite& RowWrite::Where(const ColumnDef& column, Variant value, std::string_view label) {
  conditions_.push_back(Param(column, std::move(value), label));
  return *this;
}

Variant RowWrite::Insert(const Variant& account) const {
  std::string columns;
  for (const Parameter& value : values_) {
    if (!columns.empty()) columns += ',';
    columns += value.name;
  }
  Command command(account);
  command.SetText(Sql("INSERT INTO ", table_, " (", columns, ") VALUES (", ValueList(values_.size()), ") RETURNING ",
                      key_.name, ";"));
  for (const Parameter& value : values_) command.Append(value);
  return command.ExecuteScalar();
}

int64_t RowWrite::Update(const Variant& account) const {
  return Run(account, Sql("UPDATE ", table_, " SET ", Assignments(values_, ",")), true);
}

int64_t RowWrite::Delete(const Variant& account) const { return Run(account, Sql("DELETE FROM ", table_), false); }

int64_t RowWrite::Run(const Variant& account, Sql sql, bool with_values) const {
  // A change of every row of a table is never what a caller of this class means.
  if (conditions_.empty()) {
    throw Error::Runtime(kInvalidArgument, "A change of rows of " + std::string(table_) + " names no condition.");
  }
  Command command(account);
  command.SetText(Sql(std::move(sql) + " WHERE " + Assignments(conditions_, " AND ") + ";"));
  if (with_values) {
    for (const Parameter& value : values_) command.Append(value);
  }
  for (const Parameter& condition : conditions_) command.Append(condition);
  return command.Execute();
}

}  // namespace ledgerkit
