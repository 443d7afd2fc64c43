// The service's rules, driven in-process: what a clerk may see and do, what becomes of a session
// whose user is deleted or barred, and how guessing is counted whatever route it takes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "automation/Service.h"
#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/security/CUserManager.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;

class ServiceRules : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::OnPostgres()) GTEST_SKIP() << "the data folder is one of files";
    std::string pattern = (std::filesystem::temp_directory_path() / "ledgerkit-rules.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "acme.ldb").string();
    CreateSubscriberDatabase(path_, "Acme", FirstUser{"boss", "secret"});
    CUserManager users;
    users.AddUserProfile(path_, "boss", "", "clerk", "pw", "Carla", "Clerk", "C", Variant::Null(), false, "", true);
    ServiceOptions options;
    options.data_dir = dir_;
    service_ = std::make_unique<RpcService>(options);
  }

  void TearDown() override {
    service_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // The answer to one request, its HTTP-style status beside it as "status".
  Json Call(const std::string& token, const std::string& method, const Json& params, const std::string& client = "10.0.0.1") {
    const Json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}};
    const ServiceAnswer answer = service_->Handle(request.dump(), token, client);
    Json body = answer.body.empty() ? Json::object() : Json::parse(answer.body);
    body["status"] = answer.status;
    return body;
  }

  std::string Logon(const std::string& user, const std::string& password) {
    const Json answer = Call("", "CSecurityMgr.BeginUserSession", {"acme", user, password});
    EXPECT_EQ(answer["status"], 200) << answer;
    EXPECT_EQ(answer["result"]["args"][2], "") << "the password is not echoed";
    return answer["result"]["value"].get<std::string>();
  }

  std::string SessionsOf(const std::string& user) {
    return testing::RawScalar(path_, "SELECT count(*) FROM SysSessions WHERE UserName='" + user + "'");
  }

  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<RpcService> service_;
};

TEST_F(ServiceRules, AClerkSeesNoHashAndLosesTheSessionWithTheUser) {
  const std::string boss = Logon("boss", "secret");
  const std::string clerk = Logon("clerk", "pw");

  // Profiles come by value, the hashes blank; the company record is the administrator's.
  const Json profiles = Call(clerk, "CUserManager.GetSubscriberUserProfiles", {"acme", "", ""});
  ASSERT_EQ(profiles["status"], 200) << profiles;
  ASSERT_EQ(profiles["result"]["value"]["count"], 2);
  for (const Json& item : profiles["result"]["value"]["items"]) {
    EXPECT_EQ(item["value"]["properties"]["Password"], "") << item;
  }
  EXPECT_EQ(Call(clerk, "CAccountMgr.UpdateAccountBusinessInfo", {"acme", "Renamed", "", "", "", "", "", "", "", "", ""})["status"], 403);

  // Barred: the next call is refused and the rows go; the same for a deleted user.
  const Json id = Call(boss, "CUserManager.GetUserProfile", {"acme", "", "", "acme", "clerk"})["result"]["value"]["properties"]["IUserID"];
  ASSERT_EQ(Call(boss, "CUserManager.UpdateUserProfile", {"acme", "", "", id, "Carla", "Clerk", "C", false, 0, "", false})["status"], 200);
  EXPECT_EQ(SessionsOf("clerk"), "0");
  const Json barred = Call(clerk, "CACMgr.GetAllAccounts", {"acme", "", ""});
  EXPECT_EQ(barred["status"], 401);
  EXPECT_NE(barred["error"]["message"].get<std::string>().find("may no longer log on"), std::string::npos) << barred;

  ASSERT_EQ(Call(boss, "CUserManager.UpdateUserProfile", {"acme", "", "", id, "Carla", "Clerk", "C", false, 0, "", true})["status"], 200);
  const std::string again = Logon("clerk", "pw");
  ASSERT_EQ(Call(boss, "CUserManager.DeleteUserProfile", {"acme", "", "", id})["status"], 200);
  EXPECT_EQ(SessionsOf("clerk"), "0");
  const Json gone = Call(again, "CACMgr.GetAllAccounts", {"acme", "", ""});
  EXPECT_EQ(gone["status"], 401);
  EXPECT_NE(gone["error"]["message"].get<std::string>().find("no longer exists"), std::string::npos) << gone;
  EXPECT_EQ(Call(boss, "CACMgr.GetAllAccounts", {"acme", "", ""})["status"], 200);
}

TEST_F(ServiceRules, GuessesCountTogetherWhateverTheRoute) {
  const std::string boss = Logon("boss", "secret");
  // Wrong old passwords from a live session, then wrong logons under a name of another JSON type:
  // all of them the same user's failures.
  for (int i = 0; i < 3; ++i) {
    const Json wrong = Call(boss, "CSecurityMgr.ChangeUserPassword", {"acme", "", "guess", "new"}, "10.0.0.2");
    EXPECT_NE(wrong["error"]["message"].get<std::string>().find("incorrect"), std::string::npos) << wrong;
    EXPECT_FALSE(wrong.contains("result"));
  }
  CUserManager users;
  users.AddUserProfile(path_, "boss", "", "42", "pw42", "", "", "", Variant::Null(), false, "", true);
  for (int i = 0; i < 5; ++i) Call("", "CSecurityMgr.BeginUserSession", {"acme", 42, "guess"}, "10.0.0.3");
  EXPECT_EQ(Call("", "CSecurityMgr.BeginUserSession", {"acme", "42", "pw42"}, "10.0.0.4")["status"], 429);
  for (int i = 0; i < 2; ++i) Call("", "CSecurityMgr.BeginUserSession", {"acme", "boss", "guess"}, "10.0.0.5");
  EXPECT_EQ(Call(boss, "CSecurityMgr.ChangeUserPassword", {"acme", "", "secret", "new"}, "10.0.0.6")["status"], 429);
  EXPECT_EQ(Call("", "CSecurityMgr.BeginUserSession", {"acme", "boss", "secret"}, "10.0.0.7")["status"], 429);

  // Probing for company names is counted against the address.
  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    if (Call("", "CSecurityMgr.BeginUserSession", {"co" + std::to_string(i), "boss", "secret"}, "10.0.0.8")["status"] == 429) ++refused;
  }
  EXPECT_GE(refused, 10);
}

}  // namespace
}  // namespace ledgerkit
