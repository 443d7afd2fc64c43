#include "ledger/LedgerInternal.h"

#include "common/Convert.h"
#include "common/Error.h"
#include "common/Operation.h"
#include "services/Company.h"

namespace ledgerkit::ledger {

Variant CompanyKey(const Variant& account) { return services::CompanyKey(account); }

Variant NullableKey(const Variant& value) { return value.IsNull() ? Variant::Null() : Variant(ToKey(value)); }

std::string Shown(const Variant& value) { return value.IsNull() ? std::string("Null") : ToText(value); }

std::shared_ptr<ACTransLog> RequireHeader(const Variant& account, const Variant& number) {
  const auto headers = Fetch<ACTransLog>(
      account, FetchArgs{.filter = "TransactionNumber=?", .bind = {SelectingText(number, "TransactionNumber")}});
  return RequireFirst<ACTransLog>(*headers, "No ledger transaction has the number " + Shown(number) + ".");
}

std::string NoRowWithKey(const std::string& what, int32_t key) {
  return "No " + what + " has the key " + std::to_string(key) + ".";
}

namespace {

// One statement as one write operation: the company key first when `owned`, then `parameters`;
// the first column of the row it returns when `returns_key`.
Variant RunStatement(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters, bool owned,
                     bool returns_key) {
  return RunOperation(account, Access::kWrite, [&] {
    Command command(account);
    command.SetText(sql);
    if (owned) command.Append("p1", FieldType::kKey, 0, CompanyKey(account), "SubscriberID");
    for (const Parameter& parameter : parameters) command.Append(parameter);
    if (returns_key) return command.ExecuteScalar();
    command.Execute();
    return Variant();
  });
}

}  // namespace

void RunWrite(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters) {
  RunStatement(account, sql, parameters, false, false);
}

Variant InsertReturningKey(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters) {
  return RunStatement(account, sql, parameters, false, true);
}

Variant InsertOwned(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters) {
  return RunStatement(account, sql, parameters, true, true);
}

}  // namespace ledgerkit::ledger
