#include "subscriber/CAccountMgr.h"

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/MemberTable.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "entities/EntityInternal.h"
#include "services/Company.h"

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
    Command command(Account);
    command.SetText("UPDATE ISubScriber SET CompanyName=?;");
    command.Append("p1", FieldType::kText, lenISubScriber::lenCompanyName, CompanyName, "CompanyName");
    command.Execute();
    command.SetText(
        "UPDATE ISubscriberLocation SET Address1=?,Address2=?,Address3=?,City=?,Province=?,PostalCode=?,Country=?,"
        "Telephone=?,Fax=? WHERE IsPrimary=1;");
    command.Clear();
    command.Append("p1", FieldType::kText, lenISubscriberLocation::lenAddress1, Address1, "Address1");
    command.Append("p2", FieldType::kText, lenISubscriberLocation::lenAddress2, Address2, "Address2");
    command.Append("p3", FieldType::kText, lenISubscriberLocation::lenAddress3, Address3, "Address3");
    command.Append("p4", FieldType::kText, lenISubscriberLocation::lenCity, City, "City");
    command.Append("p5", FieldType::kText, lenISubscriberLocation::lenProvince, Province, "Province");
    command.Append("p6", FieldType::kText, lenISubscriberLocation::lenPostalCode, PostalCode, "PostalCode");
    command.Append("p7", FieldType::kText, lenISubscriberLocation::lenCountry, Country, "Country");
    command.Append("p8", FieldType::kText, lenISubscriberLocation::lenTelephone, Telephone, "Telephone");
    command.Append("p9", FieldType::kText, lenISubscriberLocation::lenFax, FAX, "FAX");
    command.Execute();
  });
}

std::shared_ptr<ISubscriberLocation> CAccountMgr::GetPrimaryLocation(const Variant& Account, const Variant& /*UserName*/,
                                                                     const Variant& /*Token*/,
                                                                     const Variant& /*ForAccount*/) {
  return RunOperation(Account, Access::kRead, [&] {
    const auto locations = Fetch<ISubscriberLocation>(Account, FetchArgs{.filter = "IsPrimary=1"});
    return RequireFirst<ISubscriberLocation>(*locations, "The company has no location marked primary.");
  });
}

void CAccountMgr::UpdateNextNumbers(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                    const Variant& NextInvoice, const Variant& NextExpenseReport,
                                    const Variant& NextClientAccount) {
  RunOperation(Account, Access::kWrite, [&] {
    Command command(Account);
    command.SetText("UPDATE ISubScriber SET NextInvoiceNumber=?,NextExpenseReportNumber=?,NextClientAccountNumber=?;");
    command.Append("p1", FieldType::kLong, 0, NextInvoice, "NextInvoice");
    command.Append("p2", FieldType::kLong, 0, NextExpenseReport, "NextExpenseReport");
    command.Append("p3", FieldType::kLong, 0, NextClientAccount, "NextClientAccount");
    command.Execute();
  });
}

Variant CAccountMgr::GetNextTransactionNumber(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/) {
  return RunOperation(Account, Access::kWrite, [&] { return services::TakeTransactionNumber(Account); });
}

}  // namespace ledgerkit
