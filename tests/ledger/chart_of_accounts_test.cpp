// The chart of accounts: accounts under the caller's company, account types, financial
// institutions, the balance-sheet lists and the balances computed from the register.
#include <gtest/gtest.h>

#include <string>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledger/LedgerFixture.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Column;
using testing::Marked;

class ChartOfAccounts : public testing::LedgerFixture {
 protected:
  // Links and type of an account as stored: "institution parent type".
  std::string Links(int32_t id) const {
    return Sql("SELECT ifnull(FnclInstitutionID,'NULL')||' '||ifnull(ParentAccountID,'NULL')||' '||AccountTypeID "
               "FROM ACAccount WHERE ACAccountID=" +
               std::to_string(id));
  }
  std::string Row(int32_t id) const {
    return Sql("SELECT Parent||'|'||AccountNumber||'|'||Name||'|'||Description||'|'||Note||'|'||Inactive||'|'||"
               "BankAccountNo||'|'||Balance||'|'||AccountTypeID||'|'||ifnull(FnclInstitutionID,'NULL')||'|'||"
               "ifnull(ParentAccountID,'NULL') FROM ACAccount WHERE ACAccountID=" +
               std::to_string(id));
  }
  int32_t Add(const Variant& parent, const Variant& type, const Variant& institution) {
    return ToLong(ledger_.AddAccount(account(), "alice", "token", "1100", "Petty cash", "d", "n", false, "b", parent,
                                     type, institution));
  }
  void Update(int32_t id, const Variant& parent, const Variant& type, const Variant& institution = 0) {
    ledger_.UpdateAccount(account(), "alice", "token", id, "1100", "Petty cash", "d", "n", false, "b", institution,
                          parent, type);
  }
  // The names of every class list, one list per class: "assets|liabilities|equity|income|expenses".
  std::string Lists(const Variant& include_inactive) {
    const Variant a = account();
    return Column(ledger_.GetAssetAccounts(a, "", "", include_inactive), "Name") + "|" +
           Column(ledger_.GetLiabilityAccounts(a, "", "", include_inactive), "Name") + "|" +
           Column(ledger_.GetEquityAccounts(a, "", "", include_inactive), "Name") + "|" +
           Column(ledger_.GetIncomeAccounts(a, "", "", include_inactive), "Name") + "|" +
           Column(ledger_.GetExpenseAccounts(a, "", "", include_inactive), "Name");
  }
  // Commits a transaction dated `date` with a debit and a credit on the bank.
  void PostToBank(const Date& date, int64_t debit, int64_t credit) {
    const std::string number = ledger_.BeginTransaction(account(), "alice", "", static_cast<int32_t>(ttGENJRNL), date,
                                                        "", 0, Currency(), "", "", "");
    ledger_.PostDebit(account(), number, kBank, Currency::FromUnits(debit), "in");
    ledger_.PostCredit(account(), number, kBank, Currency::FromUnits(credit), "out");
    ledger_.EndTransaction(account(), number);
  }
  std::string BalanceOn(const Variant& date) {
    const Variant balance = ledger_.GetAccountBalanceForDate(account(), kBank, date);
    return balance.IsNull() ? "Null" : ToText(balance);
  }
};

TEST_F(ChartOfAccounts, AccountsAreListedByNumberAsTextThenName) {
  AddAccount("9", "Zed", asset_type_);
  AddAccount("10", "Beta", asset_type_, 0, true);
  AddAccount("10", "Alpha", expense_type_);
  EXPECT_EQ(Column(ledger_.GetAllAccounts(account(), "", ""), "Name"), "Alpha,Beta,Bank,Rent,Zed");
}

TEST_F(ChartOfAccounts, SubAccountsAreTheDirectChildrenOnly) {
  const int32_t savings = AddAccount("1200", "Savings", asset_type_, kBank);
  AddAccount("1100", "Chequing", asset_type_, kBank, true);
  AddAccount("1210", "Term deposit", asset_type_, savings);
  EXPECT_EQ(Column(ledger_.GetSubAccounts(account(), "", "", kBank), "Name"), "Chequing,Savings");
  EXPECT_EQ(ledger_.GetSubAccounts(account(), "", "", kExpense)->Count(), 0);
  EXPECT_EQ(CaptureError([&] { ledger_.GetSubAccounts(account(), "", "", "1 OR 1=1"); }).number(), kTypeMismatch);
}

