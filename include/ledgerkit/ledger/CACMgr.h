// CACMgr: the ledger of a company file. Chart of accounts, account types and financial
// institutions, balance-sheet lists and balances, and ledger transactions: begun under a fresh
// number with work-in-progress lines, then committed to the register and the stored balances,
// or aborted; bank reconciliation; tax codes, invoice lines and invoices. The implementation is
// split by topic (Accounts.cpp, AccountTypes.cpp, BalanceSheet.cpp, Transactions.cpp,
// TransactionLog.cpp, Reconciliation.cpp, TaxCodes.cpp, InvoiceItems.cpp, Invoices.cpp).
//
// Stateless; create one, call, release. Every operation is one unit of work on Account: it
// happens completely or not at all, and a failure leaves the file exactly as it was (numbers
// handed out stay consumed). Failures are marked once. UserName and Token are accepted and
// not consulted unless a comment says otherwise.
//
// Arguments are converted once, inside the operation, before they are used. Keys (every
// ...ID argument) are whole numbers in any form (2, 2.0, "2"); a fractional one (1.5, "2.4")
// or other text fails with Type mismatch (13) and never names a neighbouring row. Transaction
// numbers select as their text does; a Null one selects what an empty text selects. No
// argument is ever part of an SQL text. A read of ledger rows whose file cannot be opened
// fails inside the diagnostic block of the entity fetch that reads them.
//
// The stored ACAccount.Balance is credit-positive: committing a line adds its credit and
// subtracts its debit. The computed balance (GetAccountBalance) is debits minus credits.
#pragma once

#include <memory>
#include <string>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ACFnclInstitution.h"
#include "ledgerkit/entities/ACInvoice.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/ACTransLog.h"
#include "ledgerkit/entities/ACTransLogWIP.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "ledgerkit/entities/EntityCollection.h"

namespace ledgerkit {

class CACMgr : public Dispatch {
 public:
  std::string_view ClassName() const override { return "CACMgr"; }
  const MemberTable& Members() const override;

  // --- Chart of accounts -------------------------------------------------------------------
  // Every account, by account number (as text) then name.
  std::shared_ptr<EntityCollection> GetAllAccounts(const Variant& Account, const Variant& UserName,
                                                   const Variant& Token);
  // The account AccountID; Invalid argument (5) when there is none.
  std::shared_ptr<ACAccount> GetAccount(const Variant& Account, const Variant& UserName, const Variant& Token,
                                        const Variant& AccountID);
  // The direct children of account AccountID, by account number.
  std::shared_ptr<EntityCollection> GetSubAccounts(const Variant& Account, const Variant& UserName,
                                                   const Variant& Token, const Variant& AccountID);
  // Adds an account to the caller's company (found through UserName) and returns its key.
  // FnclInstitutionID and ParentAccountID empty or 0 store NULL. No check of the parent's type.
  Variant AddAccount(const Variant& Account, const Variant& UserName, const Variant& Token,
                     const Variant& AccountNumber, const Variant& Name, const Variant& Description, const Variant& Note,
                     const Variant& Inactive, const Variant& BankAccountNo, const Variant& ParentAccountID,
                     const Variant& AccountTypeID, const Variant& FnclInstitutionID);
  // Overwrites every column of account AccountID but its company and balance. Under a parent
  // (ParentAccountID above 0) the account type must be the parent's: eAcctTypeMismatch
  // otherwise, and Invalid argument (5) when the parent does not exist.
  void UpdateAccount(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& AccountID,
                     const Variant& AccountNumber, const Variant& Name, const Variant& Description, const Variant& Note,
                     const Variant& Inactive, const Variant& BankAccountNo, const Variant& FnclInstitutionID,
                     const Variant& ParentAccountID, const Variant& AccountTypeID);
  // Deletes account AccountID; nothing that refers to it is looked for.
  void DeleteAccount(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& AccountID);

