// The read path and connection text shared by every manager and entity fetch.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/Recordset.h"
#include "common/Variant.h"

namespace ledgerkit {

// The engine's connection text for the company file `account` names: "Driver=SQLite;Dbq="
// followed by the path, unchanged. Fails only when `account` cannot become text.
std::string BuildConnectionString(const Variant& account);

// Runs exactly one SQL statement on `account` and returns its rows as a disconnected result
// set positioned on the first row (at the end when there is none). A statement that returns no
// columns (UPDATE, INSERT, DELETE) is carried out and gives a closed, empty result set. Joins
// the unit of work active on `account`, if any, and so sees its uncommitted rows.
// Failures (missing file, SQL error, a second statement in the text) leave marked once.
std::shared_ptr<Recordset> OpenRecordset(const Variant& account, std::string_view sql);

}  // namespace ledgerkit
