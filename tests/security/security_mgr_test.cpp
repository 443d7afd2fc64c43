// Logon sessions: logon and logoff, password changes, session lookup and session tokens.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "security/NewToken.h"
#include "support/Capture.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using testing::CaptureError;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

constexpr const char* kInjection = "x' OR '1'='1";
const std::string kBadLogon = "The logon information you entered was incorrect.\r\n >VantorERR@-2147221503";

// A user written directly, password in clear.
void InsertUser(const TempCompany& company, int id, int parent, const std::string& name, const std::string& password,
                int allow_logon = 1) {
  const std::string sql = "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon) VALUES (" +
                          std::to_string(id) + "," + std::to_string(parent) + ",'" + name + "','" + password +
                          "','Last'," + std::to_string(allow_logon) + ");";
  ASSERT_EQ(RawExec(company.path(), sql), "") << sql;
}

std::string StoredPassword(const TempCompany& company, int user_id) {
  return RawScalar(company.path(), "SELECT Password FROM IUser WHERE IUserID=" + std::to_string(user_id));
}

std::string SessionTokens(const TempCompany& company) {
  return RawScalar(company.path(), "SELECT IFNULL(group_concat(Token),'') FROM (SELECT Token FROM SysSessions ORDER BY Token)");
}

std::string SessionCount(const TempCompany& company) {
  return RawScalar(company.path(), "SELECT COUNT(*) FROM SysSessions");
}

// The description of a failed logon, or "(logged on)".
std::string LogonFailure(CSecurityMgr& security, const TempCompany& company, const Variant& name, const Variant& password) {
  try {
    security.BeginUserSession(company.account(), name, password);
    return "(logged on)";
  } catch (const Error& error) {
    return std::to_string(error.number()) + ": " + error.description();
  }
}

std::string BadLogon() { return std::to_string(errCSecurityMgr::eInvalidUserInfo) + ": " + kBadLogon; }

// The user name of the session holding `token`, or the number of the error raised.
std::string SessionUser(CSecurityMgr& security, const TempCompany& company, const Variant& token) {
  try {
    return ToText(security.GetSysSession(company.account(), token)->Value("UserName"));
  } catch (const Error& error) {
    return "error " + std::to_string(error.number());
  }
}

bool IsToken(const std::string& token) {
  static const std::regex shape("[0-9A-F]{24,32}");
  return std::regex_match(token, shape);
}

TEST(SecurityMgr, TokenIsLaidOutFromTheIdentifierBytes) {
  EXPECT_EQ(TokenFromIdentifier({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x05, 0xAB, 0x10, 0x00, 0xFF,
                                 0x1F, 0x0B}),
            "0001020304050607A05AB1000FF1FB");
  EXPECT_EQ(TokenFromIdentifier({0xDE, 0xAD, 0xBE, 0xEF, 0x0B, 0xAD, 0x00, 0x0C, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A,
                                 0x0A, 0x0A}),
            "DEADBEEF0BAD000CAAAAAAAA");
  EXPECT_EQ(TokenFromIdentifier({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                 0xFF, 0xFF}),
            std::string(32, 'F'));
  EXPECT_EQ(TokenFromIdentifier({0x10, 0x00, 0x00, 0x01, 0x00, 0x20, 0x03, 0x00, 0x99, 0x9A, 0xA0, 0x01, 0x0F, 0xF0,
                                 0xD0, 0x1E}),
            "1000000100200300999AA001FF0D01E");
}

TEST(SecurityMgr, NewTokensAreFreshUpperCaseHexadecimal) {
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    const std::string token = NewToken();
    EXPECT_TRUE(IsToken(token)) << token;
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 64u);
}

