// The OpenRPC document against the API it describes: every method a caller can reach, its params
// as the member takes them, every reference resolvable, the same document from each place it is
// given.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "ledgerkit/automation/ClassRegistry.h"
#include "automation/OpenRpc.h"
#include "ledgerkit/automation/RpcBridge.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::ordered_json;

// Every "$ref" under `node`, with where it stands.
void CollectRefs(const Json& node, const std::string& at, std::vector<std::pair<std::string, std::string>>& refs) {
  if (node.is_object()) {
    if (node.contains("$ref") && node["$ref"].is_string()) refs.emplace_back(node["$ref"].get<std::string>(), at);
    for (const auto& [key, value] : node.items()) CollectRefs(value, at + "/" + key, refs);
  } else if (node.is_array()) {
    for (size_t i = 0; i < node.size(); ++i) CollectRefs(node[i], at + "/" + std::to_string(i), refs);
  }
}

TEST(OpenRpc, DescribesEveryMemberAsItIsCalledAndEveryReferenceResolves) {
  const Json document = OpenRpcDocument();
  EXPECT_EQ(document["openrpc"], "1.3.2");
  std::map<std::string, const Json*> methods;
  for (const Json& method : document["methods"]) {
    EXPECT_TRUE(methods.emplace(method["name"].get<std::string>(), &method).second) << method["name"] << " twice";
  }
  for (const char* own : {"create", "invoke", "release", "rpc.discover"}) EXPECT_TRUE(methods.contains(own)) << own;

  size_t members = 0;
  for (const std::string& class_name : CreatableClassNames()) {
    const auto object = CreateObject(class_name);
    for (const MemberEntry& entry : object->Members().entries()) {
      ++members;
      const std::string name = class_name + "." + std::string(entry.name);
      ASSERT_TRUE(methods.contains(name)) << name;
      const Json& method = *methods[name];
      ASSERT_EQ(method["params"].size(), entry.arguments.size()) << name;
      for (size_t i = 0; i < entry.arguments.size(); ++i) {
        EXPECT_EQ(method["params"][i]["name"], std::string(entry.arguments[i])) << name;
      }
      const Json& args = method["result"]["schema"]["properties"]["args"];
      EXPECT_EQ(args["maxItems"], entry.arguments.size()) << name;
      EXPECT_FALSE(method["errors"].empty()) << name;
      // An example gives every param, by the member's own names.
      for (const Json& example : method.value("examples", Json::array())) {
        ASSERT_EQ(example["params"].size(), entry.arguments.size()) << name;
        for (size_t i = 0; i < entry.arguments.size(); ++i) {
          EXPECT_EQ(example["params"][i]["name"], std::string(entry.arguments[i])) << name;
        }
      }
    }
  }
  EXPECT_EQ(methods.size(), members + 4);

  std::vector<std::pair<std::string, std::string>> refs;
  CollectRefs(document, "", refs);
  EXPECT_GT(refs.size(), members);
  std::set<std::string> missing;
  for (const auto& [ref, at] : refs) {
    const std::string prefix = "#/components/";
    ASSERT_TRUE(ref.starts_with(prefix)) << ref << " at " << at;
    const std::string rest = ref.substr(prefix.size());
    const std::string kind = rest.substr(0, rest.find('/'));
    const std::string target = rest.substr(rest.find('/') + 1);
    if (!document["components"][kind].contains(target)) missing.insert(ref + " (at " + at + ")");
  }
  EXPECT_TRUE(missing.empty()) << *missing.begin();

  // The same document from the command line and from rpc.discover.
  testing::TempCompany scratch;
  const auto printed = testing::RunLedgerkit(scratch.folder(), "describe --openrpc");
  EXPECT_EQ(printed.exit_code, 0);
  EXPECT_EQ(Json::parse(printed.out), document);
  RpcBridge bridge;
  const auto answer = bridge.HandleLine(R"({"jsonrpc":"2.0","id":1,"method":"rpc.discover"})");
  ASSERT_TRUE(answer);
  EXPECT_EQ(Json::parse(*answer)["result"], document);
}

}  // namespace
}  // namespace ledgerkit
