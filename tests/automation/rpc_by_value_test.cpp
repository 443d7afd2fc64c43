// The bridge answering by value: results sent whole with nothing held unless asked, the byte
// budget of what is held, blanked secrets, and error answers that stay short whatever the caller
// sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ledgerkit/automation/RpcBridge.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::ordered_json;

std::string Request(const Json& id, const std::string& method, Json params, std::optional<Json> hold = std::nullopt) {
  Json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
  if (hold) request["hold"] = *hold;
  return request.dump();
}

std::string Invoke(int64_t handle, const std::string& member, Json args = Json::array(),
                   std::optional<Json> hold = std::nullopt) {
  return Request(1, "invoke", {{"object", handle}, {"member", member}, {"args", std::move(args)}}, std::move(hold));
}

Json Answer(RpcBridge& bridge, const std::string& line) {
  const auto response = bridge.HandleLine(line);
  EXPECT_TRUE(response.has_value());
  return response ? Json::parse(*response) : Json();
}

// The value of a successful answer (null after reporting a failure).
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
  EXPECT_EQ(response["error"]["message"], response["error"]["data"]["description"]);
  return response["error"]["message"].get<std::string>();
}

// The longest run of `c` in `text`.
size_t LongestRun(const std::string& text, char c) {
  size_t longest = 0, run = 0;
  for (const char x : text) {
    run = x == c ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

// A company with alice (her stored password a stand-in for a hash), a bank and a rent account,
// and `cheques` rent cheques from the bank dated through March 2026.
struct Books {
  explicit Books(int cheques) {
    EXPECT_EQ(testing::RawExec(company.path(),
                               "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon,MainUser) "
                               "VALUES (1,1,'alice','stored-secret','Anders',1,1);"),
              "");
    const Variant a = company.account();
    CACMgr ledger;
    const Variant asset = ledger.AddAccountType(a, "alice", "t", "Bank accounts", "", false, int32_t{bstASSET});
    const Variant expense = ledger.AddAccountType(a, "alice", "t", "Operating expenses", "", false, int32_t{bstEXPENSE});
    bank = ToLong(ledger.AddAccount(a, "alice", "t", "1000", "Bank", "", "", false, "", 0, asset, 0));
    const Variant rent = ledger.AddAccount(a, "alice", "t", "5000", "Rent", "", "", false, "", 0, expense, 0);
    for (int i = 0; i < cheques; ++i) {
      const std::string cheque =
          ledger.BeginTransaction(a, "alice", "t", int32_t{ttCHQ}, Date::FromCivil(2026, 1 + i % 3, 1 + i % 28),
                                  "Rent", bank, Currency::FromUnits(100), "Landlord", "memo", std::to_string(101 + i));
      ledger.PostDebit(a, cheque, rent, Currency::FromUnits(100), "Rent");
      ledger.EndTransaction(a, cheque);
    }
  }
  Json Account() const { return company.path(); }
  std::string Register(const std::string& to, std::optional<Json> hold = std::nullopt) const {
    return Request(1, "CReportMgr.AccountRegister", {Account(), "alice", "t", bank, "2026-01-01", to}, std::move(hold));
  }

  testing::TempCompany company;
  int32_t bank = 0;
};

TEST(RpcByValue, ABookkeepersSessionSeesWholeValuesAndHoldsOnlyWhatSheAsksFor) {
  const Books books(3);
  const Json a = books.Account();
  RpcBridge bridge(RpcLimits{.max_handles = 5, .by_value = true, .blank_properties = {"PASSWORD"}});

  // The chart of accounts, again and again: nothing is held, so the handle cap never bites.
  for (int i = 0; i < 20; ++i) {
    const Json accounts = ValueOf(Answer(bridge, Request(i, "CACMgr.GetAllAccounts", {a, "alice", "t"})));
    ASSERT_EQ(accounts.value("class", Json()), "Collection") << accounts.dump().substr(0, 300);
    EXPECT_FALSE(accounts.contains("$object"));
    ASSERT_EQ(accounts["count"], 2);
    const Json& bank = accounts["items"][0]["value"];
    EXPECT_FALSE(bank.contains("$object")) << bank.dump();
    EXPECT_EQ(bank["class"], "ACAccount");
    EXPECT_EQ(bank["properties"]["Name"], "Bank");
    EXPECT_EQ(accounts["items"][0]["key"], std::to_string(books.bank));
  }
  EXPECT_EQ(bridge.HeldCount(), 0u);
  EXPECT_EQ(bridge.HeldBytes(), 0u);

  // The bank register as a result set: columns and rows, no cursor.
  const Json reg = ValueOf(Answer(bridge, books.Register("2026-12-31")));
  EXPECT_EQ(reg.value("class", Json()), "Recordset");
  EXPECT_FALSE(reg.contains("$object"));
  EXPECT_FALSE(reg.contains("position"));
  ASSERT_TRUE(reg["columns"].is_array() && reg["rows"].is_array()) << reg.dump().substr(0, 300);
  EXPECT_EQ(reg["columns"][0]["name"], "RowKind");
  ASSERT_EQ(reg["rows"].size(), 5u) << "opening, three cheques, closing";
  EXPECT_EQ(reg["rows"][0][0], "opening");
  EXPECT_EQ(reg["rows"][4][0], "closing");

  // Her own profile and a query of the users: the stored password reads blank either way.
  const Json profile = ValueOf(Answer(bridge, Request(2, "CUserManager.GetUserProfile", {a, "alice", "t", a, "alice"})));
  EXPECT_EQ(profile["properties"]["UserName"], "alice");
  EXPECT_EQ(profile["properties"]["Password"], "");
  const Json users = ValueOf(Answer(bridge, Request(3, "CReportMgr.ExecReportQuery", {a, "SELECT UserName, password FROM IUser"})));
  EXPECT_EQ(users["rows"], Json::parse(R"([["alice",""]])"));
  EXPECT_EQ(bridge.HeldCount(), 0u);

  // Asked to hold, the register is held as in the plain protocol and counts against the limits.
  const Json held = ValueOf(Answer(bridge, books.Register("2026-12-31", true)));
  ASSERT_TRUE(held.contains("$object")) << held.dump().substr(0, 300);
  EXPECT_EQ(held["position"], 0);
  EXPECT_EQ(held["rows"], reg["rows"]);
  const int64_t handle = held["$object"].get<int64_t>();
  EXPECT_EQ(bridge.HeldCount(), 1u);
  EXPECT_GT(bridge.HeldBytes(), 0u);
  // Working on it through invoke keeps to handles; "hold": false sends that one answer by value.
  EXPECT_EQ(ValueOf(Answer(bridge, Invoke(handle, "Fields", {"RowKind"}))), "opening");
  const Json profile_held = ValueOf(Answer(bridge, Request(4, "CUserManager.GetUserProfile", {a, "alice", "t", a, "alice"}, true)));
  ASSERT_TRUE(profile_held.contains("$object"));
  EXPECT_EQ(profile_held["properties"]["Password"], "");
  EXPECT_EQ(ValueOf(Answer(bridge, Invoke(profile_held["$object"], "password"))), "");
  EXPECT_EQ(ValueOf(Answer(bridge, Invoke(profile_held["$object"], "UserName"))), "alice");
  const Json held_users =
      ValueOf(Answer(bridge, Request(5, "CReportMgr.ExecReportQuery", {a, "SELECT UserName, Password FROM IUser"}, true)));
  EXPECT_EQ(held_users["rows"], Json::parse(R"([["alice",""]])"));
  ASSERT_TRUE(ValueOf(Answer(bridge, Invoke(held_users["$object"], "MoveFirst"))).is_object());
  EXPECT_EQ(ValueOf(Answer(bridge, Invoke(held_users["$object"], "Fields", {1}))), "") << "by index too";
  EXPECT_EQ(ValueOf(Answer(bridge, Invoke(held_users["$object"], "Fields", {"PassWord"}))), "");
  EXPECT_EQ(ValueOf(Answer(bridge, Invoke(held_users["$object"], "Fields", {0}))), "alice");
  const Json company = ValueOf(Answer(bridge, Request(5, "CAccountMgr.GetAccountInfo", {a}, true)));
  ASSERT_TRUE(company.contains("$object"));
  const Json team = ValueOf(Answer(bridge, Invoke(company["$object"], "Users", {a}, false)));
  EXPECT_FALSE(team.contains("$object"));
  EXPECT_EQ(team["items"][0]["value"]["properties"]["Password"], "");
  EXPECT_FALSE(team["items"][0]["value"].contains("$object"));
  EXPECT_EQ(bridge.HeldCount(), 4u) << "an answer by value holds nothing more";

  // A malformed "hold" is refused, and nothing is carried out.
  const Json bad_hold = Answer(bridge, Request(6, "CACMgr.GetAllAccounts", {a, "alice", "t"}, "yes"));
  EXPECT_EQ(bad_hold["error"]["code"], -32600);
  EXPECT_NE(MessageOf(bad_hold).find("\"hold\""), std::string::npos);

  for (const Json& h : {Json(handle), profile_held["$object"], held_users["$object"], company["$object"]}) {
    EXPECT_TRUE(Answer(bridge, Request(7, "release", {h})).contains("result"));
  }
  EXPECT_EQ(bridge.HeldCount(), 0u);
  EXPECT_EQ(bridge.HeldBytes(), 0u) << "releasing gives every byte back";
}

TEST(RpcByValue, WithoutByValueEverythingIsHeldAsBeforeButSecretsStayBlank) {
  const Books books(1);
  const Json a = books.Account();
  RpcBridge bridge(RpcLimits{.blank_properties = {"Password"}});
  const Json accounts = ValueOf(Answer(bridge, Request(1, "CACMgr.GetAllAccounts", {a, "alice", "t"}, false)));
  EXPECT_TRUE(accounts.contains("$object")) << "\"hold\" means nothing to a bridge that does not answer by value";
  EXPECT_TRUE(accounts["items"][0]["value"].contains("$object"));
  EXPECT_EQ(bridge.HeldCount(), 3u);
  const Json profile = ValueOf(Answer(bridge, Request(2, "CUserManager.GetUserProfile", {a, "alice", "t", a, "alice"})));
  EXPECT_EQ(profile["properties"]["Password"], "");
  const Json reg = ValueOf(Answer(bridge, books.Register("2026-12-31")));
  EXPECT_TRUE(reg.contains("position"));
  EXPECT_TRUE(reg.contains("closed"));
  EXPECT_EQ(bridge.HeldCount(), 5u);
}

TEST(RpcByValue, TheByteBudgetRefusesClearlyHoldsNothingAndAReleaseLetsTheNextIn) {
  const Books books(30);
  const Json a = books.Account();

  // What the bridge charges grows with what is held: the whole quarter costs more than January.
  RpcBridge measure(RpcLimits{.by_value = true});
  ASSERT_TRUE(ValueOf(Answer(measure, books.Register("2026-01-31", true))).contains("$object"));
  const size_t january = measure.HeldBytes();
  ASSERT_TRUE(ValueOf(Answer(measure, books.Register("2026-12-31", true))).contains("$object"));
  const size_t quarter = measure.HeldBytes() - january;
  EXPECT_GT(quarter, january + 19 * 40) << "twenty more rows of nine cells";
  ASSERT_TRUE(ValueOf(Answer(measure, Request(1, "CACMgr.GetAllAccounts", {a, "alice", "t"}, true))).contains("$object"));
  const size_t accounts = measure.HeldBytes() - january - quarter;

  // Room for one quarter's register and not two.
  const size_t budget = quarter + quarter / 2;
  RpcBridge bridge(RpcLimits{.max_held_bytes = budget, .by_value = true});
  const Json first = ValueOf(Answer(bridge, books.Register("2026-12-31", true)));
  ASSERT_TRUE(first.contains("$object"));
  EXPECT_EQ(bridge.HeldBytes(), quarter);
  const Json refused = Answer(bridge, books.Register("2026-12-31", true));
  ASSERT_TRUE(refused.contains("error")) << refused.dump().substr(0, 300);
  EXPECT_EQ(refused["error"]["code"], -32000);
  EXPECT_EQ(refused["error"]["data"]["number"], 5);
  const std::string why = MessageOf(refused);
  EXPECT_NE(why.find("max_held_bytes"), std::string::npos) << why;
  EXPECT_NE(why.find(std::to_string(budget) + " bytes"), std::string::npos) << why;
  EXPECT_EQ(bridge.HeldCount(), 1u);
  EXPECT_EQ(bridge.HeldBytes(), quarter);

  // A collection that would pass the budget part way through its items leaves none held.
  RpcBridge tight(RpcLimits{.max_held_bytes = accounts - 1, .by_value = true});
  EXPECT_TRUE(Answer(tight, Request(2, "CACMgr.GetAllAccounts", {a, "alice", "t"}, true)).contains("error"));
  EXPECT_EQ(tight.HeldCount(), 0u);
  EXPECT_EQ(tight.HeldBytes(), 0u);

  // By value nothing is charged, so the same register still comes whole.
  EXPECT_EQ(ValueOf(Answer(bridge, books.Register("2026-12-31")))["rows"].size(), 32u);
  EXPECT_TRUE(Answer(bridge, Request(3, "release", {first["$object"]})).contains("result"));
  EXPECT_EQ(bridge.HeldBytes(), 0u);
  EXPECT_TRUE(ValueOf(Answer(bridge, books.Register("2026-12-31", true))).contains("$object"));
  EXPECT_EQ(bridge.HeldBytes(), quarter);
}

TEST(RpcByValue, LongCallerValuesAreQuotedAtMost200CharactersInEveryAnswer) {
  const Books books(0);
  const std::string huge_account(5 << 20, 'a');
  std::string column;
  for (int i = 0; i < (5 << 20); ++i) column += "\xC3\xA9";  // 10 MB of a two-byte letter
  const std::string huge_sql = "SELECT q" + column + " FROM ACAccount";
  const std::string cut = "\"" + std::string(200, 'a') + "...\" (5242880 characters)";

  for (const bool by_value : {false, true}) {
    SCOPED_TRACE(by_value ? "by value" : "held");
    RpcBridge bridge(RpcLimits{.by_value = by_value});
    const std::string open_line = bridge.HandleLine(Request(1, "CACMgr.GetAllAccounts", {huge_account, "alice", "t"})).value();
    EXPECT_LT(open_line.size(), 10'000u);
    const std::string opened = MessageOf(Json::parse(open_line));
    EXPECT_NE(opened.find(cut), std::string::npos) << opened;
    EXPECT_LE(LongestRun(open_line, 'a'), 200u);

    const std::string sql_line = bridge.HandleLine(Request(2, "CReportMgr.ExecReportQuery", {books.Account(), huge_sql})).value();
    EXPECT_LT(sql_line.size(), 2'000u);
    const std::string refused = MessageOf(Json::parse(sql_line));
    if (!testing::OnPostgres()) {
      EXPECT_NE(refused.find("no such column"), std::string::npos) << refused;
      EXPECT_NE(refused.find("characters left out"), std::string::npos) << refused;
    }
    EXPECT_NE(refused.find(" >VantorERR@"), std::string::npos) << "the end of the description stays: " << refused;
    EXPECT_EQ(refused.find("\xEF\xBF\xBD"), std::string::npos) << "cut between characters: " << refused;
    size_t letters = 0;
    for (size_t at = refused.find("\xC3\xA9"); at != std::string::npos; at = refused.find("\xC3\xA9", at + 2)) ++letters;
    EXPECT_LE(letters, 200u) << refused;
    EXPECT_EQ(bridge.HeldCount(), 0u);
  }

  // The tool answers the same way, by value when told to, and takes a byte budget.
  const std::string script = Request(1, "CACMgr.GetAllAccounts", {huge_account, "alice", "t"}) + "\n" +
                             Request(2, "CACMgr.GetAllAccounts", {books.Account(), "alice", "t"}) + "\n";
  const testing::CliRun run = testing::RunLedgerkit(books.company.folder(), "rpc --by-value", script);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> lines = testing::Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out.substr(0, 400);
  EXPECT_LT(lines[0].size(), 10'000u);
  EXPECT_NE(MessageOf(Json::parse(lines[0])).find(cut), std::string::npos);
  const Json listed = ValueOf(Json::parse(lines[1]));
  EXPECT_EQ(listed.value("class", Json()), "Collection");
  EXPECT_FALSE(listed.contains("$object"));

  const testing::CliRun budget = testing::RunLedgerkit(books.company.folder(), "rpc --max-held-bytes 100",
                                                       Request(1, "create", {"eTransTypeEnm"}) + "\n");
  const Json over = Json::parse(budget.out);
  EXPECT_EQ(over["error"]["code"], -32000);
  EXPECT_NE(MessageOf(over).find("limit of 100 bytes"), std::string::npos);
  EXPECT_NE(testing::RunLedgerkit(books.company.folder(), "rpc --max-held-bytes none", "").exit_code, 0);
}

}  // namespace
}  // namespace ledgerkit