TEST(SecurityMgr, LogonNeedsTheRightPasswordOfAUserAllowedToLogOn) {
  TempCompany company;
  CSecurityMgr security;
  InsertUser(company, 1, 1, "alice", "pw");
  InsertUser(company, 2, 1, "bob", "pw", 0);
  EXPECT_EQ(LogonFailure(security, company, "alice", "wrong"), BadLogon());
  EXPECT_EQ(LogonFailure(security, company, "alice", "PW"), BadLogon());
  EXPECT_EQ(LogonFailure(security, company, "nobody", "pw"), BadLogon());
  EXPECT_EQ(LogonFailure(security, company, "bob", "pw"), BadLogon());
  EXPECT_EQ(LogonFailure(security, company, kInjection, kInjection), BadLogon());
  EXPECT_EQ(LogonFailure(security, company, "alice", std::string(31, 'p')).substr(0, 3), "5: ");
  EXPECT_EQ(SessionCount(company), "0");
  EXPECT_EQ(StoredPassword(company, 1), "pw");

  // The clear password imported with the row logs on once and is then kept only as a hash.
  const std::string first = security.BeginUserSession(company.account(), "alice", "pw");
  EXPECT_TRUE(IsToken(first)) << first;
  EXPECT_TRUE(StoredPassword(company, 1).starts_with("$argon2id$")) << StoredPassword(company, 1);
  EXPECT_EQ(LogonFailure(security, company, "alice", "wrong"), BadLogon());
  EXPECT_EQ(SessionUser(security, company, first), "alice");

  // A second logon (the name in any letter case) replaces the first session; the session is
  // the user's, under the name as the user's row spells it.
  const std::string second = security.BeginUserSession(company.account(), "ALICE", "pw");
  EXPECT_TRUE(IsToken(second)) << second;
  EXPECT_NE(second, first);
  EXPECT_EQ(SessionUser(security, company, first), "error 5");
  EXPECT_EQ(SessionUser(security, company, second), "alice");
  EXPECT_EQ(SessionTokens(company), second);
  EXPECT_EQ(SessionUser(security, company, kInjection), "error 5");
  EXPECT_EQ(SessionUser(security, company, "' OR Token<>'"), "error 5");
}

TEST(SecurityMgr, SameNameInTwoCompaniesLogsOnWithEitherPassword) {
  TempCompany company;
  CSecurityMgr security;
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ISubScriber (ISubScriberID,CompanyName) VALUES (2,'Other Co');"), "");
  InsertUser(company, 1, 1, "sam", "same");
  InsertUser(company, 2, 2, "sam", "same");
  InsertUser(company, 3, 1, "kim", "one");
  InsertUser(company, 4, 2, "kim", "two");
  EXPECT_TRUE(IsToken(security.BeginUserSession(company.account(), "sam", "same")));
  EXPECT_TRUE(StoredPassword(company, 1).starts_with("$argon2id$"));
  EXPECT_TRUE(StoredPassword(company, 2).starts_with("$argon2id$"));
  EXPECT_TRUE(IsToken(security.BeginUserSession(company.account(), "sam", "same")));
  EXPECT_TRUE(IsToken(security.BeginUserSession(company.account(), "kim", "one")));
  EXPECT_TRUE(IsToken(security.BeginUserSession(company.account(), "kim", "two")));
  EXPECT_EQ(LogonFailure(security, company, "kim", "three"), BadLogon());
}

