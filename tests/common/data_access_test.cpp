// Data access: result sets, the parameterised command, the storage mapping, CDATE.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

constexpr int32_t kCantOpen = static_cast<int32_t>(0x8005000Eu);

// Inserts an account through a command, the way the managers write, and returns its key.
Variant InsertAccount(const TempCompany& company, const Variant& number, const Variant& name) {
  Command command(company.account());
  command.SetText(Sql("INSERT INTO ACAccount (Parent,AccountNumber,Name) VALUES (", kValue, ",", kValue, ",", kValue,
                      ") RETURNING ACAccountID;"));
  command.Append("p1", FieldType::kLong, 0, 1);
  command.Append("p2", FieldType::kText, 128, number, "AccountNumber");
  command.Append("p3", FieldType::kText, 128, name, "Name");
  return command.ExecuteScalar();
}

TEST(DataAccess, ConnectionStringNamesTheFileUnchanged) {
  EXPECT_EQ(BuildConnectionString("/data/acme.ldb"), "Driver=SQLite;Dbq=/data/acme.ldb");
  EXPECT_EQ(BuildConnectionString(" spaced path;x "), "Driver=SQLite;Dbq= spaced path;x ");
  EXPECT_EQ(CaptureError([] { BuildConnectionString(Variant::Null()); }).number(), kInvalidUseOfNull);
}

TEST(DataAccess, EmptySelectIsAtEndAtOnceWithItsColumns) {
  TempCompany company;
  auto result = OpenRecordset(company.account(), "SELECT * FROM ACAccount WHERE ACAccountID<>0;");
  EXPECT_TRUE(result->IsOpen());
  EXPECT_TRUE(result->AtEOF());
  EXPECT_TRUE(result->AtBOF());
  EXPECT_EQ(result->RecordCount(), 0);
  ASSERT_EQ(result->Columns().size(), 12u);
  EXPECT_EQ(result->Columns()[0].name, "ACAccountID");
  EXPECT_EQ(result->Columns()[11].name, "ParentAccountID");
  EXPECT_EQ(CaptureError([&] { result->Field("Name"); }).number(), kNoCurrentRow);
}

TEST(DataAccess, MissingFileFailsWithEngineErrorAndIsNeverCreated) {
  TempCompany company;
  const std::string missing = company.MissingPath();
  const Error read = CaptureError([&] { OpenRecordset(missing, "SELECT 1"); });
  const testing::ExpectedEngineError cant_open = testing::ExpectedError(testing::EngineFailure::kCantOpen);
  EXPECT_EQ(read.number(), cant_open.number);
  EXPECT_EQ(read.source(), cant_open.source);
  EXPECT_EQ(Occurrences(read.description(), kErrorMarker), 1);
  EXPECT_NE(read.description().find(missing), std::string::npos) << read.description();
  EXPECT_EQ(CaptureError([&] { Command command(missing); }).number(), cant_open.number);
  EXPECT_EQ(CaptureError([&] { OpenRecordset("", "SELECT 1"); }).number(), kInvalidArgument);
  // Neither a URI nor the in-memory database can stand in for a company file.
  EXPECT_EQ(CaptureError([&] { OpenRecordset("file:" + missing + "?mode=rwc", "SELECT 1"); }).number(), kCantOpen);
  EXPECT_EQ(CaptureError([&] { OpenRecordset(":memory:", "SELECT 1"); }).number(), kCantOpen);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(":memory:"));
}

TEST(DataAccess, ResultSetIsASnapshotIndependentOfItsConnection) {
  TempCompany company;
  InsertAccount(company, "1000", "Bank");
  InsertAccount(company, "2000", "Payables");
  auto result = OpenRecordset(company.account(), "SELECT AccountNumber, Name FROM ACAccount ORDER BY AccountNumber;");
  ASSERT_EQ(RawExec(company.path(), "UPDATE ACAccount SET Name='Changed'; DELETE FROM ACAccount WHERE AccountNumber='2000';"), "");
  ASSERT_EQ(result->RecordCount(), 2);
  EXPECT_EQ(ToText(result->Field("name")), "Bank");  // names match without regard to case
  result->MoveNext();
  EXPECT_EQ(ToText(result->Field(1)), "Payables");
  result->MoveNext();
  EXPECT_TRUE(result->AtEOF());
  EXPECT_EQ(CaptureError([&] { result->MoveNext(); }).number(), kNoCurrentRow);
  result->MoveFirst();
  EXPECT_EQ(ToText(result->Field("AccountNumber")), "1000");
  EXPECT_EQ(CaptureError([&] { result->Field("NoSuchColumn"); }).number(), kInvalidArgument);
}

TEST(DataAccess, StatementWithoutRowsIsCarriedOutAndGivesClosedEmptyResult) {
  TempCompany company;
  auto result = OpenRecordset(company.account(), "UPDATE ISubScriber SET CompanyName='Renamed Ltd'");
  EXPECT_FALSE(result->IsOpen());
  EXPECT_EQ(result->RecordCount(), 0);
  EXPECT_TRUE(result->AtEOF());
  EXPECT_EQ(RawScalar(company.path(), "SELECT CompanyName FROM ISubScriber"), "Renamed Ltd");
}

