// The company's own entities: the company, its locations, users and logon sessions. Their
// fetches and object-valued properties mark a failure once.
#include "entities/ACAccountType.h"
#include "entities/ISubScriber.h"
#include "entities/ISubscriberLocation.h"
#include "entities/IUser.h"
#include "entities/SysSessions.h"

namespace ledgerkit {

const EntityDef& ISubScriber::Def() {
  // Only the first four columns are selected: the other counters have no property.
  static const EntityDef def("ISubScriber", 4, {},
                             {
                                 Scalar("ISubScriberID"),
                                 Scalar("CompanyName"),
                                 Scalar("AccountNo"),
                                 Scalar("NextTransactionNumber"),
                                 ChildRows("Users", &IUser::Def, "LastName ASC, FirstName ASC"),
                                 ChildRows("Locations", &ISubscriberLocation::Def, {}),
                                 ChildRows("AccountTypes", &ACAccountType::Def, {}),
                             },
                             &MakeEntity<ISubScriber>);
  return def;
}

const EntityDef& ISubscriberLocation::Def() {
  static const EntityDef def("ISubscriberLocation", 0, {},
                             {
                                 Scalar("ISubscriberLocationID"),
                                 Scalar("SubscriberID", "Parent"),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def),
                                 Scalar("Name"),
                                 Scalar("Address1"),
                                 Scalar("Address2"),
                                 Scalar("Address3"),
                                 Scalar("City"),
                                 Scalar("Province"),
                                 Scalar("PostalCode"),
                                 Scalar("Country"),
                                 Scalar("Telephone"),
                                 Scalar("FAX", "Fax"),
                                 Scalar("Notes"),
                                 Scalar("IsPrimary"),
                             },
                             &MakeEntity<ISubscriberLocation>);
  return def;
}

const EntityDef& IUser::Def() {
  static const EntityDef def("IUser", 12, {},
                             {
                                 Scalar("IUserID"),
                                 Scalar("SubscriberID", "Parent"),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def),
                                 Scalar("UserName"),
                                 Scalar("Password"),
                                 Scalar("FirstName"),
                                 Scalar("LastName"),
                                 Scalar("MiddleInitial"),
                                 Scalar("Admin"),
                                 Scalar("MainUser"),
                                 Scalar("AllowLogon"),
                                 Scalar("EMail"),
                                 Scalar("ReportsToID"),
                                 Linked("ReportsTo", "ReportsToID", &IUser::Def),
                             },
                             &MakeEntity<IUser>);
  return def;
}

const EntityDef& SysSessions::Def() {
  static const EntityDef def("SysSessions", 5, {},
                             {
                                 Scalar("SysSessionsID"),
                                 Scalar("Account"),
                                 Scalar("UserName"),
                                 Scalar("Token"),
                                 Scalar("LastUpdate"),
                             },
                             &MakeEntity<SysSessions>);
  return def;
}

}  // namespace ledgerkit
