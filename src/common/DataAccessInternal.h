// Library-internal additions to common/DataAccess.h that callers must not see.
#pragma once

#include <memory>
#include <string>

#include "common/Engine.h"
#include "common/Sql.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// The SQL forms of the engine that holds the company `account` names, for statement texts that
// need one (a quoted keyword column, the whole-number test). Nothing is opened. Fails as
// BuildConnectionString.
const EngineDialect& CompanyDialect(const Variant& account);

// True when `account` names a company file (a path), false when it names a company on a server
// (a connection URI), so that messages and checks of existence speak of the right thing. Fails as
// BuildConnectionString.
bool NamesCompanyFile(const Variant& account);
// "The company file" or "The company database", to open a message about what `account` names.
std::string CompanyDatabaseName(const Variant& account);

// OpenRecordset for a statement of the library's own, its markers the engine's.
std::shared_ptr<Recordset> OpenRecordset(const Variant& account, const Sql& sql);

}  // namespace ledgerkit
