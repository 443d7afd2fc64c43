#include "common/RowWrite.h"

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"

namespace ledgerkit {

namespace {

// "a=? AND b=?" or "a=?,b=?" over the parameters' column names.
std::string Assignments(const std::vector<Parameter>& parameters, std::string_view separator) {
  std::string sql;
  for (const Parameter& parameter : parameters) {
    if (!sql.empty()) sql += separator;
    sql += parameter.name + "=?";
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
  std::string markers;
  for (const Parameter& value : values_) {
    if (!columns.empty()) {
      columns += ',';
      markers += ',';
    }
    columns += value.name;
    markers += '?';
  }
  Command command(account);
  command.SetText("INSERT INTO " + std::string(table_) + " (" + columns + ") VALUES (" + markers + ") RETURNING " +
                  std::string(key_.name) + ";");
  for (const Parameter& value : values_) command.Append(value);
  return command.ExecuteScalar();
}

int64_t RowWrite::Update(const Variant& account) const {
  return Run(account, "UPDATE " + std::string(table_) + " SET " + Assignments(values_, ","), true);
}

int64_t RowWrite::Delete(const Variant& account) const { return Run(account, "DELETE FROM " + std::string(table_), false); }

int64_t RowWrite::Run(const Variant& account, std::string sql, bool with_values) const {
  // A change of every row of a table is never what a caller of this class means.
  if (conditions_.empty()) {
    throw Error::Runtime(kInvalidArgument, "A change of rows of " + std::string(table_) + " names no condition.");
  }
  Command command(account);
  command.SetText(std::move(sql) + " WHERE " + Assignments(conditions_, " AND ") + ";");
  if (with_values) {
    for (const Parameter& value : values_) command.Append(value);
  }
  for (const Parameter& condition : conditions_) command.Append(condition);
  return command.Execute();
}

}  // namespace ledgerkit