TEST_F(ChartOfAccounts, AddAccountReturnsTheKeyOfItsOwnRowAndStoresEmptyOrZeroLinksAsNull) {
  const int32_t first = Add("", asset_type_, 0);
  EXPECT_EQ(Row(first), "1|1100|Petty cash|d|n|0|b|0|1|NULL|NULL");
  EXPECT_EQ(Links(Add(0, asset_type_, "")), "NULL NULL 1");
  const int32_t linked = Add(7, expense_type_, 5);
  EXPECT_EQ(Links(linked), "5 7 2");
  EXPECT_EQ(linked, ToLong(Sql("SELECT MAX(ACAccountID) FROM ACAccount")));
  // The same number and name again: a row of its own, and its own key back.
  const int32_t again = Add("", asset_type_, 0);
  EXPECT_NE(again, first);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM ACAccount WHERE ACAccountID=" + std::to_string(again)), "1");
  EXPECT_EQ(again, ToLong(Sql("SELECT MAX(ACAccountID) FROM ACAccount")));
}

TEST_F(ChartOfAccounts, AddAccountWritesNothingWithoutAKnownCallerOrWithALinkThatIsNoNumber) {
  const std::string before = Everything();
  EXPECT_NE(CaptureError([&] {
              ledger_.AddAccount(account(), "nobody", "", "1100", "Petty cash", "", "", false, "", 0, asset_type_, 0);
            }).number(),
            0);
  EXPECT_EQ(CaptureError([&] { Add("abc", asset_type_, 0); }).number(), kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { Add(0, asset_type_, "abc"); }).number(), kTypeMismatch);
  EXPECT_EQ(Everything(), before);
}

TEST_F(ChartOfAccounts, UpdateRefusesAChildWhoseTypeIsNotItsParentsAndLeavesTheRow) {
  const int32_t child = Add(kBank, expense_type_, 0);  // accepted when added
  EXPECT_EQ(Links(child), "NULL 1 2");
  const std::string before = Everything();
  const Error error = CaptureError([&] { Update(child, kBank, expense_type_, 5); });
  EXPECT_EQ(error.number(), errCACMgr::eAcctTypeMismatch);
  EXPECT_EQ(error.description(), Marked(messages::kAcctTypeMismatch, errCACMgr::eAcctTypeMismatch));
  EXPECT_EQ(Everything(), before);
}

TEST_F(ChartOfAccounts, UpdateChecksTheParentOnlyForAPositiveKeyAndOverwritesTheRow) {
  const int32_t id = Add(0, asset_type_, 0);
  ledger_.UpdateAccount(account(), "alice", "", id, "1150", "Till", "cash", "note", true, "77", 5, -3, asset_type_);
  EXPECT_EQ(Row(id), "1|1150|Till|cash|note|1|77|0|1|5|-3");
  Update(id, "", asset_type_, "");
  EXPECT_EQ(Links(id), "NULL NULL 1");
  Update(id, kBank, std::to_string(asset_type_));  // the text "1" against the number 1
  EXPECT_EQ(Links(id), "NULL 1 1");

  const std::string before = Everything();
  const Error missing = CaptureError([&] { Update(id, 42, asset_type_); });
  EXPECT_EQ(missing.number(), kInvalidArgument);
  EXPECT_EQ(missing.description(), Marked("No ACAccount has the key 42.", kInvalidArgument));
  EXPECT_EQ(Everything(), before);
}

