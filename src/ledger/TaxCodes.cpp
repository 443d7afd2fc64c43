// CACMgr: sales-tax codes with up to two taxes.
#include "ledgerkit/common/Convert.h"
#include "common/Operation.h"
#include "entities/Catalog.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"

namespace ledgerkit {

namespace {

// The values of a tax code, as an add and an update write them.
struct TaxCodeValues {
  const Variant& code;
  const Variant& description;
  const Variant& tax1_rate;
  const Variant& tax1_name;
  const Variant& tax1_exempt;
  const Variant& tax2_rate;
  const Variant& tax2_name;
  const Variant& tax2_exempt;
  const Variant& tax2_piggy_back;
  const Variant& inactive;
  const Variant& account1;
  const Variant& account2;
};

void SetTaxCodeValues(RowWrite& row, const TaxCodeValues& values) {
  using db::CITaxCode;
  row.Set(CITaxCode::TaxCode, values.code)
      .Set(CITaxCode::Description, values.description)
      .Set(CITaxCode::Tax1Rate, values.tax1_rate)
      .Set(CITaxCode::Tax1Name, values.tax1_name)
      .Set(CITaxCode::Tax1Exempt, values.tax1_exempt)
      .Set(CITaxCode::Tax2Rate, values.tax2_rate)
      .Set(CITaxCode::Tax2Name, values.tax2_name)
      .Set(CITaxCode::Tax2Exempt, values.tax2_exempt)
      .Set(CITaxCode::Tax2PiggyBack, values.tax2_piggy_back)
      .Set(CITaxCode::Inactive, values.inactive)
      .Set(CITaxCode::Account1ID, values.account1)
      .Set(CITaxCode::Account2ID, values.account2);
}

}  // namespace

std::shared_ptr<EntityCollection> CACMgr::GetAllTaxCodes(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/) {
  return RunOperation(Account, Access::kRead,
                      [&] { return Fetch<CITaxCode>(Account, FetchArgs{.filter = Sql("CITaxCodeID<>0")}); });
}

std::shared_ptr<CITaxCode> CACMgr::GetTaxCode(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/, const Variant& TaxCodeID) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t tax_code_id = ToKey(TaxCodeID, "TaxCodeID");
    return ledger::RequireByKey<CITaxCode>(Account, tax_code_id, "TaxCodeID");
  });
}

Variant CACMgr::AddTaxCode(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& TaxCode, const Variant& Description, const Variant& Tax1Rate,
                           const Variant& Tax1Name, const Variant& Tax1Exempt, const Variant& Tax2Rate,
                           const Variant& Tax2Name, const Variant& Tax2Exempt, const Variant& Tax2PiggyBack,
                           const Variant& Inactive, const Variant& Account1ID, const Variant& Account2ID) {
  const TaxCodeValues values{TaxCode,  Description, Tax1Rate,      Tax1Name, Tax1Exempt, Tax2Rate,
                             Tax2Name, Tax2Exempt,  Tax2PiggyBack, Inactive, Account1ID, Account2ID};
  return ledger::InsertOwned<db::CITaxCode>(Account, [&](RowWrite& row) { SetTaxCodeValues(row, values); });
}

void CACMgr::UpdateTaxCode(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& TaxCodeID, const Variant& TaxCode, const Variant& Description,
                           const Variant& Tax1Rate, const Variant& Tax1Name, const Variant& Tax1Exempt,
                           const Variant& Tax2Rate, const Variant& Tax2Name, const Variant& Tax2Exempt,
                           const Variant& Tax2PiggyBack, const Variant& Inactive, const Variant& Account1ID,
                           const Variant& Account2ID) {
  auto row = RowWrite::Of<db::CITaxCode>();
  SetTaxCodeValues(row, TaxCodeValues{TaxCode, Description, Tax1Rate, Tax1Name, Tax1Exempt, Tax2Rate, Tax2Name,
                                      Tax2Exempt, Tax2PiggyBack, Inactive, Account1ID, Account2ID});
  row.Where(db::CITaxCode::CITaxCodeID, TaxCodeID, "TaxCodeID");
  ledger::UpdateRows(Account, row);
}

void CACMgr::DeleteTaxCode(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& TaxCodeID) {
  ledger::DeleteRows(Account, RowWrite::Of<db::CITaxCode>().Where(db::CITaxCode::CITaxCodeID, TaxCodeID, "TaxCodeID"));
}

}  // namespace ledgerkit