TEST(DataAccess, SecondStatementIsRefusedBeforeAnythingRuns) {
  TempCompany company;
  const Error error = CaptureError([&] {
    OpenRecordset(company.account(), "UPDATE ISubScriber SET CompanyName='X'; DELETE FROM ISubscriberLocation");
  });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(Occurrences(error.description(), kErrorMarker), 1);
  EXPECT_EQ(RawScalar(company.path(), "SELECT CompanyName FROM ISubScriber"), "Acme Trading");
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ISubscriberLocation"), "1");
  // A trailing semicolon or comment is not a second statement; no statement at all is refused.
  EXPECT_EQ(ToLong(OpenRecordset(company.account(), "SELECT 7;  -- the answer\n")->Field(0)), 7);
  EXPECT_EQ(CaptureError([&] { OpenRecordset(company.account(), " ; -- nothing"); }).number(), kInvalidArgument);
}

TEST(DataAccess, ColumnsAreTypedFromTheStorageMapping) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,"
                    "TransType) VALUES (1,'2026-03-31 14:05:00','Rent',125000,1,'7',0);"),
            "");
  auto result = OpenRecordset(company.account(), "SELECT * FROM ACTransaction;");
  ASSERT_EQ(result->RecordCount(), 1);
  const auto& columns = result->Columns();
  EXPECT_EQ(columns[0].type, FieldType::kLong);
  EXPECT_TRUE(columns[0].attributes & kFieldKeyColumn);
  EXPECT_EQ(columns[2].type, FieldType::kDate);
  EXPECT_EQ(columns[3].type, FieldType::kText);
  EXPECT_EQ(columns[3].defined_size, 255);
  EXPECT_TRUE(columns[3].attributes & kFieldMayBeNull);
  EXPECT_EQ(columns[4].type, FieldType::kCurrency);
  EXPECT_EQ(columns[8].type, FieldType::kBoolean);

  EXPECT_EQ(result->Field("TransactionDate"), Variant(Date::FromCivil(2026, 3, 31, 14, 5, 0)));
  EXPECT_EQ(result->Field("Withdrawal"), Variant(Currency::FromScaled(125000)));  // 12.5, exactly
  EXPECT_EQ(result->Field("Deposit"), Variant(Currency::FromScaled(1)));          // 0.0001
  EXPECT_EQ(result->Field("Reconciled"), Variant(false));                          // the default
  EXPECT_EQ(result->Field("TransType"), Variant(0));

  // Expressions carry no declared type: each value is typed by what is stored.
  auto computed = OpenRecordset(company.account(), "SELECT 1+1 AS two, 'x' AS t, 1.5 AS d, NULL AS n, 5000000000 AS big");
  EXPECT_EQ(computed->Columns()[0].type, FieldType::kVariant);
  EXPECT_EQ(computed->Field("two"), Variant(2));
  EXPECT_EQ(computed->Field("t"), Variant("x"));
  EXPECT_EQ(computed->Field("d"), Variant(1.5));
  EXPECT_TRUE(computed->Field("n").IsNull());
  EXPECT_EQ(computed->Field("big"), Variant(5000000000.0));
}

