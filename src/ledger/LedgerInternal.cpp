#include "ledger/LedgerInternal.h"

#include "common/Convert.h"
#include "common/Error.h"
#include "common/Operation.h"
#include "common/SqlText.h"
#include "subscriber/CAccountMgr.h"

namespace ledgerkit::ledger {

Variant CompanyKey(const Variant& account) {
  const std::shared_ptr<ISubScriber> company = CAccountMgr().GetAccountInfo(account);
  if (!company) throw Error::Runtime(kObjectIsNothing, "The company file has no company record to own the new row.");
  return company->Value("ISubScriberID");
}

std::shared_ptr<ACTransLog> RequireHeader(const Variant& account, const Variant& number) {
  const auto headers = Fetch<ACTransLog>(account, FetchArgs{.filter = "TransactionNumber=" + QuoteSqlText(number)});
  return RequireFirst<ACTransLog>(*headers, "No ledger transaction has the number " + ToText(number) + ".");
}

std::string NoRowWithKey(const std::string& what, const Variant& key) {
  return "No " + what + " has the key " + (key.IsNull() ? std::string("Null") : ToText(key)) + ".";
}

void RunWrite(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters) {
  RunOperation(account, Access::kWrite, [&] {
    Command command(account);
    command.SetText(sql);
    for (const Parameter& parameter : parameters) command.Append(parameter);
    command.Execute();
  });
}

Variant InsertOwned(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters) {
  return RunOperation(account, Access::kWrite, [&] {
    Command command(account);
    command.SetText(sql);
    command.Append("p1", ParamType::kLong, 0, CompanyKey(account), "SubscriberID");
    for (const Parameter& parameter : parameters) command.Append(parameter);
    return command.ExecuteScalar();
  });
}

}  // namespace ledgerkit::ledger
