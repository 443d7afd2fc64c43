// RowWrite: the write of rows of one catalog table, its SQL made from the columns it is given,
// so that each column is named once, by its catalog constant, and takes its kind, width and
// label from the catalog.
//
//   auto row = RowWrite::Of<db::ACInvoice>();
//   row.Set(db::ACInvoice::Comment, comment).Set(db::ACInvoice::Total, total);
//   const Variant key = row.Insert(account);   // INSERT ... RETURNING ACInvoiceID
//
//   auto change = RowWrite::Of<db::ACInvoice>();
//   change.Set(db::ACInvoice::Paid, paid).Where(db::ACInvoice::ACInvoiceID, key);
//   change.Update(account);                    // UPDATE ACInvoice SET Paid=? WHERE ACInvoiceID=?
//
// The statements join the unit of work active on the Account, as Command does; the text is the
// same for the same columns, so the connection's statement cache compiles it once.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Catalog.h"
#include "common/Command.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

class RowWrite {
 public:
  // `key` is the table's own key column, which Insert returns.
  RowWrite(std::string_view table, const ColumnDef& key) : table_(table), key_(key) {}
  template <class Table>
  static RowWrite Of() {
    return RowWrite(Table::kTable, Table::kColumns[0]);
  }

  // The value of `column` in the row written (Insert) or changed (Update); `label` names it in
  // messages when it is not the column's name.
  RowWrite& Set(const ColumnDef& column, Variant value, std::string_view label = {});
  // A condition `column=?` on the rows Update and Delete touch (all conditions must hold).
  RowWrite& Where(const ColumnDef& column, Variant value, std::string_view label = {});

  // Inserts one row with the values Set and returns its new key.
  Variant Insert(const Variant& account) const;
  // Changes the rows the conditions select; returns how many.
  int64_t Update(const Variant& account) const;
  // Removes the rows the conditions select; returns how many.
  int64_t Delete(const Variant& account) const;

 private:
  int64_t Run(const Variant& account, Sql sql, bool with_values) const;

  std::string_view table_;
  const ColumnDef& key_;
  std::vector<Parameter> values_;
  std::vector<Parameter> conditions_;
};

}  // namespace ledgerkit
