// The enumeration classes, created by name and called both typed and late-bound.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ledgerkit/automation/ClassRegistry.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/enums/EnumerationClass.h"
#include "support/Capture.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;

std::shared_ptr<EnumerationClass> CreateEnumeration(std::string_view name) {
  auto enumeration = std::dynamic_pointer_cast<EnumerationClass>(CreateObject(name));
  EXPECT_NE(enumeration, nullptr) << name << " is not an enumeration class";
  return enumeration;
}

bool IsValid(EnumerationClass& enumeration, const Variant& value) {
  std::vector<Variant> args{value};
  const Variant late = enumeration.Invoke("IsValidValue", args);
  const bool typed = enumeration.IsValidValue(value);
  EXPECT_EQ(late, Variant(typed)) << "late-bound and typed calls disagree";
  return typed;
}

TEST(EnumerationClasses, GetAllValuesListsEveryMemberAsCodeAndDescriptionText) {
  const struct {
    const char* class_name;
    std::vector<std::string> descriptions;
  } cases[] = {
      {"eTransTypeEnm",
       {"CHQ", "GENJRNL", "RCPT", "BILLPMT", "LIABCHQ", "ITEMRCPT", "PAYCHQ", "DEP", "PMT", "INV", "INVADJ", "BILL",
        "CC"}},
      {"eTransLogStatusEnm", {"In Progress", "Committed", "Aborted"}},
      {"eBalanceSheetTypeEnm", {"Asset", "Liability", "Equity", "Income", "Expense"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.class_name);
    auto enumeration = CreateEnumeration(c.class_name);
    ASSERT_NE(enumeration, nullptr);
    EXPECT_EQ(enumeration->ClassName(), c.class_name);
    const std::shared_ptr<Recordset> values = enumeration->GetAllValues();
    ASSERT_NE(values, nullptr);
    EXPECT_TRUE(values->IsOpen());

    ASSERT_EQ(values->Columns().size(), 2u);
    EXPECT_EQ(values->Columns()[0].name, "Code");
    EXPECT_EQ(values->Columns()[1].name, "Description");
    for (const FieldInfo& column : values->Columns()) {
      EXPECT_EQ(column.type, FieldType::kText) << column.name;
      EXPECT_EQ(column.defined_size, 255) << column.name;
    }

    ASSERT_EQ(values->RecordCount(), static_cast<int32_t>(c.descriptions.size()));
    for (size_t i = 0; i < c.descriptions.size(); ++i) {
      EXPECT_EQ(values->Rows()[i][0], Variant(std::to_string(i))) << "row " << i;
      EXPECT_EQ(values->Rows()[i][1], Variant(c.descriptions[i])) << "row " << i;
    }

    // Left on its last row, not at the end: the current row is readable.
    EXPECT_EQ(values->Position(), static_cast<int64_t>(c.descriptions.size()) - 1);
    ASSERT_FALSE(values->AtEOF());
    EXPECT_EQ(values->Field("Description"), Variant(c.descriptions.back()));
  }
}

TEST(EnumerationClasses, EachObjectKeepsOneValuesTable) {
  auto first = CreateEnumeration("eTransTypeEnm");
  auto second = CreateEnumeration("eTransTypeEnm");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  const std::shared_ptr<Recordset> values = first->GetAllValues();
  EXPECT_EQ(first->GetAllValues(), values);
  std::vector<Variant> none;
  const Variant late = first->Invoke("GetAllValues", none);
  ASSERT_TRUE(late.IsObject());
  EXPECT_EQ(late.AsObject(), std::static_pointer_cast<Dispatch>(values));

  const std::shared_ptr<Recordset> others = second->GetAllValues();
  EXPECT_NE(others, values);
  EXPECT_EQ(others->Rows(), values->Rows());
}

TEST(EnumerationClasses, IsValidValueComparesTheValueAsTextWithEachCode) {
  auto trans_types = CreateEnumeration("eTransTypeEnm");
  auto statuses = CreateEnumeration("eTransLogStatusEnm");
  auto sheet_types = CreateEnumeration("eBalanceSheetTypeEnm");
  ASSERT_TRUE(trans_types && statuses && sheet_types);

  EXPECT_TRUE(IsValid(*trans_types, 12));
  EXPECT_TRUE(IsValid(*trans_types, 0));
  EXPECT_FALSE(IsValid(*trans_types, 13));
  EXPECT_FALSE(IsValid(*statuses, 12));
  EXPECT_TRUE(IsValid(*statuses, 2));

  EXPECT_TRUE(IsValid(*sheet_types, 3));
  EXPECT_TRUE(IsValid(*sheet_types, 3.0));
  EXPECT_TRUE(IsValid(*sheet_types, "3"));
  EXPECT_TRUE(IsValid(*sheet_types, Variant::Integer(4)));
  EXPECT_FALSE(IsValid(*sheet_types, "03"));
  EXPECT_FALSE(IsValid(*sheet_types, " 3"));
  EXPECT_FALSE(IsValid(*sheet_types, "3 "));
  EXPECT_FALSE(IsValid(*sheet_types, 3.5));
  EXPECT_FALSE(IsValid(*sheet_types, 5));
  EXPECT_FALSE(IsValid(*sheet_types, -1));
  EXPECT_FALSE(IsValid(*sheet_types, "Asset"));
  EXPECT_FALSE(IsValid(*sheet_types, Variant()));
}

TEST(EnumerationClasses, IsValidValueLeavesTheValuesTableAfterTheMatchOrAtTheEnd) {
  auto sheet_types = CreateEnumeration("eBalanceSheetTypeEnm");
  ASSERT_NE(sheet_types, nullptr);
  const std::shared_ptr<Recordset> values = sheet_types->GetAllValues();

  ASSERT_TRUE(sheet_types->IsValidValue(1));
  EXPECT_EQ(values->Position(), 2);
  EXPECT_EQ(values->Field("Code"), Variant("2"));

  ASSERT_TRUE(sheet_types->IsValidValue(4));
  EXPECT_TRUE(values->AtEOF());

  ASSERT_TRUE(sheet_types->IsValidValue(0));  // searches from the first row again
  EXPECT_EQ(values->Position(), 1);

  ASSERT_FALSE(sheet_types->IsValidValue(7));
  EXPECT_TRUE(values->AtEOF());
  EXPECT_EQ(values->Position(), 5);
  EXPECT_EQ(sheet_types->GetAllValues(), values);
}

TEST(EnumerationClasses, IsValidValueOfNullFailsWithItsDiagnosticBlock) {
  auto sheet_types = CreateEnumeration("eBalanceSheetTypeEnm");
  ASSERT_NE(sheet_types, nullptr);
  const std::string block =
      "VantorINV::eBalanceSheetType::IsValidValue\r\nError#:      94\r\nSource:      ledgerkit\r\nDescription: ";

  const Error typed = CaptureError([&] { sheet_types->IsValidValue(Variant::Null()); });
  EXPECT_EQ(typed.number(), kInvalidUseOfNull);
  EXPECT_EQ(typed.source(), "ledgerkit");
  EXPECT_EQ(typed.description().substr(0, block.size()), block);
  EXPECT_GT(typed.description().size(), block.size());
  EXPECT_EQ(typed.description().find("VantorINV::", 1), std::string::npos) << "one block only";

  std::vector<Variant> args{Variant::Null()};
  const Error late = CaptureError([&] { sheet_types->Invoke("isvalidvalue", args); });
  EXPECT_EQ(late.number(), kInvalidUseOfNull);
  EXPECT_EQ(late.description(), typed.description());

  auto trans_types = CreateEnumeration("eTransTypeEnm");
  ASSERT_NE(trans_types, nullptr);
  const Error other = CaptureError([&] { trans_types->IsValidValue(Variant::Null()); });
  EXPECT_EQ(other.description().rfind("VantorINV::eTransType::IsValidValue\r\n", 0), 0u) << other.description();
}

}  // namespace
}  // namespace ledgerkit
