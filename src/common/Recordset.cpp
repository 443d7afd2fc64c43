#include "ledgerkit/common/Recordset.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/MemberTable.h"
#include "common/Text.h"

namespace ledgerkit {

std::string_view FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::kText: return "text";
    case FieldType::kLong: return "long";
    case FieldType::kInteger: return "integer";
    case FieldType::kDouble: return "double";
    case FieldType::kCurrency: return "currency";
    case FieldType::kDate: return "date";
    case FieldType::kBoolean: return "boolean";
    case FieldType::kVariant: return "variant";
    case FieldType::kKey: return "key";
  }
  return "variant";
}

const MemberTable& Recordset::Members() const {
  static const MemberTable table{
      PropertyMember<&Recordset::AtEOF>("EOF"),
      PropertyMember<&Recordset::AtBOF>("BOF"),
      PropertyMember<&Recordset::RecordCount>("RecordCount"),
      MethodMember<&Recordset::MoveFirst>("MoveFirst"),
      MethodMember<&Recordset::MoveNext>("MoveNext"),
      MethodMember<&Recordset::MovePrevious>("MovePrevious"),
      MethodMember<&Recordset::MoveLast>("MoveLast"),
      PropertyMember<&Recordset::Fields>("Fields", {"Index"}),
  };
  return table;
}

void Recordset::AppendColumn(std::string name, FieldType type, int32_t defined_size, uint32_t attributes) {
  if (open_) {
    throw Error::Runtime(kInvalidArgument, "Column " + name + " cannot be added to an open result set.");
  }
  columns_.push_back(FieldInfo{std::move(name), type, defined_size, attributes});
}

void Recordset::Open() {
  open_ = true;
  position_ = static_cast<int64_t>(rows_.size());
}

void Recordset::AddNew() {
  if (!open_) throw Error::Runtime(kInvalidArgument, "A row cannot be added to a closed result set.");
  rows_.emplace_back(columns_.size(), Variant::Null());
  position_ = static_cast<int64_t>(rows_.size()) - 1;
}

void Recordset::SetField(std::string_view name, Variant value) { SetField(ColumnIndex(name), std::move(value)); }

void Recordset::SetField(size_t index, Variant value) {
  CurrentRow();  // checks the cursor
  if (index >= columns_.size()) {
    throw Error::Runtime(kInvalidArgument, "The result set has no column number " + std::to_string(index) + ".");
  }
  rows_[static_cast<size_t>(position_)][index] = std::move(value);
}

void Recordset::MoveNext() {
  if (AtEOF()) throw Error::Runtime(kNoCurrentRow, "No current row: the cursor is already past the last row.");
  ++position_;
}

void Recordset::MovePrevious() {
  if (position_ < 0) throw Error::Runtime(kNoCurrentRow, "No current row: the cursor is already before the first row.");
  --position_;
}

size_t Recordset::ColumnIndex(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameNameIgnoringCase(columns_[i].name, name)) return i;
  }
  throw Error::Runtime(kInvalidArgument, "The result set has no column named " + std::string(name) + ".");
}

const std::vector<Variant>& Recordset::CurrentRow() const {
  if (position_ < 0 || AtEOF()) {
    throw Error::Runtime(kNoCurrentRow, "No current row: the cursor is at the start or end of the result set.");
  }
  return rows_[static_cast<size_t>(position_)];
}

Variant Recordset::Fields(const Variant& index_or_name) const {
  if (index_or_name.type() == VarType::kString) return Field(index_or_name.AsString());
  const int32_t index = ToLong(index_or_name);
  if (index < 0) throw Error::Runtime(kInvalidArgument, "The column index " + std::to_string(index) + " is negative.");
  return Field(static_cast<size_t>(index));
}

const Variant& Recordset::Field(std::string_view name) const { return Field(ColumnIndex(name)); }

const Variant& Recordset::Field(size_t index) const {
  const std::vector<Variant>& row = CurrentRow();
  if (index >= columns_.size()) {
    throw Error::Runtime(kInvalidArgument, "The result set has no column number " + std::to_string(index) + ".");
  }
  return row[index];
}

void Recordset::LoadColumns(std::vector<FieldInfo> columns) {
  columns_ = std::move(columns);
  rows_.clear();
  open_ = true;
  position_ = 0;
}

void Recordset::AppendRow(std::vector<Variant> row) { rows_.push_back(std::move(row)); }

}  // namespace ledgerkit
