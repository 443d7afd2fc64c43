// Hostile text in every argument that ends up in a filter, sent the way a front end sends it:
// through `ledgerkit rpc` in a process of its own. Quotes, SQL fragments, comment markers,
// wildcards, escapes, control characters, unicode and texts that begin like a stored value
// must find nothing, change nothing and be answered with one well-formed line each.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "security/UserNames.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "support/Capture.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using namespace std::string_literals;
using Json = nlohmann::json;
using testing::OnPostgres;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

std::vector<std::string> HostileTexts() {
  // clang-format off
  std::vector<std::string> texts = {
      "'", "\"", "''", "x' OR '1'='1", "1 OR 1=1", "1' OR '1'='1' --", "'; DROP TABLE ACAccount; --",
      "1; DELETE FROM IUser", "--", "/* */", "1 /* comment */", "alice'--", "alice' /*", "1'--",
      "a\0b"s, "alice\0"s, "1\0"s, "%", "_", "%alice%", "al_ce", "*", "\\", "\\'", "'unterminated",
      ") OR (1=1", "1) OR (1=1", "1 UNION SELECT UserName FROM IUser", "NULL", "?", ":p1 $1 @p",
      "Ünïcödé ✓ 中文 🙂", "ａｌｉｃｅ", "alice ", "\r\n\t",
  };
  // clang-format on

  std::string long_text;
  while (long_text.size() < 100000) long_text += "x' OR '1'='1 -- ";
  long_text.resize(100000);
  texts.push_back(long_text);
  return texts;
}

// Characters of a UTF-8 text.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
  return count;
}

std::string Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : text) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

// Short and printable, for failure messages.
std::string Shown(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace).substr(0, 60);
}

struct BridgeRun {
  int exit_code = -1;
  std::vector<Json> responses;  // one per output line; discarded when a line is not JSON
};

BridgeRun RunBridge(const std::filesystem::path& folder, const std::vector<std::string>& lines) {
  std::string input;
  for (const std::string& line : lines) input += line + '\n';
  const testing::CliRun cli = testing::RunLedgerkit(folder, "rpc", input);
  BridgeRun run;
  run.exit_code = cli.exit_code;
  EXPECT_TRUE(cli.out.empty() || cli.out.back() == '\n') << "the last response line is not ended";
  for (const std::string& line : testing::Lines(cli.out)) run.responses.push_back(Json::parse(line, nullptr, false));
  return run;
}

std::string Request(const Json& id, const std::string& method, const Json& params) {
  return Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}.dump();
}

// The start of a response, for failure messages.
std::string Printed(const Json& response) {
  return response.dump(-1, ' ', false, Json::error_handler_t::replace).substr(0, 400);
}

// A response line as the bridge promises it: the request's id and either a result (value and
// args) or an error whose data triple is complete, agrees with the message and, for an
// operation's error, carries the error marker once.
::testing::AssertionResult WellFormed(const Json& response, const Json& id) {
  auto failure = [&] { return ::testing::AssertionFailure() << Printed(response); };
  if (!response.is_object() || response.value("jsonrpc", Json()) != "2.0") return failure() << " is not a response";
  if (response.value("id", Json("(none)")) != id) return failure() << " does not answer id " << id.dump();
  if (response.contains("result") == response.contains("error"))
    return failure() << " has not exactly one of result, error";
  if (response.contains("result")) {
    const Json& result = response["result"];
    if (!result.is_object() || !result.contains("value") || !result.contains("args") || !result["args"].is_array())
      return failure() << " has no value and args";
    return ::testing::AssertionSuccess();
  }
  const Json& error = response["error"];
  const Json data = error.value("data", Json());
  if (!error.value("code", Json()).is_number_integer() || !error.value("message", Json()).is_string() ||
      error["message"].get<std::string>().empty() || !data.is_object() ||
      !data.value("number", Json()).is_number_integer() || !data.value("source", Json()).is_string() ||
      data.value("description", Json()) != error["message"]) {
    return failure() << " has no complete code, message and data triple";
  }
  const std::string source = data["source"];
  if (source != "ledgerkit" && source != "SQLite") return failure() << " names the source " << source;
  if (error["code"].get<int64_t>() > -32000) {  // raised by an operation, not by the protocol
    if (error["code"] != data["number"]) return failure() << " has a code that is not its number";
    if (Occurrences(error["message"].get<std::string>(), " >VantorERR@") != 1)
      return failure() << " does not carry the error marker once";
  }
  return ::testing::AssertionSuccess();
}

int64_t ErrorNumber(const Json& response) {
  return response.contains("error") ? response["error"]["data"].value("number", int64_t{0}) : 0;
}

