// Library-internal additions to common/DataAccess.h that callers must not see.
#pragma once

#include "common/Engine.h"
#include "common/Variant.h"

namespace ledgerkit {

// The SQL forms of the engine that holds the company `account` names, for statement texts that
// need one (a quoted keyword column, the whole-number test). Nothing is opened. Fails as
// BuildConnectionString.
const EngineDialect& CompanyDialect(const Variant& account);

}  // namespace ledgerkit
