#include "common/Dispatch.h"

#include <string>

#include "common/Error.h"

namespace ledgerkit {

Variant Dispatch::Invoke(std::string_view member, std::vector<Variant>& /*args*/) {
  throw Error::Runtime(kNoSuchMember,
                       std::string(ClassName()) + " has no member named \"" + std::string(member) + "\".");
}

}  // namespace ledgerkit