  // --- Account types and financial institutions ---------------------------------------------
  std::shared_ptr<EntityCollection> GetAllAccountTypes(const Variant& Account, const Variant& UserName,
                                                       const Variant& Token);
  std::shared_ptr<ACAccountType> GetAccountType(const Variant& Account, const Variant& UserName, const Variant& Token,
                                                const Variant& AccountTypeID);
  // Adds a type to the company and returns its key; BalanceSheetType is stored unchecked.
  Variant AddAccountType(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& Name,
                         const Variant& Description, const Variant& FnclInstituteRqd, const Variant& BalanceSheetType);
  void UpdateAccountType(const Variant& Account, const Variant& UserName, const Variant& Token,
                         const Variant& AccountTypeID, const Variant& Name, const Variant& Description,
                         const Variant& FnclInstituteRqd, const Variant& BalanceSheetType);
  void DeleteAccountType(const Variant& Account, const Variant& UserName, const Variant& Token,
                         const Variant& AccountTypeID);
  std::shared_ptr<EntityCollection> GetAllFnclInstitutions(const Variant& Account, const Variant& UserName,
                                                           const Variant& Token);
  std::shared_ptr<ACFnclInstitution> GetFnclInstitution(const Variant& Account, const Variant& UserName,
                                                        const Variant& Token, const Variant& FnclInstitutionID);
  Variant AddFnclInstitution(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& Name,
                             const Variant& Address, const Variant& Contact, const Variant& Telephone);
  void UpdateFnclInstitution(const Variant& Account, const Variant& UserName, const Variant& Token,
                             const Variant& FnclInstitutionID, const Variant& Name, const Variant& Address,
                             const Variant& Contact, const Variant& Telephone);
  void DeleteFnclInstitution(const Variant& Account, const Variant& UserName, const Variant& Token,
                             const Variant& FnclInstitutionID);

  // --- Balance-sheet lists and balances -------------------------------------------------------
  // The accounts whose type has the class, by account number then name; inactive ones only
  // when IncludeInactive is true (Empty and Null mean false).
  std::shared_ptr<EntityCollection> GetAssetAccounts(const Variant& Account, const Variant& UserName,
                                                     const Variant& Token, const Variant& IncludeInactive);
  std::shared_ptr<EntityCollection> GetLiabilityAccounts(const Variant& Account, const Variant& UserName,
                                                         const Variant& Token, const Variant& IncludeInactive);
  std::shared_ptr<EntityCollection> GetEquityAccounts(const Variant& Account, const Variant& UserName,
                                                      const Variant& Token, const Variant& IncludeInactive);
  std::shared_ptr<EntityCollection> GetIncomeAccounts(const Variant& Account, const Variant& UserName,
                                                      const Variant& Token, const Variant& IncludeInactive);
  std::shared_ptr<EntityCollection> GetExpenseAccounts(const Variant& Account, const Variant& UserName,
                                                       const Variant& Token, const Variant& IncludeInactive);
  // Debits minus credits over the account's register rows, exactly; Null when it has none.
  Variant GetAccountBalance(const Variant& sAccount, const Variant& AccountID);
  // The same over the rows dated on or before ForDate (a date, or a date text).
  Variant GetAccountBalanceForDate(const Variant& sAccount, const Variant& AccountID, const Variant& ForDate);

  // --- Transaction entry ----------------------------------------------------------------------
  // Begins a ledger transaction under the next transaction number and returns the number as
  // text. ttCHQ and ttINV store ChequeNo and Address; ttCHQ adds a credit of Amount to
  // AccountID described by Memo, ttDEP a debit; ttGENJRNL and ttINV add no line. Any other
  // type fails with eBadTransType, the number it took staying consumed.
  std::string BeginTransaction(const Variant& Account, const Variant& UserName, const Variant& Token,
                               const Variant& TransType, const Variant& TransactionDate, const Variant& Description,
                               const Variant& AccountID, const Variant& Amount, const Variant& Address,
                               const Variant& Memo, const Variant& ChequeNo);
  // Adds a debit (credit) line to the transaction TransactionID, in any status, and returns the
  // line's key. Invalid argument (5) when no transaction has that number; a Null amount is
  // refused (94).
  Variant PostDebit(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                    const Variant& Amount, const Variant& Description);
  Variant PostCredit(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                     const Variant& Amount, const Variant& Description);

  // --- Commit and abort -----------------------------------------------------------------------
  // Commits the transaction: status committed, one register row per waiting line (a debit's
  // amount as Withdrawal, a credit's as Deposit), each account's stored Balance moved by the
  // credit minus the debit, the lines deleted. Debits and credits need not balance. Invalid
  // argument (5) when no transaction has that number.
  void EndTransaction(const Variant& Account, const Variant& TransactionID);
  // Removes the transaction completely (lines, register rows, header), restoring the stored
  // balances of every register row. A number without a transaction changes nothing.
  void AbortTransaction(const Variant& Account, const Variant& TransactionID);

