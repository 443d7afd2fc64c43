#include "ledgerkit/reports/CReportMgr.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/MemberTable.h"

namespace ledgerkit {

const MemberTable& CReportMgr::Members() const {
  static const MemberTable table{
      MethodMember<&CReportMgr::ExecReportQuery>("ExecReportQuery", {"Account", "sSQL"}),
      MethodMember<&CReportMgr::TrialBalance>("TrialBalance", {"Account", "UserName", "Token", "AsOfDate"}),
      MethodMember<&CReportMgr::BalanceSheet>("BalanceSheet", {"Account", "UserName", "Token", "AsOfDate"}),
      MethodMember<&CReportMgr::IncomeStatement>("IncomeStatement",
                                                 {"Account", "UserName", "Token", "FromDate", "ToDate", "Months"}),
      MethodMember<&CReportMgr::AccountRegister>("AccountRegister",
                                                 {"Account", "UserName", "Token", "AccountID", "FromDate", "ToDate"}),
      MethodMember<&CReportMgr::AgedReceivables>("AgedReceivables", {"Account", "UserName", "Token", "AsOfDate"}),
  };
  return table;
}

std::shared_ptr<Recordset> CReportMgr::ExecReportQuery(const Variant& Account, const Variant& sSQL) {
  return WithMarkedReraise([&] { return OpenReportRecordset(Account, ToText(sSQL)); });
}

}  // namespace ledgerkit
