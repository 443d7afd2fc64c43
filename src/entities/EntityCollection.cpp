#include "ledgerkit/entities/EntityCollection.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/MemberTable.h"
#include "common/Text.h"

namespace ledgerkit {

const MemberTable& EntityCollection::Members() const {
  static const MemberTable table{
      PropertyMember<&EntityCollection::Count>("Count"),
      PropertyMember<&EntityCollection::Item>("Item", {"Index"}),
  };
  return table;
}

void EntityCollection::Add(std::string key, std::shared_ptr<Dispatch> item) {
  entries_.emplace_back(std::move(key), std::move(item));
}

std::shared_ptr<Dispatch> EntityCollection::Find(std::string_view key) const {
  for (const Entry& entry : entries_) {
    if (entry.first == key) return entry.second;
  }
  return nullptr;
}

std::shared_ptr<Dispatch> EntityCollection::Item(const Variant& index_or_key) const {
  if (index_or_key.type() == VarType::kString) {
    if (auto found = Find(index_or_key.AsString())) return found;
    throw Error::Runtime(kInvalidArgument, "The collection has no item with the key " + QuoteForMessage(index_or_key.AsString()) + ".");
  }
  const int32_t position = ToLong(index_or_key);
  if (position < 1 || position > Count()) {
    throw Error::Runtime(kInvalidArgument, "The collection has no item at position " + std::to_string(position) + "; it holds " +
                                               std::to_string(Count()) + ".");
  }
  return entries_[static_cast<size_t>(position - 1)].second;
}

}  // namespace ledgerkit
