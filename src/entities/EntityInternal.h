// The library's side of the entities: the fetch that fills them from the company file, and
// the helpers by which managers read its result. Not installed: callers receive entities from
// the managers and never fetch them by statement themselves.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Catalog.h"
#include "common/Command.h"
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

// The optional arguments of a fetch. An argument that is present counts, even when it is an
// empty text or Null; only an absent one is left out. The ID is a key (ToKey). The filter is the
// library's own text with "?" markers; the values that fill them, in order, are `bind`: no
// caller value is ever part of the SQL text, so a fetch's text is the same whatever the values
// and its statement is reused.
struct FetchArgs {
  std::optional<Variant> id = std::nullopt;
  std::optional<Variant> filter = std::nullopt;
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