  // --- Transaction log maintenance ------------------------------------------------------------
  // The headers with the status, oldest LogDate first. Looks the caller's profile up first (its
  // absence changes nothing).
  std::shared_ptr<EntityCollection> GetTransLogByStatus(const Variant& Account, const Variant& UserName,
                                                        const Variant& Token, const Variant& TransLogStatus);
  std::shared_ptr<ACTransLog> GetTransLog(const Variant& Account, const Variant& UserName, const Variant& Token,
                                          const Variant& TransactionNumber);
  // Replaces date, description, cheque number, address and amount of the header(s) with the
  // number; status, log date, user and type stay. An unknown number changes nothing.
  void UpdateTransLog(const Variant& Account, const Variant& UserName, const Variant& Token,
                      const Variant& TransactionNumber, const Variant& TransactionDate, const Variant& Description,
                      const Variant& ChequeNo, const Variant& Address, const Variant& Amount);
  std::shared_ptr<ACTransLogWIP> GetTransLogWIP(const Variant& Account, const Variant& UserName, const Variant& Token,
                                                const Variant& TransLogWIPID);
  // Changes account, description and amount of a waiting line; its side and header stay.
  void UpdateTransLogWIP(const Variant& Account, const Variant& UserName, const Variant& Token,
                         const Variant& TransLogWIPID, const Variant& AccountID, const Variant& Description,
                         const Variant& Amount);
  void DeleteTransLogWIP(const Variant& Account, const Variant& UserName, const Variant& Token,
                         const Variant& TransLogWIPID);
  // The register rows of the transaction, by account key; empty when none carry the number.
  std::shared_ptr<EntityCollection> GetTransactionsByTransNum(const Variant& Account, const Variant& UserName,
                                                              const Variant& Token, const Variant& TransactionNumber);

  // --- Bank reconciliation ---------------------------------------------------------------------
  // Marks the register rows whose keys TransIDs lists ("3|8|15") reconciled and posts, as
  // committed general-journal transactions whose rows are marked too, the service charge
  // (debit ServiceChargeAccount, credit AccountID) when it is not 0 and its account above 0,
  // then the interest (debit AccountID, credit InterestEarnedAccount) likewise. All or nothing:
  // a piece that is not a whole number fails the call and marks nothing.
  void ReconcileAccount(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& AccountID,
                        const Variant& TransIDs, const Variant& ServiceCharge, const Variant& ServiceChargeDate,
                        const Variant& ServiceChargeAccount, const Variant& InterestEarned,
                        const Variant& InterestEarnedDate, const Variant& InterestEarnedAccount);

  // --- Tax codes ------------------------------------------------------------------------------
  // Every tax code, inactive ones included, in stored order.
  std::shared_ptr<EntityCollection> GetAllTaxCodes(const Variant& Account, const Variant& UserName,
                                                   const Variant& Token);
  std::shared_ptr<CITaxCode> GetTaxCode(const Variant& Account, const Variant& UserName, const Variant& Token,
                                        const Variant& TaxCodeID);
  // Adds a code to the company and returns its key. TaxCode is one character; a longer one is
  // refused, nothing stored.
  Variant AddTaxCode(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& TaxCode,
                     const Variant& Description, const Variant& Tax1Rate, const Variant& Tax1Name,
                     const Variant& Tax1Exempt, const Variant& Tax2Rate, const Variant& Tax2Name,
                     const Variant& Tax2Exempt, const Variant& Tax2PiggyBack, const Variant& Inactive,
                     const Variant& Account1ID, const Variant& Account2ID);
  void UpdateTaxCode(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& TaxCodeID,
                     const Variant& TaxCode, const Variant& Description, const Variant& Tax1Rate,
                     const Variant& Tax1Name, const Variant& Tax1Exempt, const Variant& Tax2Rate,
                     const Variant& Tax2Name, const Variant& Tax2Exempt, const Variant& Tax2PiggyBack,
                     const Variant& Inactive, const Variant& Account1ID, const Variant& Account2ID);
  // Deletes the code; lines that name it are untaxed from then on.
  void DeleteTaxCode(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& TaxCodeID);

