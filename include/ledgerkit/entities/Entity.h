// Entity: a read-only snapshot of one row, and the one pattern all thirteen entity classes share.
//
// Each entity class is declared by an EntityDef: its table (whose columns, in the schema
// catalog's order, make the fetch statement and the stored fields), then its public properties
// in order. A scalar property reads one column; a single-object property loads the row a link
// column names, once, and keeps it for the object's life (whatever Account is passed later);
// a collection property fetches the rows whose link column (their Parent) holds this row's key
// (a bound value), anew on every call.
// From the declaration come the fetch, the loading of a row, the properties and the member table.
//
// Entities hold no connection and no path. Failures of the fetch and of object-valued
// properties carry a diagnostic block (ledger classes, which declare labels) or the marker once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/MemberTable.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/EntityCollection.h"

namespace ledgerkit {

struct ColumnDef;
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
  // kCollection: the column of `target` that holds this row's key, and the fixed sort of its
  // fetch (empty: the engine's order).
  const ColumnDef* link = nullptr;
  std::string sort;
  // Label of the diagnostic block, for the ledger classes; empty: the marked re-raise.
  std::string_view label;
};

// The builders of declarations (Scalar, Linked, ChildRows) are the library's: EntityInternal.h.

struct EntityDef {
  // `table`: the entity's table in the schema catalog; its first `column_count` columns
  // (all when 0) are selected, the first being the key. `fetch_label`: the diagnostic label of
  // the fetch, empty for the marked re-raise. Fails (Invalid argument) when a property names a
  // column or key property the declaration does not have.
  EntityDef(std::string_view table, size_t column_count, std::string_view fetch_label,
            std::vector<EntityProperty> properties, std::shared_ptr<Entity> (*make)());

  std::string_view table;
  std::vector<std::string_view> columns;  // in the order the fetch selects them
  const ColumnDef* key_column = nullptr;  // the table's own key, its first column
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
  // A collection property: the rows whose link column holds this row's key, fetched anew each call.
  std::shared_ptr<EntityCollection> Children(std::string_view property, const Variant& account);

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

template <class T>
std::shared_ptr<Entity> MakeEntity() {
  return std::make_shared<T>();
}

}  // namespace ledgerkit
