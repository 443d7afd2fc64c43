// The API description: complete against the member tables and the C++ declarations, true to
// what calls return, and stable from run to run; and the arity error that names the arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "automation/ApiDescription.h"
#include "ledgerkit/automation/ClassRegistry.h"
#include "ledgerkit/automation/RpcBridge.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "support/Capture.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::ordered_json;

const std::filesystem::path kSourceDir = std::filesystem::path(LEDGERKIT_TEST_DATA_DIR) / ".." / "..";

const Json& Find(const Json& list, const std::string& name) {
  for (const Json& item : list) {
    if (item["name"] == name) return item;
  }
  ADD_FAILURE() << name << " is not described";
  static const Json kNone = Json::object();
  return kNone;
}

std::vector<std::string> Names(const Json& arguments) { return arguments.get<std::vector<std::string>>(); }

// The parameter names of the first declaration of `method` in a header, comments left out.
std::vector<std::string> DeclaredParameters(const std::string& header, const std::string& method) {
  std::ifstream in(kSourceDir / header);
  std::stringstream text;
  text << in.rdbuf();
  const std::string code = std::regex_replace(text.str(), std::regex("//[^\n]*"), "");
  std::smatch declaration;
  EXPECT_TRUE(std::regex_search(code, declaration, std::regex("\\b" + method + "\\(([^)]*)\\)"))) << header << " " << method;
  std::vector<std::string> names;
  const std::string parameters = declaration[1];
  const std::regex parameter("(\\w+)\\s*(,|$)");
  for (auto it = std::sregex_iterator(parameters.begin(), parameters.end(), parameter); it != std::sregex_iterator(); ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

TEST(ApiDescription, EveryClassAndMemberIsDescribedAsItsTableAndItsDeclarationHaveIt) {
  const Json api = Json::parse(DescribeApiJson());
  const Json& classes = api["classes"];

  for (const std::string& name : CreatableClassNames()) {
    const Json& described = Find(classes, name);
    EXPECT_TRUE(described["creatable"].get<bool>()) << name;
    const auto& entries = CreateObject(name)->Members().entries();
    ASSERT_EQ(described["members"].size(), entries.size()) << name;
    for (size_t i = 0; i < entries.size(); ++i) {
      const Json& member = described["members"][i];
      EXPECT_EQ(member["name"], entries[i].name) << name;
      EXPECT_EQ(member["arguments"].size(), entries[i].arity) << name << "." << entries[i].name;
      EXPECT_EQ(Names(member["arguments"]), std::vector<std::string>(entries[i].arguments.begin(), entries[i].arguments.end()));
      EXPECT_FALSE(member["returns"].get<std::string>().empty()) << name << "." << entries[i].name;
    }
  }
  EXPECT_FALSE(Find(classes, "Collection")["creatable"].get<bool>());
  EXPECT_FALSE(Find(classes, "Recordset")["creatable"].get<bool>());

  // The argument names are the C++ parameter names, in order, of each manager's declaration.
  const std::pair<std::string, std::string> headers[] = {
      {"CACMgr", "include/ledgerkit/ledger/CACMgr.h"},           {"CAccountMgr", "include/ledgerkit/subscriber/CAccountMgr.h"},
      {"CUserManager", "include/ledgerkit/security/CUserManager.h"}, {"CSecurityMgr", "include/ledgerkit/security/CSecurityMgr.h"},
      {"CReportMgr", "include/ledgerkit/reports/CReportMgr.h"},   {"eTransTypeEnm", "include/ledgerkit/enums/EnumerationClass.h"},
  };
  for (const auto& [name, header] : headers) {
    for (const Json& member : Find(classes, name)["members"]) {
      EXPECT_EQ(Names(member["arguments"]), DeclaredParameters(header, member["name"]))
          << name << "." << member["name"].get<std::string>();
    }
  }

  // Every class a member or property returns is itself described.
  std::set<std::string> described;
  for (const Json& cls : classes) described.insert(cls["name"]);
  for (const Json& entity : api["entities"]) described.insert(entity["name"]);
  const std::set<std::string> values = {"nothing", "Variant", "Boolean", "Integer", "Long",
                                        "Double",  "String",  "Currency", "Date", "Object"};
  auto check_returns = [&](const Json& members, const std::string& owner) {
    for (const Json& member : members) {
      std::string returns = member["returns"];
      if (returns.rfind("Collection of ", 0) == 0) returns = returns.substr(14);
      EXPECT_TRUE(values.count(returns) || described.count(returns)) << owner << "." << member["name"] << ": " << returns;
    }
  };
  for (const Json& cls : classes) check_returns(cls["members"], cls["name"]);
  for (const Json& entity : api["entities"]) check_returns(entity["properties"], entity["name"]);
  EXPECT_EQ(api["entities"].size(), 13u);

  // The entity classes have their declared properties, in order, with Account for the
  // object-valued ones.
  const Json& account = Find(api["entities"], "ACAccount");
  EXPECT_EQ(account["properties"][0]["name"], "ACAccountID");
  EXPECT_EQ(account["properties"][0]["returns"], "Long");
  const Json& account_type = Find(account["properties"], "AccountType");
  EXPECT_EQ(Names(account_type["arguments"]), std::vector<std::string>{"Account"});
  EXPECT_EQ(account_type["returns"], "ACAccountType");
  EXPECT_EQ(Find(account["properties"], "Balance")["returns"], "Currency");
  EXPECT_EQ(Find(Find(api["entities"], "ISubScriber")["properties"], "Users")["returns"], "Collection of IUser");
}

TEST(ApiDescription, KnownSignaturesEnumerationsAndErrors) {
  const Json api = Json::parse(DescribeApiJson());
  const Json& ledger = Find(api["classes"], "CACMgr")["members"];
  // The two account operations take their links in different orders.
  const auto add = Names(Find(ledger, "AddAccount")["arguments"]);
  const auto update = Names(Find(ledger, "UpdateAccount")["arguments"]);
  ASSERT_EQ(add.size(), 12u);
  ASSERT_EQ(update.size(), 13u);
  EXPECT_EQ(std::vector<std::string>(add.begin() + 9, add.end()),
            (std::vector<std::string>{"ParentAccountID", "AccountTypeID", "FnclInstitutionID"}));
  EXPECT_EQ(std::vector<std::string>(update.begin() + 10, update.end()),
            (std::vector<std::string>{"FnclInstitutionID", "ParentAccountID", "AccountTypeID"}));
  EXPECT_EQ(Find(ledger, "BeginTransaction")["returns"], "String");
  EXPECT_EQ(Find(ledger, "EndTransaction")["returns"], "nothing");
  // InsertInvoice writes the number it gives back into InvoiceNo; nothing else is written back.
  EXPECT_EQ(Find(ledger, "InsertInvoice")["written_back"], Json::array({"InvoiceNo"}));
  EXPECT_EQ(Find(ledger, "UpdateInvoice")["written_back"], Json::array());
  EXPECT_EQ(Find(ledger, "GetAccount")["returns"], "ACAccount");
  EXPECT_EQ(Find(ledger, "GetTransactionsByTransNum")["returns"], "Collection of ACTransaction");
  EXPECT_EQ(Find(Find(api["classes"], "CReportMgr")["members"], "ExecReportQuery")["returns"], "Recordset");
  EXPECT_EQ(Find(Find(api["classes"], "Recordset")["members"], "EOF")["kind"], "property");
  EXPECT_EQ(Find(Find(api["classes"], "Recordset")["members"], "EOF")["returns"], "Boolean");

  const Json& types = Find(api["enumerations"], "eTransType");
  EXPECT_EQ(types["class"], "eTransTypeEnm");
  ASSERT_EQ(types["values"].size(), 13u);
  EXPECT_EQ(types["values"][9], (Json{{"name", "ttINV"}, {"value", 9}, {"description", "INV"}}));
  EXPECT_EQ(Find(api["enumerations"], "eTransLogStatus")["values"][2]["name"], "tlsABORTED");

  const Json& library = api["errors"]["library"];
  EXPECT_EQ(library.size(), std::size(kLibraryErrors));
  bool found = false;
  for (const Json& error : library) {
    if (error["enumeration"] == "errCSecurityMgr" && error["name"] == "eSessionExpired") {
      found = true;
      EXPECT_EQ(error["number"], -2147220503);
      EXPECT_EQ(error["hex"], "0x800403E9");
    }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(api["errors"]["runtime"].size(), std::size(kRuntimeErrors));
  EXPECT_EQ(api["errors"]["engine"]["hex"], "0x80050000");

  // The text described for an error is the text an operation fails with.
  testing::TempCompany company;
  CACMgr manager;
  const Error bad_type = testing::CaptureError(
      [&] { manager.BeginTransaction(company.account(), "", "", 99, "2024-01-01", "", 0, 0, "", "", ""); });
  EXPECT_EQ(bad_type.number(), errCACMgr::eBadTransType);
  for (const Json& error : library) {
    if (error["name"] == "eBadTransType") {
      EXPECT_NE(bad_type.description().find(error["text"].get<std::string>()), std::string::npos);
    }
  }
}

TEST(ApiDescription, CollectionsHoldTheClassTheyAreDescribedToHold) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "rows.ldb").string();
  CreateSubscriberDatabase(file, "Rows Co", FirstUser{"alice", "pw"});
  CACMgr ledger;
  const Variant type = ledger.AddAccountType(file, "alice", "", "Bank", "", true, 0);
  ledger.AddAccount(file, "alice", "", "1000", "Bank", "", "", false, "", "", type, "");
  ledger.AddFnclInstitution(file, "alice", "", "First Bank", "", "", "");
  ledger.AddTaxCode(file, "alice", "", "G", "GST", 5, "GST", false, 0, "", false, false, false, 0, 0);

  // Every collection member called with the caller's usual arguments: whatever rows it gives
  // are of the class the description names.
  const Json api = Json::parse(DescribeApiJson());
  int checked = 0;
  for (const std::string manager : {"CACMgr", "CUserManager"}) {
    const auto object = CreateObject(manager);
    for (const Json& member : Find(api["classes"], manager)["members"]) {
      const std::string returns = member["returns"];
      const auto arguments = Names(member["arguments"]);
      if (returns.rfind("Collection of ", 0) != 0) continue;
      std::vector<Variant> args = {file, "alice", ""};
      if (arguments.size() == 4 && arguments[3] == "IncludeInactive") args.push_back(true);
      if (args.size() != arguments.size()) continue;
      const Variant result = object->Invoke(member["name"].get<std::string>(), args);
      const auto collection = std::dynamic_pointer_cast<EntityCollection>(result.AsObject());
      ASSERT_NE(collection, nullptr) << member["name"];
      if (collection->Count() == 0) continue;
      EXPECT_EQ("Collection of " + std::string(collection->Item(1)->ClassName()), returns) << member["name"];
      ++checked;
    }
  }
  EXPECT_GE(checked, 5);
}

TEST(ApiDescription, RenderingsAreStableAndTheToolPrintsThem) {
  const std::string json = DescribeApiJson();
  EXPECT_EQ(Json::parse(json).dump(2) + "\n", json);
  EXPECT_EQ(DescribeApiJson(), json);
  EXPECT_EQ(DescribeApiText(), DescribeApiText());
  const std::string markdown = DescribeApiMarkdown();
  EXPECT_EQ(DescribeApiMarkdown(), markdown);
  const Json api = Json::parse(json);
  for (const Json& cls : api["classes"]) {
    EXPECT_NE(markdown.find("\n### " + cls["name"].get<std::string>() + "\n"), std::string::npos) << cls["name"];
  }
  // A member's arguments in order, each with its kind.
  const size_t add_account = markdown.find("\n#### CACMgr.AddAccount\n");
  ASSERT_NE(add_account, std::string::npos);
  EXPECT_LT(markdown.find("| 3 | AccountNumber | Text (at most ", add_account), markdown.find("\n#### ", add_account + 1));
  EXPECT_NE(DescribeApiText().find("  method ExecReportQuery(Account, sSQL) -> Recordset\n"), std::string::npos);

  testing::TempCompany scratch;
  const auto as_json = testing::RunLedgerkit(scratch.folder(), "describe --json");
  EXPECT_EQ(as_json.exit_code, 0);
  EXPECT_EQ(as_json.out, json);
  EXPECT_EQ(testing::RunLedgerkit(scratch.folder(), "describe").out, DescribeApiText());
  EXPECT_NE(testing::RunLedgerkit(scratch.folder(), "describe --json --markdown").exit_code, 0);

  // The script that writes docs/API.md gives the same reference on every run.
  const std::string tool_dir = std::filesystem::path(testing::CliPath()).parent_path().string();
  const std::string script = (kSourceDir / "scripts" / "api-doc.sh").string();
  const std::string command = testing::ShellQuote(script) + " " + testing::ShellQuote(tool_dir) + " > ";
  const auto first = scratch.folder() / "first.md";
  const auto second = scratch.folder() / "second.md";
  ASSERT_EQ(std::system((command + testing::ShellQuote(first.string())).c_str()), 0);
  ASSERT_EQ(std::system((command + testing::ShellQuote(second.string())).c_str()), 0);
  auto read = [](const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  EXPECT_EQ(read(first), markdown);
  EXPECT_EQ(read(second), markdown);
}

TEST(ApiDescription, WrongArgumentCountNamesTheArgumentsLateBoundAndOverTheBridge) {
  const auto ledger = CreateObject("CACMgr");
  std::vector<Variant> none;
  const Error error = testing::CaptureError([&] { ledger->Invoke("begintransaction", none); });
  EXPECT_EQ(error.number(), kWrongArgumentCount);
  EXPECT_EQ(error.description(),
            "CACMgr.BeginTransaction takes 11 arguments (Account, UserName, Token, TransType, TransactionDate, "
            "Description, AccountID, Amount, Address, Memo, ChequeNo); 0 given.");

  const auto enumeration = CreateObject("eTransTypeEnm");
  std::vector<Variant> two = {1, 2};
  EXPECT_EQ(testing::CaptureError([&] { enumeration->Invoke("IsValidValue", two); }).description(),
            "eTransTypeEnm.IsValidValue takes 1 argument (vntValue); 2 given.");
  std::vector<Variant> one = {1};
  EXPECT_EQ(testing::CaptureError([&] { enumeration->Invoke("GetAllValues", one); }).description(),
            "eTransTypeEnm.GetAllValues takes 0 arguments; 1 given.");

  RpcBridge bridge;
  const Json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "CSecurityMgr.BeginUserSession"}, {"params", {"x"}}};
  const Json answer = Json::parse(*bridge.HandleLine(request.dump()));
  EXPECT_EQ(answer["error"]["data"]["number"], 449);
  EXPECT_EQ(answer["error"]["message"], "CSecurityMgr.BeginUserSession takes 3 arguments (Account, UserName, Password); 1 given.");
}

}  // namespace
}  // namespace ledgerkit
