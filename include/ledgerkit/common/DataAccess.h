// The read path and connection text shared by every manager and entity fetch.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// The path of the company file `account` names, as text. Fails with Invalid argument (5) when
// it is empty or holds a NUL (which would cut the path short), or when `account` cannot become
// text, before anything is opened.
std::string CompanyPath(const Variant& account);

// The engine's connection text for the company file `account` names: "Driver=SQLite;Dbq="
// followed by the path, unchanged. Fails as CompanyPath.
std::string BuildConnectionString(const Variant& account);

// Runs exactly one SQL statement on `account` and returns its rows as a disconnected result
// set positioned on the first row (at the end when there is none). A statement that returns no
// columns (UPDATE, INSERT, DELETE) is carried out and gives a closed, empty result set. Joins
// the unit of work active on `account`, if any, and so sees its uncommitted rows.
// Failures (missing file, SQL error, a second statement in the text) leave marked once.
std::shared_ptr<Recordset> OpenRecordset(const Variant& account, std::string_view sql);

// OpenRecordset for a caller's own statement, under the engine's report rules
// (EngineConnection::PrepareReport): what it refuses fails with SQLITE_AUTH and changes
// nothing. The connection it ran on is closed afterwards (at the end of the unit it joined, if
// any), so no later call sees anything the statement did to the connection. A statement that
// writes outside a unit waits for its writer's turn like a unit does.
std::shared_ptr<Recordset> OpenReportRecordset(const Variant& account, std::string_view sql);

}  // namespace ledgerkit
