// CACMgr: the member table through which late-bound callers reach the ledger operations.
#include "ledgerkit/ledger/CACMgr.h"

#include "ledgerkit/common/MemberTable.h"
#include "ledgerkit/entities/ACTransaction.h"

namespace ledgerkit {

const MemberTable& CACMgr::Members() const {
  static const MemberTable table{
      MethodMember<&CACMgr::GetAllAccounts, ACAccount>("GetAllAccounts", {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetAccount>("GetAccount", {"Account", "UserName", "Token", "AccountID"}),
      MethodMember<&CACMgr::GetSubAccounts, ACAccount>("GetSubAccounts", {"Account", "UserName", "Token", "AccountID"}),
      MethodMember<&CACMgr::AddAccount>(
          "AddAccount", {"Account", "UserName", "Token", "AccountNumber", "Name", "Description", "Note", "Inactive",
                         "BankAccountNo", "ParentAccountID", "AccountTypeID", "FnclInstitutionID"}),
      MethodMember<&CACMgr::UpdateAccount>(
          "UpdateAccount", {"Account", "UserName", "Token", "AccountID", "AccountNumber", "Name", "Description", "Note",
                            "Inactive", "BankAccountNo", "FnclInstitutionID", "ParentAccountID", "AccountTypeID"}),
      MethodMember<&CACMgr::DeleteAccount>("DeleteAccount", {"Account", "UserName", "Token", "AccountID"}),
      MethodMember<&CACMgr::GetAllAccountTypes, ACAccountType>("GetAllAccountTypes", {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetAccountType>("GetAccountType", {"Account", "UserName", "Token", "AccountTypeID"}),
      MethodMember<&CACMgr::AddAccountType>("AddAccountType", {"Account", "UserName", "Token", "Name", "Description",
                                                               "FnclInstituteRqd", "BalanceSheetType"}),
      MethodMember<&CACMgr::UpdateAccountType>("UpdateAccountType",
                                               {"Account", "UserName", "Token", "AccountTypeID", "Name", "Description",
                                                "FnclInstituteRqd", "BalanceSheetType"}),
      MethodMember<&CACMgr::DeleteAccountType>("DeleteAccountType", {"Account", "UserName", "Token", "AccountTypeID"}),
      MethodMember<&CACMgr::GetAllFnclInstitutions, ACFnclInstitution>("GetAllFnclInstitutions",
                                                                       {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetFnclInstitution>("GetFnclInstitution",
                                                {"Account", "UserName", "Token", "FnclInstitutionID"}),
      MethodMember<&CACMgr::AddFnclInstitution>(
          "AddFnclInstitution", {"Account", "UserName", "Token", "Name", "Address", "Contact", "Telephone"}),
      MethodMember<&CACMgr::UpdateFnclInstitution>(
          "UpdateFnclInstitution",
          {"Account", "UserName", "Token", "FnclInstitutionID", "Name", "Address", "Contact", "Telephone"}),
      MethodMember<&CACMgr::DeleteFnclInstitution>("DeleteFnclInstitution",
                                                   {"Account", "UserName", "Token", "FnclInstitutionID"}),
      MethodMember<&CACMgr::GetAssetAccounts, ACAccount>("GetAssetAccounts",
                                                         {"Account", "UserName", "Token", "IncludeInactive"}),
      MethodMember<&CACMgr::GetLiabilityAccounts, ACAccount>("GetLiabilityAccounts",
                                                             {"Account", "UserName", "Token", "IncludeInactive"}),
      MethodMember<&CACMgr::GetEquityAccounts, ACAccount>("GetEquityAccounts",
                                                          {"Account", "UserName", "Token", "IncludeInactive"}),
      MethodMember<&CACMgr::GetIncomeAccounts, ACAccount>("GetIncomeAccounts",
                                                          {"Account", "UserName", "Token", "IncludeInactive"}),
      MethodMember<&CACMgr::GetExpenseAccounts, ACAccount>("GetExpenseAccounts",
                                                           {"Account", "UserName", "Token", "IncludeInactive"}),
      MethodMember<&CACMgr::GetAccountBalance>("GetAccountBalance", {"sAccount", "AccountID"}),
      MethodMember<&CACMgr::GetAccountBalanceForDate>("GetAccountBalanceForDate", {"sAccount", "AccountID", "ForDate"}),
      MethodMember<&CACMgr::BeginTransaction>(
          "BeginTransaction", {"Account", "UserName", "Token", "TransType", "TransactionDate", "Description",
                               "AccountID", "Amount", "Address", "Memo", "ChequeNo"}),
      MethodMember<&CACMgr::PostDebit>("PostDebit", {"Account", "TransactionID", "AccountID", "Amount", "Description"}),
      MethodMember<&CACMgr::PostCredit>("PostCredit",
                                        {"Account", "TransactionID", "AccountID", "Amount", "Description"}),
      MethodMember<&CACMgr::EndTransaction>("EndTransaction", {"Account", "TransactionID"}),
      MethodMember<&CACMgr::AbortTransaction>("AbortTransaction", {"Account", "TransactionID"}),
      MethodMember<&CACMgr::GetTransLogByStatus, ACTransLog>("GetTransLogByStatus",
                                                             {"Account", "UserName", "Token", "TransLogStatus"}),
      MethodMember<&CACMgr::GetTransLog>("GetTransLog", {"Account", "UserName", "Token", "TransactionNumber"}),
      MethodMember<&CACMgr::UpdateTransLog>(
          "UpdateTransLog", {"Account", "UserName", "Token", "TransactionNumber", "TransactionDate", "Description",
                             "ChequeNo", "Address", "Amount"}),
      MethodMember<&CACMgr::GetTransLogWIP>("GetTransLogWIP", {"Account", "UserName", "Token", "TransLogWIPID"}),
      MethodMember<&CACMgr::UpdateTransLogWIP>(
          "UpdateTransLogWIP", {"Account", "UserName", "Token", "TransLogWIPID", "AccountID", "Description", "Amount"}),
      MethodMember<&CACMgr::DeleteTransLogWIP>("DeleteTransLogWIP", {"Account", "UserName", "Token", "TransLogWIPID"}),
      MethodMember<&CACMgr::GetTransactionsByTransNum, ACTransaction>(
          "GetTransactionsByTransNum", {"Account", "UserName", "Token", "TransactionNumber"}),
      MethodMember<&CACMgr::ReconcileAccount>(
          "ReconcileAccount",
          {"Account", "UserName", "Token", "AccountID", "TransIDs", "ServiceCharge", "ServiceChargeDate",
           "ServiceChargeAccount", "InterestEarned", "InterestEarnedDate", "InterestEarnedAccount"}),
      MethodMember<&CACMgr::GetAllTaxCodes, CITaxCode>("GetAllTaxCodes", {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetTaxCode>("GetTaxCode", {"Account", "UserName", "Token", "TaxCodeID"}),
      MethodMember<&CACMgr::AddTaxCode>(
          "AddTaxCode",
          {"Account", "UserName", "Token", "TaxCode", "Description", "Tax1Rate", "Tax1Name", "Tax1Exempt", "Tax2Rate",
           "Tax2Name", "Tax2Exempt", "Tax2PiggyBack", "Inactive", "Account1ID", "Account2ID"}),
      MethodMember<&CACMgr::UpdateTaxCode>(
          "UpdateTaxCode",
          {"Account", "UserName", "Token", "TaxCodeID", "TaxCode", "Description", "Tax1Rate", "Tax1Name", "Tax1Exempt",
           "Tax2Rate", "Tax2Name", "Tax2Exempt", "Tax2PiggyBack", "Inactive", "Account1ID", "Account2ID"}),
      MethodMember<&CACMgr::DeleteTaxCode>("DeleteTaxCode", {"Account", "UserName", "Token", "TaxCodeID"}),
      MethodMember<&CACMgr::AddInvoiceItem>(
          "AddInvoiceItem", {"Account", "UserName", "Token", "InvoiceID", "TaxID", "ItemCode", "ItemName", "ItemPrice",
                             "ItemQuantity", "ItemUnit", "AccountID"}),
      MethodMember<&CACMgr::UpdateInvoiceItem>(
          "UpdateInvoiceItem", {"Account", "UserName", "Token", "ItemID", "TaxID", "ItemCode", "ItemName", "ItemPrice",
                                "ItemQuantity", "ItemUnit", "AccountID"}),
      MethodMember<&CACMgr::DeleteInvoiceItem>("DeleteInvoiceItem", {"Account", "UserName", "Token", "ItemID"}),
      MethodMember<&CACMgr::GetInvoiceItem>("GetInvoiceItem", {"Account", "UserName", "Token", "InvoiceItemID"}),
      MethodMember<&CACMgr::InsertInvoice>(
          "InsertInvoice", {"Account", "UserName", "Token", "Paid", "Comment", "InvoiceDate", "InvoiceNo",
                            "PurchaseOrderNumber", "Address", "Company", "Total", "AccountID"}),
      MethodMember<&CACMgr::UpdateInvoice>(
          "UpdateInvoice", {"Account", "UserName", "Token", "InvoiceID", "Paid", "Comment", "InvoiceDate", "InvoiceNo",
                            "PurchaseOrderNumber", "Address", "Company", "Total", "TransNum", "AccountID"}),
      MethodMember<&CACMgr::IssueInvoice>("IssueInvoice", {"Account", "UserName", "Token", "InvoiceID"}),
      MethodMember<&CACMgr::DeletePendingInvoice>("DeletePendingInvoice",
                                                  {"Account", "UserName", "Token", "InvoiceID"}),
      MethodMember<&CACMgr::DeleteOutstandingInvoice>("DeleteOutstandingInvoice",
                                                      {"Account", "UserName", "Token", "InvoiceID"}),
      MethodMember<&CACMgr::GetInvoice>("GetInvoice", {"Account", "UserName", "Token", "InvoiceID"}),
      MethodMember<&CACMgr::GetInvoiceByTrans>("GetInvoiceByTrans", {"Account", "UserName", "Token", "TransNum"}),
      MethodMember<&CACMgr::GetAllInvoices, ACInvoice>("GetAllInvoices", {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetAllPaidInvoices, ACInvoice>("GetAllPaidInvoices", {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetAllOutstandingInvoices, ACInvoice>("GetAllOutstandingInvoices",
                                                                  {"Account", "UserName", "Token"}),
      MethodMember<&CACMgr::GetAllPendingInvoices, ACInvoice>("GetAllPendingInvoices",
                                                              {"Account", "UserName", "Token"}),
  };
  return table;
}

}  // namespace ledgerkit
