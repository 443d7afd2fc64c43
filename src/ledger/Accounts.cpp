// CACMgr: the chart of accounts.
#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "services/Users.h"
#include "security/CUserManager.h"

namespace ledgerkit {

namespace {

// The columns an add and an update write alike, bound in this order.
void AppendAccountText(Command& command, const Variant& number, const Variant& name, const Variant& description,
                       const Variant& note, const Variant& inactive, const Variant& bank_account_no, int first) {
  auto p = [&first](int offset) {
    std::string parameter(1, 'p');
    parameter += std::to_string(first + offset);
    return parameter;
  };
  command.Append(p(0), FieldType::kText, lenACAccount::lenAccountNumber, number, "AccountNumber");
  command.Append(p(1), FieldType::kText, lenACAccount::lenName, name, "Name");
  command.Append(p(2), FieldType::kText, lenACAccount::lenDescription, description, "Description");
  command.Append(p(3), FieldType::kText, lenACAccount::lenNote, note, "Note");
  command.Append(p(4), FieldType::kBoolean, 0, inactive, "Inactive");
  command.Append(p(5), FieldType::kText, lenACAccount::lenBankAccountNo, bank_account_no, "BankAccountNo");
}

}  // namespace

std::shared_ptr<EntityCollection> CACMgr::GetAllAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/) {
  return ledger::RunEntityRead<ACAccount>(Account, [&] {
    return Fetch<ACAccount>(Account, FetchArgs{.filter = "ACAccountID<>0", .sort = "AccountNumber ASC, Name ASC"});
  });
}

std::shared_ptr<ACAccount> CACMgr::GetAccount(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/, const Variant& AccountID) {
  return ledger::RunEntityRead<ACAccount>(Account, [&] {
    const int32_t account_id = ToKey(AccountID);
    return ledger::RequireByKey<ACAccount>(Account, account_id);
  });
}

std::shared_ptr<EntityCollection> CACMgr::GetSubAccounts(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/, const Variant& AccountID) {
  return ledger::RunEntityRead<ACAccount>(Account, [&] {
    const int32_t account_id = ToKey(AccountID);
    return Fetch<ACAccount>(Account, FetchArgs{.filter = "ParentAccountID=?",
                                               .sort = "AccountNumber ASC",
                                               .bind = {{"p1", FieldType::kKey, 0, account_id, "AccountID"}}});
  });
}

Variant CACMgr::AddAccount(const Variant& Account, const Variant& UserName, const Variant& /*Token*/,
                           const Variant& AccountNumber, const Variant& Name, const Variant& Description,
                           const Variant& Note, const Variant& Inactive, const Variant& BankAccountNo,
                           const Variant& ParentAccountID, const Variant& AccountTypeID,
                           const Variant& FnclInstitutionID) {
  return RunOperation(Account, Access::kWrite, [&] {
    // The links are converted before anything is read: a bad one fails the call at once.
    const Variant institution = OptionalKey(FnclInstitutionID);
    const Variant parent = OptionalKey(ParentAccountID);
    const Variant type = ledger::NullableKey(AccountTypeID);
    const std::shared_ptr<IUser> caller = services::UserProfile(Account, UserName);
    if (!caller) {
      throw Error::Runtime(kObjectIsNothing,
                           "No user is named \"" + ledger::Shown(UserName) + "\", so the new account has no company.");
    }
    const std::shared_ptr<Entity> company = caller->Related("Subscriber", Account);
    if (!company) {
      throw Error::Runtime(kObjectIsNothing, "The company of user \"" + ledger::Shown(UserName) + "\" does not exist.");
    }
    Command command(Account);
    command.SetText(
        "INSERT INTO ACAccount (Parent,AccountNumber,Name,Description,[Note],Inactive,BankAccountNo,AccountTypeID,"
        "FnclInstitutionID,ParentAccountID) VALUES (?,?,?,?,?,?,?,?,?,?) RETURNING ACAccountID;");
    command.Append("p1", FieldType::kKey, 0, company->Value("ISubScriberID"), "SubscriberID");
    AppendAccountText(command, AccountNumber, Name, Description, Note, Inactive, BankAccountNo, 2);
    command.Append("p8", FieldType::kKey, 0, type, "AccountTypeID");
    command.Append("p9", FieldType::kKey, 0, institution, "FnclInstitutionID");
    command.Append("p10", FieldType::kKey, 0, parent, "ParentAccountID");
    return command.ExecuteScalar();
  });
}

void CACMgr::UpdateAccount(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& AccountID, const Variant& AccountNumber, const Variant& Name,
                           const Variant& Description, const Variant& Note, const Variant& Inactive,
                           const Variant& BankAccountNo, const Variant& FnclInstitutionID,
                           const Variant& ParentAccountID, const Variant& AccountTypeID) {
  RunOperation(Account, Access::kWrite, [&] {
    // A Null AccountID names no row: nothing changes, as for any key that matches nothing.
    const Variant account_id = ledger::NullableKey(AccountID);
    const Variant institution = OptionalKey(FnclInstitutionID);
    const Variant parent = OptionalKey(ParentAccountID);
    const Variant type = ledger::NullableKey(AccountTypeID);
    if (!parent.IsNull() && parent.AsLong() > 0) {
      const std::shared_ptr<ACAccount> parent_account = ledger::RequireByKey<ACAccount>(Account, parent.AsLong());
      // A type that is not set is the same as another unset one and differs from every key.
      if (ledger::NullableKey(parent_account->Value("AccountTypeID")) != type) {
        throw Error::Library(errCACMgr::eAcctTypeMismatch, messages::kAcctTypeMismatch);
      }
    }
    Command command(Account);
    command.SetText(
        "UPDATE ACAccount SET AccountNumber=?,Name=?,Description=?,[Note]=?,Inactive=?,BankAccountNo=?,"
        "FnclInstitutionID=?,ParentAccountID=?,AccountTypeID=? WHERE ACAccountID=?;");
    AppendAccountText(command, AccountNumber, Name, Description, Note, Inactive, BankAccountNo, 1);
    command.Append("p7", FieldType::kKey, 0, institution, "FnclInstitutionID");
    command.Append("p8", FieldType::kKey, 0, parent, "ParentAccountID");
    command.Append("p9", FieldType::kKey, 0, type, "AccountTypeID");
    command.Append("p10", FieldType::kKey, 0, account_id, "AccountID");
    command.Execute();
  });
}

void CACMgr::DeleteAccount(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& AccountID) {
  RunOperation(Account, Access::kWrite, [&] {
    Command command(Account);
    command.SetText("DELETE FROM ACAccount WHERE ACAccountID=?;");
    command.Append("p1", FieldType::kKey, 0, AccountID, "AccountID");
    command.Execute();
  });
}

}  // namespace ledgerkit