// What a response amounts to: "error <number>", "nothing", "no items" or "done" (any other
// result).
std::string Gist(const Json& response) {
  if (response.contains("error")) return "error " + std::to_string(ErrorNumber(response));
  const Json value = response.contains("result") ? response["result"].value("value", Json()) : Json();
  if (value == Json{{"$nothing", true}}) return "nothing";
  if (value.is_object() && value.value("class", Json()) == "Collection" && value.value("count", Json()) == 0)
    return "no items";
  return "done";
}

// How a lookup or change with a hostile value must end.
const std::string kNotFound = "error " + std::to_string(kInvalidArgument);
const std::string kMismatch = "error " + std::to_string(kTypeMismatch);     // a key that is not a number
const std::string kNoCaller = "error " + std::to_string(kObjectIsNothing);  // no user has that name
const std::string kBadLogon = "error " + std::to_string(errCSecurityMgr::eInvalidUserInfo);

struct Case {
  std::string method;
  Json args;  // the hostile text goes at position `at`
  size_t at;
  std::string expect;
  size_t width;  // characters the compared column holds; 0 for keys
};

// The rows of IUser with a key up to `last`, to check that old users stay as they were.
std::string UsersUpTo(const std::string& path, const std::string& last) {
  return RawScalar(path,
                   "SELECT group_concat(r,';') FROM (SELECT quote(IUserID)||quote(Parent)||quote(UserName)||"
                   "quote(Password)||quote(LastName)||quote(AllowLogon)||quote(MainUser) AS r FROM IUser "
                   "WHERE IUserID<=" +
                       last + " ORDER BY IUserID)");
}

// Every table but IUser, as DumpTables shows them (a user name may hold a line break, so the
// IUser section is cut out up to the next table's name).
std::string DumpWithoutUsers(const std::string& path) {
  std::string dump = testing::DumpTables(path);
  const auto tables = SchemaTables();
  for (size_t i = 0; i + 1 < tables.size(); ++i) {
    if (tables[i].name != "IUser") continue;
    const size_t start = dump.find("\nIUser:");
    const size_t end = dump.find(std::string("\n").append(tables[i + 1].name).append(":"), start + 1);
    if (start != std::string::npos && end != std::string::npos) dump.erase(start, end - start);
  }
  return dump;
}

