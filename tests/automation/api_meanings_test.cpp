// The meanings of the public names: every class, member, argument and entity property has one,
// every entry names something the API has, and the bounds they state are the ones calls hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "automation/ApiClasses.h"
#include "automation/ApiDescription.h"
#include "automation/ApiMeanings.h"
#include "ledgerkit/automation/ClassRegistry.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/common/Recordset.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::ordered_json;

// Every class a caller meets with its members: the creatable ones, then Collection and Recordset.
struct ClassMembers {
  std::string name;
  std::vector<MemberEntry> members;
};

std::vector<ClassMembers> PublicClasses() {
  std::vector<ClassMembers> classes;
  auto add = [&](const Dispatch& object) {
    const auto entries = object.Members().entries();
    classes.push_back({std::string(object.ClassName()), {entries.begin(), entries.end()}});
  };
  for (const std::string& name : CreatableClassNames()) add(*CreateObject(name));
  add(EntityCollection());
  add(Recordset());
  return classes;
}

const Json& Api() {
  static const Json api = Json::parse(DescribeApiJson());
  return api;
}

const ColumnDef* CatalogColumn(std::string_view table, std::string_view column) {
  return FindSchemaColumn(table, column);
}

bool CatalogTable(std::string_view table) {
  return std::any_of(SchemaTables().begin(), SchemaTables().end(), [&](const TableDef& def) { return def.name == table; });
}

// The widest text column of any table called `name`, or 0: a text argument of that name is
// presumably stored there and so bounded.
int32_t WidestTextColumnNamed(std::string_view name) {
  int32_t widest = 0;
  for (const TableDef& def : SchemaTables()) {
    for (const ColumnDef& column : def.columns) {
      if (column.name == name && column.kind == FieldType::kText) widest = std::max(widest, column.width);
    }
  }
  return widest;
}

// Text arguments named like a bounded column that the code only looks up or does not consult:
// they carry no bound.
const std::set<std::string> kUnboundedLookups = {"Account", "Token", "UserName", "TransactionNumber",
                                                 "ProfileUserName"};

// The bound a text argument states: its column's width, or its own width.
int32_t StatedWidth(const ArgumentMeaning& meaning) {
  if (meaning.width > 0) return meaning.width;
  const size_t dot = meaning.of.find('.');
  if (dot == std::string_view::npos) return 0;
  const ColumnDef* column = CatalogColumn(meaning.of.substr(0, dot), meaning.of.substr(dot + 1));
  return column == nullptr ? 0 : column->width;
}

TEST(ApiMeanings, EveryPublicNameHasAMeaning) {
  for (const ClassMembers& type : PublicClasses()) {
    const ClassMeaning* about = FindClassMeaning(type.name);
    EXPECT_TRUE(about != nullptr && !about->meaning.empty()) << "class " << type.name << " has no meaning";
    for (const MemberEntry& entry : type.members) {
      const std::string where = type.name + "." + std::string(entry.name);
      const MemberMeaning* member = FindMemberMeaning(type.name, entry.name);
      if (member == nullptr || member->meaning.empty()) {
        ADD_FAILURE() << where << " has no meaning";
        continue;
      }
      EXPECT_EQ(member->returns.empty(), entry.returns == "nothing")
          << where << " returns " << entry.returns << " but its meaning says \"" << member->returns << "\"";
      for (size_t i = 0; i < entry.arguments.size(); ++i) {
        const std::string argument(entry.arguments[i]);
        const ArgumentMeaning* meaning = FindArgumentMeaning(type.name, entry.name, argument);
        if (meaning == nullptr || meaning->meaning.empty()) {
          ADD_FAILURE() << where << " argument " << argument << " has no meaning";
          continue;
        }
        const bool written_back = (entry.written_back & (1u << i)) != 0;
        EXPECT_EQ(meaning->written_back_meaning, written_back) << where << " argument " << argument;
        if (meaning->kind == ValueKind::kText && StatedWidth(*meaning) == 0 && !kUnboundedLookups.contains(argument)) {
          EXPECT_EQ(WidestTextColumnNamed(argument), 0)
              << where << " argument " << argument << " is stored in a bounded column but states no bound";
        }
      }
    }
  }
  for (const Json& entity : Api()["entities"]) {
    const std::string name = entity["name"];
    EXPECT_NE(FindClassMeaning(name), nullptr) << "entity class " << name << " has no meaning";
    for (const Json& property : entity["properties"]) {
      const PropertyMeaning* meaning = FindPropertyMeaning(name, property["name"].get<std::string>());
      EXPECT_TRUE(meaning != nullptr && !meaning->meaning.empty())
          << name << "." << property["name"].get<std::string>() << " has no meaning";
    }
  }
}

