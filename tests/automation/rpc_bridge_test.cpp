// The JSON-RPC bridge, run as a client runs it: `ledgerkit rpc` with request lines on standard
// input and one response line per request line on standard output.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/Capture.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

struct BridgeRun {
  int exit_code = -1;
  std::vector<std::string> lines;  // standard output, one entry per line
  std::vector<Json> responses;     // each line parsed
};

// Runs a fresh bridge over `requests`, one per line, until end of input.
BridgeRun RunBridge(const std::filesystem::path& folder, const std::vector<std::string>& requests) {
  std::string input;
  for (const std::string& request : requests) input += request + '\n';
  const testing::CliRun cli = testing::RunLedgerkit(folder, "rpc", input);
  BridgeRun run;
  run.exit_code = cli.exit_code;
  EXPECT_TRUE(cli.out.empty() || cli.out.back() == '\n') << "the last response line is not ended";
  run.lines = testing::Lines(cli.out);
  for (const std::string& line : run.lines) {
    Json parsed = Json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
    run.responses.push_back(std::move(parsed));
  }
  return run;
}

// A fresh bridge answers the same lines the same way, so a script may name the handles that the
// responses to its own earlier lines carry: each step builds its line from the responses so far,
// and the bridge is run again over the longer script.
using Step = std::function<std::string(const std::vector<Json>& earlier)>;

BridgeRun Converse(const std::filesystem::path& folder, const std::vector<Step>& steps) {
  std::vector<std::string> script;
  BridgeRun run;
  for (const Step& step : steps) {
    script.push_back(step(run.responses));
    BridgeRun next = RunBridge(folder, script);
    EXPECT_EQ(next.exit_code, 0);
    if (next.responses.size() != script.size()) {
      ADD_FAILURE() << script.size() << " lines got " << next.responses.size() << " responses";
      return next;
    }
    for (size_t i = 0; i < run.responses.size(); ++i) {
      EXPECT_EQ(next.responses[i], run.responses[i]) << "line " << i << " was answered differently on a rerun";
    }
    run = std::move(next);
  }
  return run;
}

std::string Request(const Json& id, const std::string& method, Json params) {
  return Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}}.dump();
}

std::string Notification(const std::string& method, Json params) {
  return Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.dump();
}

std::string Invoke(const Json& id, int64_t handle, const std::string& member, Json args = Json::array()) {
  return Request(id, "invoke", Json{{"object", handle}, {"member", member}, {"args", std::move(args)}});
}

// The result of a successful response (null after reporting a failure).
Json ResultOf(const Json& response) {
  if (!response.is_object() || !response.contains("result") || response.contains("error") ||
      !response["result"].contains("value") || !response["result"].contains("args")) {
    ADD_FAILURE() << "expected a result: " << response.dump();
    return Json();
  }
  return response["result"];
}

Json ValueOf(const Json& response) { return ResultOf(response).value("value", Json()); }

int64_t HandleOf(const Json& value) {
  if (!value.is_object() || !value.contains("$object") || !value["$object"].is_number_integer()) {
    ADD_FAILURE() << "expected an object reference: " << value.dump();
    return -1;
  }
  return value["$object"].get<int64_t>();
}

// An error response with this code and data number, whose data triple is complete and agrees
// with its message.
::testing::AssertionResult IsError(const Json& response, int64_t code, int64_t number,
                                   const std::string& source = "ledgerkit") {
  auto failure = [&] { return ::testing::AssertionFailure() << response.dump(); };
  if (!response.is_object() || response.value("jsonrpc", Json()) != "2.0" || !response.contains("error") ||
      response.contains("result")) {
    return failure() << " is not an error response";
  }
  const Json& error = response["error"];
  if (error.value("code", Json()) != Json(code)) return failure() << " has not the code " << code;
  const Json data = error.value("data", Json());
  if (!data.is_object() || data.value("number", Json()) != Json(number))
    return failure() << " has not data.number " << number;
  if (data.value("source", Json()) != Json(source)) return failure() << " has not the source " << source;
  const Json description = data.value("description", Json());
  if (!description.is_string() || description.get<std::string>().empty() ||
      error.value("message", Json()) != description) {
    return failure() << " has no description equal to its message";
  }
  return ::testing::AssertionSuccess();
}

