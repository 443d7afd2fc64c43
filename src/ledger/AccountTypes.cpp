// CACMgr: account types and financial institutions, the two reference lists accounts point to.
#include "common/Convert.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"

namespace ledgerkit {

using ledger::InsertOwned;
using ledger::RequireByKey;
using ledger::RunWrite;

std::shared_ptr<EntityCollection> CACMgr::GetAllAccountTypes(const Variant& Account, const Variant& /*UserName*/,
                                                             const Variant& /*Token*/) {
  return ledger::RunEntityRead<ACAccountType>(
      Account, [&] { return Fetch<ACAccountType>(Account, FetchArgs{.filter = "ACAccountTypeID<>0"}); });
}

std::shared_ptr<ACAccountType> CACMgr::GetAccountType(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& AccountTypeID) {
  return ledger::RunEntityRead<ACAccountType>(Account, [&] {
    const int32_t type_id = ToKey(AccountTypeID);
    return RequireByKey<ACAccountType>(Account, type_id);
  });
}

Variant CACMgr::AddAccountType(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& Name, const Variant& Description, const Variant& FnclInstituteRqd,
                               const Variant& BalanceSheetType) {
  return InsertOwned(Account,
                     "INSERT INTO ACAccountType (Parent,Name,Description,FnclInstituteRqd,BalanceSheetType) "
                     "VALUES (?,?,?,?,?) RETURNING ACAccountTypeID;",
                     {{"p2", FieldType::kText, lenACAccountType::lenName, Name, "Name"},
                      {"p3", FieldType::kText, lenACAccountType::lenDescription, Description, "Description"},
                      {"p4", FieldType::kBoolean, 0, FnclInstituteRqd, "FnclInstituteRqd"},
                      {"p5", FieldType::kLong, 0, BalanceSheetType, "BalanceSheetType"}});
}

void CACMgr::UpdateAccountType(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& AccountTypeID, const Variant& Name, const Variant& Description,
                               const Variant& FnclInstituteRqd, const Variant& BalanceSheetType) {
  RunWrite(Account,
           "UPDATE ACAccountType SET Name=?,Description=?,FnclInstituteRqd=?,BalanceSheetType=? WHERE ACAccountTypeID=?;",
           {{"p1", FieldType::kText, lenACAccountType::lenName, Name, "Name"},
            {"p2", FieldType::kText, lenACAccountType::lenDescription, Description, "Description"},
            {"p3", FieldType::kBoolean, 0, FnclInstituteRqd, "FnclInstituteRqd"},
            {"p4", FieldType::kLong, 0, BalanceSheetType, "BalanceSheetType"},
            {"p5", FieldType::kKey, 0, AccountTypeID, "AccountTypeID"}});
}

void CACMgr::DeleteAccountType(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& AccountTypeID) {
  RunWrite(Account, "DELETE FROM ACAccountType WHERE ACAccountTypeID=?;",
           {{"p1", FieldType::kKey, 0, AccountTypeID, "AccountTypeID"}});
}

std::shared_ptr<EntityCollection> CACMgr::GetAllFnclInstitutions(const Variant& Account, const Variant& /*UserName*/,
                                                                 const Variant& /*Token*/) {
  return ledger::RunEntityRead<ACFnclInstitution>(Account, [&] { return Fetch<ACFnclInstitution>(Account); });
}

std::shared_ptr<ACFnclInstitution> CACMgr::GetFnclInstitution(const Variant& Account, const Variant& /*UserName*/,
                                                              const Variant& /*Token*/,
                                                              const Variant& FnclInstitutionID) {
  return ledger::RunEntityRead<ACFnclInstitution>(Account, [&] {
    const int32_t institution_id = ToKey(FnclInstitutionID);
    return RequireByKey<ACFnclInstitution>(Account, institution_id);
  });
}

Variant CACMgr::AddFnclInstitution(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                   const Variant& Name, const Variant& Address, const Variant& Contact,
                                   const Variant& Telephone) {
  return InsertOwned(Account,
                     "INSERT INTO ACFnclInstitution (Parent,Name,Address,Contact,Telephone) VALUES (?,?,?,?,?) "
                     "RETURNING ACFnclInstitutionID;",
                     {{"p2", FieldType::kText, lenACFnclInstitution::lenName, Name, "Name"},
                      {"p3", FieldType::kText, lenACFnclInstitution::lenAddress, Address, "Address"},
                      {"p4", FieldType::kText, lenACFnclInstitution::lenContact, Contact, "Contact"},
                      {"p5", FieldType::kText, lenACFnclInstitution::lenTelephone, Telephone, "Telephone"}});
}

void CACMgr::UpdateFnclInstitution(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                   const Variant& FnclInstitutionID, const Variant& Name, const Variant& Address,
                                   const Variant& Contact, const Variant& Telephone) {
  RunWrite(Account, "UPDATE ACFnclInstitution SET Name=?,Address=?,Contact=?,Telephone=? WHERE ACFnclInstitutionID=?;",
           {{"p1", FieldType::kText, lenACFnclInstitution::lenName, Name, "Name"},
            {"p2", FieldType::kText, lenACFnclInstitution::lenAddress, Address, "Address"},
            {"p3", FieldType::kText, lenACFnclInstitution::lenContact, Contact, "Contact"},
            {"p4", FieldType::kText, lenACFnclInstitution::lenTelephone, Telephone, "Telephone"},
            {"p5", FieldType::kKey, 0, FnclInstitutionID, "FnclInstitutionID"}});
}

void CACMgr::DeleteFnclInstitution(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                   const Variant& FnclInstitutionID) {
  RunWrite(Account, "DELETE FROM ACFnclInstitution WHERE ACFnclInstitutionID=?;",
           {{"p1", FieldType::kKey, 0, FnclInstitutionID, "FnclInstitutionID"}});
}

}  // namespace ledgerkit
