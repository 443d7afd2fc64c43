// The bridge answering by value, as a web client drives it: results come whole and nothing is
// held unless asked, held objects are charged against a byte budget, secret columns read blank,
// and no error description carries more than a bounded piece of a caller's value.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "automation/RpcBridge.h"
#include "entities/Schema.h"
#include "ledger/CACMgr.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;

std::string Request(const Json& id, const std::string& method, Json params, std::optional<bool> hold = std::nullopt) {
  Json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
  if (hold) request["hold"] = *hold;
  return request.dump();
}

Json Ask(RpcBridge& bridge, const std::string& line) {
  const auto response = bridge.HandleLine(line);
  if (!response) {
    ADD_FAILURE() << "no answer to " << line.substr(0, 200);
    return Json();
  }
  return Json::parse(*response);
}

Json ValueOf(const Json& response) {
  if (!response.contains("result")) {
    ADD_FAILURE() << "expected a result: " << response.dump().substr(0, 400);
    return Json();
  }
  return response["result"]["value"];
}

std::string MessageOf(const Json& response) {
  if (!response.contains("error")) {
    ADD_FAILURE() << "expected an error: " << response.dump().substr(0, 400);
    return "";
  }
  return response["error"].value("message", std::string());
}

// A company file with alice (a secret password) and two accounts.
struct Company {
  Company() : file((scratch.folder() / "byvalue.ldb").string()) {
    CreateSubscriberDatabase(file, "By Value Co", FirstUser{"alice", "s3cret-pw"});
    CACMgr ledger;
    const Variant type = ledger.AddAccountType(file, "alice", "", "Asset", "", false, 0);
    bank = ledger.AddAccount(file, "alice", "", "1000", "Bank", "", "", false, "", 0, type, 0).AsLong();
    ledger.AddAccount(file, "alice", "", "1100", "Cash", "", "", false, "", 0, type, 0);
  }
  testing::TempCompany scratch;
  std::string file;
  int64_t bank = 0;
};

