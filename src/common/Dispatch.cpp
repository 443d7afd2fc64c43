#include "common/Dispatch.h"

#include <string>

#include "common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

const MemberEntry* MemberTable::Find(std::string_view name) const {
  for (const MemberEntry& entry : entries_) {
    if (SameNameIgnoringCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

Variant Dispatch::Invoke(std::string_view member, std::vector<Variant>& args) {
  const MemberEntry* entry = Members().Find(member);
  if (entry == nullptr) {
    throw Error::Runtime(kNoSuchMember,
                         std::string(ClassName()) + " has no member named " + QuoteForMessage(member) + ".");
  }
  if (args.size() != entry->arity) {
    throw Error::Runtime(kWrongArgumentCount, std::string(ClassName()) + "." + std::string(entry->name) + " takes " +
                                                  std::to_string(entry->arity) + " argument" +
                                                  (entry->arity == 1 ? "" : "s") + "; " + std::to_string(args.size()) +
                                                  (args.size() == 1 ? " was" : " were") + " given.");
  }
  return entry->call(*this, *entry, args);
}

}  // namespace ledgerkit
