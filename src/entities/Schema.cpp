#include "ledgerkit/entities/Schema.h"

#include "ledgerkit/common/DataAccess.h"
#include "common/Engine.h"
#include "common/RowWrite.h"
#include "common/UnitOfWork.h"
#include "security/UserNames.h"
#include "entities/Catalog.h"
#include "security/PasswordHash.h"

namespace ledgerkit {

void CreateSubscriberDatabase(const std::string& path, const Variant& company_name,
                              const std::optional<FirstUser>& first_user) {
  CreateEngineDatabase(BuildConnectionString(path), CompanyCatalog(), [&] {
    UnitOfWork::Run(path, Access::kWrite, [&] {
      auto company = RowWrite::Of<db::ISubScriber>();
      company.Set(db::ISubScriber::CompanyName, company_name);
      for (const ColumnDef* counter : {&db::ISubScriber::NextTransactionNumber, &db::ISubScriber::NextInvoiceNumber,
                                       &db::ISubScriber::NextExpenseReportNumber,
                                       &db::ISubScriber::NextClientAccountNumber}) {
        company.Set(*counter, 1);
      }
      const Variant subscriber_id = company.Insert(path);

      auto location = RowWrite::Of<db::ISubscriberLocation>();
      location.Set(db::ISubscriberLocation::Parent, subscriber_id)
          .Set(db::ISubscriberLocation::Name, company_name)
          .Set(db::ISubscriberLocation::IsPrimary, true);
      location.Insert(path);
      if (!first_user) return;

      const std::string password = ClearPassword(first_user->password, "Password");
      auto user = RowWrite::Of<db::IUser>();
      user.Set(db::IUser::Parent, subscriber_id)
          .Set(db::IUser::UserName, first_user->user_name)
          .Set(db::IUser::Password, HashPassword(password))
          .Set(db::IUser::MainUser, true)
          .Set(db::IUser::Admin, true)
          .Set(db::IUser::AllowLogon, true)
          .Set(db::IUser::UserKey, UserNameKey(first_user->user_name));
      user.Insert(path);
    });
  });
}

}  // namespace ledgerkit
