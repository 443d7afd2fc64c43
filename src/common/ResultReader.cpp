#include "common/ResultReader.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <string>

namespace ledgerkit {

namespace {

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The n of "TEXT(n)", or 0.
int32_t DeclaredWidth(std::string_view declared) {
  const size_t open = declared.find('(');
  if (open == std::string_view::npos) return 0;
  int32_t width = 0;
  const char* first = declared.data() + open + 1;
  std::from_chars(first, declared.data() + declared.size(), width);
  return width;
}

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
  const std::string declared = UpperCase(column.declared_type);
  auto starts = [&declared](std::string_view prefix) { return declared.rfind(prefix, 0) == 0; };
  if (starts("INTEGER")) {
    field.type = FieldType::kLong;
    field.defined_size = 4;
  } else if (starts("TEXT")) {
    field.type = FieldType::kText;
    field.defined_size = DeclaredWidth(declared);
  } else if (starts("CURRENCY")) {
    field.type = FieldType::kCurrency;
    field.defined_size = 8;
  } else if (starts("DOUBLE")) {
    field.type = FieldType::kDouble;
    field.defined_size = 8;
  } else if (starts("DATETIME")) {
    field.type = FieldType::kDate;
    field.defined_size = 8;
  } else if (starts("BOOLEAN")) {
    field.type = FieldType::kBoolean;
    field.defined_size = 2;
  }
  if (column.is_key) field.attributes |= kFieldKeyColumn;
  if (!column.not_null) field.attributes |= kFieldMayBeNull;
  return field;
}

Variant ReadValue(const EngineStatement& statement, int index, FieldType type) {
  // Each column is read once: its stored kind, then its value in that kind.
  switch (statement.ColumnKind(index)) {
    case StoredKind::kNull: return Variant::Null();
    case StoredKind::kInteger: {
      const int64_t value = statement.ColumnInteger(index);
      switch (type) {
        case FieldType::kCurrency: return Currency::FromScaled(value);
        case FieldType::kBoolean: return value != 0;
        case FieldType::kDouble: return static_cast<double>(value);
        default: return WholeNumber(value);
      }
    }
    case StoredKind::kReal: return statement.ColumnReal(index);
    case StoredKind::kText: {
      const std::string_view text = statement.ColumnText(index);
      if (type == FieldType::kDate) {
        if (auto date = Date::Parse(text)) return *date;
      }
      return std::string(text);
    }
    case StoredKind::kBlob: return std::string(statement.ColumnText(index));
  }
  return Variant::Null();
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
