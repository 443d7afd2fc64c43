#include "reports/CReportMgr.h"

#include "common/Convert.h"
#include "common/DataAccess.h"
#include "common/ErrorConvention.h"
#include "common/MemberTable.h"

namespace ledgerkit {

const MemberTable& CReportMgr::Members() const {
  static const MemberTable table{MethodMember<&CReportMgr::ExecReportQuery>("ExecReportQuery", {"Account", "sSQL"})};
  return table;
}

std::shared_ptr<Recordset> CReportMgr::ExecReportQuery(const Variant& Account, const Variant& sSQL) {
  return WithMarkedReraise([&] { return OpenReportRecordset(Account, ToText(sSQL)); });
}

}  // namespace ledgerkit