TEST(RpcByValue, ASessionListsAccountsReadsARegisterAndHoldsOnlyWhatItAsks) {
  Company company;
  RpcLimits limits;
  limits.by_value = true;
  RpcBridge bridge(limits);

  const Json accounts = ValueOf(Ask(bridge, Request(1, "CACMgr.GetAllAccounts", {company.file, "alice", ""})));
  EXPECT_EQ(accounts.value("class", Json()), "Collection");
  EXPECT_FALSE(accounts.contains("$object"));
  ASSERT_EQ(accounts.value("count", Json()), 2) << accounts.dump();
  ASSERT_EQ(accounts["items"].size(), 2u);
  std::vector<std::string> names;
  for (const Json& item : accounts["items"]) {
    EXPECT_TRUE(item["key"].is_string());
    EXPECT_EQ(item["value"].value("class", Json()), "ACAccount");
    EXPECT_FALSE(item["value"].contains("$object"));
    names.push_back(item["value"]["properties"].value("Name", std::string()));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Bank", "Cash"}));
  EXPECT_EQ(bridge.HeldCount(), 0u);

  const Json empty = {{"$empty", true}};
  const Json report =
      ValueOf(Ask(bridge, Request(2, "CReportMgr.AccountRegister", {company.file, "alice", "", company.bank, empty, empty})));
  EXPECT_EQ(report.value("class", Json()), "Recordset");
  EXPECT_TRUE(report["columns"].is_array() && !report["columns"].empty()) << report.dump();
  EXPECT_TRUE(report["rows"].is_array());
  EXPECT_FALSE(report.contains("$object"));
  EXPECT_FALSE(report.contains("position")) << "a result set by value has no cursor";

  // Many calls later, still nothing held: a client that never releases is never refused.
  for (int i = 0; i < 50; ++i) Ask(bridge, Request(3, "CACMgr.GetAllAccounts", {company.file, "alice", ""}));
  EXPECT_EQ(bridge.HeldCount(), 0u);
  EXPECT_EQ(bridge.HeldBytes(), 0u);

  // Asked to hold, the result comes under handles as without by_value, and invoke works on it.
  const Json held = ValueOf(Ask(bridge, Request(4, "CACMgr.GetAllAccounts", {company.file, "alice", ""}, true)));
  ASSERT_TRUE(held.contains("$object")) << held.dump().substr(0, 400);
  EXPECT_TRUE(held["items"][0]["value"].contains("$object"));
  EXPECT_EQ(bridge.HeldCount(), 3u) << "the collection and its two accounts";
  EXPECT_GT(bridge.HeldBytes(), 0u);
  const Json count = Ask(bridge, Request(5, "invoke", {{"object", held["$object"]}, {"member", "Count"}}));
  EXPECT_EQ(ValueOf(count), 2);

  const Json not_a_truth =
      Ask(bridge, R"({"jsonrpc":"2.0","id":6,"method":"CACMgr.GetAllAccounts","params":[],"hold":"yes"})");
  EXPECT_NE(MessageOf(not_a_truth).find("\"hold\""), std::string::npos) << not_a_truth.dump();

  for (const Json& item : held["items"]) Ask(bridge, Request(7, "release", {item["value"]["$object"]}));
  Ask(bridge, Request(8, "release", {held["$object"]}));
  EXPECT_EQ(bridge.HeldCount(), 0u);
  EXPECT_EQ(bridge.HeldBytes(), 0u) << "releasing gives every byte back";
}

TEST(RpcByValue, TheByteBudgetRefusesClearlyHoldsNothingAndReleasingLetsTheNextIn) {
  Company company;
  // Measure what one held collection of the accounts is charged, then allow a little more.
  RpcBridge measuring;
  ValueOf(Ask(measuring, Request(1, "CACMgr.GetAllAccounts", {company.file, "alice", ""})));
  const size_t one = measuring.HeldBytes();
  ASSERT_GT(one, 0u);
  ASSERT_EQ(measuring.HeldCount(), 3u);

  RpcLimits limits;
  limits.max_held_bytes = one + one / 2;
  RpcBridge bridge(limits);
  const Json first = ValueOf(Ask(bridge, Request(2, "CACMgr.GetAllAccounts", {company.file, "alice", ""})));
  ASSERT_TRUE(first.contains("$object"));
  EXPECT_EQ(bridge.HeldBytes(), one);

  const Json refused = Ask(bridge, Request(3, "CACMgr.GetAllAccounts", {company.file, "alice", ""}));
  const std::string message = MessageOf(refused);
  EXPECT_EQ(refused["error"].value("code", 0), -32000);
  EXPECT_NE(message.find("max_held_bytes"), std::string::npos) << message;
  EXPECT_NE(message.find(std::to_string(limits.max_held_bytes)), std::string::npos) << message;
  EXPECT_EQ(bridge.HeldCount(), 3u) << "the refused call holds none of its objects";
  EXPECT_EQ(bridge.HeldBytes(), one);

  // A result set counts by its cells: a wide query does not fit where accounts did.
  const Json wide = Ask(bridge, Request(4, "CReportMgr.ExecReportQuery",
                                        {company.file, "SELECT '" + std::string(limits.max_held_bytes, 'w') + "' AS w"}));
  EXPECT_NE(MessageOf(wide).find("max_held_bytes"), std::string::npos);

  Ask(bridge, Request(5, "release", {first["$object"]}));
  for (const Json& item : first["items"]) Ask(bridge, Request(6, "release", {item["value"]["$object"]}));
  EXPECT_EQ(bridge.HeldBytes(), 0u);
  EXPECT_TRUE(Ask(bridge, Request(7, "CACMgr.GetAllAccounts", {company.file, "alice", ""})).contains("result"));
  EXPECT_EQ(bridge.HeldCount(), 3u);

  // By value, the budget is no bar to answers that hold nothing.
  limits.by_value = true;
  RpcBridge by_value(limits);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(Ask(by_value, Request(8, "CACMgr.GetAllAccounts", {company.file, "alice", ""})).contains("result"));
  }
  EXPECT_TRUE(Ask(by_value, Request(9, "CACMgr.GetAllAccounts", {company.file, "alice", ""}, true)).contains("result"));
  EXPECT_EQ(by_value.HeldBytes(), one) << "a held result is charged the same by value";
  EXPECT_NE(MessageOf(Ask(by_value, Request(10, "CACMgr.GetAllAccounts", {company.file, "alice", ""}, true)))
                .find("max_held_bytes"),
            std::string::npos);
  EXPECT_EQ(by_value.HeldCount(), 3u);
}