  // --- Invoice lines ---------------------------------------------------------------------------
  // Adds a line to invoice InvoiceID and returns its key; Invalid argument (5) when there is no
  // such invoice. Changing lines never touches what an issued invoice posted.
  Variant AddInvoiceItem(const Variant& Account, const Variant& UserName, const Variant& Token,
                         const Variant& InvoiceID, const Variant& TaxID, const Variant& ItemCode,
                         const Variant& ItemName, const Variant& ItemPrice, const Variant& ItemQuantity,
                         const Variant& ItemUnit, const Variant& AccountID);
  void UpdateInvoiceItem(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& ItemID,
                         const Variant& TaxID, const Variant& ItemCode, const Variant& ItemName,
                         const Variant& ItemPrice, const Variant& ItemQuantity, const Variant& ItemUnit,
                         const Variant& AccountID);
  void DeleteInvoiceItem(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& ItemID);
  std::shared_ptr<ACInvoiceItem> GetInvoiceItem(const Variant& Account, const Variant& UserName, const Variant& Token,
                                                const Variant& InvoiceItemID);

  // --- Invoices ---------------------------------------------------------------------------------
  // Enters an invoice (Paid as given: -1 pending) and begins its ttINV transaction; returns
  // its key. An empty InvoiceNo is numbered: one more than the greatest stored invoice number
  // that is a whole number (1 when there is none), written back into InvoiceNo.
  Variant InsertInvoice(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& Paid,
                        const Variant& Comment, const Variant& InvoiceDate, Variant& InvoiceNo,
                        const Variant& PurchaseOrderNumber, const Variant& Address, const Variant& Company,
                        const Variant& Total, const Variant& AccountID);
  // Changes the invoice and its transaction's header (selected by TransNum) together.
  void UpdateInvoice(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& InvoiceID,
                     const Variant& Paid, const Variant& Comment, const Variant& InvoiceDate, const Variant& InvoiceNo,
                     const Variant& PurchaseOrderNumber, const Variant& Address, const Variant& Company,
                     const Variant& Total, const Variant& TransNum, const Variant& AccountID);
  // Posts the invoice: a credit per line (price times quantity) to its revenue account, a credit
  // per tax name (taxes computed per line, in order of first appearance) to the tax's account,
  // a debit of their sum to the receivable account (ComputeInvoicePosting, InvoiceAmounts.h);
  // commits and marks the invoice outstanding. Invalid argument (5), nothing changed, for an
  // invoice that is not pending (Paid -1) or whose transaction is committed already: an invoice
  // is posted once.
  void IssueInvoice(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& InvoiceID);
  // Remove the invoice, its lines and its transaction, restoring every balance it moved.
  void DeletePendingInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                            const Variant& InvoiceID);
  void DeleteOutstandingInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                                const Variant& InvoiceID);
  std::shared_ptr<ACInvoice> GetInvoice(const Variant& Account, const Variant& UserName, const Variant& Token,
                                        const Variant& InvoiceID);
  std::shared_ptr<ACInvoice> GetInvoiceByTrans(const Variant& Account, const Variant& UserName, const Variant& Token,
                                               const Variant& TransNum);
  // Invoices by invoice number (as text): all of them, paid (1), outstanding (0), pending (-1).
  std::shared_ptr<EntityCollection> GetAllInvoices(const Variant& Account, const Variant& UserName,
                                                   const Variant& Token);
  std::shared_ptr<EntityCollection> GetAllPaidInvoices(const Variant& Account, const Variant& UserName,
                                                       const Variant& Token);
  std::shared_ptr<EntityCollection> GetAllOutstandingInvoices(const Variant& Account, const Variant& UserName,
                                                              const Variant& Token);
  std::shared_ptr<EntityCollection> GetAllPendingInvoices(const Variant& Account, const Variant& UserName,
                                                          const Variant& Token);

 private:
  void DeleteInvoice(const Variant& Account, const Variant& UserName, const Variant& Token, const Variant& InvoiceID);
  Variant PostLine(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                   const Variant& Amount, const Variant& Description, bool is_debit);
};

}  // namespace ledgerkit
