// The library's side of the entities: the fetch that fills them from the company file, and
// the helpers by which managers read its result. Not installed: callers receive entities from
// the managers and never fetch them by statement themselves.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "common/Catalog.h"
#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/Entity.h"
#include "ledgerkit/entities/EntityCollection.h"

namespace ledgerkit {

// Builders for declarations, each column named by its catalog constant (entities/Catalog.h):
// a scalar reading `column`, named as the column or as `name`; a single object loaded by the
// key in `key_property`; the collection of the rows of `target` whose `link` holds this row's
// key, in the order `sort` gives (Ascending).
inline EntityProperty Scalar(std::string_view name, const ColumnDef& column) {
  return {name, EntityProperty::Kind::kScalar, column.name, nullptr, nullptr, {}, {}};
}
inline EntityProperty Scalar(const ColumnDef& column) { return Scalar(column.name, column); }
inline EntityProperty Linked(std::string_view name, std::string_view key_property, const EntityDef& (*target)(),
                             std::string_view label = {}) {
  return {name, EntityProperty::Kind::kObject, key_property, target, nullptr, {}, label};
}
inline EntityProperty ChildRows(std::string_view name, const EntityDef& (*target)(), const ColumnDef& link,
                                std::string sort, std::string_view label = {}) {
  return {name, EntityProperty::Kind::kCollection, {}, target, &link, std::move(sort), label};
}
// The sort clause "A ASC, B ASC" over `columns`.
std::string Ascending(std::initializer_list<ColumnDef> columns);

// The stored value of `column` in the entity's row, named by its catalog constant
// (entities/Catalog.h) rather than by a property's name: a misspelt column does not compile,
// and a column the entity's fetch does not select fails with Invalid argument (5) naming both.
const Variant& FieldValue(const Entity& entity, const ColumnDef& column);

// The same value in the column's own type: text, a key or whole number, an amount, a number, a
// date or a truth value; nullopt for Null. A stored value not of the column's type fails as
// converting a caller's value would (Type mismatch naming the column).
template <const ColumnDef& Column>
auto Field(const Entity& entity) {
  constexpr FieldType kind = Column.kind;
  using T = std::conditional_t<
      kind == FieldType::kText, std::string,
      std::conditional_t<kind == FieldType::kCurrency, Currency,
                         std::conditional_t<kind == FieldType::kDouble, double,
                                            std::conditional_t<kind == FieldType::kDate, Date,
                                                               std::conditional_t<kind == FieldType::kBoolean, bool, int32_t>>>>>;
  static_assert(kind != FieldType::kVariant, "a column of no stored type has no typed field");
  const Variant& value = FieldValue(entity, Column);
  if (value.IsNull()) return std::optional<T>();
  try {
    if constexpr (kind == FieldType::kText) return std::optional<T>(ToText(value));
    if constexpr (kind == FieldType::kKey) return std::optional<T>(ToKey(value));
    if constexpr (kind == FieldType::kLong || kind == FieldType::kInteger) return std::optional<T>(ToLong(value));
    if constexpr (kind == FieldType::kCurrency) return std::optional<T>(ToCurrency(value));
    if constexpr (kind == FieldType::kDouble) return std::optional<T>(ToDouble(value));
    if constexpr (kind == FieldType::kDate) return std::optional<T>(ToDate(value));
    if constexpr (kind == FieldType::kBoolean) return std::optional<T>(ToBoolean(value));
  } catch (const Error& error) {
    throw error.WithArgument(Column.name);
  }
  return std::optional<T>();
}

// The optional arguments of a fetch. An argument that is present counts, even when it is an
// empty text or Null; only an absent one is left out. The ID is a key (ToKey). The filter is the
// library's own text with "?" markers; the values that fill them, in order, are `bind`: no
// caller value is ever part of the SQL text, so a fetch's text is the same whatever the values
// and its statement is reused.
struct FetchArgs {
  std::optional<Variant> id = std::nullopt;
  std::optional<Sql> filter = std::nullopt;
  std::optional<Variant> sort = std::nullopt;
  std::vector<Parameter> bind = {};
};

// Runs the fetch of `def`: "SELECT <columns> FROM <table>", then " WHERE <key>=?" bound to the
// ID when one is given (converted by ToKey before the file is opened: 1.5 or "1 OR 1=1" fail
// with Type mismatch, never select a row), otherwise " WHERE <filter>" with `bind` filling its
// markers when a filter is given, then " ORDER BY <sort>, <key>" (" ORDER BY <key>" without a
// sort), then ";". A filter whose
// markers and values differ in number fails with Invalid argument (5). Returns every row as an
// entity, keyed by the decimal text of its key, in the order of the rows; an empty collection
// when none match.
std::shared_ptr<EntityCollection> FetchEntities(const EntityDef& def, const Variant& account, const FetchArgs& args = {});

// The fetch of entity class T (ACAccount, IUser, ...).
template <class T>
std::shared_ptr<EntityCollection> Fetch(const Variant& account, const FetchArgs& args = {}) {
  return FetchEntities(T::Def(), account, args);
}

// The first object of a collection as entity class T, or nullptr when it is empty.
template <class T>
std::shared_ptr<T> FirstOf(const EntityCollection& collection) {
  return collection.Count() == 0 ? nullptr : std::static_pointer_cast<T>(collection.entries().front().second);
}

// The first object of a collection as entity class T; Invalid argument (5) with `missing` as
// description when the collection is empty.
template <class T>
std::shared_ptr<T> RequireFirst(const EntityCollection& collection, const std::string& missing) {
  if (collection.Count() == 0) throw Error::Runtime(kInvalidArgument, missing);
  return std::static_pointer_cast<T>(collection.entries().front().second);
}

}  // namespace ledgerkit
