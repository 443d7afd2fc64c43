// Late-bound calls: CreateObject, Invoke by name, written-back arguments, result sets and
// collections reached through their member tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ledgerkit/automation/ClassRegistry.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/MemberTable.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::RawExec;
using testing::TempCompany;

// A class that writes its argument back, to see the new value reach a late-bound caller.
class Counter final : public Dispatch {
 public:
  std::string_view ClassName() const override { return "Counter"; }
  const MemberTable& Members() const override {
    static const MemberTable table{MethodMember<&Counter::Bump>("Bump", {"counter"})};
    return table;
  }
  void Bump(Variant& counter) { counter = ToLong(counter) + 1; }
};

Variant Call(Dispatch& object, std::string_view member, std::vector<Variant> args = {}) {
  return object.Invoke(member, args);
}

int32_t FailureNumber(Dispatch& object, std::string_view member, std::vector<Variant> args = {}) {
  return CaptureError([&] { object.Invoke(member, args); }).number();
}

TEST(LateBinding, MembersAreFoundWithoutRegardToCaseAndCheckedForArity) {
  auto enumeration = CreateObject("eBalanceSheetTypeEnm");
  const Variant values = Call(*enumeration, "getallvalues");
  ASSERT_TRUE(values.IsObject());
  EXPECT_EQ(values.AsObject()->ClassName(), "Recordset");
  EXPECT_EQ(Call(*enumeration, "GETALLVALUES").AsObject(), values.AsObject());
  EXPECT_EQ(Call(*enumeration, "ISVALIDVALUE", {4}), Variant(true));
  EXPECT_EQ(Call(*enumeration, "IsValidValue", {9}), Variant(false));

  EXPECT_EQ(FailureNumber(*enumeration, "IsValidValue"), kWrongArgumentCount);
  EXPECT_EQ(FailureNumber(*enumeration, "IsValidValue", {1, 2}), kWrongArgumentCount);
  EXPECT_EQ(FailureNumber(*enumeration, "GetAllValues", {1}), kWrongArgumentCount);

  EXPECT_EQ(FailureNumber(*enumeration, "NoSuchMember"), kNoSuchMember);
  EXPECT_EQ(FailureNumber(*enumeration, "GetAllValue"), kNoSuchMember);
  EXPECT_EQ(FailureNumber(*enumeration, "GetAllValuesX"), kNoSuchMember);
  EXPECT_EQ(FailureNumber(*enumeration, ""), kNoSuchMember);
  // An unknown member is refused before its arguments are looked at.
  EXPECT_EQ(FailureNumber(*enumeration, "NoSuchMember", {1, 2, 3}), kNoSuchMember);

  // Library-internal methods of a result set or collection are not reachable by name.
  auto recordset = values.AsObject();
  for (const char* internal : {"AddNew", "SetField", "Open", "AppendColumn", "LoadColumns", "AppendRow", "Field"}) {
    EXPECT_EQ(FailureNumber(*recordset, internal), kNoSuchMember) << internal;
  }
  EntityCollection collection;
  EXPECT_EQ(FailureNumber(collection, "Add", {"1", Variant::Nothing()}), kNoSuchMember);
  EXPECT_EQ(FailureNumber(collection, "Find", {"1"}), kNoSuchMember);
}

