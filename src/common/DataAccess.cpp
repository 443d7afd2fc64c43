#include "ledgerkit/common/DataAccess.h"

#include "ledgerkit/common/Convert.h"
#include "common/DataAccessInternal.h"
#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/ResultReader.h"
#include "common/UnitOfWork.h"

namespace ledgerkit {

std::string CompanyPath(const Variant& account) {
  std::string path = ToText(account);
  if (path.empty()) throw Error::Runtime(kInvalidArgument, "The company file path (Account) is empty.");
  if (path.find('\0') != std::string::npos) {
    throw Error::Runtime(kInvalidArgument, "The company file path (Account) holds a NUL character.");
  }
  return path;
}

// The driver that claims the Account writes its connection string (a server URI as it stands,
// a company file's path after the file engine's prefix).
std::string BuildConnectionString(const Variant& account) {
  const std::string path = CompanyPath(account);
  return DriverForAccount(path).connection_string(path);
}

bool NamesCompanyFile(const Variant& account) { return DriverForAccount(CompanyPath(account)).names_files; }

std::string CompanyDatabaseName(const Variant& account) {
  return NamesCompanyFile(account) ? "The company file" : "The company database";
}

const EngineDialect& CompanyDialect(const Variant& account) { return EngineDialectFor(BuildConnectionString(account)); }

std::shared_ptr<Recordset> OpenRecordset(const Variant& account, std::string_view sql) {
  return OpenRecordset(account, Sql::Verbatim(sql));
}

std::shared_ptr<Recordset> OpenRecordset(const Variant& account, const Sql& sql) {
  return WithMarkedReraise([&] {
    ConnectionScope scope(account);
    auto statement = scope.connection().Prepare(sql);
    return ReadAll(*statement);
  });
}

std::shared_ptr<Recordset> OpenReportRecordset(const Variant& account, std::string_view sql) {
  return WithMarkedReraise([&] {
    ConnectionScope scope(account);
    auto statement = scope.connection().PrepareReport(sql);
    if (scope.joined() || statement->IsReadOnly()) return ReadAll(*statement);
    const WriterTurn turn(scope.key(), scope.connection());
    return ReadAll(*statement);
  });
}

}  // namespace ledgerkit
