#include "common/ResultReader.h"

#include <limits>
#include <optional>
#include <string>

namespace ledgerkit {

namespace {

// An integer as a Variant without a declared type: a Long when it fits, a Double otherwise.
Variant WholeNumber(int64_t value) {
  if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max()) {
    return static_cast<int32_t>(value);
  }
  return static_cast<double>(value);
}

}  // namespace

FieldInfo DescribeColumn(const EngineColumn& column) {
  FieldInfo field;
  field.name = column.name;
  switch (column.type) {
    case FieldType::kKey:  // a key or link is a whole number to the caller
    case FieldType::kLong:
    case FieldType::kInteger:
      field.type = FieldType::kLong;
      field.defined_size = 4;
      break;
    case FieldType::kText:
      field.type = FieldType::kText;
      field.defined_size = column.width;
      break;
    case FieldType::kCurrency:
    case FieldType::kDouble:
    case FieldType::kDate:
      field.type = column.type;
      field.defined_size = 8;
      break;
    case FieldType::kBoolean:
      field.type = FieldType::kBoolean;
      field.defined_size = 2;
      break;
    case FieldType::kVariant: break;
  }
  if (column.is_key) field.attributes |= kFieldKeyColumn;
  if (!column.not_null) field.attributes |= kFieldMayBeNull;
  return field;
}

Variant ReadValue(const EngineStatement& statement, int index, FieldType type) {
  // The value is taken as the engine holds it, then given the column's type.
  if (statement.ColumnIsNull(index)) return Variant::Null();
  if (const std::optional<int64_t> value = statement.ColumnInteger(index)) {
    switch (type) {
      case FieldType::kCurrency: return Currency::FromScaled(*value);
      case FieldType::kBoolean: return *value != 0;
      case FieldType::kDouble: return static_cast<double>(*value);
      default: return WholeNumber(*value);
    }
  }
  if (const std::optional<double> value = statement.ColumnReal(index)) return *value;
  // Asked before the text is read, which may convert the value where it is held.
  const bool binary = statement.ColumnIsBinary(index);
  const std::string_view text = statement.ColumnText(index);
  if (type == FieldType::kDate && !binary) {
    if (auto date = Date::Parse(text)) return *date;
  }
  return std::string(text);
}

std::shared_ptr<Recordset> ReadAll(EngineStatement& statement) {
  auto result = std::make_shared<Recordset>();
  const int column_count = statement.ColumnCount();
  if (column_count == 0) {
    while (statement.Step()) {
    }
    return result;  // closed and empty
  }
  std::vector<FieldInfo> fields;
  fields.reserve(static_cast<size_t>(column_count));
  for (int i = 0; i < column_count; ++i) fields.push_back(DescribeColumn(statement.Column(i)));
  result->LoadColumns(fields);
  while (statement.Step()) {
    std::vector<Variant> row;
    row.reserve(fields.size());
    for (int i = 0; i < column_count; ++i) row.push_back(ReadValue(statement, i, fields[static_cast<size_t>(i)].type));
    result->AppendRow(std::move(row));
  }
  return result;
}

}  // namespace ledgerkit
