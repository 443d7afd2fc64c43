#include "ledgerkit/common/Dispatch.h"

#include <string>

#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

const MemberEntry* MemberTable::Find(std::string_view name) const {
  for (const MemberEntry& entry : entries_) {
    if (SameNameIgnoringCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

std::string WrongArgumentCountText(std::string_view class_name, const MemberEntry& entry, size_t given) {
  std::string text = std::string(class_name) + "." + std::string(entry.name) + " takes " +
                     std::to_string(entry.arity) + " argument" + (entry.arity == 1 ? "" : "s");
  if (!entry.arguments.empty()) {
    text += " (";
    for (size_t i = 0; i < entry.arguments.size(); ++i) text += (i ? ", " : "") + std::string(entry.arguments[i]);
    text += ")";
  }
  return text + "; " + std::to_string(given) + " given.";
}

Variant Dispatch::Invoke(std::string_view member, std::vector<Variant>& args) {
  const MemberEntry* entry = Members().Find(member);
  if (entry == nullptr) {
    throw Error::Runtime(kNoSuchMember,
                         std::string(ClassName()) + " has no member named " + QuoteForMessage(member) + ".");
  }
  if (args.size() != entry->arity) {
    throw Error::Runtime(kWrongArgumentCount, WrongArgumentCountText(ClassName(), *entry, args.size()));
  }
  return entry->call(*this, *entry, args);
}

}  // namespace ledgerkit