TEST_F(ChartOfAccounts, UnknownKeysChangeNothingOnUpdateAndDeleteAndFailOnGet) {
  const std::string before = Everything();
  Update(99, 0, asset_type_);
  ledger_.DeleteAccount(account(), "", "", 99);
  ledger_.UpdateAccountType(account(), "", "", 99, "x", "", false, 0);
  ledger_.DeleteAccountType(account(), "", "", 99);
  ledger_.UpdateFnclInstitution(account(), "", "", 99, "x", "", "", "");
  ledger_.DeleteFnclInstitution(account(), "", "", 99);
  EXPECT_EQ(Everything(), before);

  const Error account_error = CaptureError([&] { ledger_.GetAccount(account(), "", "", 42); });
  EXPECT_EQ(account_error.number(), kInvalidArgument);
  EXPECT_EQ(account_error.description(), Marked("No ACAccount has the key 42.", kInvalidArgument));
  EXPECT_EQ(CaptureError([&] { ledger_.GetAccountType(account(), "", "", 42); }).description(),
            Marked("No ACAccountType has the key 42.", kInvalidArgument));
  EXPECT_EQ(CaptureError([&] { ledger_.GetFnclInstitution(account(), "", "", 42); }).description(),
            Marked("No ACFnclInstitution has the key 42.", kInvalidArgument));
}

TEST_F(ChartOfAccounts, DeleteRemovesOnlyTheRowItNames) {
  const int32_t child = AddAccount("1200", "Savings", asset_type_, kBank);
  ledger_.DeleteAccount(account(), "", "", kBank);
  EXPECT_EQ(Column(ledger_.GetAllAccounts(account(), "", ""), "Name"), "Savings,Rent");
  EXPECT_EQ(Links(child), "NULL 1 1");
}

TEST_F(ChartOfAccounts, TypesAndInstitutionsReturnTheKeyOfTheirOwnRow) {
  const int32_t type = AddType("Bank accounts", bstASSET);  // a name already in use
  EXPECT_NE(type, asset_type_);
  EXPECT_EQ(type, ToLong(Sql("SELECT MAX(ACAccountTypeID) FROM ACAccountType")));
  const Variant a = account();
  const int32_t first = ToLong(ledger_.AddFnclInstitution(a, "", "", "First Bank", "1 Main St", "Ann", "555-0100"));
  const int32_t second = ToLong(ledger_.AddFnclInstitution(a, "", "", "First Bank", "2 Main St", "Bob", "555-0101"));
  EXPECT_NE(first, second);
  EXPECT_EQ(Sql("SELECT Address FROM ACFnclInstitution WHERE ACFnclInstitutionID=" + std::to_string(second)),
            "2 Main St");
  EXPECT_EQ(ledger_.GetFnclInstitution(a, "", "", first)->Value("Contact"), Variant("Ann"));
  ledger_.UpdateFnclInstitution(a, "", "", first, "First Bank", "3 Main St", "Cy", "555-0102");
  EXPECT_EQ(Column(ledger_.GetAllFnclInstitutions(a, "", ""), "Contact"), "Cy,Bob");
  ledger_.DeleteFnclInstitution(a, "", "", second);
  EXPECT_EQ(Column(ledger_.GetAllFnclInstitutions(a, "", ""), "Address"), "3 Main St");
}

TEST_F(ChartOfAccounts, InstitutionAddressHoldsUpTo2000Characters) {
  const Variant a = account();
  const int32_t id = ToLong(ledger_.AddFnclInstitution(a, "", "", "Long Bank", std::string(2000, 'a'), "", ""));
  EXPECT_EQ(Sql("SELECT length(Address) FROM ACFnclInstitution WHERE ACFnclInstitutionID=" + std::to_string(id)),
            "2000");
  const std::string before = Everything();
  EXPECT_NE(CaptureError([&] { ledger_.AddFnclInstitution(a, "", "", "Longer", std::string(2001, 'a'), "", ""); })
                .number(),
            0);
  EXPECT_NE(CaptureError([&] { ledger_.UpdateFnclInstitution(a, "", "", id, "Long Bank", std::string(2001, 'a'), "", ""); })
                .number(),
            0);
  EXPECT_EQ(Everything(), before);
}

