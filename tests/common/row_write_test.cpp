// Writes made from catalog columns: the SQL RowWrite makes, the kinds and widths it takes from
// the catalog, and what it refuses.
#include <gtest/gtest.h>

#include <string>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/RowWrite.h"
#include "entities/Catalog.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawScalar;
using testing::TempCompany;

TEST(RowWrite, InsertsUpdatesAndDeletesByCatalogColumns) {
  TempCompany company;
  auto insert = RowWrite::Of<db::ACAccount>();
  insert.Set(db::ACAccount::Parent, 1).Set(db::ACAccount::AccountNumber, "1000").Set(db::ACAccount::Name, "Bank");
  insert.Set(db::ACAccount::Balance, Currency::FromScaled(12345));
  const Variant key = insert.Insert(company.account());
  ASSERT_EQ(key.type(), VarType::kLong);
  const std::string where = " FROM ACAccount WHERE ACAccountID=" + std::to_string(key.AsLong());
  EXPECT_EQ(RawScalar(company.path(), "SELECT AccountNumber || '|' || Name || '|' || Balance" + where), "1000|Bank|12345");

  auto rename = RowWrite::Of<db::ACAccount>();
  rename.Set(db::ACAccount::Name, "Cash").Where(db::ACAccount::ACAccountID, key);
  EXPECT_EQ(rename.Update(company.account()), 1);
  EXPECT_EQ(RawScalar(company.path(), "SELECT Name" + where), "Cash");

  auto remove = RowWrite::Of<db::ACAccount>();
  remove.Where(db::ACAccount::ACAccountID, key).Where(db::ACAccount::Name, "Cash");
  EXPECT_EQ(remove.Delete(company.account()), 1);
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*)" + where), "0");
}

TEST(RowWrite, RefusesWhatTheCatalogDoesNotAllowAndWritesNothing) {
  TempCompany company;
  const std::string count = "SELECT COUNT(*) FROM ACAccount";
  // A text longer than its column's width, named by the column or by the label given.
  auto too_long = RowWrite::Of<db::ACAccount>();
  too_long.Set(db::ACAccount::AccountNumber, std::string(lenACAccount::lenAccountNumber + 1, '9'));
  Error error = CaptureError([&] { too_long.Insert(company.account()); });
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_NE(error.description().find("AccountNumber"), std::string::npos) << error.description();
  auto labelled = RowWrite::Of<db::ISubscriberLocation>();
  labelled.Set(db::ISubscriberLocation::Fax, std::string(lenISubscriberLocation::lenFax + 1, '5'), "FAX");
  labelled.Where(db::ISubscriberLocation::IsPrimary, true);
  error = CaptureError([&] { labelled.Update(company.account()); });
  EXPECT_NE(error.description().find("FAX"), std::string::npos) << error.description();

  // A link is a key: a fractional value names no row and is refused, never rounded.
  auto fractional = RowWrite::Of<db::ACAccount>();
  fractional.Set(db::ACAccount::Parent, 1.5).Set(db::ACAccount::Name, "Half");
  EXPECT_EQ(CaptureError([&] { fractional.Insert(company.account()); }).number(), kTypeMismatch);

  // A change without a condition would touch every row of the table.
  auto everything = RowWrite::Of<db::ACAccount>();
  everything.Set(db::ACAccount::Name, "All");
  EXPECT_EQ(CaptureError([&] { everything.Update(company.account()); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { everything.Delete(company.account()); }).number(), kInvalidArgument);
  EXPECT_EQ(RawScalar(company.path(), count), "0");
}

TEST(RowWrite, CommandBindTakesKindAndWidthFromTheColumn) {
  TempCompany company;
  Command command(company.account());
  // The engine's name for the type of the third value as bound: the dialect's expression with
  // a marker where its column stands.
  const std::string type_of = command.Dialect().StoredTypeExpression("@");
  const size_t at = type_of.find('@');
  command.SetText(
      Sql("SELECT ", kValue, ", ", kValue, ", ", type_of.substr(0, at), kValue, type_of.substr(at + 1), ";"));
  command.Bind(db::ACTransaction::Withdrawal, "12.3456");
  command.Bind(db::ACTransaction::Reconciled, "True");
  command.Bind(db::ACTransLog::TransactionDate, "2026-01-02");
  const auto row = command.ExecuteQuery();
  EXPECT_EQ(row->Field(0).AsLong(), 123456);
  EXPECT_EQ(row->Field(1).AsLong(), 1);
  EXPECT_EQ(ToText(row->Field(2)), "text");
}

}  // namespace
}  // namespace ledgerkit
