// CACMgr: the chart of accounts.
#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "services/Arguments.h"
#include "services/Chart.h"

namespace ledgerkit {

namespace {

// The columns an add and an update write alike, bound in this order.
void BindAccountText(Command& command, const Variant& number, const Variant& name, const Variant& description,
                     const Variant& note, const Variant& inactive, const Variant& bank_account_no) {
  command.Bind(db::ACAccount::AccountNumber, number);
  command.Bind(db::ACAccount::Name, name);
  command.Bind(db::ACAccount::Description, description);
  command.Bind(db::ACAccount::Note, note);
  command.Bind(db::ACAccount::Inactive, inactive);
  command.Bind(db::ACAccount::BankAccountNo, bank_account_no);
}

// A link already converted (Null or a key) as the services take it.
std::optional<int32_t> LinkedKey(const Variant& key) {
  if (key.IsNull()) return std::nullopt;
  return key.AsLong();
}

}  // namespace

std::shared_ptr<EntityCollection> CACMgr::GetAllAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/) {
  return ledger::RunEntityRead<ACAccount>(Account, [&] {
    return Fetch<ACAccount>(Account, FetchArgs{.filter = Sql("ACAccountID<>0"), .sort = "AccountNumber ASC, Name ASC"});
  });
}

std::shared_ptr<ACAccount> CACMgr::GetAccount(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/, const Variant& AccountID) {
  return ledger::RunEntityRead<ACAccount>(Account, [&] {
    const int32_t account_id = ToKey(AccountID, "AccountID");
    return ledger::RequireByKey<ACAccount>(Account, account_id, "AccountID");
  });
}

std::shared_ptr<EntityCollection> CACMgr::GetSubAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/, const Variant& AccountID) {
  return ledger::RunEntityRead<ACAccount>(Account, [&] {
    const int32_t account_id = ToKey(AccountID, "AccountID");
    return Fetch<ACAccount>(Account,
                            FetchArgs{.filter = Sql("ParentAccountID=", kValue),
                                      .sort = "AccountNumber ASC",
                                      .bind = {Param(db::ACAccount::ParentAccountID, account_id, "AccountID")}});
  });
}

Variant CACMgr::AddAccount(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                           const Variant& AccountNumber, const Variant& Name, const Variant& Description,
                           const Variant& Note, const Variant& Inactive, const Variant& BankAccountNo,
                           const Variant& ParentAccountID, const Variant& AccountTypeID,
                           const Variant& FnclInstitutionID) {
  return RunOperation(Account, Access::kWrite, [&] {
    // The links are converted before anything is read: a bad one fails the call at once.
    const Variant institution = OptionalKey(FnclInstitutionID, "FnclInstitutionID");
    const Variant parent = OptionalKey(ParentAccountID, "ParentAccountID");
    const Variant type = ledger::NullableKey(AccountTypeID, "AccountTypeID");
    const int32_t company = services::AccountOwner(Account, UserName);
    using A = db::ACAccount;
    const services::AccountValues values{
        .number = services::TextArgument(AccountNumber, A::AccountNumber),
        .name = services::TextArgument(Name, A::Name),
        .description = services::TextArgument(Description, A::Description),
        .note = services::TextArgument(Note, A::Note),
        .inactive = services::BooleanArgument(Inactive, A::Inactive.name),
        .bank_account_no = services::TextArgument(BankAccountNo, A::BankAccountNo),
        .parent_account = LinkedKey(parent),
        .account_type = LinkedKey(type),
        .institution = LinkedKey(institution),
    };
    return Variant(services::AddAccount(Account, company, values));
  });
}

void CACMgr::UpdateAccount(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& AccountID, const Variant& AccountNumber, const Variant& Name,
                           const Variant& Description, const Variant& Note, const Variant& Inactive,
                           const Variant& BankAccountNo, const Variant& FnclInstitutionID,
                           const Variant& ParentAccountID, const Variant& AccountTypeID) {
  RunOperation(Account, Access::kWrite, [&] {
    // A Null AccountID names no row: nothing changes, as for any key that matches nothing.
    const Variant account_id = ledger::NullableKey(AccountID, "AccountID");
    const Variant institution = OptionalKey(FnclInstitutionID, "FnclInstitutionID");
    const Variant parent = OptionalKey(ParentAccountID, "ParentAccountID");
    const Variant type = ledger::NullableKey(AccountTypeID, "AccountTypeID");
    if (!parent.IsNull() && parent.AsLong() > 0) {
      const std::shared_ptr<ACAccount> parent_account =
          ledger::RequireByKey<ACAccount>(Account, parent.AsLong(), "ParentAccountID");
      // A type that is not set is the same as another unset one and differs from every key.
      if (ledger::NullableKey(FieldValue(*parent_account, db::ACAccount::AccountTypeID)) != type) {
        throw Error::Library(errCACMgr::eAcctTypeMismatch, messages::kAcctTypeMismatch);
      }
    }
    Command command(Account);
    command.SetText(Sql("UPDATE ACAccount SET AccountNumber=", kValue, ",Name=", kValue, ",Description=", kValue,
                        "," + command.Dialect().QuoteIdentifier("Note") + "=", kValue, ",Inactive=", kValue,
                        ",BankAccountNo=", kValue, ",FnclInstitutionID=", kValue, ",ParentAccountID=", kValue,
                        ",AccountTypeID=", kValue, " WHERE ACAccountID=", kValue, ";"));
    BindAccountText(command, AccountNumber, Name, Description, Note, Inactive, BankAccountNo);
    command.Bind(db::ACAccount::FnclInstitutionID, institution);
    command.Bind(db::ACAccount::ParentAccountID, parent);
    command.Bind(db::ACAccount::AccountTypeID, type);
    command.Bind(db::ACAccount::ACAccountID, account_id, "AccountID");
    command.Execute();
  });
}

void CACMgr::DeleteAccount(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& AccountID) {
  ledger::DeleteRows(Account, RowWrite::Of<db::ACAccount>().Where(db::ACAccount::ACAccountID, AccountID, "AccountID"));
}

}  // namespace ledgerkit
