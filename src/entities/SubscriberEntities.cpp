// The company's own entities: the company, its locations, users and logon sessions. Their
// fetches and object-valued properties mark a failure once.
#include "ledgerkit/entities/ACAccountType.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/entities/ISubScriber.h"
#include "ledgerkit/entities/ISubscriberLocation.h"
#include "ledgerkit/entities/IUser.h"
#include "ledgerkit/entities/SysSessions.h"

namespace ledgerkit {

const EntityDef& ISubScriber::Def() {
  using C = db::ISubScriber;
  // Only the first four columns are selected: the other counters have no property.
  static const EntityDef def(C::kTable, 4, {},
                             {
                                 Scalar(C::ISubScriberID),
                                 Scalar(C::CompanyName),
                                 Scalar(C::AccountNo),
                                 Scalar(C::NextTransactionNumber),
                                 ChildRows("Users", &IUser::Def, db::IUser::Parent,
                                           Ascending({db::IUser::LastName, db::IUser::FirstName})),
                                 ChildRows("Locations", &ISubscriberLocation::Def, db::ISubscriberLocation::Parent, {}),
                                 ChildRows("AccountTypes", &ACAccountType::Def, db::ACAccountType::Parent, {}),
                             },
                             &MakeEntity<ISubScriber>);
  return def;
}

const EntityDef& ISubscriberLocation::Def() {
  using C = db::ISubscriberLocation;
  static const EntityDef def(C::kTable, 0, {},
                             {
                                 Scalar(C::ISubscriberLocationID),
                                 Scalar("SubscriberID", C::Parent),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def),
                                 Scalar(C::Name),
                                 Scalar(C::Address1),
                                 Scalar(C::Address2),
                                 Scalar(C::Address3),
                                 Scalar(C::City),
                                 Scalar(C::Province),
                                 Scalar(C::PostalCode),
                                 Scalar(C::Country),
                                 Scalar(C::Telephone),
                                 Scalar("FAX", C::Fax),
                                 Scalar(C::Notes),
                                 Scalar(C::IsPrimary),
                             },
                             &MakeEntity<ISubscriberLocation>);
  return def;
}

const EntityDef& IUser::Def() {
  using C = db::IUser;
  // Every column but the matching form of the name (UserKey), which is the library's own.
  static const EntityDef def(C::kTable, 12, {},
                             {
                                 Scalar(C::IUserID),
                                 Scalar("SubscriberID", C::Parent),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def),
                                 Scalar(C::UserName),
                                 Scalar(C::Password),
                                 Scalar(C::FirstName),
                                 Scalar(C::LastName),
                                 Scalar(C::MiddleInitial),
                                 Scalar(C::Admin),
                                 Scalar(C::MainUser),
                                 Scalar(C::AllowLogon),
                                 Scalar(C::EMail),
                                 Scalar(C::ReportsToID),
                                 Linked("ReportsTo", "ReportsToID", &IUser::Def),
                             },
                             &MakeEntity<IUser>);
  return def;
}

const EntityDef& SysSessions::Def() {
  using C = db::SysSessions;
  // Every column but UserKey, as for IUser.
  static const EntityDef def(C::kTable, 5, {},
                             {
                                 Scalar(C::SysSessionsID),
                                 Scalar(C::Account),
                                 Scalar(C::UserName),
                                 Scalar(C::Token),
                                 Scalar(C::LastUpdate),
                             },
                             &MakeEntity<SysSessions>);
  return def;
}

}  // namespace ledgerkit
