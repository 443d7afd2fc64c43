#include "services/Chart.h"

#include <memory>

#include "common/Command.h"
#include "common/RowWrite.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "services/Arguments.h"
#include "services/Users.h"

namespace ledgerkit::services {

namespace {

std::string Shown(const Variant& value) { return value.IsNull() ? std::string("Null") : ToText(value); }

}  // namespace

int32_t AddAccountType(const Variant& account, int32_t company, const AccountTypeValues& type) {
  using T = db::ACAccountType;
  auto row = RowWrite::Of<T>();
  row.Set(T::Parent, company, "SubscriberID")
      .Set(T::Name, OrNull(type.name))
      .Set(T::Description, OrNull(type.description))
      .Set(T::FnclInstituteRqd, OrNull(type.institution_required))
      .Set(T::BalanceSheetType, OrNull(type.balance_sheet_type));
  return ToKey(row.Insert(account));
}

int32_t AccountOwner(const Variant& account, const Variant& user_name) {
  const std::shared_ptr<IUser> caller = UserProfile(account, user_name);
  if (!caller) {
    throw Error::Runtime(kObjectIsNothing, "No user is named \"" + Shown(user_name) + "\", so the new account has no company.");
  }
  const std::shared_ptr<Entity> company = caller->Related("Subscriber", account);
  if (!company) {
    throw Error::Runtime(kObjectIsNothing, "The company of user \"" + Shown(user_name) + "\" does not exist.");
  }
  return ToKey(company->Key());
}

int32_t AddAccount(const Variant& account, int32_t company, const AccountValues& values) {
  using A = db::ACAccount;
  Command command(account);
  command.SetText(Sql("INSERT INTO ACAccount (Parent,AccountNumber,Name,Description," +
                          command.Dialect().QuoteIdentifier("Note") +
                          ",Inactive,BankAccountNo,AccountTypeID,FnclInstitutionID,ParentAccountID) VALUES (",
                      kValue, ",", kValue, ",", kValue, ",", kValue, ",", kValue, ",", kValue, ",", kValue, ",", kValue,
                      ",", kValue, ",", kValue,
                      ") "
                      "RETURNING ACAccountID;"));
  command.Bind(A::Parent, company, "SubscriberID");
  command.Bind(A::AccountNumber, OrNull(values.number));
  command.Bind(A::Name, OrNull(values.name));
  command.Bind(A::Description, OrNull(values.description));
  command.Bind(A::Note, OrNull(values.note));
  command.Bind(A::Inactive, OrNull(values.inactive));
  command.Bind(A::BankAccountNo, OrNull(values.bank_account_no));
  command.Bind(A::AccountTypeID, OrNull(values.account_type));
  command.Bind(A::FnclInstitutionID, OrNull(values.institution));
  command.Bind(A::ParentAccountID, OrNull(values.parent_account));
  return ToKey(command.ExecuteScalar());
}

}  // namespace ledgerkit::services
