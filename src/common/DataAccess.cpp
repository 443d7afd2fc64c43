#include "common/DataAccess.h"

#include "common/Convert.h"
#include "common/ErrorConvention.h"
#include "common/ResultReader.h"
#include "common/UnitOfWork.h"

namespace ledgerkit {

std::string BuildConnectionString(const Variant& account) { return "Driver=SQLite;Dbq=" + ToText(account); }

std::shared_ptr<Recordset> OpenRecordset(const Variant& account, std::string_view sql) {
  return WithMarkedReraise([&] {
    ConnectionScope scope(account);
    auto statement = scope.connection().Prepare(sql);
    return ReadAll(*statement);
  });
}

}  // namespace ledgerkit
