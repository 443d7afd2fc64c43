// Recordset: a disconnected, fully materialised result set with one cursor.
//
// It holds named, typed columns and rows of Variants and no connection: once returned it stays
// readable after its connection closed and never changes when the database does. A statement
// that produces no rows gives a closed, empty result set. Result sets built in code declare
// their columns, Open() and append rows with AddNew() and SetField().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/FieldType.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// Column attributes (bit flags).
enum FieldAttribute : uint32_t {
  kFieldMayBeNull = 0x20,
  kFieldKeyColumn = 0x8000,
};

struct FieldInfo {
  std::string name;
  FieldType type = FieldType::kVariant;
  int32_t defined_size = 0;  // characters for text, bytes for the other types
  uint32_t attributes = 0;
};

class Recordset : public Dispatch {
 public:
  Recordset() = default;  // closed, no columns
  std::string_view ClassName() const override { return "Recordset"; }
  // Late-bound: EOF, BOF, RecordCount, MoveFirst, MoveNext, MovePrevious, MoveLast, Fields.
  const MemberTable& Members() const override;

  // Building. AppendColumn is allowed only while closed; Open makes it an open, empty result
  // set positioned at the end; AddNew appends a row of Nulls and moves onto it.
  void AppendColumn(std::string name, FieldType type, int32_t defined_size, uint32_t attributes);
  void Open();
  void AddNew();
  // Sets a column of the current row; fails with No current row (3021) at either end and with
  // Invalid argument (5) for an unknown column.
  void SetField(std::string_view name, Variant value);
  void SetField(size_t index, Variant value);

  bool IsOpen() const { return open_; }
  const std::vector<FieldInfo>& Columns() const { return columns_; }
  const std::vector<std::vector<Variant>>& Rows() const { return rows_; }
  int32_t RecordCount() const { return static_cast<int32_t>(rows_.size()); }

  // Cursor. AtEOF: past the last row (also when there are none); AtBOF: before the first.
  bool AtEOF() const { return position_ >= static_cast<int64_t>(rows_.size()); }
  bool AtBOF() const { return position_ < 0 || rows_.empty(); }
  // Zero-based row index of the cursor; the row count when at the end.
  int64_t Position() const { return position_ < 0 ? 0 : position_; }
  void MoveFirst() { position_ = 0; }
  void MoveLast() { position_ = rows_.empty() ? 0 : static_cast<int64_t>(rows_.size()) - 1; }
  // Fail with No current row (3021) when already at the end (MoveNext) or start (MovePrevious).
  void MoveNext();
  void MovePrevious();

  // The value of a column of the current row, by name (letter case ignored) or zero-based index.
  // Fails with No current row (3021) at either end, Invalid argument (5) for an unknown column.
  const Variant& Field(std::string_view name) const;
  const Variant& Field(size_t index) const;
  // Fields(index or name): a number is a zero-based column index, a text a column name.
  Variant Fields(const Variant& index_or_name) const;
  // Zero-based index of the named column (letter case ignored); Invalid argument (5) if absent.
  size_t ColumnIndex(std::string_view name) const;

  // Loading from an engine statement: the columns are given first, then each row whole.
  void LoadColumns(std::vector<FieldInfo> columns);
  void AppendRow(std::vector<Variant> row);

 private:
  const std::vector<Variant>& CurrentRow() const;

  bool open_ = false;
  std::vector<FieldInfo> columns_;
  std::vector<std::vector<Variant>> rows_;
  int64_t position_ = 0;
};

}  // namespace ledgerkit
