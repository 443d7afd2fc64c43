#include "reports/CReportMgr.h"

#include "common/Convert.h"
#include "common/DataAccess.h"
#include "common/ErrorConvention.h"

namespace ledgerkit {

std::shared_ptr<Recordset> CReportMgr::ExecReportQuery(const Variant& Account, const Variant& sSQL) {
  return WithMarkedReraise([&] { return OpenRecordset(Account, ToText(sSQL)); });
}

}  // namespace ledgerkit
