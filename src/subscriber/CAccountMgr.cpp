#include "ledgerkit/subscriber/CAccountMgr.h"

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/MemberTable.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "services/Arguments.h"
#include "services/Company.h"
#include "services/CompanyDetails.h"

namespace ledgerkit {

const MemberTable& CAccountMgr::Members() const {
  static const MemberTable table{
      MethodMember<&CAccountMgr::GetAccountInfo>("GetAccountInfo", {"Account"}),
      MethodMember<&CAccountMgr::UpdateAccountBusinessInfo>(
          "UpdateAccountBusinessInfo", {"Account", "CompanyName", "Address1", "Address2", "Address3", "City",
                                        "Province", "PostalCode", "Country", "Telephone", "FAX"}),
      MethodMember<&CAccountMgr::GetPrimaryLocation>("GetPrimaryLocation",
                                                     {"Account", "UserName", "Token", "ForAccount"}),
      MethodMember<&CAccountMgr::UpdateNextNumbers>("UpdateNextNumbers", {"Account", "UserName", "Token", "NextInvoice",
                                                                          "NextExpenseReport", "NextClientAccount"}),
      MethodMember<&CAccountMgr::GetNextTransactionNumber>("GetNextTransactionNumber",
                                                           {"Account", "UserName", "Token"}),
  };
  return table;
}

std::shared_ptr<ISubScriber> CAccountMgr::GetAccountInfo(const Variant& Account) {
  return RunOperation(Account, Access::kRead, [&] { return services::CompanyRecord(Account); });
}

void CAccountMgr::UpdateAccountBusinessInfo(const Variant& Account, const Variant& CompanyName, const Variant& Address1,
                                            const Variant& Address2, const Variant& Address3, const Variant& City,
                                            const Variant& Province, const Variant& PostalCode, const Variant& Country,
                                            const Variant& Telephone, const Variant& FAX) {
  RunOperation(Account, Access::kWrite, [&] {
    using L = db::ISubscriberLocation;
    const auto name = services::TextArgument(CompanyName, db::ISubScriber::CompanyName);
    const services::BusinessAddress address{
        .address1 = services::TextArgument(Address1, L::Address1),
        .address2 = services::TextArgument(Address2, L::Address2),
        .address3 = services::TextArgument(Address3, L::Address3),
        .city = services::TextArgument(City, L::City),
        .province = services::TextArgument(Province, L::Province),
        .postal_code = services::TextArgument(PostalCode, L::PostalCode),
        .country = services::TextArgument(Country, L::Country),
        .telephone = services::TextArgument(Telephone, L::Telephone),
        .fax = services::TextArgument(FAX, L::Fax, "FAX"),
    };
    services::SetCompanyName(Account, name);
    services::SetPrimaryAddress(Account, address);
  });
}

std::shared_ptr<ISubscriberLocation> CAccountMgr::GetPrimaryLocation(const Variant& Account, const Variant& /*UserName*/,
                                                                     const Variant& /*Token*/,
                                                                     const Variant& /*ForAccount*/) {
  return RunOperation(Account, Access::kRead, [&] {
    std::shared_ptr<ISubscriberLocation> location = services::PrimaryLocation(Account);
    if (!location) throw Error::Runtime(kInvalidArgument, "The company has no location marked primary.");
    return location;
  });
}

void CAccountMgr::UpdateNextNumbers(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                    const Variant& NextInvoice, const Variant& NextExpenseReport,
                                    const Variant& NextClientAccount) {
  RunOperation(Account, Access::kWrite, [&] {
    services::SetDocumentCounters(Account, {.next_invoice = services::LongArgument(NextInvoice),
                                            .next_expense_report = services::LongArgument(NextExpenseReport),
                                            .next_client_account = services::LongArgument(NextClientAccount)});
  });
}

Variant CAccountMgr::GetNextTransactionNumber(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/) {
  return RunOperation(Account, Access::kWrite, [&] { return services::TakeTransactionNumber(Account); });
}

}  // namespace ledgerkit
