#include "ledgerkit/entities/Entity.h"

#include <algorithm>
#include <span>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/ResultReader.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "entities/EntityInternal.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/Schema.h"

namespace ledgerkit {

namespace {

// The epilogue of an entity operation: the diagnostic block when the class declares a label,
// the marked re-raise otherwise.
template <class Body>
auto WithEntityEpilogue(std::string_view label, Body&& body) {
  if (label.empty()) return WithMarkedReraise(std::forward<Body>(body));
  return WithDiagnosticBlock(label, std::forward<Body>(body));
}

Variant CallEntityMember(Dispatch& self, const MemberEntry& entry, std::vector<Variant>& args);

// What a scalar property of a column of this kind returns, as the fetch reads the column.
std::string_view ColumnTypeWord(FieldType kind) {
  switch (kind) {
    case FieldType::kKey:
    case FieldType::kLong:
    case FieldType::kInteger: return "Long";
    case FieldType::kText: return "String";
    case FieldType::kCurrency: return "Currency";
    case FieldType::kDouble: return "Double";
    case FieldType::kDate: return "Date";
    case FieldType::kBoolean: return "Boolean";
    case FieldType::kVariant: return "Variant";
  }
  return "Variant";
}

}  // namespace

// Grants the member table's shared call function access to the property dispatcher, and the
// fetch access to the fields it fills.
struct EntityAccess {
  static const std::vector<Variant>& Fields(const Entity& entity) { return entity.fields_; }
  static Variant Call(Entity& entity, size_t index, const Variant* account) { return entity.CallProperty(index, account); }
  // Copies the current row of a fetch into the fields, column by column in the declaration's
  // order, each read as its declared field type.
  static void Load(Entity& entity, const EngineStatement& row, std::span<const FieldType> types) {
    for (size_t i = 0; i < entity.fields_.size(); ++i) entity.fields_[i] = ReadValue(row, static_cast<int>(i), types[i]);
    entity.loaded_ = true;
  }
};

namespace {

Variant CallEntityMember(Dispatch& self, const MemberEntry& entry, std::vector<Variant>& args) {
  return EntityAccess::Call(static_cast<Entity&>(self), entry.slot, args.empty() ? nullptr : &args[0]);
}

}  // namespace

EntityDef::EntityDef(std::string_view table_name, size_t column_count, std::string_view label,
                     std::vector<EntityProperty> declared, std::shared_ptr<Entity> (*factory)())
    : table(table_name), fetch_label(label), properties(std::move(declared)), make(factory), members(std::vector<MemberEntry>{}) {
  const TableDef& schema = SchemaTable(table);
  const size_t count = column_count == 0 ? schema.columns.size() : column_count;
  select_sql = "SELECT ";
  for (size_t i = 0; i < count; ++i) {
    columns.push_back(schema.columns[i].name);
    if (i > 0) select_sql += ',';
    select_sql += schema.columns[i].name;
  }
  select_sql += " FROM " + std::string(table);
  key_column = &schema.columns[0];

  auto column_field = [&](std::string_view column) {
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i] == column) return i;
    }
    throw Error::Runtime(kInvalidArgument, std::string(table) + " selects no column " + std::string(column) + ".");
  };
  std::vector<MemberEntry> entries;
  for (size_t i = 0; i < properties.size(); ++i) {
    const EntityProperty& property = properties[i];
    size_t field = 0;
    size_t cache = 0;
    if (property.kind == EntityProperty::Kind::kScalar) {
      field = column_field(property.source);
    } else if (property.kind == EntityProperty::Kind::kObject) {
      const auto key = std::find_if(properties.begin(), properties.end(), [&](const EntityProperty& other) {
        return other.kind == EntityProperty::Kind::kScalar && other.name == property.source;
      });
      if (key == properties.end()) {
        throw Error::Runtime(kInvalidArgument, std::string(table) + " has no key property " + std::string(property.source) + ".");
      }
      field = column_field(key->source);
      cache = cache_count++;
    }
    property_field.push_back(field);
    property_cache.push_back(cache);
    MemberEntry entry{property.name, MemberEntry::Kind::kProperty, 0, &CallEntityMember, i};
    if (property.kind == EntityProperty::Kind::kScalar) {
      entry.returns = std::string(ColumnTypeWord(schema.columns[field].kind));
    } else {
      // The class it loads is named when the API is described (ApiDescription.cpp): asking
      // the target for its definition here could come back to this one, still being built.
      entry.arity = 1;
      entry.arguments = {"Account"};
    }
    entries.push_back(std::move(entry));
  }
  members = MemberTable(std::move(entries));
}

std::string Ascending(std::initializer_list<ColumnDef> columns) {
  std::string sort;
  for (const ColumnDef& column : columns) {
    if (!sort.empty()) sort += ", ";
    sort += std::string(column.name) + " ASC";
  }
  return sort;
}

Entity::Entity(const EntityDef& def) : def_(def), fields_(def.columns.size()) {}