TEST(RpcBridge, ProtocolErrorsCarryTheirCodeAndRuntimeNumber) {
  TempCompany company;
  const struct {
    std::string line;
    Json id;
    int64_t code;
    int64_t number;
  } cases[] = {
      {"this is not json", nullptr, -32700, 13},
      {R"({"jsonrpc":"2.0","id":1,"method":"create","params":["eTransTypeEnm"])", nullptr, -32700, 13},
      {"42", nullptr, -32600, 5},
      {R"("create")", nullptr, -32600, 5},
      {R"({"jsonrpc":"2.0","id":2,"method":5,"params":[]})", 2, -32600, 5},
      {R"({"jsonrpc":"2.0","id":3,"params":[]})", 3, -32600, 5},
      {R"({"jsonrpc":"1.0","id":4,"method":"create","params":["eTransTypeEnm"]})", 4, -32600, 5},
      {R"({"id":5,"method":"create","params":["eTransTypeEnm"]})", 5, -32600, 5},
      {R"({"jsonrpc":"2.0","id":6,"method":"create","params":"eTransTypeEnm"})", 6, -32600, 5},
      {R"({"jsonrpc":"2.0","id":{"n":7},"method":"create","params":["eTransTypeEnm"]})", nullptr, -32600, 5},
      {R"({"jsonrpc":"2.0","id":8,"method":"invoke","params":{"object":"1","member":"GetAllValues","args":[]}})", 8,
       -32600, 5},
      {R"({"jsonrpc":"2.0","id":9,"method":"invoke","params":{"object":1,"member":"GetAllValues","args":{}}})", 9,
       -32600, 5},
      {Request(10, "NoSuchClass.GetAllValues", Json::array()), 10, -32601, 429},
      {Request(11, "create", {"NoSuchClass"}), 11, -32601, 429},
      {Request(12, "create", {"Recordset"}), 12, -32601, 429},
      {Request(13, "Collection.Count", Json::array()), 13, -32601, 429},
      {Request(14, "ACAccount.Name", Json::array()), 14, -32601, 429},
      {Request("fifteen", "eTransTypeEnm.NoSuchMember", Json::array()), "fifteen", -32601, 438},
      {Request(16, "eTransTypeEnm.IsValidValue", Json::array()), 16, -32602, 449},
      {Request(17, "eTransTypeEnm.GetAllValues", {1}), 17, -32602, 449},
      {Request(18, "create", Json::array()), 18, -32602, 449},
      {Invoke(19, 999, "GetAllValues"), 19, -32602, 5},
      {Request(20, "release", {999}), 20, -32602, 5},
      {Request(21, "eTransTypeEnm.IsValidValue", {{{"$object", 999}}}), 21, -32602, 5},
      {Request(22, "eTransTypeEnm.IsValidValue", {{{"$date", "2026-02-30"}}}), 22, -32602, 5},
      {Request(23, "eTransTypeEnm.IsValidValue", {{{"$date", "31/03/2026"}}}), 23, -32602, 5},
      {Request(24, "eTransTypeEnm.IsValidValue", {{{"$currency", "1.5x"}}}), 24, -32602, 5},
      {Request(25, "eTransTypeEnm.IsValidValue", {{{"$currency", 1.5}}}), 25, -32602, 5},
      {Request(26, "eTransTypeEnm.IsValidValue", {{{"$empty", false}}}), 26, -32602, 5},
      {Request(27, "eTransTypeEnm.IsValidValue", {{{"$bogus", true}}}), 27, -32602, 5},
      {Request(28, "eTransTypeEnm.IsValidValue", {{{"$currency", "1"}, {"$date", "2026-03-31"}}}), 28, -32602, 5},
      {Request(29, "eTransTypeEnm.IsValidValue", {Json::array({1})}), 29, -32602, 5},
  };
  std::vector<std::string> lines;
  for (const auto& c : cases) lines.push_back(c.line);
  const BridgeRun run = RunBridge(company.folder(), lines);
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.responses.size(), std::size(cases)) << "one response per line";
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].line);
    EXPECT_TRUE(IsError(run.responses[i], cases[i].code, cases[i].number));
    EXPECT_EQ(run.responses[i].value("id", Json("(no id)")), cases[i].id);
  }
}

