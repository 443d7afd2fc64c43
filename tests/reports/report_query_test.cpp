// CReportMgr: a caller's own statement, run as given.
#include <gtest/gtest.h>

#include "common/Convert.h"
#include "common/ErrorConvention.h"
#include "reports/CReportMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

TEST(ReportQuery, SelectAllAccountsGivesEveryColumnWithMoneyExact) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance,Inactive) VALUES "
                    "(1,'1000','Bank',-1234567890123456,0),(1,'4000','Sales',1,1);"),
            "");
  CReportMgr reports;
  auto result = reports.ExecReportQuery(company.account(), "SELECT * FROM ACAccount ORDER BY AccountNumber");
  ASSERT_EQ(result->RecordCount(), 2);
  ASSERT_EQ(result->Columns().size(), 12u);
  EXPECT_EQ(result->Columns()[8].name, "Balance");
  EXPECT_EQ(result->Columns()[8].type, FieldType::kCurrency);
  EXPECT_EQ(ToText(result->Field("Balance")), "-123456789012.3456");
  EXPECT_EQ(result->Field("Inactive"), Variant(false));
  result->MoveNext();
  EXPECT_EQ(result->Field("Balance"), Variant(Currency::FromScaled(1)));
  EXPECT_EQ(result->Field("Name"), Variant("Sales"));
}

TEST(ReportQuery, FailuresArriveWithTheirNumberAndTheMarkerOnce) {
  TempCompany company;
  CReportMgr reports;
  const Error syntax = CaptureError([&] { reports.ExecReportQuery(company.account(), "SELEC * FROM ACAccount"); });
  EXPECT_EQ(syntax.number(), static_cast<int32_t>(0x80050001u));
  EXPECT_EQ(syntax.source(), "SQLite");
  EXPECT_EQ(Occurrences(syntax.description(), kErrorMarker), 1);
  EXPECT_EQ(syntax.description().substr(0, 6), "near \"");

  const Error null_sql = CaptureError([&] { reports.ExecReportQuery(company.account(), Variant::Null()); });
  EXPECT_EQ(null_sql.number(), kInvalidUseOfNull);
  EXPECT_EQ(Occurrences(null_sql.description(), kErrorMarker), 1);

  const Error no_table = CaptureError([&] { reports.ExecReportQuery(company.account(), "SELECT * FROM Nowhere"); });
  EXPECT_NE(no_table.description().find("no such table: Nowhere"), std::string::npos);
}

TEST(ReportQuery, EmptyResultsAndWritesAreNotErrors) {
  TempCompany company;
  CReportMgr reports;
  auto none = reports.ExecReportQuery(company.account(), "SELECT * FROM ACInvoice WHERE Paid=1");
  EXPECT_TRUE(none->IsOpen());
  EXPECT_TRUE(none->AtEOF());
  EXPECT_EQ(none->Columns().size(), 11u);

  auto update = reports.ExecReportQuery(company.account(), "UPDATE ISubScriber SET AccountNo='A-1'");
  EXPECT_FALSE(update->IsOpen());
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNo FROM ISubScriber"), "A-1");
}

}  // namespace
}  // namespace ledgerkit
