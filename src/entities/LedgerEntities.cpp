// The ledger entities: accounts, account types, institutions, register rows, transaction
// headers and their waiting lines. Their fetches and object-valued properties put a diagnostic
// block with these labels in front of any failure.
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ACFnclInstitution.h"
#include "ledgerkit/entities/ACTransLog.h"
#include "ledgerkit/entities/ACTransLogWIP.h"
#include "ledgerkit/entities/ACTransaction.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/entities/ISubScriber.h"

namespace ledgerkit {

const EntityDef& ACAccount::Def() {
  using C = db::ACAccount;
  static const EntityDef def(
      C::kTable, 0, "ACAccount::FetchACAccount",
      {
          Scalar(C::ACAccountID),
          Scalar("SubscriberID", C::Parent),
          Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "ACAccount::GetSubscriber"),
          Scalar(C::AccountNumber),
          Scalar(C::Name),
          Scalar(C::Description),
          Scalar(C::Note),
          Scalar(C::Inactive),
          Scalar(C::BankAccountNo),
          Scalar(C::Balance),
          Scalar(C::AccountTypeID),
          Linked("AccountType", "AccountTypeID", &ACAccountType::Def, "VantorINV::ACAccount::GetAccountType"),
          Scalar(C::FnclInstitutionID),
          Linked("FnclInstitution", "FnclInstitutionID", &ACFnclInstitution::Def,
                 "VantorINV::ACAccount::GetFnclInstitution"),
          Scalar(C::ParentAccountID),
          Linked("ParentAccount", "ParentAccountID", &ACAccount::Def, "VantorINV::ACAccount::GetParentAccount"),
          ChildRows("Transactions", &ACTransaction::Def, db::ACTransaction::Parent,
                    Ascending({db::ACTransaction::TransactionDate}), "VantorINV::ACAccount::GetTransactions"),
      },
      &MakeEntity<ACAccount>);
  return def;
}

const EntityDef& ACAccountType::Def() {
  using C = db::ACAccountType;
  static const EntityDef def(C::kTable, 0, "VantorINV::ACAccountType::FetchACAccountType",
                             {
                                 Scalar(C::ACAccountTypeID),
                                 Scalar("SubscriberID", C::Parent),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "ACAccount::GetSubscriber"),
                                 Scalar(C::Name),
                                 Scalar(C::Description),
                                 Scalar(C::FnclInstituteRqd),
                                 Scalar(C::BalanceSheetType),
                             },
                             &MakeEntity<ACAccountType>);
  return def;
}

const EntityDef& ACFnclInstitution::Def() {
  using C = db::ACFnclInstitution;
  static const EntityDef def(
      C::kTable, 0, "VantorINV::ACFnclInstitution::FetchACFnclInstitution",
      {
          Scalar(C::ACFnclInstitutionID),
          Scalar("SubscriberID", C::Parent),
          Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "VantorINV::ACFnclInstitution::GetSubscriber"),
          Scalar(C::Name),
          Scalar(C::Address),
          Scalar(C::Contact),
          Scalar(C::Telephone),
      },
      &MakeEntity<ACFnclInstitution>);
  return def;
}

const EntityDef& ACTransaction::Def() {
  using C = db::ACTransaction;
  static const EntityDef def(C::kTable, 0, "VantorINV::ACTransaction::FetchACTransaction",
                             {
                                 Scalar(C::ACTransactionID),
                                 Scalar("AccountID", C::Parent),
                                 Linked("Account", "AccountID", &ACAccount::Def, "VantorINV::ACTransaction::GetAccount"),
                                 Scalar(C::TransactionDate),
                                 Scalar(C::Description),
                                 Scalar(C::Withdrawal),
                                 Scalar(C::Deposit),
                                 Scalar(C::TransactionNumber),
                                 Scalar(C::TransType),
                                 Scalar(C::Reconciled),
                             },
                             &MakeEntity<ACTransaction>);
  return def;
}

const EntityDef& ACTransLog::Def() {
  using C = db::ACTransLog;
  static const EntityDef def(C::kTable, 0, "VantorINV::ACTransLog::FetchACTransLog",
                             {
                                 Scalar(C::ACTransLogID),
                                 Scalar("SubscriberID", C::Parent),
                                 Linked("Subscriber", "SubscriberID", &ISubScriber::Def, "ACAccount::GetSubscriber"),
                                 Scalar(C::LogDate),
                                 Scalar(C::TransactionDate),
                                 Scalar(C::Description),
                                 Scalar(C::TransactionNumber),
                                 Scalar(C::TransLogStatus),
                                 Scalar(C::UserName),
                                 Scalar(C::TransType),
                                 Scalar(C::ChequeNo),
                                 Scalar(C::Address),
                                 Scalar(C::Amount),
                                 ChildRows("WIPS", &ACTransLogWIP::Def, db::ACTransLogWIP::Parent,
                                           Ascending({db::ACTransLogWIP::AccountID}),
                                           "VantorINV::ACTransLog::GetWIPS"),
                             },
                             &MakeEntity<ACTransLog>);
  return def;
}

const EntityDef& ACTransLogWIP::Def() {
  using C = db::ACTransLogWIP;
  static const EntityDef def(C::kTable, 0, "VantorINV::ACTransLogWIP::FetchACTransLogWIP",
                             {
                                 Scalar(C::ACTransLogWIPID),
                                 Scalar("LogID", C::Parent),
                                 Linked("Log", "LogID", &ACTransLog::Def, "VantorINV::ACTransLogWIP::GetLog"),
                                 Scalar(C::AccountID),
                                 Scalar(C::IsDebit),
                                 Scalar(C::Description),
                                 Scalar(C::Amount),
                             },
                             &MakeEntity<ACTransLogWIP>);
  return def;
}

}  // namespace ledgerkit
