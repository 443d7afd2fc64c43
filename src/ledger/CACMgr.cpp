// CACMgr: the member table through which late-bound callers reach the ledger operations.
#include "ledger/CACMgr.h"

#include "common/MemberTable.h"

namespace ledgerkit {

const MemberTable& CACMgr::Members() const {
  static const MemberTable table{
      MethodMember<&CACMgr::GetAllAccounts>("GetAllAccounts"),
      MethodMember<&CACMgr::GetAccount>("GetAccount"),
      MethodMember<&CACMgr::GetSubAccounts>("GetSubAccounts"),
      MethodMember<&CACMgr::AddAccount>("AddAccount"),
      MethodMember<&CACMgr::UpdateAccount>("UpdateAccount"),
      MethodMember<&CACMgr::DeleteAccount>("DeleteAccount"),
      MethodMember<&CACMgr::GetAllAccountTypes>("GetAllAccountTypes"),
      MethodMember<&CACMgr::GetAccountType>("GetAccountType"),
      MethodMember<&CACMgr::AddAccountType>("AddAccountType"),
      MethodMember<&CACMgr::UpdateAccountType>("UpdateAccountType"),
      MethodMember<&CACMgr::DeleteAccountType>("DeleteAccountType"),
      MethodMember<&CACMgr::GetAllFnclInstitutions>("GetAllFnclInstitutions"),
      MethodMember<&CACMgr::GetFnclInstitution>("GetFnclInstitution"),
      MethodMember<&CACMgr::AddFnclInstitution>("AddFnclInstitution"),
      MethodMember<&CACMgr::UpdateFnclInstitution>("UpdateFnclInstitution"),
      MethodMember<&CACMgr::DeleteFnclInstitution>("DeleteFnclInstitution"),
      MethodMember<&CACMgr::GetAssetAccounts>("GetAssetAccounts"),
      MethodMember<&CACMgr::GetLiabilityAccounts>("GetLiabilityAccounts"),
      MethodMember<&CACMgr::GetEquityAccounts>("GetEquityAccounts"),
      MethodMember<&CACMgr::GetIncomeAccounts>("GetIncomeAccounts"),
      MethodMember<&CACMgr::GetExpenseAccounts>("GetExpenseAccounts"),
      MethodMember<&CACMgr::GetAccountBalance>("GetAccountBalance"),
      MethodMember<&CACMgr::GetAccountBalanceForDate>("GetAccountBalanceForDate"),
      MethodMember<&CACMgr::BeginTransaction>("BeginTransaction"),
      MethodMember<&CACMgr::PostDebit>("PostDebit"),
      MethodMember<&CACMgr::PostCredit>("PostCredit"),
      MethodMember<&CACMgr::EndTransaction>("EndTransaction"),
      MethodMember<&CACMgr::AbortTransaction>("AbortTransaction"),
      MethodMember<&CACMgr::GetTransLogByStatus>("GetTransLogByStatus"),
      MethodMember<&CACMgr::GetTransLog>("GetTransLog"),
      MethodMember<&CACMgr::UpdateTransLog>("UpdateTransLog"),
      MethodMember<&CACMgr::GetTransLogWIP>("GetTransLogWIP"),
      MethodMember<&CACMgr::UpdateTransLogWIP>("UpdateTransLogWIP"),
      MethodMember<&CACMgr::DeleteTransLogWIP>("DeleteTransLogWIP"),
      MethodMember<&CACMgr::GetTransactionsByTransNum>("GetTransactionsByTransNum"),
      MethodMember<&CACMgr::ReconcileAccount>("ReconcileAccount"),
      MethodMember<&CACMgr::GetAllTaxCodes>("GetAllTaxCodes"),
      MethodMember<&CACMgr::GetTaxCode>("GetTaxCode"),
      MethodMember<&CACMgr::AddTaxCode>("AddTaxCode"),
      MethodMember<&CACMgr::UpdateTaxCode>("UpdateTaxCode"),
      MethodMember<&CACMgr::DeleteTaxCode>("DeleteTaxCode"),
      MethodMember<&CACMgr::AddInvoiceItem>("AddInvoiceItem"),
      MethodMember<&CACMgr::UpdateInvoiceItem>("UpdateInvoiceItem"),
      MethodMember<&CACMgr::DeleteInvoiceItem>("DeleteInvoiceItem"),
      MethodMember<&CACMgr::GetInvoiceItem>("GetInvoiceItem"),
      MethodMember<&CACMgr::InsertInvoice>("InsertInvoice"),
      MethodMember<&CACMgr::UpdateInvoice>("UpdateInvoice"),
      MethodMember<&CACMgr::IssueInvoice>("IssueInvoice"),
      MethodMember<&CACMgr::DeletePendingInvoice>("DeletePendingInvoice"),
      MethodMember<&CACMgr::DeleteOutstandingInvoice>("DeleteOutstandingInvoice"),
      MethodMember<&CACMgr::GetInvoice>("GetInvoice"),
      MethodMember<&CACMgr::GetInvoiceByTrans>("GetInvoiceByTrans"),
      MethodMember<&CACMgr::GetAllInvoices>("GetAllInvoices"),
      MethodMember<&CACMgr::GetAllPaidInvoices>("GetAllPaidInvoices"),
      MethodMember<&CACMgr::GetAllOutstandingInvoices>("GetAllOutstandingInvoices"),
      MethodMember<&CACMgr::GetAllPendingInvoices>("GetAllPendingInvoices"),
  };
  return table;
}

}  // namespace ledgerkit
