// The ledger entities: accounts, account types, institutions, register rows, transaction
// headers and their waiting lines. Their fetches and object-valued properties put a diagnostic
// block with these labels in front of any failure.
#include "entities/ACAccount.h"
#include "entities/ACAccountType.h"
#include "entities/ACFnclInstitution.h"
#include "entities/ACTransLog.h"
#include "entities/ACTransLogWIP.h"
#include "entities/ACTransaction.h"
#include "entities/ISubScriber.h"

namespace ledgerkit {

const EntityDef& ACAccount::Def() {
  static const EntityDef def(
      "ACAccount", 0, "ACAccount::FetchACAccount",
      {
          Scalar("ACAccountID"),
          Scalar("SubscriberID", "Parent"),
          Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "ACAccount::GetSubscriber"),
          Scalar("AccountNumber"),
          Scalar("Name"),
          Scalar("Description"),
          Scalar("Note"),
          Scalar("Inactive"),
          Scalar("BankAccountNo"),
          Scalar("Balance"),
          Scalar("AccountTypeID"),
          Linked("AccountType", "AccountTypeID", &ACAccountType::Def, "VantorINV::ACAccount::GetAccountType"),
          Scalar("FnclInstitutionID"),
          Linked("FnclInstitution", "FnclInstitutionID", &ACFnclInstitution::Def,
                 "VantorINV::ACAccount::GetFnclInstitution"),
          Scalar("ParentAccountID"),
          Linked("ParentAccount", "ParentAccountID", &ACAccount::Def, "VantorINV::ACAccount::GetParentAccount"),
          ChildRows("Transactions", &ACTransaction::Def, "TransactionDate ASC", "VantorINV::ACAccount::GetTransactions"),
      },
      &MakeEntity<ACAccount>);
  return def;
}

const EntityDef& ACAccountType::Def() {
  static const EntityDef def("ACAccountType", 0, "VantorINV::ACAccountType::FetchACAccountType",
                             {
                                 Scalar("ACAccountTypeID"),
                                 Scalar("SubscriberID", "Parent"),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "ACAccount::GetSubscriber"),
                                 Scalar("Name"),
                                 Scalar("Description"),
                                 Scalar("FnclInstituteRqd"),
                                 Scalar("BalanceSheetType"),
                             },
                             &MakeEntity<ACAccountType>);
  return def;
}

const EntityDef& ACFnclInstitution::Def() {
  static const EntityDef def(
      "ACFnclInstitution", 0, "VantorINV::ACFnclInstitution::FetchACFnclInstitution",
      {
          Scalar("ACFnclInstitutionID"),
          Scalar("SubscriberID", "Parent"),
          Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "VantorINV::ACFnclInstitution::GetSubscriber"),
          Scalar("Name"),
          Scalar("Address"),
          Scalar("Contact"),
          Scalar("Telephone"),
      },
      &MakeEntity<ACFnclInstitution>);
  return def;
}

const EntityDef& ACTransaction::Def() {
  static const EntityDef def("ACTransaction", 0, "VantorINV::ACTransaction::FetchACTransaction",
                             {
                                 Scalar("ACTransactionID"),
                                 Scalar("AccountID", "Parent"),
                                 Linked("Account", "AccountID", &ACAccount::Def, "VantorINV::ACTransaction::GetAccount"),
                                 Scalar("TransactionDate"),
                                 Scalar("Description"),
                                 Scalar("Withdrawal"),
                                 Scalar("Deposit"),
                                 Scalar("TransactionNumber"),
                                 Scalar("TransType"),
                                 Scalar("Reconciled"),
                             },
                             &MakeEntity<ACTransaction>);
  return def;
}

const EntityDef& ACTransLog::Def() {
  static const EntityDef def("ACTransLog", 0, "VantorINV::ACTransLog::FetchACTransLog",
                             {
                                 Scalar("ACTransLogID"),
                                 Scalar("SubscriberID", "Parent"),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "ACAccount::GetSubscriber"),
                                 Scalar("LogDate"),
                                 Scalar("TransactionDate"),
                                 Scalar("Description"),
                                 Scalar("TransactionNumber"),
                                 Scalar("TransLogStatus"),
                                 Scalar("UserName"),
                                 Scalar("TransType"),
                                 Scalar("ChequeNo"),
                                 Scalar("Address"),
                                 Scalar("Amount"),
                                 ChildRows("WIPS", &ACTransLogWIP::Def, "AccountID ASC", "VantorINV::ACTransLog::GetWIPS"),
                             },
                             &MakeEntity<ACTransLog>);
  return def;
}

const EntityDef& ACTransLogWIP::Def() {
  static const EntityDef def("ACTransLogWIP", 0, "VantorINV::ACTransLogWIP::FetchACTransLogWIP",
                             {
                                 Scalar("ACTransLogWIPID"),
                                 Scalar("LogID", "Parent"),
                                 Linked("Log", "LogID", &ACTransLog::Def, "VantorINV::ACTransLogWIP::GetLog"),
                                 Scalar("AccountID"),
                                 Scalar("IsDebit"),
                                 Scalar("Description"),
                                 Scalar("Amount"),
                             },
                             &MakeEntity<ACTransLogWIP>);
  return def;
}

}  // namespace ledgerkit
