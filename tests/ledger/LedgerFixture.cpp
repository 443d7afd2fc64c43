#include "ledger/LedgerFixture.h"

#include <sqlite3.h>

#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/Entity.h"
#include "support/TempCompany.h"

namespace ledgerkit::testing {

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every row of a query run directly on the file, each column as text ("NULL" for null).
Rows Query(const std::string& path, const std::string& sql) {
  if (path.starts_with("postgresql://")) {
    Rows rows = PostgresRows(path, sql);
    if (rows.size() == 1 && rows[0].size() == 1 && rows[0][0].starts_with("error: ")) {
      ADD_FAILURE() << sql << ": " << rows[0][0];
      return {};
    }
    return rows;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  Rows rows;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  } else {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const unsigned char* text = sqlite3_column_text(statement, column);
        row.emplace_back(text == nullptr ? "NULL" : reinterpret_cast<const char*>(text));
      }
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

std::string Join(const Rows& rows, const char* separator, std::string (*format)(const std::vector<std::string>&)) {
  std::string text;
  for (const auto& row : rows) {
    if (!text.empty()) text += separator;
    text += format(row);
  }
  return text;
}

}  // namespace

std::string Marked(const std::string& text, int32_t number) {
  return text + std::string(kLineBreak) + std::string(kErrorMarker) + std::to_string(number);
}

std::string Money(const std::string& stored) {
  if (stored.empty() || stored.find_first_not_of("-0123456789") != std::string::npos) return stored;
  return Currency::FromScaled(std::stoll(stored)).ToText();
}

std::string Column(const std::shared_ptr<EntityCollection>& collection, const char* property) {
  std::string text;
  for (const auto& [key, item] : collection->entries()) {
    const Variant& value = static_cast<const Entity&>(*item).Value(property);
    if (!text.empty()) text += ',';
    text += value.IsNull() ? std::string("NULL") : ToText(value);
  }
  return text;
}

LedgerFixture::LedgerFixture() {
  Exec("INSERT INTO IUser (Parent,UserName,Password,AllowLogon) VALUES (1,'alice','pw',1)");
  asset_type_ = AddType("Bank accounts", bstASSET);
  expense_type_ = AddType("Operating expenses", bstEXPENSE);
  EXPECT_EQ(AddAccount("1000", "Bank", asset_type_), kBank);
  EXPECT_EQ(AddAccount("5000", "Rent", expense_type_), kExpense);
}

void LedgerFixture::Exec(const std::string& sql) const { EXPECT_EQ(RawExec(path(), sql), "") << sql; }

int32_t LedgerFixture::AddAccount(const std::string& number, const std::string& name, int32_t type,
                                  const Variant& parent, bool inactive) {
  return ToLong(ledger_.AddAccount(account(), "alice", "token", number, name, "", "", inactive, "", parent, type, 0));
}

int32_t LedgerFixture::AddType(const std::string& name, int32_t balance_sheet_type) {
  return ToLong(ledger_.AddAccountType(account(), "alice", "token", name, "", false, balance_sheet_type));
}

std::string LedgerFixture::Begin(int32_t type, Currency amount, int32_t account_id) {
  return ledger_.BeginTransaction(account(), "alice", "token", type, kMarch31, "Rent March",
                                  account_id, amount, "1 Main St", "memo", "101");
}

Variant LedgerFixture::Debit(const std::string& number, int32_t account_id, int64_t units,
                             const Variant& description) {
  return ledger_.PostDebit(account(), number, account_id, Currency::FromUnits(units), description);
}

Variant LedgerFixture::Credit(const std::string& number, int32_t account_id, int64_t units,
                              const Variant& description) {
  return ledger_.PostCredit(account(), number, account_id, Currency::FromUnits(units), description);
}

std::string LedgerFixture::Cheque(int64_t units) {
  const std::string number = Begin(ttCHQ, Currency::FromUnits(units), kBank);
  Debit(number, kExpense, units, "rent");
  ledger_.EndTransaction(account(), number);
  return number;
}

std::string LedgerFixture::Balances() const {
  return Join(Query(path(), "SELECT ACAccountID, Balance FROM ACAccount ORDER BY ACAccountID"), " ",
              [](const std::vector<std::string>& row) { return row[0] + ":" + Money(row[1]); });
}

std::string LedgerFixture::Register() const {
  return Join(Query(path(), "SELECT Parent, Withdrawal, Deposit FROM ACTransaction ORDER BY ACTransactionID"), ";",
              [](const std::vector<std::string>& row) { return row[0] + ":W" + Money(row[1]) + " D" + Money(row[2]); });
}

std::string LedgerFixture::Lines(const std::string& number) const {
  return Join(Query(path(),
                    "SELECT AccountID, IsDebit, Amount, Description FROM ACTransLogWIP WHERE Parent IN "
                    "(SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber='" +
                        number + "') ORDER BY ACTransLogWIPID"),
              ";", [](const std::vector<std::string>& row) {
                return row[0] + ":" + (row[1] == "1" ? "D" : "C") + Money(row[2]) + " " + row[3];
              });
}

std::string LedgerFixture::Status(const std::string& number) const {
  return Join(Query(path(), "SELECT TransLogStatus FROM ACTransLog WHERE TransactionNumber='" + number + "'"), ",",
              [](const std::vector<std::string>& row) { return row[0]; });
}

std::string LedgerFixture::Everything() const {
  std::string text;
  for (const char* table : {"ACAccountType", "ACFnclInstitution", "ACAccount", "ACTransLog", "ACTransLogWIP",
                            "ACTransaction"}) {
    text += std::string(table) + "[" +
            Join(Query(path(), std::string("SELECT * FROM ") + table + " ORDER BY 1"), ";",
                 [](const std::vector<std::string>& row) {
                   std::string fields;
                   for (const auto& field : row) fields += field + "|";
                   return fields;
                 }) +
            "]\n";
  }
  return text;
}

std::string LedgerFixture::Counter() const { return Sql("SELECT NextTransactionNumber FROM ISubScriber"); }

}  // namespace ledgerkit::testing
