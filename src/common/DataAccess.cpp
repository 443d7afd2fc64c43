#include "ledgerkit/common/DataAccess.h"

#include "ledgerkit/common/Convert.h"
#include "common/DataAccessInternal.h"
#include "common/Engine.h"
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

namespace {

bool IsServerUri(std::string_view path) { return path.starts_with("postgresql://") || path.starts_with("postgres://"); }

}  // namespace

// A PostgreSQL connection URI names a company on a server as it stands; anything else is the
// path of a company file.
std::string BuildConnectionString(const Variant& account) {
  std::string path = CompanyPath(account);
  if (IsServerUri(path)) return path;
  return "Driver=SQLite;Dbq=" + path;
}

bool NamesCompanyFile(const Variant& account) { return !IsServerUri(CompanyPath(account)); }

std::string CompanyDatabaseName(const Variant& account) {
  return NamesCompanyFile(account) ? "The company file" : "The company database";
}

const EngineDialect& CompanyDialect(const Variant& account) { return EngineDialectFor(BuildConnectionString(account)); }

std::shared_ptr<Recordset> OpenRecordset(const Variant& account, std::string_view sql) {
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