TEST(RpcBridge, BadLineIsAnsweredAndTheNextLineStillServed) {
  TempCompany company;
  const BridgeRun run = RunBridge(company.folder(), {"{garbage", Request(2, "eTransTypeEnm.IsValidValue", {12}), "[1,",
                                                     Request(4, "etranstypeenm.isvalidvalue", {13})});
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_TRUE(IsError(run.responses[0], -32700, 13));
  EXPECT_EQ(run.responses[1].value("id", Json()), 2);
  EXPECT_EQ(ValueOf(run.responses[1]), true);
  EXPECT_TRUE(IsError(run.responses[2], -32700, 13));
  EXPECT_EQ(run.responses[3].value("id", Json()), 4);
  EXPECT_EQ(ValueOf(run.responses[3]), false);
}

TEST(RpcBridge, BatchesGetArraysAndNotificationsGetNoLine) {
  TempCompany company;
  const Json path = company.path();
  const BridgeRun run =
      RunBridge(company.folder(),
                {
                    std::string("[").append(Request(1, "eBalanceSheetTypeEnm.IsValidValue", {3})) + "," +
                        Notification("CReportMgr.ExecReportQuery", {path, "UPDATE ISubScriber SET AccountNo='N-1'"}) +
                        "," + Request(3, "NoSuchClass.Foo", Json::array()) + "]",
                    Notification("CReportMgr.ExecReportQuery", {path, "UPDATE ISubScriber SET CompanyName='Renamed'"}),
                    std::string("[").append(Notification("eTransTypeEnm.GetAllValues", Json::array())) + "," +
                        Notification("NoSuchClass.Foo", Json::array()) + "," +
                        Notification("eTransTypeEnm.IsValidValue", {nullptr}) + "]",
                    "[]",
                    "[1,2]",
                    Request(6, "CReportMgr.ExecReportQuery", {path, "SELECT AccountNo, CompanyName FROM ISubScriber"}),
                });
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.responses.size(), 4u);

  const Json& batch = run.responses[0];
  ASSERT_TRUE(batch.is_array()) << batch.dump();
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(batch[0].value("id", Json()), 1);
  EXPECT_EQ(ValueOf(batch[0]), true);
  EXPECT_EQ(batch[1].value("id", Json()), 3);
  EXPECT_TRUE(IsError(batch[1], -32601, 429));

  EXPECT_TRUE(IsError(run.responses[1], -32600, 5)) << "an empty batch is one invalid request";

  const Json& invalid = run.responses[2];
  ASSERT_TRUE(invalid.is_array()) << invalid.dump();
  ASSERT_EQ(invalid.size(), 2u);
  EXPECT_TRUE(IsError(invalid[0], -32600, 5));
  EXPECT_TRUE(IsError(invalid[1], -32600, 5));

  // The notifications were carried out.
  EXPECT_EQ(run.responses[3].value("id", Json()), 6);
  EXPECT_EQ(ValueOf(run.responses[3]).value("rows", Json()), Json::parse(R"([["N-1","Renamed"]])"));
}

