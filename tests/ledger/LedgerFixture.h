// Test support for the ledger: a company file with a user, an asset and an expense account
// type, a bank account (key 1) and an expense account (key 2), builders for ledger
// transactions, and short text renderings of what the file holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "support/TempCompany.h"

namespace ledgerkit::testing {

// "text\r\n >marker<number>": a description as a failed operation hands it to its caller.
std::string Marked(const std::string& text, int32_t number);

// A stored amount (integer ten-thousandths) as currency text: "-1000000" reads "-100".
// Anything else (NULL, a real, a text) comes back unchanged, so it shows in a failed assertion.
std::string Money(const std::string& stored);

// One property of every object of a collection, joined with ',' ("NULL" for a Null value).
std::string Column(const std::shared_ptr<EntityCollection>& collection, const char* property);

class LedgerFixture : public ::testing::Test {
 protected:
  LedgerFixture();

  static constexpr int32_t kBank = 1;     // "1000 Bank", an asset
  static constexpr int32_t kExpense = 2;  // "5000 Rent", an expense
  static inline const Date kMarch31 = Date::FromCivil(2026, 3, 31);

  Variant account() const { return company_.account(); }
  const std::string& path() const { return company_.path(); }

  // The first column of the first row of a query run directly on the file.
  std::string Sql(const std::string& sql) const { return RawScalar(path(), sql); }
  // Runs SQL directly on the file; fails the test when it does not run.
  void Exec(const std::string& sql) const;

  // An account of the company (caller "alice"); returns its key.
  int32_t AddAccount(const std::string& number, const std::string& name, int32_t type, const Variant& parent = 0,
                     bool inactive = false);
  // An account type of the company; returns its key.
  int32_t AddType(const std::string& name, int32_t balance_sheet_type);

  // Begins a transaction of the type for `amount` on `account_id`, described "Rent March" with
  // the memo "memo", dated March 31; returns its number.
  std::string Begin(int32_t type, Currency amount = Currency::FromUnits(100), int32_t account_id = kBank);
  // A debit (credit) line of whole units to the transaction; returns the line's key.
  Variant Debit(const std::string& number, int32_t account_id, int64_t units, const Variant& description = "");
  Variant Credit(const std::string& number, int32_t account_id, int64_t units, const Variant& description = "");
  // A committed cheque from the bank for the rent: credit bank, debit expense.
  std::string Cheque(int64_t units);

  // The stored balances of every account, by key: "1:-100 2:100".
  std::string Balances() const;
  // Every register row in the order written: "1:W0 D100;2:W100 D0".
  std::string Register() const;
  // The waiting lines of the transaction, in the order written: "1:C100 memo;2:D100 NULL".
  std::string Lines(const std::string& number) const;
  // The status of every header with the number ("" when there is none).
  std::string Status(const std::string& number) const;
  // Every row of the ledger tables, to compare before and after a call.
  std::string Everything() const;
  // The next transaction number the company will hand out.
  std::string Counter() const;

  TempCompany company_;
  CACMgr ledger_;
  int32_t asset_type_ = 0;
  int32_t expense_type_ = 0;
};

}  // namespace ledgerkit::testing
