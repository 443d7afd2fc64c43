// The company file: tables, keys, defaults, width checks, and how a new file is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/entities/ColumnWidths.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/Schema.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

TEST(Schema, NewFileHoldsOneSubscriberWithCountersAndItsPrimaryLocation) {
  TempCompany company("Northwind Hardware");
  const bool server = testing::OnPostgres();
  EXPECT_EQ(RawScalar(company.path(), server ? "SELECT Version FROM lk_Schema" : "PRAGMA user_version"),
            std::to_string(kSchemaVersion));
  EXPECT_EQ(RawScalar(company.path(), server ? "SELECT Mark FROM lk_Schema" : "PRAGMA application_id"),
            std::to_string(kApplicationId));
  EXPECT_EQ(RawScalar(company.path(),
                      server ? "SELECT COUNT(*) FROM pg_tables WHERE schemaname=current_schema() AND tablename NOT LIKE 'lk_%'"
                             : "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%' AND "
                               "name NOT LIKE 'lk_%'"),
            "14");
  EXPECT_EQ(RawScalar(company.path(),
                      "SELECT CompanyName||'|'||NextTransactionNumber||NextInvoiceNumber||NextExpenseReportNumber||"
                      "NextClientAccountNumber||'|'||(CASE WHEN AccountNo IS NULL THEN 1 ELSE 0 END) FROM ISubScriber"),
            "Northwind Hardware|1111|1");
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ISubScriber"), "1");
  EXPECT_EQ(RawScalar(company.path(),
                      "SELECT Name||'|'||(CASE WHEN Parent=(SELECT ISubScriberID FROM ISubScriber) THEN 1 ELSE 0 END) "
                      "FROM ISubscriberLocation WHERE IsPrimary=1"),
            "Northwind Hardware|1");
  // Every filter column has an index (the index of whole invoice numbers is of an expression).
  for (const IndexDef& index : SchemaIndexes()) {
    if (index.whole_numbers) continue;
    const std::string first_column(index.columns.substr(0, index.columns.find(',')));
    const std::vector<std::string> leading = testing::IndexLeadingColumns(company.path(), std::string(index.table));
    EXPECT_EQ(std::count(leading.begin(), leading.end(), first_column), 1)
        << index.table << "(" << index.columns << ")";
  }
}

TEST(Schema, NewFileIsInWriteAheadLogMode) {
  LEDGERKIT_FILE_ONLY("the journal mode is a setting of the company file");
  TempCompany company;
  EXPECT_EQ(RawScalar(company.path(), "PRAGMA journal_mode"), "wal");
}