TEST(RpcBridge, HeldObjectsKeepOneHandleUntilReleased) {
  TempCompany company;
  auto handle = [](const std::vector<Json>& earlier, size_t line) { return HandleOf(ValueOf(earlier.at(line))); };
  const std::vector<Step> steps = {
      [](auto&) { return Request(0, "create", {"ETRANSTYPEENM"}); },
      [&](auto& r) { return Invoke(1, handle(r, 0), "GetAllValues"); },
      [&](auto& r) {
        return Request(2, "invoke", {{"object", handle(r, 0)}, {"member", "getallvalues"}});
      },
      [](auto&) { return Request(3, "create", {"eTransTypeEnm"}); },
      [&](auto& r) { return Invoke(4, handle(r, 3), "GetAllValues"); },
      [&](auto& r) { return Invoke(5, handle(r, 1), "MoveFirst"); },
      [&](auto& r) { return Invoke(6, handle(r, 1), "Fields", {"Description"}); },
      [&](auto& r) {
        return Invoke(7, handle(r, 0), "IsValidValue", {{{"$object", handle(r, 4)}}});
      },
      [&](auto& r) { return Request(8, "release", {handle(r, 1)}); },
      [&](auto& r) { return Invoke(9, handle(r, 1), "Fields", {0}); },
      [&](auto& r) { return Request(10, "release", {handle(r, 1)}); },
      [&](auto& r) { return Invoke(11, handle(r, 0), "IsValidValue", {12}); },
      [&](auto& r) { return Invoke(12, handle(r, 0), "GetAllValues"); },
  };
  const BridgeRun run = Converse(company.folder(), steps);
  ASSERT_EQ(run.responses.size(), 13u);
  const std::vector<Json>& r = run.responses;

  const Json created = ValueOf(r[0]);
  EXPECT_EQ(created.value("class", Json()), "eTransTypeEnm");
  EXPECT_GT(HandleOf(created), 0);
  EXPECT_EQ(ResultOf(r[0]).value("args", Json()), Json::array({"ETRANSTYPEENM"}));

  const Json values = ValueOf(r[1]);
  EXPECT_EQ(values.value("class", Json()), "Recordset");
  EXPECT_EQ(values.value("closed", Json()), false);
  EXPECT_EQ(
      values.value("columns", Json()),
      Json::parse(R"([{"name":"Code","type":"text","size":255},{"name":"Description","type":"text","size":255}])"));
  const Json rows = values.value("rows", Json());
  ASSERT_TRUE(rows.is_array());
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(rows[0], Json::array({"0", "CHQ"}));
  EXPECT_EQ(rows[12], Json::array({"12", "CC"}));
  EXPECT_EQ(values.value("position", Json()), 12);

  const int64_t values_handle = HandleOf(values);
  EXPECT_EQ(HandleOf(ValueOf(r[2])), values_handle) << "the same result set under the same handle";
  EXPECT_NE(values_handle, HandleOf(created));
  const int64_t second_object = HandleOf(ValueOf(r[3]));
  EXPECT_NE(second_object, HandleOf(created));
  const int64_t second_values = HandleOf(ValueOf(r[4]));
  EXPECT_NE(second_values, values_handle);
  EXPECT_NE(second_values, second_object);

  EXPECT_TRUE(ResultOf(r[5]).is_object());
  EXPECT_EQ(ValueOf(r[6]), "CHQ") << "MoveFirst moved the held result set";
  EXPECT_TRUE(IsError(r[7], 13, 13)) << "a held object passed as an argument reaches the operation";
  EXPECT_TRUE(ResultOf(r[8]).is_object());
  EXPECT_TRUE(IsError(r[9], -32602, 5));
  EXPECT_TRUE(IsError(r[10], -32602, 5));
  EXPECT_EQ(ValueOf(r[11]), true) << "releasing the result set leaves its enumeration object held";

  // IsValidValue(12) matched the last row, so the table is now at its end.
  const Json after = ValueOf(r[12]);
  EXPECT_EQ(after.value("rows", Json()), rows);
  EXPECT_EQ(after.value("position", Json()), 13);
}

