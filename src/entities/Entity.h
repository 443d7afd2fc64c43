// Entity: a read-only snapshot of one row, and the one pattern all thirteen entity classes share.
//
// Each entity class is declared by an EntityDef: its table (whose columns, in the schema
// catalog's order, make the fetch statement and the stored fields), then its public properties
// in order. A scalar property reads one column; a single-object property loads the row a link
// column names, once, and keeps it for the object's life (whatever Account is passed later);
// a collection property fetches the rows whose Parent is this row's key (a bound value), anew
// on every call.
// From the declaration come the fetch, LoadFromRow, the properties and the member table.
//
// Entities hold no connection and no path. Failures of the fetch and of object-valued
// properties carry a diagnostic block (ledger classes, which declare labels) or the marker once.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Command.h"
#include "common/Dispatch.h"
#include "common/Error.h"
#include "common/Engine.h"
#include "common/Recordset.h"
#include "entities/EntityCollection.h"

namespace ledgerkit {

struct EntityDef;
class Entity;

struct EntityProperty {
  enum class Kind { kScalar, kObject, kCollection };
  std::string_view name;
  Kind kind = Kind::kScalar;
  // kScalar: the column it reads. kObject: the scalar property holding the linked key.
  std::string_view source;
  // kObject and kCollection: the class of the rows it loads.
  const EntityDef& (*target)() = nullptr;
  // kCollection: the fixed sort of its fetch.
  std::string_view sort;
  // Label of the diagnostic block, for the ledger classes; empty: the marked re-raise.
  std::string_view label;
};

// Builders for declarations: a scalar reading `column` (the property's own name when empty); a
// single object loaded by the key in `key_property`; the collection of child rows of `target`.
inline EntityProperty Scalar(std::string_view name, std::string_view column = {}) {
  return {name, EntityProperty::Kind::kScalar, column.empty() ? name : column, nullptr, {}, {}};
}
inline EntityProperty Linked(std::string_view name, std::string_view key_property, const EntityDef& (*target)(),
                             std::string_view label = {}) {
  return {name, EntityProperty::Kind::kObject, key_property, target, {}, label};
}
inline EntityProperty ChildRows(std::string_view name, const EntityDef& (*target)(), std::string_view sort,
                                std::string_view label = {}) {
  return {name, EntityProperty::Kind::kCollection, {}, target, sort, label};
}

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

struct EntityDef {
  // `table`: the entity's table in the schema catalog; its first `column_count` columns
  // (all when 0) are selected, the first being the key. `fetch_label`: the diagnostic label of
  // the fetch, empty for the marked re-raise. Fails (Invalid argument) when a property names a
  // column or key property the declaration does not have.
  EntityDef(std::string_view table, size_t column_count, std::string_view fetch_label,
            std::vector<EntityProperty> properties, std::shared_ptr<Entity> (*make)());

  std::string_view table;
  std::vector<std::string_view> columns;  // in the order the fetch selects them
  std::string select_sql;                 // "SELECT <columns> FROM <table>"
  std::string_view fetch_label;
  std::vector<EntityProperty> properties;
  std::vector<size_t> property_field;  // kScalar: its column's field; kObject: its key's field
  std::vector<size_t> property_cache;  // kObject: its cache slot
  size_t cache_count = 0;
  std::shared_ptr<Entity> (*make)();
  MemberTable members;
};

class Entity : public Dispatch {
 public:
  std::string_view ClassName() const override { return def_.table; }
  const MemberTable& Members() const override { return def_.members; }
  const EntityDef& def() const { return def_; }

  // True once the object holds a row (it came from a fetch).
  bool loaded() const { return loaded_; }
  // The row's key, its first column.
  const Variant& Key() const { return fields_[0]; }
  // The value of a scalar property, by its public name (letter case ignored); No such member
  // (438) for a name that is not a scalar property.
  const Variant& Value(std::string_view property) const;
  // A single-object property: the linked row, or nullptr when the link is unset, null or names
  // no row. Loaded once; later calls return the same object whatever `account` is.
  std::shared_ptr<Entity> Related(std::string_view property, const Variant& account);
  template <class T>
  std::shared_ptr<T> Related(std::string_view property, const Variant& account) {
    return std::static_pointer_cast<T>(Related(property, account));
  }
  // A collection property: the rows whose Parent is this row's key, fetched anew each call.
  std::shared_ptr<EntityCollection> Children(std::string_view property, const Variant& account);

  // Copies the current row of a fetch into the fields, column by column in the declaration's
  // order, each read as its declared field type. Library-internal (the fetch's).
  void LoadFromRow(const EngineStatement& row, std::span<const FieldType> types);

 protected:
  explicit Entity(const EntityDef& def);

 private:
  friend struct EntityAccess;
  size_t PropertyIndex(std::string_view property, EntityProperty::Kind kind) const;
  Variant CallProperty(size_t index, const Variant* account);

  const EntityDef& def_;
  bool loaded_ = false;
  std::vector<Variant> fields_;
  std::vector<std::shared_ptr<Entity>> caches_;
};

// Runs the fetch of `def`: "SELECT <columns> FROM <table>", then " WHERE <key>=?" bound to the
// ID when one is given (converted by ToKey before the file is opened: 1.5 or "1 OR 1=1" fail
// with Type mismatch, never select a row), otherwise " WHERE <filter>" with `bind` filling its
// markers when a filter is given, then " ORDER BY <sort>" when given, then ";". A filter whose
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

template <class T>
std::shared_ptr<Entity> MakeEntity() {
  return std::make_shared<T>();
}

}  // namespace ledgerkit
