#include "services/CompanyDetails.h"

#include "common/Command.h"
#include "common/RowWrite.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "services/Arguments.h"

namespace ledgerkit::services {

namespace {

using C = db::ISubScriber;
using L = db::ISubscriberLocation;

}  // namespace

void SetCompanyName(const Variant& account, const std::optional<std::string>& name) {
  Command command(account);
  command.SetText(Sql("UPDATE ISubScriber SET CompanyName=", kValue, ";"));
  command.Bind(C::CompanyName, OrNull(name));
  command.Execute();
}

void SetPrimaryAddress(const Variant& account, const BusinessAddress& address) {
  RowWrite::Of<L>()
      .Set(L::Address1, OrNull(address.address1))
      .Set(L::Address2, OrNull(address.address2))
      .Set(L::Address3, OrNull(address.address3))
      .Set(L::City, OrNull(address.city))
      .Set(L::Province, OrNull(address.province))
      .Set(L::PostalCode, OrNull(address.postal_code))
      .Set(L::Country, OrNull(address.country))
      .Set(L::Telephone, OrNull(address.telephone))
      .Set(L::Fax, OrNull(address.fax), "FAX")
      .Where(L::IsPrimary, true)
      .Update(account);
}

std::shared_ptr<ISubscriberLocation> PrimaryLocation(const Variant& account) {
  return FirstOf<ISubscriberLocation>(*Fetch<ISubscriberLocation>(account, FetchArgs{.filter = Sql("IsPrimary=1")}));
}

void SetDocumentCounters(const Variant& account, const DocumentCounters& counters) {
  Command command(account);
  command.SetText(Sql("UPDATE ISubScriber SET NextInvoiceNumber=", kValue, ",NextExpenseReportNumber=", kValue,
                      ",NextClientAccountNumber=", kValue, ";"));
  command.Bind(C::NextInvoiceNumber, OrNull(counters.next_invoice), "NextInvoice");
  command.Bind(C::NextExpenseReportNumber, OrNull(counters.next_expense_report), "NextExpenseReport");
  command.Bind(C::NextClientAccountNumber, OrNull(counters.next_client_account), "NextClientAccount");
  command.Execute();
}

}  // namespace ledgerkit::services