TEST(RpcBridge, ReportQueryReturnsTheWholeResultSet) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    "INSERT INTO ACAccount (Parent,AccountNumber,Name,Balance) VALUES (1,'1000','Bank',125000);"),
            "");
  const Json path = company.path();
  const std::string subscriber_sql = "SELECT ISubScriberID, CompanyName FROM ISubScriber";
  const BridgeRun run = RunBridge(
      company.folder(), {
                            Request(1, "CReportMgr.ExecReportQuery", {path, subscriber_sql}),
                            Request(2, "creportmgr.execreportquery",
                                    {path, "SELECT Name, Balance FROM ACAccount WHERE AccountNumber='1000'"}),
                            Request(3, "CReportMgr.ExecReportQuery", {path, "UPDATE ISubScriber SET AccountNo='A-7'"}),
                            Request(4, "CReportMgr.ExecReportQuery", {path, "SELECT AccountNo FROM ISubScriber"}),
                            Request(5, "CReportMgr.ExecReportQuery", {path, "SELECT Name FROM ACAccount WHERE 1=0"}),
                        });
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.responses.size(), 5u);
  const std::string subscriber_id = RawScalar(company.path(), "SELECT ISubScriberID FROM ISubScriber");

  const Json subscribers = ValueOf(run.responses[0]);
  EXPECT_GT(HandleOf(subscribers), 0);
  EXPECT_EQ(subscribers.value("class", Json()), "Recordset");
  EXPECT_EQ(subscribers.value("closed", Json()), false);
  EXPECT_EQ(subscribers.value("columns", Json()), Json::parse(R"([{"name":"ISubScriberID","type":"long","size":4},
                                                                   {"name":"CompanyName","type":"text","size":255}])"));
  EXPECT_EQ(subscribers.value("rows", Json()), Json::array({Json::array({std::stoi(subscriber_id), "Acme Trading"})}));
  EXPECT_EQ(subscribers.value("position", Json()), 0);
  EXPECT_EQ(ResultOf(run.responses[0]).value("args", Json()), Json::array({path, subscriber_sql}));

  const Json money = ValueOf(run.responses[1]);
  const Json columns = money.value("columns", Json());
  ASSERT_TRUE(columns.is_array() && columns.size() == 2) << money.dump();
  EXPECT_EQ(columns[1].value("type", Json()), "currency");
  EXPECT_EQ(money.value("rows", Json()), Json::parse(R"([["Bank",{"$currency":"12.5"}]])"));
  EXPECT_NE(HandleOf(money), HandleOf(subscribers));

  const Json update = ValueOf(run.responses[2]);
  EXPECT_EQ(update.value("class", Json()), "Recordset");
  EXPECT_EQ(update.value("closed", Json()), true);
  EXPECT_EQ(update.value("rows", Json()), Json::array());
  EXPECT_EQ(ValueOf(run.responses[3]).value("rows", Json()), Json::parse(R"([["A-7"]])"));

  const Json none = ValueOf(run.responses[4]);
  EXPECT_EQ(none.value("closed", Json()), false);
  EXPECT_EQ(none.value("rows", Json()), Json::array());
  EXPECT_EQ(none.value("position", Json()), 0);
}

TEST(RpcBridge, OperationErrorsKeepTheirNumberSourceAndDescription) {
  TempCompany company;
  const Json path = company.path();
  const std::vector<std::string> lines = {
      Request(1, "CReportMgr.ExecReportQuery", {path, "SELEC * FROM ACAccount"}),
      Request(2, "CReportMgr.ExecReportQuery", {path, nullptr}),
      Request(3, "eBalanceSheetTypeEnm.IsValidValue", {nullptr}),
  };
  const BridgeRun run = RunBridge(company.folder(), lines);
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.responses.size(), 3u);

  const testing::ExpectedEngineError syntax = testing::ExpectedError(testing::EngineFailure::kSqlError);
  ASSERT_TRUE(IsError(run.responses[0], syntax.number, syntax.number, syntax.source));
  EXPECT_EQ(Occurrences(run.responses[0]["error"]["message"].get<std::string>(), " >VantorERR@"), 1);

  ASSERT_TRUE(IsError(run.responses[1], 94, 94));
  EXPECT_EQ(Occurrences(run.responses[1]["error"]["message"].get<std::string>(), " >VantorERR@"), 1);

  ASSERT_TRUE(IsError(run.responses[2], 94, 94));
  EXPECT_EQ(
      run.responses[2]["error"]["message"].get<std::string>().rfind(
          "VantorINV::eBalanceSheetType::IsValidValue\r\nError#:      94\r\nSource:      ledgerkit\r\nDescription: ",
          0),
      0u);
}

