// CACMgr: sales-tax codes with up to two taxes.
#include "common/Convert.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"

namespace ledgerkit {

std::shared_ptr<EntityCollection> CACMgr::GetAllTaxCodes(const Variant& Account, const Variant& /*UserName*/,
                                                         const Variant& /*Token*/) {
  return RunOperation(Account, Access::kRead,
                      [&] { return Fetch<CITaxCode>(Account, FetchArgs{.filter = "CITaxCodeID<>0"}); });
}

std::shared_ptr<CITaxCode> CACMgr::GetTaxCode(const Variant& Account, const Variant& /*UserName*/,
                                              const Variant& /*Token*/, const Variant& TaxCodeID) {
  return RunOperation(Account, Access::kRead, [&] {
    const int32_t tax_code_id = ToKey(TaxCodeID);
    return ledger::RequireByKey<CITaxCode>(Account, tax_code_id);
  });
}

Variant CACMgr::AddTaxCode(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& TaxCode, const Variant& Description, const Variant& Tax1Rate,
                           const Variant& Tax1Name, const Variant& Tax1Exempt, const Variant& Tax2Rate,
                           const Variant& Tax2Name, const Variant& Tax2Exempt, const Variant& Tax2PiggyBack,
                           const Variant& Inactive, const Variant& Account1ID, const Variant& Account2ID) {
  return ledger::InsertOwned(
      Account,
      "INSERT INTO CITaxCode (Parent,TaxCode,Description,Tax1Rate,Tax1Name,Tax1Exempt,Tax2Rate,Tax2Name,Tax2Exempt,"
      "Tax2PiggyBack,Inactive,Account1ID,Account2ID) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?) RETURNING CITaxCodeID;",
      {{"p2", FieldType::kText, lenCITaxCode::lenTaxCode, TaxCode, "TaxCode"},
       {"p3", FieldType::kText, lenCITaxCode::lenDescription, Description, "Description"},
       {"p4", FieldType::kDouble, 0, Tax1Rate, "Tax1Rate"},
       {"p5", FieldType::kText, lenCITaxCode::lenTax1Name, Tax1Name, "Tax1Name"},
       {"p6", FieldType::kBoolean, 0, Tax1Exempt, "Tax1Exempt"},
       {"p7", FieldType::kDouble, 0, Tax2Rate, "Tax2Rate"},
       {"p8", FieldType::kText, lenCITaxCode::lenTax2Name, Tax2Name, "Tax2Name"},
       {"p9", FieldType::kBoolean, 0, Tax2Exempt, "Tax2Exempt"},
       {"p10", FieldType::kBoolean, 0, Tax2PiggyBack, "Tax2PiggyBack"},
       {"p11", FieldType::kBoolean, 0, Inactive, "Inactive"},
       {"p12", FieldType::kKey, 0, Account1ID, "Account1ID"},
       {"p13", FieldType::kKey, 0, Account2ID, "Account2ID"}});
}

void CACMgr::UpdateTaxCode(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& TaxCodeID, const Variant& TaxCode, const Variant& Description,
                           const Variant& Tax1Rate, const Variant& Tax1Name, const Variant& Tax1Exempt,
                           const Variant& Tax2Rate, const Variant& Tax2Name, const Variant& Tax2Exempt,
                           const Variant& Tax2PiggyBack, const Variant& Inactive, const Variant& Account1ID,
                           const Variant& Account2ID) {
  ledger::RunWrite(
      Account,
      "UPDATE CITaxCode SET TaxCode=?,Description=?,Tax1Rate=?,Tax1Name=?,Tax1Exempt=?,Tax2Rate=?,Tax2Name=?,"
      "Tax2Exempt=?,Tax2PiggyBack=?,Inactive=?,Account1ID=?,Account2ID=? WHERE CITaxCodeID=?;",
      {{"p1", FieldType::kText, lenCITaxCode::lenTaxCode, TaxCode, "TaxCode"},
       {"p2", FieldType::kText, lenCITaxCode::lenDescription, Description, "Description"},
       {"p3", FieldType::kDouble, 0, Tax1Rate, "Tax1Rate"},
       {"p4", FieldType::kText, lenCITaxCode::lenTax1Name, Tax1Name, "Tax1Name"},
       {"p5", FieldType::kBoolean, 0, Tax1Exempt, "Tax1Exempt"},
       {"p6", FieldType::kDouble, 0, Tax2Rate, "Tax2Rate"},
       {"p7", FieldType::kText, lenCITaxCode::lenTax2Name, Tax2Name, "Tax2Name"},
       {"p8", FieldType::kBoolean, 0, Tax2Exempt, "Tax2Exempt"},
       {"p9", FieldType::kBoolean, 0, Tax2PiggyBack, "Tax2PiggyBack"},
       {"p10", FieldType::kBoolean, 0, Inactive, "Inactive"},
       {"p11", FieldType::kKey, 0, Account1ID, "Account1ID"},
       {"p12", FieldType::kKey, 0, Account2ID, "Account2ID"},
       {"p13", FieldType::kKey, 0, TaxCodeID, "TaxCodeID"}});
}

void CACMgr::DeleteTaxCode(const Variant& Account, const Variant& /*UserName*/, const Variant& /*Token*/,
                           const Variant& TaxCodeID) {
  ledger::RunWrite(Account, "DELETE FROM CITaxCode WHERE CITaxCodeID=?;",
                   {{"p1", FieldType::kKey, 0, TaxCodeID, "TaxCodeID"}});
}

}  // namespace ledgerkit