TEST(ApiMeanings, EveryEntryNamesWhatTheApiHas) {
  const std::vector<ClassMembers> classes = PublicClasses();
  auto member_of = [&](std::string_view type, std::string_view member) -> const MemberEntry* {
    for (const ClassMembers& each : classes) {
      if (each.name != type) continue;
      for (const MemberEntry& entry : each.members) {
        if (entry.name == member) return &entry;
      }
    }
    return nullptr;
  };
  std::set<std::string> enumerations, entity_names, argument_names;
  for (const Json& enumeration : Api()["enumerations"]) enumerations.insert(enumeration["name"].get<std::string>());
  for (const Json& entity : Api()["entities"]) entity_names.insert(entity["name"].get<std::string>());
  for (const ClassMembers& each : classes) {
    for (const MemberEntry& entry : each.members) {
      for (std::string_view argument : entry.arguments) argument_names.emplace(argument);
    }
  }
  std::set<int32_t> error_numbers;
  for (const LibraryErrorInfo& error : kLibraryErrors) {
    if (error.text != kNotRaised) error_numbers.insert(error.number);
  }
  for (const RuntimeErrorInfo& error : kRuntimeErrors) error_numbers.insert(static_cast<int32_t>(error.number));

  auto check_argument = [&](const ArgumentMeaning& meaning, const std::string& where) {
    switch (meaning.kind) {
      case ValueKind::kText:
        if (!meaning.of.empty()) {
          const size_t dot = meaning.of.find('.');
          const ColumnDef* column = dot == std::string_view::npos
                                        ? nullptr
                                        : CatalogColumn(meaning.of.substr(0, dot), meaning.of.substr(dot + 1));
          EXPECT_TRUE(column != nullptr && column->kind == FieldType::kText && column->width > 0)
              << where << ": " << meaning.of << " is no bounded text column";
        }
        break;
      case ValueKind::kKey:
      case ValueKind::kKeyList:
        EXPECT_TRUE(CatalogTable(meaning.of)) << where << ": " << meaning.of << " is no table";
        break;
      case ValueKind::kEnumeration:
        EXPECT_NE(enumerations.contains(std::string(meaning.of)), !meaning.values.empty())
            << where << " needs either a published enumeration or its own values";
        break;
      default: EXPECT_TRUE(meaning.of.empty()) << where << " names " << meaning.of << " for a kind that takes none";
    }
  };

  for (const ArgumentMeaning& common : CommonArguments()) {
    EXPECT_TRUE(argument_names.contains(std::string(common.name))) << "no member takes " << common.name;
    check_argument(common, std::string(common.name));
  }
  for (const MemberMeaning& meaning : MemberMeanings()) {
    const std::string where = std::string(meaning.class_name) + "." + std::string(meaning.member);
    const MemberEntry* entry = member_of(meaning.class_name, meaning.member);
    if (entry == nullptr) {
      ADD_FAILURE() << where << " is no member";
      continue;
    }
    for (const ArgumentMeaning& own : meaning.arguments) {
      EXPECT_NE(std::find(entry->arguments.begin(), entry->arguments.end(), own.name), entry->arguments.end())
          << where << " takes no argument " << own.name;
      check_argument(own, where + " " + std::string(own.name));
    }
    for (const auto& [number, when] : meaning.errors) {
      const bool engine = static_cast<uint32_t>(number) >= kEngineErrorBase &&
                          static_cast<uint32_t>(number) < kEngineErrorBase + 0x10000u;
      EXPECT_TRUE(engine || error_numbers.contains(number)) << where << " lists error " << number << ", which is no raised error";
      EXPECT_EQ(when.substr(0, 5), "when ") << where;
    }
  }
  for (const PropertyMeaning& property : PropertyMeanings()) {
    const Json* found = nullptr;
    for (const Json& entity : Api()["entities"]) {
      if (entity["name"] != property.entity) continue;
      for (const Json& each : entity["properties"]) {
        if (each["name"] == property.property) found = &each;
      }
    }
    EXPECT_NE(found, nullptr) << property.entity << "." << property.property << " is no property";
    EXPECT_TRUE(property.enumeration.empty() || enumerations.contains(std::string(property.enumeration)))
        << property.entity << "." << property.property << " names no enumeration " << property.enumeration;
  }
  for (const ClassMeaning& type : ClassMeanings()) {
    EXPECT_TRUE(entity_names.contains(std::string(type.name)) ||
                std::any_of(classes.begin(), classes.end(), [&](const ClassMembers& each) { return each.name == type.name; }))
        << type.name << " is no class";
  }
}

