// The library's side of the entities: the fetch that fills them from the company file, and
// the helpers by which managers read its result. Not installed: callers receive entities from
// the managers and never fetch them by statement themselves.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Command.h"
#include "common/Error.h"
#include "common/Variant.h"
#include "entities/Entity.h"
#include "entities/EntityCollection.h"

namespace ledgerkit {

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

}  // namespace ledgerkit
