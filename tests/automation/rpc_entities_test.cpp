// Entities, their object-valued properties and collections as the bridge shows them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "ledgerkit/automation/RpcBridge.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::ordered_json;

// One request through the bridge; the parsed response.
Json Call(RpcBridge& bridge, const std::string& method, const Json& params) {
  const Json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}};
  const auto line = bridge.HandleLine(request.dump());
  EXPECT_TRUE(line.has_value());
  return Json::parse(*line);
}

std::string Keys(const Json& object) {
  std::string keys;
  for (const auto& [key, value] : object.items()) keys += (keys.empty() ? "" : ",") + key;
  return keys;
}

TEST(RpcEntities, EntitiesShowTheirScalarPropertiesInOrderAndLoadLinksThroughInvoke) {
  testing::TempCompany scratch;
  const std::string file = (scratch.folder() / "bridge.ldb").string();
  CreateSubscriberDatabase(file, "Bridge Co", FirstUser{"alice", "pw"});
  CACMgr ledger;
  const Variant type = ledger.AddAccountType(file, "alice", "", "Bank", "", true, 0);
  ledger.AddAccount(file, "alice", "", "1000", "Bank", "", "", false, "", "", type, "");

  RpcBridge bridge;
  const Json company = Call(bridge, "CAccountMgr.GetAccountInfo", {file})["result"]["value"];
  EXPECT_EQ(company["class"], "ISubScriber");
  EXPECT_EQ(Keys(company["properties"]), "ISubScriberID,CompanyName,AccountNo,NextTransactionNumber");
  EXPECT_EQ(company["properties"]["CompanyName"], "Bridge Co");

  const Json users = Call(bridge, "invoke", {{"object", company["$object"]}, {"member", "Users"}, {"args", {file}}});
  const Json& collection = users["result"]["value"];
  EXPECT_EQ(collection["class"], "Collection");
  ASSERT_EQ(collection["count"], 1);
  EXPECT_EQ(collection["items"][0]["key"], "1");
  EXPECT_EQ(collection["items"][0]["value"]["class"], "IUser");
  EXPECT_EQ(collection["items"][0]["value"]["properties"]["UserName"], "alice");

  const Json account = Call(bridge, "CACMgr.GetAccount", {file, "alice", "", 1})["result"]["value"];
  EXPECT_EQ(Keys(account["properties"]),
            "ACAccountID,SubscriberID,AccountNumber,Name,Description,Note,Inactive,BankAccountNo,Balance,AccountTypeID,"
            "FnclInstitutionID,ParentAccountID");
  EXPECT_EQ(account["properties"]["Balance"], Json({{"$currency", "0"}}));
  EXPECT_EQ(account["properties"]["Inactive"], false);
  EXPECT_TRUE(account["properties"]["ParentAccountID"].is_null());

  const Json account_type =
      Call(bridge, "invoke", {{"object", account["$object"]}, {"member", "accounttype"}, {"args", {file}}});
  EXPECT_EQ(account_type["result"]["value"]["class"], "ACAccountType");
  EXPECT_EQ(account_type["result"]["value"]["properties"]["Name"], "Bank");
  // Loaded once: the same object under the same handle, whatever file is named later.
  const Json again = Call(bridge, "invoke",
                          {{"object", account["$object"]}, {"member", "AccountType"}, {"args", {scratch.MissingPath()}}});
  EXPECT_EQ(again["result"]["value"]["$object"], account_type["result"]["value"]["$object"]);
  // A null link is nothing; an object-valued property without its Account is an arity error.
  const Json parent = Call(bridge, "invoke", {{"object", account["$object"]}, {"member", "ParentAccount"}, {"args", {file}}});
  EXPECT_EQ(parent["result"]["value"], Json({{"$nothing", true}}));
  const Json no_args = Call(bridge, "invoke", {{"object", account["$object"]}, {"member", "AccountType"}, {"args", Json::array()}});
  EXPECT_EQ(no_args["error"]["code"], -32602);
  EXPECT_EQ(no_args["error"]["data"]["number"], 449);
}

}  // namespace
}  // namespace ledgerkit