size_t Entity::PropertyIndex(std::string_view property, EntityProperty::Kind kind) const {
  for (size_t i = 0; i < def_.properties.size(); ++i) {
    if (def_.properties[i].kind == kind && SameNameIgnoringCase(def_.properties[i].name, property)) return i;
  }
  throw Error::Runtime(kNoSuchMember, std::string(def_.table) + " has no such property: " + std::string(property) + ".");
}

const Variant& FieldValue(const Entity& entity, const ColumnDef& column) {
  const std::vector<std::string_view>& columns = entity.def().columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == column.name) return EntityAccess::Fields(entity)[i];
  }
  throw Error::Runtime(kInvalidArgument, "The " + std::string(entity.def().table) + " row has no column " +
                                             std::string(column.name) + ".");
}

const Variant& Entity::Value(std::string_view property) const {
  return fields_[def_.property_field[PropertyIndex(property, EntityProperty::Kind::kScalar)]];
}

std::shared_ptr<Entity> Entity::Related(std::string_view property, const Variant& account) {
  const size_t index = PropertyIndex(property, EntityProperty::Kind::kObject);
  return std::static_pointer_cast<Entity>(CallProperty(index, &account).AsObject());
}

std::shared_ptr<EntityCollection> Entity::Children(std::string_view property, const Variant& account) {
  const size_t index = PropertyIndex(property, EntityProperty::Kind::kCollection);
  return std::static_pointer_cast<EntityCollection>(CallProperty(index, &account).AsObject());
}

Variant Entity::CallProperty(size_t index, const Variant* account) {
  const EntityProperty& property = def_.properties[index];
  switch (property.kind) {
    case EntityProperty::Kind::kScalar: return fields_[def_.property_field[index]];
    case EntityProperty::Kind::kObject:
      return WithEntityEpilogue(property.label, [&]() -> Variant {
        // Never loaded, or a link that holds no key: nothing, and no statement is sent.
        const Variant& key = fields_[def_.property_field[index]];
        if (!loaded_ || key.IsNull() || key.IsEmpty()) return Variant::Nothing();
        // The caches are made on first use: most objects of a long list never load a link.
        if (caches_.empty()) caches_.resize(def_.cache_count);
        std::shared_ptr<Entity>& cache = caches_[def_.property_cache[index]];
        if (!cache) {
          const auto found = FetchEntities(property.target(), *account, FetchArgs{.id = key});
          cache = FirstOf<Entity>(*found);
        }
        return Variant(cache);
      });
    case EntityProperty::Kind::kCollection:
      return WithEntityEpilogue(property.label, [&]() -> Variant {
        if (!loaded_) return Variant(std::make_shared<EntityCollection>());
        FetchArgs args{.filter = Sql(property.link->name, "=", kValue), .bind = {Param(*property.link, fields_[0])}};
        if (!property.sort.empty()) args.sort = property.sort;
        return Variant(FetchEntities(property.target(), *account, args));
      });
  }
  return Variant();
}

std::shared_ptr<EntityCollection> FetchEntities(const EntityDef& def, const Variant& account, const FetchArgs& args) {
  return WithEntityEpilogue(def.fetch_label, [&] {
    Sql sql(def.select_sql);
    std::vector<Parameter> by_key;
    const std::vector<Parameter>* values = &args.bind;
    if (args.id) {
      // Converted before the file is opened: a value that names no whole key selects nothing
      // and reaches no statement. The filter and its values are not looked at.
      by_key.push_back(Param(*def.key_column, ToKey(*args.id)));
      values = &by_key;
      sql += Sql(" WHERE ", def.key_column->name, "=", kValue);
    } else if (args.filter) {
      sql += " WHERE ";
      sql += *args.filter;
    }
    // Rows the sort leaves in any order (or all of them, without one) come by key: an engine
    // gives rows in no order of its own unless asked, and a changed row may come last.
    const std::string key_column(def.key_column->name);
    sql += args.sort ? " ORDER BY " + ToText(*args.sort) + ", " + key_column : " ORDER BY " + key_column;
    sql += ";";
    // The rows go straight from the statement into the entities, read the way a result set
    // reads them, with the failure convention of the query path.
    return WithMarkedReraise([&] {
      ConnectionScope scope(account);
      const auto statement = scope.connection().Prepare(sql);
      if (statement->ParameterCount() != static_cast<int>(values->size())) {
        throw Error::Runtime(kInvalidArgument, "The fetch has " + std::to_string(statement->ParameterCount()) +
                                                   " parameter markers but " + std::to_string(values->size()) +
                                                   " values were given: " + sql.Shown());
      }
      for (size_t i = 0; i < values->size(); ++i) BindParameter(*statement, static_cast<int>(i) + 1, (*values)[i]);
      std::vector<FieldType> types;
      for (int i = 0; i < statement->ColumnCount(); ++i) types.push_back(DescribeColumn(statement->Column(i)).type);
      auto collection = std::make_shared<EntityCollection>();
      while (statement->Step()) {
        std::shared_ptr<Entity> entity = def.make();
        EntityAccess::Load(*entity, *statement, types);
        std::string key = ToText(entity->Key());
        collection->Add(std::move(key), std::move(entity));
      }
      return collection;
    });
  });
}

}  // namespace ledgerkit
