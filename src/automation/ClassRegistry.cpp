#include "ledgerkit/automation/ClassRegistry.h"

#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "ledgerkit/enums/eBalanceSheetTypeEnm.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/enums/eTransLogStatusEnm.h"
#include "ledgerkit/enums/eTransTypeEnm.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "ledgerkit/subscriber/CAccountMgr.h"

namespace ledgerkit {

namespace {

struct CreatableClass {
  std::string_view name;
  std::shared_ptr<Dispatch> (*create)();
};

template <class T>
std::shared_ptr<Dispatch> Create() {
  return std::make_shared<T>();
}

// Each creatable class is registered here once; the bridge and every late-bound caller find
// it through this table.
constexpr CreatableClass kCreatable[] = {
    {"CACMgr", &Create<CACMgr>},
    {"CAccountMgr", &Create<CAccountMgr>},
    {"CUserManager", &Create<CUserManager>},
    {"CSecurityMgr", &Create<CSecurityMgr>},
    {"CReportMgr", &Create<CReportMgr>},
    {"eTransTypeEnm", &Create<eTransTypeEnm>},
    {"eBalanceSheetTypeEnm", &Create<eBalanceSheetTypeEnm>},
    {"eTransLogStatusEnm", &Create<eTransLogStatusEnm>},
};

}  // namespace

std::shared_ptr<Dispatch> CreateObject(std::string_view name) {
  for (const CreatableClass& creatable : kCreatable) {
    if (SameNameIgnoringCase(creatable.name, name)) {
      return creatable.create();
    }
  }
  throw Error::Runtime(kCannotCreateObject, "The class " + QuoteForMessage(name) + " cannot be created by name.");
}

std::vector<std::string> CreatableClassNames() {
  std::vector<std::string> names;
  for (const CreatableClass& creatable : kCreatable) names.emplace_back(creatable.name);
  return names;
}

}  // namespace ledgerkit