TEST_F(ChartOfAccounts, EachListHoldsTheAccountsOfItsClassAndATypeOutsideTheClassesIsInNone) {
  AddAccount("2000", "Loan", AddType("Loans", bstLIABILITY));
  AddAccount("3000", "Capital", AddType("Owner", bstEQUITY));
  AddAccount("4000", "Sales", AddType("Revenue", bstINCOME));
  const int32_t odd = AddType("Odd", 7);
  EXPECT_EQ(Sql("SELECT BalanceSheetType FROM ACAccountType WHERE ACAccountTypeID=" + std::to_string(odd)), "7");
  AddAccount("6000", "Suspense", odd);
  EXPECT_EQ(Lists(false), "Bank|Loan|Capital|Sales|Rent");

  // Changing a type's class moves its accounts with it.
  ledger_.UpdateAccountType(account(), "", "", odd, "Odd", "", false, bstEXPENSE);
  EXPECT_EQ(Column(ledger_.GetExpenseAccounts(account(), "", "", false), "Name"), "Rent,Suspense");
}

TEST_F(ChartOfAccounts, ListsLeaveInactiveAccountsOutUnlessAskedFor) {
  AddAccount("1010", "Old bank", asset_type_, 0, true);
  AddAccount("0999", "Cash", asset_type_);
  EXPECT_EQ(Column(ledger_.GetAssetAccounts(account(), "", "", false), "Name"), "Cash,Bank");
  EXPECT_EQ(Column(ledger_.GetAssetAccounts(account(), "", "", Variant()), "Name"), "Cash,Bank");
  EXPECT_EQ(Column(ledger_.GetAssetAccounts(account(), "", "", Variant::Null()), "Name"), "Cash,Bank");
  EXPECT_EQ(Column(ledger_.GetAssetAccounts(account(), "", "", true), "Name"), "Cash,Bank,Old bank");
}

TEST_F(ChartOfAccounts, DeletingATypeInUseLeavesItsAccountsWithoutAType) {
  ledger_.DeleteAccountType(account(), "", "", expense_type_);
  const std::shared_ptr<ACAccount> rent = ledger_.GetAccount(account(), "", "", kExpense);
  EXPECT_EQ(rent->Value("Name"), Variant("Rent"));
  EXPECT_EQ(rent->Related("AccountType", account()), nullptr);
  EXPECT_EQ(Lists(true), "Bank||||");
}

TEST_F(ChartOfAccounts, BalanceIsDebitsMinusCreditsOfTheRegisterAndNullWithoutRows) {
  EXPECT_TRUE(ledger_.GetAccountBalance(account(), kBank).IsNull());
  EXPECT_TRUE(ledger_.GetAccountBalanceForDate(account(), kBank, "2026-03-31").IsNull());
  PostToBank(kMarch31, 100, 30);
  // A line still waiting in a transaction does not count.
  ledger_.PostDebit(account(), Begin(ttGENJRNL), kBank, Currency::FromUnits(1000), "waiting");
  EXPECT_EQ(ledger_.GetAccountBalance(account(), kBank), Variant(Currency::FromUnits(70)));
  EXPECT_EQ(Sql("SELECT Balance FROM ACAccount WHERE ACAccountID=1"), "-700000");
}

TEST_F(ChartOfAccounts, BalanceForDateCountsTheDayItselfAndLeavesLaterRowsOut) {
  PostToBank(Date::FromCivil(2026, 3, 30), 100, 0);
  PostToBank(kMarch31, 20, 5);
  PostToBank(Date::FromCivil(2026, 4, 1), 1000, 0);
  EXPECT_EQ(BalanceOn("2026-03-29"), "Null");
  EXPECT_EQ(BalanceOn("2026-03-31"), "115");
  EXPECT_EQ(BalanceOn(kMarch31), "115");
  EXPECT_EQ(BalanceOn("2026-04-01"), "1115");
  EXPECT_EQ(CaptureError([&] { BalanceOn("garbage"); }).number(), kTypeMismatch);
  // No date, Null or Empty, is refused: never a Null balance for rows that exist.
  EXPECT_EQ(CaptureError([&] { BalanceOn(Variant()); }).number(), kTypeMismatch);
  const Error null = CaptureError([&] { BalanceOn(Variant::Null()); });
  EXPECT_EQ(null.number(), kInvalidUseOfNull);
  EXPECT_NE(null.description().find("ForDate is Null"), std::string::npos) << null.description();
}

}  // namespace
}  // namespace ledgerkit