TEST(Schema, ExistingFileIsNeverWrittenOverAndFailedCreateLeavesNothing) {
  TempCompany company;
  const std::string other = (company.folder() / "notes.txt").string();
  std::ofstream(other) << "keep me";
  EXPECT_EQ(CaptureError([&] { CreateSubscriberDatabase(other, "X"); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { CreateSubscriberDatabase(company.path(), "X"); }).number(), kInvalidArgument);
  std::ifstream kept(other);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  EXPECT_EQ(RawScalar(company.path(), "SELECT CompanyName FROM ISubScriber"), "Acme Trading");

  const std::string too_long = (company.folder() / "too-long.ldb").string();
  const Error error = CaptureError([&] { CreateSubscriberDatabase(too_long, std::string(256, 'c')); });
  EXPECT_EQ(error.description(), "The text for CompanyName has 256 characters; at most 255 fit.");
  EXPECT_FALSE(std::filesystem::exists(too_long));
  EXPECT_FALSE(std::filesystem::exists(too_long + "-wal"));
}

TEST(Schema, KeysAreAssignedPositiveAndNeverReused) {
  TempCompany company;
  Command command(company.account());
  command.SetText(Sql("INSERT INTO ACAccountType (Parent,Name) VALUES (1,", kValue, ") RETURNING ACAccountTypeID;"));
  command.Append("p1", FieldType::kText, lenACAccountType::lenName, "Bank");
  const int32_t first = ToLong(command.ExecuteScalar());
  EXPECT_GT(first, 0);
  ASSERT_EQ(RawExec(company.path(), "DELETE FROM ACAccountType;"), "");
  command.Assign("p1", "Cash");
  EXPECT_GT(ToLong(command.ExecuteScalar()), first);
}

TEST(Schema, DefaultsAndYesNoColumnsBehaveAsStored) {
  TempCompany company;
  Command command(company.account());
  command.SetText(Sql("INSERT INTO ACAccount (Parent,Name,Inactive) VALUES (1,'Old bank',", kValue, ");"));
  command.Append("p1", FieldType::kBoolean, 0, true);
  command.Execute();
  command.SetText(Sql("INSERT INTO ACTransaction (Parent,Withdrawal,Deposit) VALUES (1,", kValue, ",", kValue, ");"));
  command.Clear();
  command.Append("p1", FieldType::kCurrency, 0, "0.0001");
  command.Append("p2", FieldType::kCurrency, 0, 0);
  command.Execute();
  command.SetText(Sql("INSERT INTO SysSessions (Account,UserName,Token) VALUES ('TEMP','alice','T');"));
  command.Clear();
  command.Execute();

  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACAccount WHERE Inactive=1"), "1");
  auto account = OpenRecordset(company.account(), "SELECT * FROM ACAccount;");
  EXPECT_EQ(account->Field("Balance"), Variant(Currency()));
  EXPECT_EQ(account->Field("Inactive"), Variant(true));
  EXPECT_TRUE(account->Field("FnclInstitutionID").IsNull());
  EXPECT_TRUE(account->Field("ParentAccountID").IsNull());
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACTransaction WHERE Reconciled=0"), "1");
  auto session = OpenRecordset(company.account(), "SELECT LastUpdate FROM SysSessions;");
  ASSERT_EQ(session->Field(0).type(), VarType::kDate);
  const int64_t drift = session->Field(0).AsDate().seconds() - Date::Now().seconds();
  EXPECT_LE(std::abs(drift), 3600) << ToText(session->Field(0));
  // User names compare without regard to letter case.
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM SysSessions WHERE UserName='ALICE'"), "1");
}

TEST(Schema, EveryTextColumnRefusesRawTextLongerThanItsWidth) {
  TempCompany company;
  for (const TableDef& table : SchemaTables()) {
    for (const ColumnDef& column : table.columns) {
      if (column.kind != FieldType::kText) continue;
      const std::string insert = "INSERT INTO " + std::string(table.name) + " (" + std::string(column.name) + ") VALUES ('";
      EXPECT_EQ(RawExec(company.path(), insert + std::string(static_cast<size_t>(column.width), 'w') + "');"), "")
          << table.name << "." << column.name;
      EXPECT_NE(RawExec(company.path(), insert + std::string(static_cast<size_t>(column.width) + 1, 'w') + "');")
                    .find(testing::CheckFailedText()),
                std::string::npos)
          << table.name << "." << column.name;
    }
  }
}

TEST(Schema, PublishedWidthsMatchTheColumns) {
  EXPECT_EQ(lenIUser::lenMiddleInitial, 2);
  EXPECT_EQ(lenCITaxCode::lenTaxCode, 1);
  EXPECT_EQ(lenACTransLog::lenChequeNo, 64);
  EXPECT_EQ(lenISubscriberLocation::lenPostalCode, 10);
  EXPECT_EQ(lenACAccount::lenBalance, 0);
  // The file's own columns carry the published widths (the password column holds a hash).
  for (const auto& [table, column, width] : {std::tuple{"IUser", "MiddleInitial", 2}, {"CITaxCode", "TaxCode", 1},
                                             {"ACTransLog", "ChequeNo", 64}, {"ACAccount", "Note", 2000}}) {
    auto result = OpenRecordset(TempCompany().account(), "SELECT " + std::string(column) + " FROM " + table + ";");
    EXPECT_EQ(result->Columns()[0].defined_size, width) << table << "." << column;
  }
}

}  // namespace
}  // namespace ledgerkit
