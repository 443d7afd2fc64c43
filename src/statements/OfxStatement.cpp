#include "statements/OfxStatement.h"

#include "common/Error.h"

namespace ledgerkit {

Statement ReadOfxStatement(const std::string& csv_path, const std::string&) {
  throw Error::Runtime(kInvalidArgument, "Reading OFX statements is not built yet (" + csv_path + ").");
}

}  // namespace ledgerkit