TEST(HostileInput, TextsThatLookLikeSqlFindNothingChangeNothingAndGetOneWellFormedAnswerEach) {
  TempCompany company;
  const Variant a = company.account();
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon,MainUser) "
                    "VALUES (1,1,'alice','pw','Anders',1,1),(2,1,'bob','secret','Berg',1,0);"),
            "");
  CACMgr ledger;
  const Variant asset = ledger.AddAccountType(a, "alice", "t", "Bank accounts", "", false, int32_t{bstASSET});
  const Variant income = ledger.AddAccountType(a, "alice", "t", "Revenue", "", false, int32_t{bstINCOME});
  const Variant expense = ledger.AddAccountType(a, "alice", "t", "Operating expenses", "", false, int32_t{bstEXPENSE});
  const Variant liability = ledger.AddAccountType(a, "alice", "t", "Taxes owed", "", false, int32_t{bstLIABILITY});
  const Variant bank = ledger.AddAccount(a, "alice", "t", "1000", "Bank", "", "", false, "", 0, asset, 0);
  ledger.AddAccount(a, "alice", "t", "1010", "Petty cash", "", "", false, "", bank, asset, 0);
  const Variant receivable = ledger.AddAccount(a, "alice", "t", "1200", "Receivable", "", "", false, "", 0, asset, 0);
  const Variant tax_owed = ledger.AddAccount(a, "alice", "t", "2100", "GST owed", "", "", false, "", 0, liability, 0);
  const Variant sales = ledger.AddAccount(a, "alice", "t", "4000", "Sales", "", "", false, "", 0, income, 0);
  const Variant rent = ledger.AddAccount(a, "alice", "t", "5000", "Rent", "", "", false, "", 0, expense, 0);
  const Date march31 = Date::FromCivil(2026, 3, 31);
  const std::string cheque = ledger.BeginTransaction(a, "alice", "t", int32_t{ttCHQ}, march31, "Rent March", bank,
                                                     Currency::FromUnits(100), "Landlord", "March", "101");
  ledger.PostDebit(a, cheque, rent, Currency::FromUnits(100), "Rent");
  ledger.EndTransaction(a, cheque);
  const Variant tax =
      ledger.AddTaxCode(a, "alice", "t", "G", "GST", 5.0, "GST", false, 0.0, "", true, false, false, tax_owed, 0);
  Variant invoice_no = "";
  const Variant invoice = ledger.InsertInvoice(a, "alice", "t", -1, "Consulting", march31, invoice_no, "PO-7",
                                               "1 Main St", "Client Co", Currency::FromUnits(105), receivable);
  ledger.AddInvoiceItem(a, "alice", "t", invoice, tax, "C1", "Consulting", Currency::FromUnits(100), 1.0, "h", sales);
  const std::string journal =
      ledger.BeginTransaction(a, "alice", "t", int32_t{ttGENJRNL}, march31, "Accrual", 0, Currency(), "", "", "");
  ledger.PostDebit(a, journal, rent, Currency::FromUnits(5), "waiting");
  CSecurityMgr().BeginUserSession(a, "bob", "secret");
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO SysSessions (Account,UserName,Token) "
                    "VALUES ('TEMP','alice','0123456789ABCDEF01234567');"),
            "");

  const Json p = company.path();
  const Json any = nullptr;
  const Json one = {{"$currency", "1"}};
  // clang-format off
  const std::vector<Case> cases = {
      {"CACMgr.PostDebit", {p, any, ToLong(bank), one, "line"}, 1, kNotFound, 255},
      {"CACMgr.PostCredit", {p, any, ToLong(bank), one, "line"}, 1, kNotFound, 255},
      {"CACMgr.EndTransaction", {p, any}, 1, kNotFound, 255},
      {"CACMgr.AbortTransaction", {p, any}, 1, "done", 255},
      {"CACMgr.GetTransLog", {p, "alice", "t", any}, 3, kNotFound, 255},
      {"CACMgr.UpdateTransLog", {p, "alice", "t", any, {{"$date", "2026-04-01"}}, "changed", "999", "changed", one}, 3,
       "done", 255},
      {"CACMgr.GetTransactionsByTransNum", {p, "alice", "t", any}, 3, "no items", 255},
      {"CACMgr.GetInvoiceByTrans", {p, "alice", "t", any}, 3, kNotFound, 255},
      {"CUserManager.GetUserProfile", {p, "alice", "t", p, any}, 4, "nothing", 30},
      {"CUserManager.GetSubscriberUserProfiles", {p, any, "t"}, 1, kNoCaller, 30},
      {"CUserManager.AddUserProfile", {p, any, "t", "newcomer", "pw", "New", "Comer", "N", 0, false, "", true}, 1,
       kNoCaller, 30},
      {"CSecurityMgr.BeginUserSession", {p, any, "pw"}, 1, kBadLogon, 30},
      {"CSecurityMgr.EndUserSession", {p, any}, 1, "done", 255},
      {"CSecurityMgr.ChangeUserPassword", {p, any, "pw", "hijacked"}, 1, kBadLogon, 30},
      {"CSecurityMgr.GetSysSession", {p, any}, 1, kNotFound, 255},
      {"CACMgr.GetAccount", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.GetSubAccounts", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.DeleteAccount", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.UpdateAccount", {p, "alice", "t", any, "1000", "Renamed", "", "", false, "", 0, 0, ToLong(asset)}, 3,
       kMismatch, 0},
      {"CACMgr.GetTransLogByStatus", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.GetTransLogWIP", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.DeleteTransLogWIP", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CUserManager.DeleteUserProfile", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.IssueInvoice", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.DeleteOutstandingInvoice", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.GetInvoice", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.GetTaxCode", {p, "alice", "t", any}, 3, kMismatch, 0},
      {"CACMgr.DeleteTaxCode", {p, "alice", "t", any}, 3, kMismatch, 0},
  };
  // clang-format on

  const std::vector<std::string> texts = HostileTexts();

  // Every lookup first; then each text added as a user name and looked up again. Lines whose
  // bytes are not UTF-8 come in between and must not stop the bridge.
  struct Sent {
    std::string line;
    Json id;
    std::string what;
  };
  std::vector<Sent> sent;
  auto send = [&](const std::string& method, const Json& args, const std::string& what) {
    const Json id = static_cast<int64_t>(sent.size());
    sent.push_back({Request(id, method, args), id, method + " " + what});
  };
  for (const Case& c : cases) {
    for (const std::string& text : texts) {
      Json args = c.args;
      args[c.at] = text;
      send(c.method, args, Shown(text));
    }
  }
  const std::string prefix = R"({"jsonrpc":"2.0","id":"bytes","method":"CUserManager.GetUserProfile","params":[)" +
                             p.dump() + R"(,"alice","t",)" + p.dump() + R"(,"al)";
  for (const std::string& bytes : {"\xff"s, "\xc0\xa7"s, "\xed\xa0\x80"s, "\xe4\xb8"s, "\x80"s}) {
    sent.push_back({prefix + bytes + R"(ice"]})", nullptr, "a line with the bytes " + Hex(bytes)});
  }
  for (const std::string& text : texts) {
    send("CUserManager.AddUserProfile", {p, "alice", "t", text, "pw", "Hostile", "Name", "", 0, false, "", true},
         Shown(text));
    send("CUserManager.GetUserProfile", {p, "alice", "t", p, text}, "after adding " + Shown(text));
  }

  const std::string users_before = UsersUpTo(company.path(), "2");
  const std::string dump_before = DumpWithoutUsers(company.path());
  std::vector<std::string> lines;
  for (const Sent& s : sent) lines.push_back(s.line);
  const BridgeRun run = RunBridge(company.folder(), lines);
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.responses.size(), sent.size()) << "one response line per request line";

  size_t at = 0;
  for (const Case& c : cases) {
    for (const std::string& text : texts) {
      const Sent& s = sent[at];
      const Json& response = run.responses[at++];
      SCOPED_TRACE(s.what);
      ASSERT_TRUE(WellFormed(response, s.id));
      // A text longer than the column it is compared with may also be refused as such.
      const bool too_long = c.width > 0 && Characters(text) > c.width;
      if (OnPostgres() && text.find('\0') != std::string::npos) {
        // A server holds no text with a NUL in it: such a text is refused before it is sent,
        // where a file finds nothing by it (a refusal made before the text reaches an engine
        // stays the same).
        const std::string gist = Gist(response);
        EXPECT_TRUE(gist == kNotFound || (gist == c.expect && c.expect.starts_with("error"))) << Printed(response);
      } else if (!(too_long && Gist(response) == kNotFound)) {
        EXPECT_EQ(Gist(response), c.expect) << Printed(response);
      }
      if (response.contains("result")) {
        EXPECT_EQ(response["result"]["args"].at(c.at), text) << "the text comes back as sent";
      }
    }
  }
  for (int i = 0; i < 5; ++i, ++at) {
    SCOPED_TRACE(sent[at].what);
    ASSERT_TRUE(WellFormed(run.responses[at], nullptr));
    EXPECT_EQ(run.responses[at]["error"]["code"], -32700);
    EXPECT_EQ(ErrorNumber(run.responses[at]), kTypeMismatch);
  }
  // Blanks at either end and control characters make a text no user name.
  const std::set<std::string> not_names = {"a\0b"s, "alice\0"s, "1\0"s, "alice ", "\r\n\t"};
  // Nor is a name a person would take for a user's added before (or there already): "ａｌｉｃｅ"
  // for "alice", two apostrophes for a double quote.
  std::set<std::string> skeletons = {UserNameSkeleton("alice"), UserNameSkeleton("bob")};
  size_t fitting = 0;
  for (const std::string& text : texts) {
    const bool readable = Characters(text) <= 30 && !not_names.contains(text);
    const bool accepted = readable && skeletons.insert(UserNameSkeleton(text)).second;
    fitting += accepted;
    const Json& added = run.responses[at];
    const Json& found = run.responses[at + 1];
    SCOPED_TRACE(Shown(text));
    ASSERT_TRUE(WellFormed(added, sent[at].id));
    ASSERT_TRUE(WellFormed(found, sent[at + 1].id));
    at += 2;
    if (accepted) {
      EXPECT_EQ(Gist(added), "done") << Printed(added);
      const Json user = found.contains("result") ? found["result"]["value"] : Json();
      const Json properties = user.is_object() ? user.value("properties", Json::object()) : Json::object();
      EXPECT_EQ(properties.value("UserName", Json()), text) << "the new user is found under its name exactly";
      EXPECT_EQ(properties.value("SubscriberID", Json()), 1);
    } else {
      EXPECT_EQ(ErrorNumber(added), kInvalidArgument) << "a name of " << Characters(text) << " characters, or not a user name";
      const bool refused_on_server = OnPostgres() && text.find('\0') != std::string::npos;
      EXPECT_EQ(Gist(found), refused_on_server ? kNotFound : "nothing");
    }
    EXPECT_EQ(RawScalar(company.path(),
                        "SELECT COUNT(*) FROM IUser WHERE IUserID>2 AND Parent=1 AND MainUser=0 AND "
                        "hex(UserName)='" +
                            Hex(text) + "'"),
              accepted ? "1" : "0")
        << "stored literally, once";
  }

  EXPECT_EQ(DumpWithoutUsers(company.path()), dump_before) << "no table but IUser changed";
  EXPECT_EQ(UsersUpTo(company.path(), "2"), users_before) << "the users there were stay as they were";
  EXPECT_EQ(RawScalar(company.path(), "SELECT COUNT(*) FROM IUser WHERE IUserID>2"), std::to_string(fitting));
}

}  // namespace
}  // namespace ledgerkit