// The data of an error response, for the fields beside the triple.
Json DataOf(const Json& response) {
  if (!response.is_object() || !response.contains("error") || !response["error"].contains("data")) {
    ADD_FAILURE() << "expected an error: " << response.dump();
    return Json::object();
  }
  return response["error"]["data"];
}

std::string DescriptionOf(const Json& response) { return DataOf(response).value("description", std::string()); }

// A front end's session that goes wrong in every way it can, reading what it shows a person
// (text), the argument to point at and the call that failed; the triple stays what it was.
TEST(RpcBridge, ErrorsSayTheMessageTheArgumentAtFaultAndTheOperation) {
  TempCompany company;
  const Json path = company.path();
  const std::string long_name(300, 'N');
  const BridgeRun run = Converse(
      company.folder(),
      {
          [&](const auto&) { return Request(1, "CReportMgr.ExecReportQuery", {path, "SELEC * FROM ACAccount"}); },
          [&](const auto&) { return Request(2, "eBalanceSheetTypeEnm.IsValidValue", {nullptr}); },
          [&](const auto&) {
            return Request(3, "CACMgr.UpdateAccount",
                           {path, "", "", 1, "1000", long_name, "", "", false, "", "", "", nullptr});
          },
          [&](const auto&) { return Request(4, "CACMgr.GetAccount", {path, "", "", 0}); },
          [&](const auto&) { return Request(5, "CReportMgr.TrialBalance", {path, "", "", ""}); },
          [&](const auto&) {
            return Request(6, "CACMgr.PostDebit", {path, 1, 1, Json{{"$currency", "twelve"}}, "Rent"});
          },
          [&](const auto&) { return Request(7, "CACMgr.NoSuchMember", {path}); },
          [&](const auto&) { return Request(8, "CACMgr.GetAccount", {path}); },
          [&](const auto&) { return Request(9, "NoSuchClass.GetAccount", {path}); },
          [&](const auto&) { return Request(10, "create", {"CACMgr"}); },
          [&](const std::vector<Json>& earlier) {
            return Invoke(11, HandleOf(ValueOf(earlier[9])), "getaccount", {path, "", "", "0"});
          },
          [&](const auto&) { return std::string("{\"jsonrpc\":\"2.0\",\"id\":12,\"method\":"); },
      });
  ASSERT_EQ(run.responses.size(), 12u);
  for (const Json& response : run.responses) {
    if (response.contains("result")) continue;  // the create that invoke uses
    const Json data = DataOf(response);
    const std::string text = data.value("text", std::string());
    EXPECT_FALSE(text.empty()) << response.dump();
    EXPECT_EQ(text.find_first_of("\r\n\t"), std::string::npos) << text;
    EXPECT_EQ(text.find(">VantorERR@"), std::string::npos) << text;
    EXPECT_EQ(text.find("Error#:"), std::string::npos) << text;
    EXPECT_FALSE(text.front() == ' ' || text.back() == ' ') << text;
    // Omitted when unknown, never null.
    EXPECT_TRUE(!data.contains("argument") || data["argument"].is_string()) << response.dump();
    EXPECT_TRUE(!data.contains("operation") || data["operation"].is_string()) << response.dump();
  }
  auto field = [&](size_t i, const char* name) { return DataOf(run.responses[i]).value(name, Json("(none)")); };

  // An engine error marked once: the text is the engine's message without the marker (and,
  // from the server, without its SQLSTATE).
  const testing::ExpectedEngineError syntax = testing::ExpectedError(testing::EngineFailure::kSqlError);
  ASSERT_TRUE(IsError(run.responses[0], syntax.number, syntax.number, syntax.source));
  const std::string marked = DescriptionOf(run.responses[0]);
  ASSERT_EQ(Occurrences(marked, " >VantorERR@"), 1);
  std::string engine_message = marked.substr(0, marked.find("\r\n >VantorERR@"));
  if (syntax.source == "PostgreSQL") engine_message = engine_message.substr(0, engine_message.rfind(" [SQLSTATE "));
  EXPECT_EQ(field(0, "text"), engine_message);
  EXPECT_EQ(field(0, "operation"), "CReportMgr.ExecReportQuery");
  EXPECT_EQ(field(0, "argument"), "(none)");

  // Inside a diagnostic block: the text is what follows "Description: ".
  ASSERT_TRUE(IsError(run.responses[1], 94, 94));
  const std::string block =
      "VantorINV::eBalanceSheetType::IsValidValue\r\nError#:      94\r\nSource:      ledgerkit\r\nDescription: ";
  const std::string blocked = DescriptionOf(run.responses[1]);
  ASSERT_EQ(blocked.rfind(block, 0), 0u) << blocked;
  EXPECT_EQ(field(1, "text"), blocked.substr(block.size(), blocked.find("\r\n", block.size()) - block.size()));
  EXPECT_EQ(field(1, "operation"), "eBalanceSheetTypeEnm.IsValidValue");
  EXPECT_EQ(field(1, "argument"), "vntValue");

  // Conversions that know the argument they convert.
  ASSERT_TRUE(IsError(run.responses[2], 5, 5));
  EXPECT_EQ(DescriptionOf(run.responses[2]).rfind("The text for Name has 300 characters; at most ", 0), 0u)
      << DescriptionOf(run.responses[2]);
  EXPECT_EQ(field(2, "argument"), "Name");
  EXPECT_EQ(field(2, "operation"), "CACMgr.UpdateAccount");
  ASSERT_TRUE(IsError(run.responses[3], 5, 5));
  EXPECT_EQ(DescriptionOf(run.responses[3]), "No ACAccount has the key 0.\r\n >VantorERR@5");
  EXPECT_EQ(field(3, "text"), "No ACAccount has the key 0.");
  EXPECT_EQ(field(3, "argument"), "AccountID");
  EXPECT_EQ(field(3, "operation"), "CACMgr.GetAccount");
  ASSERT_TRUE(IsError(run.responses[4], 13, 13));
  EXPECT_EQ(DescriptionOf(run.responses[4]), "Type mismatch: the text \"\" cannot become a Date.\r\n >VantorERR@13");
  EXPECT_EQ(field(4, "text"), "Type mismatch: the text \"\" cannot become a Date.");
  EXPECT_EQ(field(4, "argument"), "AsOfDate");
  EXPECT_EQ(field(4, "operation"), "CReportMgr.TrialBalance");

  // The bridge's own refusal of a tagged value names the member's argument at its position.
  ASSERT_TRUE(IsError(run.responses[5], -32602, 5));
  EXPECT_EQ(DescriptionOf(run.responses[5]),
            "The value {\"$currency\":\"twelve\"} is not a valid $empty, $nothing, $currency, $date or $object value.");
  EXPECT_EQ(field(5, "text"), DescriptionOf(run.responses[5]));
  EXPECT_EQ(field(5, "argument"), "Amount");
  EXPECT_EQ(field(5, "operation"), "CACMgr.PostDebit");

  // No member, no class: nothing was called, so no operation is named.
  ASSERT_TRUE(IsError(run.responses[6], -32601, 438));
  EXPECT_EQ(DescriptionOf(run.responses[6]), "CACMgr has no member named \"NoSuchMember\".");
  EXPECT_EQ(field(6, "text"), DescriptionOf(run.responses[6]));
  EXPECT_EQ(field(6, "operation"), "(none)");
  EXPECT_EQ(field(6, "argument"), "(none)");
  // The member exists but takes more arguments: it is named, no argument is.
  ASSERT_TRUE(IsError(run.responses[7], -32602, 449));
  EXPECT_EQ(field(7, "operation"), "CACMgr.GetAccount");
  EXPECT_EQ(field(7, "argument"), "(none)");
  ASSERT_TRUE(IsError(run.responses[8], -32601, 429));
  EXPECT_EQ(field(8, "operation"), "(none)");

  // invoke names the held object's class and the member as the table spells it.
  ASSERT_TRUE(IsError(run.responses[10], 5, 5));
  EXPECT_EQ(field(10, "operation"), "CACMgr.GetAccount");
  EXPECT_EQ(field(10, "argument"), "AccountID");

  // Not JSON at all: the protocol's own error, with a text and nothing else.
  ASSERT_TRUE(IsError(run.responses[11], -32700, 13));
  EXPECT_EQ(field(11, "text"), "The line is not valid JSON.");
  EXPECT_EQ(field(11, "operation"), "(none)");
}