TEST(DataAccess, CommandBindsEveryTypeExactly) {
  TempCompany company;
  Command command(company.account());
  command.SetText(Sql("INSERT INTO ACTransLog (Parent,LogDate,Description,TransLogStatus,Amount,ChequeNo) VALUES (",
                      kValue, ",", kValue, ",", kValue, ",", kValue, ",", kValue, ",", kValue,
                      ") "
                      "RETURNING ACTransLogID;"));
  command.Append("p1", FieldType::kLong, 0, 1);
  command.Append("p2", FieldType::kDate, 0, "2026-01-02 03:04:05");
  command.Append("p3", FieldType::kText, 255, Variant::Null());
  command.Append("p4", FieldType::kLong, 0, 2.5);         // half-even: 2
  command.Append("p5", FieldType::kCurrency, 0, "1234567890.12345");  // half-even at the 4th decimal
  command.Append("p6", FieldType::kText, 64, 1042);
  const Variant key = command.ExecuteScalar();
  EXPECT_GT(ToLong(key), 0);
  EXPECT_EQ(RawScalar(company.path(), "SELECT LogDate FROM ACTransLog"), "2026-01-02 03:04:05");
  EXPECT_EQ(RawScalar(company.path(), "SELECT Description IS NULL FROM ACTransLog"), "1");
  EXPECT_EQ(RawScalar(company.path(), "SELECT TransLogStatus FROM ACTransLog"), "2");
  EXPECT_EQ(RawScalar(company.path(), "SELECT Amount FROM ACTransLog"), "12345678901234");
  EXPECT_EQ(RawScalar(company.path(), "SELECT ChequeNo FROM ACTransLog"), "1042");

  // The same text run again with values assigned by name reuses the parameter list.
  command.SetText(Sql("UPDATE ACTransLog SET Amount=Amount+", kValue, " WHERE ACTransLogID=", kValue, ";"));
  command.Delete(0);
  while (command.Count() > 0) command.Delete(0);
  command.Append("p1", FieldType::kCurrency, 0, Currency::FromScaled(6));
  command.Append("p2", FieldType::kLong, 0, key);
  EXPECT_EQ(command.Execute(), 1);
  command.Assign("p1", Currency::FromScaled(-12345678901240));
  EXPECT_EQ(command.Execute(), 1);
  EXPECT_EQ(RawScalar(company.path(), "SELECT Amount FROM ACTransLog"), "0");
  EXPECT_EQ(CaptureError([&] { command.Assign("p9", 1); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { command.Delete(5); }).number(), kInvalidArgument);

  // A marker without its parameter is refused, not bound as null.
  command.Delete(1);
  EXPECT_EQ(CaptureError([&] { command.Execute(); }).number(), kInvalidArgument);
  // A value out of the 32-bit range fails before the statement runs.
  command.Append("p2", FieldType::kLong, 0, 2147483648.0);
  EXPECT_EQ(CaptureError([&] { command.Execute(); }).number(), kOverflow);
  // A SELECT that finds nothing has no first column to read.
  command.SetText(Sql("SELECT ACTransLogID FROM ACTransLog WHERE ACTransLogID=", kValue, ";"));
  command.Clear();
  command.Append("p1", FieldType::kLong, 0, 999);
  EXPECT_EQ(CaptureError([&] { command.ExecuteScalar(); }).number(), kNoCurrentRow);
}

TEST(DataAccess, OverLongTextIsRefusedAtBindingNamingLengthAndSize) {
  TempCompany company;
  const std::string name_131(131, 'n');
  const Error error = CaptureError([&] { InsertAccount(company, "1000", name_131); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_EQ(error.description(), "The text for Name has 131 characters; at most 128 fit.");
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM ACAccount"), "0");
  // Width is counted in characters, not bytes: 128 two-byte characters fit.
  std::string accented;
  for (int i = 0; i < 128; ++i) accented += "\xC3\xA9";
  EXPECT_GT(ToLong(InsertAccount(company, "1000", accented)), 0);
  EXPECT_EQ(RawScalar(company.path(), "SELECT length(Name) FROM ACAccount"), "128");
}

TEST(DataAccess, CdateReadsDateTextsInsideSql) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACTransaction (Parent,TransactionDate,Withdrawal,Deposit) VALUES "
                    "(1,'2026-03-30 10:00:00',10000,0),(1,'2026-03-31 23:59:59',20000,0),(1,'2026-04-01 00:00:00',40000,0);"),
            "");
  auto through_march = OpenRecordset(
      company.account(), "SELECT SUM(Withdrawal) AS W FROM ACTransaction WHERE TransactionDate<=CDATE('2026-03-31T23:59:59')");
  EXPECT_EQ(through_march->Field("W"), Variant(30000));
  auto converted = OpenRecordset(company.account(), "SELECT CDATE('2026-03-31') AS d, CDATE(NULL) AS n");
  EXPECT_EQ(ToText(converted->Field("d")), "2026-03-31 00:00:00");
  EXPECT_TRUE(converted->Field("n").IsNull());
  const Error error = CaptureError([&] { OpenRecordset(company.account(), "SELECT CDATE('31/03/2026')"); });
  EXPECT_EQ(error.number(), testing::ExpectedError(testing::EngineFailure::kBadValue).number);
  EXPECT_NE(error.description().find("31/03/2026"), std::string::npos);
}

TEST(DataAccess, ResultSetBuiltInCode) {
  Recordset values;
  values.AppendColumn("Code", FieldType::kText, 255, kFieldKeyColumn);
  values.AppendColumn("Description", FieldType::kText, 255, kFieldMayBeNull);
  values.Open();
  EXPECT_TRUE(values.AtEOF());
  for (int code = 0; code < 3; ++code) {
    values.AddNew();
    values.SetField("Code", std::to_string(code));
    values.SetField(1, "Value " + std::to_string(code));
  }
  // Left on the last row added.
  EXPECT_EQ(values.RecordCount(), 3);
  EXPECT_EQ(values.Position(), 2);
  EXPECT_EQ(ToText(values.Field("code")), "2");
  values.MoveFirst();
  EXPECT_EQ(ToText(values.Field("Description")), "Value 0");
  EXPECT_EQ(CaptureError([&] { values.AppendColumn("Late", FieldType::kText, 1, 0); }).number(), kInvalidArgument);
  Recordset closed;
  EXPECT_EQ(CaptureError([&] { closed.AddNew(); }).number(), kInvalidArgument);
}

}  // namespace
}  // namespace ledgerkit
