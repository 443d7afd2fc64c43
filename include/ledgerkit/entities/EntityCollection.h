// EntityCollection: the ordered collection every fetch returns, possibly empty, never nothing.
// Each object is kept under the decimal text of its key; order is the order of the rows.
// Late-bound: Count, and Item with a 1-based position (a number) or a key (a text).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ledgerkit/common/Dispatch.h"

namespace ledgerkit {

class EntityCollection final : public Dispatch {
 public:
  using Entry = std::pair<std::string, std::shared_ptr<Dispatch>>;

  std::string_view ClassName() const override { return "Collection"; }
  const MemberTable& Members() const override;

  void Add(std::string key, std::shared_ptr<Dispatch> item);

  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  // The object at a 1-based position (a number) or under a key (a text). Fails with Invalid
  // argument (5) when there is no such position or key, an empty collection included.
  std::shared_ptr<Dispatch> Item(const Variant& index_or_key) const;
  // The object under `key`, or nullptr.
  std::shared_ptr<Dispatch> Find(std::string_view key) const;
  const std::vector<Entry>& entries() const { return entries_; }

  // The object at a 1-based position, cast to its entity class; Invalid argument when absent.
  template <class Entity>
  std::shared_ptr<Entity> At(int32_t position) const {
    return std::static_pointer_cast<Entity>(Item(position));
  }

 private:
  std::vector<Entry> entries_;
};

}  // namespace ledgerkit