TEST(RpcBridge, TaggedValuesAndWideIntegersAreDecoded) {
  TempCompany company;
  const Json inputs = Json::parse(R"([
    {"$date":"2026-03-31"}, {"$date":"2026-03-31T14:05:00"}, {"$date":"2026-03-31 14:05"},
    {"$currency":"1.5"}, {"$currency":"12"}, {"$currency":"12.00"}, {"$empty":true},
    12, 12.0, 1.2e1, "12", true, 2147483647, 2147483648, -2147483648, -2147483649, 5000000000
  ])");
  std::vector<std::string> lines;
  for (size_t i = 0; i < inputs.size(); ++i) lines.push_back(Request(i, "eTransTypeEnm.IsValidValue", {inputs[i]}));
  const BridgeRun run = RunBridge(company.folder(), lines);
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.responses.size(), inputs.size());

  auto value = [&](size_t i) { return ValueOf(run.responses[i]); };
  auto echoed = [&](size_t i) {
    const Json args = ResultOf(run.responses[i]).value("args", Json());
    return args.is_array() && args.size() == 1 ? args[0] : Json("(no single argument)");
  };
  EXPECT_EQ(echoed(0), Json::parse(R"({"$date":"2026-03-31 00:00:00"})"));
  EXPECT_EQ(echoed(1), Json::parse(R"({"$date":"2026-03-31 14:05:00"})"));
  EXPECT_EQ(echoed(2), Json::parse(R"({"$date":"2026-03-31 14:05:00"})"));
  EXPECT_EQ(value(0), false);
  EXPECT_EQ(echoed(3), Json::parse(R"({"$currency":"1.5"})"));
  EXPECT_EQ(value(3), false);
  EXPECT_EQ(value(4), true) << "currency 12 is the code 12";
  EXPECT_EQ(value(5), true);
  EXPECT_EQ(echoed(6), Json::parse(R"({"$empty":true})"));
  EXPECT_EQ(value(6), false);

  EXPECT_EQ(value(7), true);
  EXPECT_TRUE(echoed(7).is_number_integer());
  EXPECT_EQ(value(8), true);
  EXPECT_TRUE(echoed(8).is_number_float()) << "a Double stays a Double";
  EXPECT_EQ(value(9), true);
  EXPECT_EQ(echoed(10), "12");
  EXPECT_EQ(value(10), true);
  EXPECT_EQ(echoed(11), true);
  EXPECT_EQ(value(11), false);

  EXPECT_TRUE(echoed(12).is_number_integer()) << echoed(12).dump();
  EXPECT_TRUE(echoed(13).is_number_float()) << echoed(13).dump();
  EXPECT_TRUE(echoed(14).is_number_integer()) << echoed(14).dump();
  EXPECT_TRUE(echoed(15).is_number_float()) << echoed(15).dump();
  EXPECT_TRUE(echoed(16).is_number_float()) << echoed(16).dump();
  EXPECT_EQ(echoed(16), 5000000000.0);
  EXPECT_EQ(echoed(15), -2147483649.0);
  EXPECT_NE(run.lines[16].find("5000000000.0"), std::string::npos) << run.lines[16];
}

}  // namespace
}  // namespace ledgerkit
