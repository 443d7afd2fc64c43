// CACMgr: account types and financial institutions, the two reference lists accounts point to.
#include "ledgerkit/common/Convert.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "services/Arguments.h"
#include "services/Chart.h"
#include "services/Company.h"

namespace ledgerkit {

using ledger::RequireByKey;

namespace {

// The columns an add and an update write alike.
void SetTypeValues(RowWrite& row, const Variant& name, const Variant& description, const Variant& institution_required,
                   const Variant& balance_sheet_type) {
  row.Set(db::ACAccountType::Name, name)
      .Set(db::ACAccountType::Description, description)
      .Set(db::ACAccountType::FnclInstituteRqd, institution_required)
      .Set(db::ACAccountType::BalanceSheetType, balance_sheet_type);
}

void SetInstitutionValues(RowWrite& row, const Variant& name, const Variant& address, const Variant& contact,
                          const Variant& telephone) {
  row.Set(db::ACFnclInstitution::Name, name)
      .Set(db::ACFnclInstitution::Address, address)
      .Set(db::ACFnclInstitution::Contact, contact)
      .Set(db::ACFnclInstitution::Telephone, telephone);
}

}  // namespace

std::shared_ptr<EntityCollection> CACMgr::GetAllAccountTypes(const Variant& Account, const Variant& /*UserName*/,
                                                             const Variant& /*Token*/) {
  return ledger::RunEntityRead<ACAccountType>(
      Account, [&] { return Fetch<ACAccountType>(Account, FetchArgs{.filter = Sql("ACAccountTypeID<>0")}); });
}

std::shared_ptr<ACAccountType> CACMgr::GetAccountType(const Variant& Account, const Variant& /*UserName*/,
                                                      const Variant& /*Token*/, const Variant& AccountTypeID) {
  return ledger::RunEntityRead<ACAccountType>(Account, [&] {
    const int32_t type_id = ToKey(AccountTypeID, "AccountTypeID");
    return RequireByKey<ACAccountType>(Account, type_id, "AccountTypeID");
  });
}

Variant CACMgr::AddAccountType(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& Name, const Variant& Description, const Variant& FnclInstituteRqd,
                               const Variant& BalanceSheetType) {
  return RunOperation(Account, Access::kWrite, [&] {
    const int32_t company = services::CompanyKey(Account);
    using T = db::ACAccountType;
    const services::AccountTypeValues values{
        .name = services::TextArgument(Name, T::Name),
        .description = services::TextArgument(Description, T::Description),
        .institution_required = services::BooleanArgument(FnclInstituteRqd, T::FnclInstituteRqd.name),
        .balance_sheet_type = services::LongArgument(BalanceSheetType, T::BalanceSheetType.name),
    };
    return Variant(services::AddAccountType(Account, company, values));
  });
}

void CACMgr::UpdateAccountType(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& AccountTypeID, const Variant& Name, const Variant& Description,
                               const Variant& FnclInstituteRqd, const Variant& BalanceSheetType) {
  auto row = RowWrite::Of<db::ACAccountType>();
  SetTypeValues(row, Name, Description, FnclInstituteRqd, BalanceSheetType);
  row.Where(db::ACAccountType::ACAccountTypeID, AccountTypeID, "AccountTypeID");
  ledger::UpdateRows(Account, row);
}

void CACMgr::DeleteAccountType(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                               const Variant& AccountTypeID) {
  ledger::DeleteRows(Account, RowWrite::Of<db::ACAccountType>().Where(db::ACAccountType::ACAccountTypeID, AccountTypeID,
                                                                       "AccountTypeID"));
}

std::shared_ptr<EntityCollection> CACMgr::GetAllFnclInstitutions(const Variant& Account, const Variant& /*UserName*/,
                                                                 const Variant& /*Token*/) {
  return ledger::RunEntityRead<ACFnclInstitution>(Account, [&] { return Fetch<ACFnclInstitution>(Account); });
}

std::shared_ptr<ACFnclInstitution> CACMgr::GetFnclInstitution(const Variant& Account, const Variant& /*UserName*/,
                                                              const Variant& /*Token*/,
                                                              const Variant& FnclInstitutionID) {
  return ledger::RunEntityRead<ACFnclInstitution>(Account, [&] {
    const int32_t institution_id = ToKey(FnclInstitutionID, "FnclInstitutionID");
    return RequireByKey<ACFnclInstitution>(Account, institution_id, "FnclInstitutionID");
  });
}

Variant CACMgr::AddFnclInstitution(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                   const Variant& Name, const Variant& Address, const Variant& Contact,
                                   const Variant& Telephone) {
  return ledger::InsertOwned<db::ACFnclInstitution>(
      Account, [&](RowWrite& row) { SetInstitutionValues(row, Name, Address, Contact, Telephone); });
}

void CACMgr::UpdateFnclInstitution(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                   const Variant& FnclInstitutionID, const Variant& Name, const Variant& Address,
                                   const Variant& Contact, const Variant& Telephone) {
  auto row = RowWrite::Of<db::ACFnclInstitution>();
  SetInstitutionValues(row, Name, Address, Contact, Telephone);
  row.Where(db::ACFnclInstitution::ACFnclInstitutionID, FnclInstitutionID, "FnclInstitutionID");
  ledger::UpdateRows(Account, row);
}

void CACMgr::DeleteFnclInstitution(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                                   const Variant& FnclInstitutionID) {
  ledger::DeleteRows(Account, RowWrite::Of<db::ACFnclInstitution>().Where(
                                  db::ACFnclInstitution::ACFnclInstitutionID, FnclInstitutionID, "FnclInstitutionID"));
}

}  // namespace ledgerkit