TEST(SecurityMgr, PasswordChangeNeedsTheOldPassword) {
  TempCompany company;
  CSecurityMgr security;
  InsertUser(company, 1, 1, "alice", "old");
  const auto change = [&](const Variant& name, const Variant& old_password, const Variant& new_password) {
    return CaptureError([&] { security.ChangeUserPassword(company.account(), name, old_password, new_password); });
  };
  Error error = change("alice", "wrong", "new");
  EXPECT_EQ(error.number(), errCSecurityMgr::eInvalidUserInfo);
  EXPECT_EQ(error.description(), kBadLogon);
  EXPECT_EQ(change("nobody", "old", "new").number(), errCSecurityMgr::eInvalidUserInfo);
  EXPECT_EQ(change(kInjection, kInjection, "new").number(), errCSecurityMgr::eInvalidUserInfo);
  error = change("alice", "old", std::string(31, 'n'));
  EXPECT_EQ(error.number(), kInvalidArgument);
  EXPECT_NE(error.description().find("NewPassword"), std::string::npos) << error.description();
  EXPECT_EQ(StoredPassword(company, 1), "old");

  security.ChangeUserPassword(company.account(), "Alice", "old", "new");
  EXPECT_TRUE(StoredPassword(company, 1).starts_with("$argon2id$")) << StoredPassword(company, 1);
  EXPECT_EQ(LogonFailure(security, company, "alice", "old"), BadLogon());
  EXPECT_EQ(LogonFailure(security, company, "alice", "new"), "(logged on)");
}

TEST(SecurityMgr, LogoffRemovesEverySessionOfTheUser) {
  TempCompany company;
  CSecurityMgr security;
  InsertUser(company, 1, 1, "alice", "pw");
  const std::string token = security.BeginUserSession(company.account(), "alice", "pw");
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO SysSessions (Account,UserName,Token) VALUES "
                                    "('elsewhere.ldb','alice','T2'),('" + company.path() + "','Alice','T3'),"
                                    "('TEMP','bob','T4');"),
            "");
  security.EndUserSession(company.account(), kInjection);
  EXPECT_EQ(SessionCount(company), "4");

  security.EndUserSession(company.account(), "alice");
  EXPECT_EQ(SessionTokens(company), "T4");
  EXPECT_EQ(SessionUser(security, company, token), "error 5");
  EXPECT_EQ(SessionUser(security, company, "T4"), "bob");
}

// Runs `ledgerkit rpc` over the request lines and returns its response lines, parsed.
std::vector<Json> RunBridge(const TempCompany& company, const std::vector<Json>& requests) {
  std::string input;
  for (const Json& request : requests) input += request.dump() + '\n';
  const testing::CliRun cli = testing::RunLedgerkit(company.folder(), "rpc", input);
  EXPECT_EQ(cli.exit_code, 0);
  std::vector<Json> responses;
  for (const std::string& line : testing::Lines(cli.out)) responses.push_back(Json::parse(line, nullptr, false));
  return responses;
}

Json Call(int id, const std::string& method, Json params) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
}

TEST(SecurityMgr, BridgeCallerLogsOnLooksUpItsSessionAndLogsOff) {
  TempCompany company;
  InsertUser(company, 1, 1, "alice", "pw");
  const std::vector<Json> logon = RunBridge(company, {Call(1, "CSecurityMgr.BeginUserSession", {company.path(), "alice", "pw"})});
  ASSERT_EQ(logon.size(), 1u);
  ASSERT_TRUE(logon[0]["result"]["value"].is_string()) << logon[0].dump();
  const std::string token = logon[0]["result"]["value"];
  EXPECT_TRUE(IsToken(token)) << token;

  const std::vector<Json> rest = RunBridge(company, {Call(2, "CSecurityMgr.GetSysSession", {company.path(), token}),
                                                     Call(3, "CSecurityMgr.EndUserSession", {company.path(), "alice"}),
                                                     Call(4, "CSecurityMgr.GetSysSession", {company.path(), token})});
  ASSERT_EQ(rest.size(), 3u);
  const Json& session = rest[0]["result"]["value"];
  EXPECT_EQ(session["class"], "SysSessions") << rest[0].dump();
  EXPECT_EQ(session["properties"]["Token"], token) << rest[0].dump();
  EXPECT_EQ(session["properties"]["UserName"], "alice") << rest[0].dump();
  EXPECT_TRUE(rest[1].contains("result")) << rest[1].dump();
  EXPECT_EQ(rest[2]["error"]["data"]["number"], 5) << rest[2].dump();
  EXPECT_EQ(SessionCount(company), "0");
}

}  // namespace
}  // namespace ledgerkit