// The stated bound is the one a call holds: as many characters as it states are stored, one more
// is refused with Invalid argument and nothing is stored.
TEST(ApiMeanings, TextBoundsAreTheOnesCallsHold) {
  testing::TempCompany company;
  CACMgr ledger;
  const Variant account = company.account();

  const int32_t codes = ledger.GetAllTaxCodes(account, "", "")->Count();
  const int32_t institutions = ledger.GetAllFnclInstitutions(account, "", "")->Count();
  const int32_t code_width = StatedWidth(*FindArgumentMeaning("CACMgr", "AddTaxCode", "TaxCode"));
  ASSERT_EQ(code_width, 1);
  ledger.AddTaxCode(account, "", "", std::string(code_width, 'G'), "", 13, "GST", false, 0, "", true, false, false, 0, 0);
  const Error long_code = testing::CaptureError([&] {
    ledger.AddTaxCode(account, "", "", std::string(code_width + 1, 'G'), "", 13, "GST", false, 0, "", true, false,
                      false, 0, 0);
  });
  EXPECT_EQ(long_code.number(), kInvalidArgument);
  EXPECT_EQ(ledger.GetAllTaxCodes(account, "", "")->Count(), codes + 1);

  const int32_t phone_width = StatedWidth(*FindArgumentMeaning("CACMgr", "AddFnclInstitution", "Telephone"));
  ASSERT_GT(phone_width, 0);
  ledger.AddFnclInstitution(account, "", "", "Bank", "", "", std::string(phone_width, '5'));
  const Error long_phone = testing::CaptureError(
      [&] { ledger.AddFnclInstitution(account, "", "", "Bank", "", "", std::string(phone_width + 1, '5')); });
  EXPECT_EQ(long_phone.number(), kInvalidArgument);
  EXPECT_EQ(ledger.GetAllFnclInstitutions(account, "", "")->Count(), institutions + 1);
}

// The error number a call fails with, or 0 when it succeeds.
template <class Call>
int32_t FailureOf(Call&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

// A date said to take Empty takes it, and one said to refuse it refuses it: the reports leave a
// date out with Empty, a transaction leaves its date out with Null.
TEST(ApiMeanings, EmptyDatesAreTakenWhereTheMeaningSaysSo) {
  testing::TempCompany company;
  const Variant account = company.account();
  auto takes_empty = [](std::string_view type, std::string_view member, std::string_view argument) {
    const ArgumentMeaning* meaning = FindArgumentMeaning(type, member, argument);
    return meaning != nullptr && !meaning->empty.empty();
  };

  CReportMgr reports;
  EXPECT_EQ(FailureOf([&] { reports.TrialBalance(account, "", "", Variant()); }) == 0,
            takes_empty("CReportMgr", "TrialBalance", "AsOfDate"));
  EXPECT_EQ(FailureOf([&] { reports.TrialBalance(account, "", "", ""); }), kTypeMismatch);

  CACMgr ledger;
  EXPECT_EQ(FailureOf([&] { ledger.BeginTransaction(account, "", "", 1, Variant(), "", 0, 0, "", "", ""); }) == 0,
            takes_empty("CACMgr", "BeginTransaction", "TransactionDate"));
  EXPECT_EQ(FailureOf([&] { ledger.BeginTransaction(account, "", "", 1, Variant::Null(), "", 0, 0, "", "", ""); }), 0);
  EXPECT_FALSE(FindArgumentMeaning("CACMgr", "BeginTransaction", "TransactionDate")->null.empty());
}

}  // namespace
}  // namespace ledgerkit