TEST(RpcByValue, BlankedPasswordsReadEmptyHeldOrByValue) {
  Company company;
  for (const bool by_value : {false, true}) {
    SCOPED_TRACE(by_value ? "by value" : "held");
    RpcLimits limits;
    limits.by_value = by_value;
    limits.blank_properties = {"password"};
    RpcBridge bridge(limits);
    const Json profile =
        ValueOf(Ask(bridge, Request(1, "CUserManager.GetUserProfile", {company.file, "alice", "", company.file, "alice"})));
    ASSERT_TRUE(profile.contains("properties")) << profile.dump();
    EXPECT_EQ(profile["properties"].value("Password", Json()), "");
    EXPECT_EQ(profile["properties"].value("UserName", Json()), "alice");

    const Json users = ValueOf(
        Ask(bridge, Request(2, "CReportMgr.ExecReportQuery", {company.file, "SELECT UserName, PASSWORD FROM IUser"})));
    ASSERT_EQ(users["rows"].size(), 1u) << users.dump();
    EXPECT_EQ(users["rows"][0], Json::array({"alice", ""}));
    if (!by_value) {
      // Reading the one column through the held result set is blanked as well.
      const Json field = Ask(bridge, Request(3, "invoke", {{"object", users["$object"]}, {"member", "Fields"}, {"args", {"Password"}}}));
      EXPECT_EQ(ValueOf(field), "");
      const Json direct = Ask(bridge, Request(4, "invoke", {{"object", profile["$object"]}, {"member", "Password"}}));
      EXPECT_EQ(ValueOf(direct), "");
    }
  }
  // Without the list the hash is shown, so the blanking above was the bridge's doing.
  RpcBridge plain;
  const Json shown =
      ValueOf(Ask(plain, Request(5, "CUserManager.GetUserProfile", {company.file, "alice", "", company.file, "alice"})));
  EXPECT_NE(shown["properties"].value("Password", std::string()), "");
}

TEST(RpcByValue, HugeCallerValuesAreQuotedBoundedInEveryError) {
  Company company;
  const std::string huge_account = company.scratch.folder().string() + "/" + std::string(5 << 20, 'a');
  const std::string huge_sql = "SELECT " + std::string(10 << 20, 'c') + " FROM ISubScriber";
  for (const bool by_value : {false, true}) {
    SCOPED_TRACE(by_value ? "by value" : "held");
    RpcLimits limits;
    limits.by_value = by_value;
    RpcBridge bridge(limits);

    const auto missing = bridge.HandleLine(Request(1, "CACMgr.GetAllAccounts", {huge_account, "alice", ""}));
    ASSERT_TRUE(missing.has_value());
    EXPECT_LT(missing->size(), 10'000u);
    const std::string open_message = MessageOf(Json::parse(*missing));
    EXPECT_NE(open_message.find(std::to_string(huge_account.size()) + " characters"), std::string::npos) << open_message;

    const auto column = bridge.HandleLine(Request(2, "CReportMgr.ExecReportQuery", {company.file, huge_sql}));
    ASSERT_TRUE(column.has_value());
    EXPECT_LT(column->size(), 10'000u);
    const std::string column_message = MessageOf(Json::parse(*column));
    EXPECT_LE(column_message.size(), 800u) << column_message;
    EXPECT_NE(column_message.find("no such column"), std::string::npos) << column_message;
    EXPECT_EQ(bridge.HeldCount(), 0u);
  }

  // The command line bridge bounds them too.
  const std::string line = Request(3, "CACMgr.GetAllAccounts", {huge_account, "alice", ""});
  const testing::CliRun run = testing::RunLedgerkit(company.scratch.folder(), "rpc --by-value", line + "\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_LT(run.out.size(), 10'000u);
  EXPECT_NE(run.out.find("\"error\""), std::string::npos) << run.out.substr(0, 400);
}

}  // namespace
}  // namespace ledgerkit
