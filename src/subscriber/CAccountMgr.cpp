#include "subscriber/CAccountMgr.h"

#include <limits>

#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/MemberTable.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "entities/EntityInternal.h"

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
  return RunOperation(Account, Access::kRead, [&] {
    return FirstOf<ISubScriber>(*Fetch<ISubScriber>(Account, FetchArgs{.filter = "ISubScriberID>0"}));
  });
}

void CAccountMgr::UpdateAccountBusinessInfo(const Variant& Account, const Variant& CompanyName, const Variant& Address1,
                                            const Variant& Address2, const Variant& Address3, const Variant& City,
                                            const Variant& Province, const Variant& PostalCode, const Variant& Country,
                                            const Variant& Telephone, const Variant& FAX) {
  RunOperation(Account, Access::kWrite, [&] {
    Command command(Account);
    command.SetText("UPDATE ISubScriber SET CompanyName=?;");
    command.Append("p1", ParamType::kText, lenISubScriber::lenCompanyName, CompanyName, "CompanyName");
    command.Execute();
    command.SetText(
        "UPDATE ISubscriberLocation SET Address1=?,Address2=?,Address3=?,City=?,Province=?,PostalCode=?,Country=?,"
        "Telephone=?,Fax=? WHERE IsPrimary=1;");
    command.Clear();
    command.Append("p1", ParamType::kText, lenISubscriberLocation::lenAddress1, Address1, "Address1");
    command.Append("p2", ParamType::kText, lenISubscriberLocation::lenAddress2, Address2, "Address2");
    command.Append("p3", ParamType::kText, lenISubscriberLocation::lenAddress3, Address3, "Address3");
    command.Append("p4", ParamType::kText, lenISubscriberLocation::lenCity, City, "City");
    command.Append("p5", ParamType::kText, lenISubscriberLocation::lenProvince, Province, "Province");
    command.Append("p6", ParamType::kText, lenISubscriberLocation::lenPostalCode, PostalCode, "PostalCode");
    command.Append("p7", ParamType::kText, lenISubscriberLocation::lenCountry, Country, "Country");
    command.Append("p8", ParamType::kText, lenISubscriberLocation::lenTelephone, Telephone, "Telephone");
    command.Append("p9", ParamType::kText, lenISubscriberLocation::lenFax, FAX, "FAX");
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
    command.Append("p1", ParamType::kLong, 0, NextInvoice, "NextInvoice");
    command.Append("p2", ParamType::kLong, 0, NextExpenseReport, "NextExpenseReport");
    command.Append("p3", ParamType::kLong, 0, NextClientAccount, "NextClientAccount");
    command.Execute();
  });
}

Variant CAccountMgr::GetNextTransactionNumber(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/) {
  return RunOperation(Account, Access::kWrite, [&] {
    const std::shared_ptr<ISubScriber> subscriber = GetAccountInfo(Account);
    if (!subscriber) {
      throw Error::Runtime(kObjectIsNothing, "The company file has no company record, so it has no transaction counter.");
    }
    const Variant number = subscriber->Value("NextTransactionNumber");
    // NULL + 1 stays NULL: the counter is left for the caller to set by other means.
    Variant next = Variant::Null();
    if (!number.IsNull()) {
      const int32_t current = ToLong(number);
      if (current == std::numeric_limits<int32_t>::max()) {
        throw Error::Runtime(kOverflow, "Overflow: the transaction counter already holds 2147483647, its largest value.");
      }
      next = current + 1;
    }
    Command command(Account);
    command.SetText("UPDATE ISubScriber SET NextTransactionNumber=?;");
    command.Append("p1", ParamType::kLong, 0, next, "NextTransactionNumber");
    command.Execute();
    if (!next.IsNull()) {
      // A number once handed out is never handed out again, even if the operation around this
      // call fails and its transaction is rolled back.
      const int32_t advanced = next.AsLong();
      UnitOfWork::Active(Account)->KeepAfterRollback([advanced](EngineConnection& connection) {
        const auto advance =
            connection.Prepare("UPDATE ISubScriber SET NextTransactionNumber=?1 WHERE NextTransactionNumber<?1;");
        advance->BindInteger(1, advanced);
        while (advance->Step()) {
        }
      });
    }
    return number;
  });
}

}  // namespace ledgerkit
