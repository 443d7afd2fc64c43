// CReportMgr: runs a caller's own SQL statement against a company file, for reports the other
// managers do not provide. Stateless; create one, call, release.
#pragma once

#include <memory>
#include <string_view>

#include "common/Dispatch.h"
#include "common/Recordset.h"
#include "common/Variant.h"

namespace ledgerkit {

class CReportMgr : public Dispatch {
 public:
  std::string_view ClassName() const override { return "CReportMgr"; }
  const MemberTable& Members() const override;

  // Runs the single statement sSQL, as given, on the file Account names and returns its rows
  // as a disconnected result set on its first row. A statement that changes data is carried
  // out and gives a closed, empty result set. Money columns come back as Currency, dates as
  // Date. Failures are marked once; a text with two statements is refused before either runs.
  // PRAGMA, ATTACH, DETACH, VACUUM, temporary objects, transaction control and extension
  // loading are refused
  // (SQLITE_AUTH) with nothing changed; whatever the statement does to its connection ends
  // with the call.
  std::shared_ptr<Recordset> ExecReportQuery(const Variant& Account, const Variant& sSQL);
};

}  // namespace ledgerkit
