#include "services/Company.h"

#include <limits>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "common/DataAccessInternal.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/RowWrite.h"
#include "common/UnitOfWork.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"

namespace ledgerkit::services {

std::shared_ptr<ISubScriber> CompanyRecord(const Variant& account) {
  return FirstOf<ISubScriber>(*Fetch<ISubScriber>(account, FetchArgs{.filter = Sql("ISubScriberID>0")}));
}

int32_t CompanyKey(const Variant& account) {
  const std::shared_ptr<ISubScriber> company = CompanyRecord(account);
  if (!company) throw Error::Runtime(kObjectIsNothing, CompanyDatabaseName(account) + " has no company record to own the new row.");
  return *Field<db::ISubScriber::ISubScriberID>(*company);
}

Variant TakeTransactionNumber(const Variant& account) {
  // One statement reads and advances the counter: the number returned is the value before.
  // NULL + 1 stays NULL: the counter is left for the caller to set by other means.
  Command take(account);
  take.SetText(
      Sql("UPDATE ISubScriber SET NextTransactionNumber=NextTransactionNumber+1 "
          "WHERE ISubScriberID=(SELECT MIN(ISubScriberID) FROM ISubScriber WHERE ISubScriberID>0) "
          "AND (NextTransactionNumber IS NULL OR NextTransactionNumber<",
          kValue, ") RETURNING NextTransactionNumber;"));
  take.Bind(db::ISubScriber::NextTransactionNumber, std::numeric_limits<int32_t>::max());
  const auto rows = take.ExecuteQuery();
  if (rows->AtEOF()) {
    // No row changed: no company record, or a counter at its largest value.
    const std::shared_ptr<ISubScriber> company = CompanyRecord(account);
    if (!company) {
      throw Error::Runtime(kObjectIsNothing,
                           CompanyDatabaseName(account) + " has no company record, so it has no transaction counter.");
    }
    throw Error::Runtime(kOverflow, "Overflow: the transaction counter already holds 2147483647, its largest value.");
  }
  const Variant advanced = rows->Field(0);
  if (advanced.IsNull()) return Variant::Null();
  const int32_t next = ToLong(advanced);
  // A number once handed out is never handed out again, even if the operation around this call
  // fails and its transaction is rolled back.
  UnitOfWork::Active(account)->KeepAfterRollback([next](EngineConnection& connection) {
    const auto advance = connection.Prepare(
        Sql("UPDATE ISubScriber SET NextTransactionNumber=", kValue, " WHERE NextTransactionNumber<", kValue, ";"));
    advance->BindInteger(1, next);
    advance->BindInteger(2, next);
    while (advance->Step()) {
    }
  });
  return next - 1;
}

}  // namespace ledgerkit::services
