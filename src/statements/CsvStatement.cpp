#include "statements/CsvStatement.h"

#include "common/Error.h"

namespace ledgerkit {

Statement ReadCsvStatement(const std::string& csv_path, const std::string&) {
  throw Error::Runtime(kInvalidArgument, "Reading CSV statements is not built yet (" + csv_path + ").");
}

}  // namespace ledgerkit