TEST(LateBinding, CreateObjectMakesOnlyTheCreatableClassesLetterCaseIgnored) {
  for (const char* refused : {"ACAccount", "Collection", "Recordset", "", "NoSuchClass", "eTransTypeEnm ", "eTransType",
                              "CReportMgr.ExecReportQuery"}) {
    const Error error = CaptureError([&] { CreateObject(refused); });
    EXPECT_EQ(error.number(), kCannotCreateObject) << '"' << refused << '"';
    EXPECT_EQ(error.source(), "ledgerkit");
  }

  EXPECT_EQ(CreateObject("ETRANSTYPEENM")->ClassName(), "eTransTypeEnm");
  EXPECT_EQ(CreateObject("ebalancesheettypeenm")->ClassName(), "eBalanceSheetTypeEnm");
  EXPECT_EQ(CreateObject("cReportMgr")->ClassName(), "CReportMgr");

  const std::vector<std::string> names = CreatableClassNames();
  for (const char* expected : {"CReportMgr", "eTransTypeEnm", "eBalanceSheetTypeEnm", "eTransLogStatusEnm"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  }
  for (const std::string& name : names) {
    const auto first = CreateObject(name);
    ASSERT_NE(first, nullptr) << name;
    EXPECT_EQ(first->ClassName(), name);
    EXPECT_NE(CreateObject(name), first) << name << ": each call gives a new instance";
  }
}

TEST(LateBinding, ByReferenceArgumentIsWrittenBack) {
  Counter counter;
  std::vector<Variant> args{41};
  EXPECT_EQ(counter.Invoke("bump", args), Variant());
  EXPECT_EQ(args[0], Variant(42));
  counter.Invoke("BUMP", args);
  EXPECT_EQ(args[0], Variant(43));

  args[0] = "9";
  counter.Invoke("Bump", args);
  EXPECT_EQ(args[0], Variant(10));

  args[0] = Variant::Null();
  EXPECT_EQ(CaptureError([&] { counter.Invoke("Bump", args); }).number(), kInvalidUseOfNull);
  EXPECT_TRUE(args[0].IsNull());
}

TEST(LateBinding, ReportResultSetIsWalkedThroughItsMembers) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES "
                    "(1,'1000','Bank',-125000),(1,'4000','Sales',0);"),
            "");
  auto reports = CreateObject("CReportMgr");
  const Variant result = Call(*reports, "ExecReportQuery",
                              {company.account(),
                               "SELECT AccountNumber, Name FROM ACAccount WHERE AccountNumber IN ('1000','4000') "
                               "ORDER BY AccountNumber"});
  ASSERT_TRUE(result.IsObject());
  Dispatch& rows = *result.AsObject();
  EXPECT_EQ(rows.ClassName(), "Recordset");

  EXPECT_EQ(Call(rows, "RecordCount"), Variant(2));
  EXPECT_EQ(Call(rows, "EOF"), Variant(false));
  EXPECT_EQ(Call(rows, "bof"), Variant(false));
  EXPECT_EQ(Call(rows, "Fields", {"Name"}), Variant("Bank"));
  EXPECT_EQ(Call(rows, "fields", {"accountnumber"}), Variant("1000"));
  EXPECT_EQ(Call(rows, "Fields", {0}), Variant("1000"));
  EXPECT_EQ(Call(rows, "Fields", {Variant::Integer(1)}), Variant("Bank"));
  EXPECT_EQ(FailureNumber(rows, "Fields", {"Balance"}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(rows, "Fields", {2}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(rows, "Fields", {-1}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(rows, "Fields"), kWrongArgumentCount);

  EXPECT_EQ(Call(rows, "MoveNext"), Variant());
  EXPECT_EQ(Call(rows, "Fields", {1}), Variant("Sales"));
  Call(rows, "movenext");
  EXPECT_EQ(Call(rows, "EOF"), Variant(true));
  EXPECT_EQ(FailureNumber(rows, "Fields", {0}), kNoCurrentRow);
  EXPECT_EQ(FailureNumber(rows, "MoveNext"), kNoCurrentRow);

  Call(rows, "MoveFirst");
  EXPECT_EQ(Call(rows, "EOF"), Variant(false));
  EXPECT_EQ(Call(rows, "Fields", {"Name"}), Variant("Bank"));

  const Variant none = Call(*reports, "ExecReportQuery", {company.account(), "SELECT Name FROM ACAccount WHERE 1=0"});
  EXPECT_EQ(Call(*none.AsObject(), "RecordCount"), Variant(0));
  EXPECT_EQ(Call(*none.AsObject(), "EOF"), Variant(true));
  EXPECT_EQ(Call(*none.AsObject(), "BOF"), Variant(true));
}

TEST(LateBinding, CollectionItemsByPositionOrKey) {
  EntityCollection empty;
  EXPECT_EQ(Call(empty, "Count"), Variant(0));
  EXPECT_EQ(FailureNumber(empty, "Item", {1}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(empty, "Item", {"1"}), kInvalidArgument);

  auto first = std::make_shared<Counter>();
  auto second = std::make_shared<Counter>();
  EntityCollection collection;
  collection.Add("42", first);
  collection.Add("7", second);

  EXPECT_EQ(Call(collection, "count"), Variant(2));
  EXPECT_EQ(Call(collection, "Item", {1}).AsObject(), first);
  EXPECT_EQ(Call(collection, "ITEM", {2}).AsObject(), second);
  EXPECT_EQ(Call(collection, "Item", {Variant::Integer(2)}).AsObject(), second);
  EXPECT_EQ(Call(collection, "Item", {"7"}).AsObject(), second);
  EXPECT_EQ(Call(collection, "Item", {"42"}).AsObject(), first);

  EXPECT_EQ(FailureNumber(collection, "Item", {0}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(collection, "Item", {3}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(collection, "Item", {-1}), kInvalidArgument);
  // A text is always a key, never a position.
  EXPECT_EQ(FailureNumber(collection, "Item", {"1"}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(collection, "Item", {"42 "}), kInvalidArgument);
  EXPECT_EQ(FailureNumber(collection, "Item"), kWrongArgumentCount);
}

}  // namespace
}  // namespace ledgerkit
