// The company directory: `ledgerkit directory` as an administrator runs it, and `ledgerkit serve
// --directory` fronting a company file and a company on the server at once, sharing its failed
// logon counts between instances, and serving a company while it is moved. The directory is a
// database of its own on the LEDGERKIT_TEST_PG server, made and dropped by each test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#ifdef LEDGERKIT_WITH_POSTGRESQL
#include <libpq-fe.h>
#endif

#include "automation/Directory.h"
#include "support/Cli.h"
#include "support/ServeProcess.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using testing::RunLedgerkit;
using testing::ShellQuote;
constexpr auto kBound = std::chrono::seconds(60);

#ifdef LEDGERKIT_WITH_POSTGRESQL
// Runs `sql` on the test server's own database; the server's message on failure.
std::string OnServer(const std::string& sql) {
  PGconn* conn = PQconnectdb(testing::PostgresServer().c_str());
  PGresult* result = PQexec(conn, sql.c_str());
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
  std::string answer = ok ? (PQntuples(result) > 0 ? PQgetvalue(result, 0, 0) : "") : std::string("error: ") + PQerrorMessage(conn);
  PQclear(result);
  PQfinish(conn);
  return answer;
}
#else
std::string OnServer(const std::string&) { return "error: no server engine"; }
#endif

// A directory in a database of its own, a folder for files, a company file `books` and a
// company `ledger` on the server (each with boss/secret, an administrator, and the standard
// chart), all removed at the end.
class DirectoryWorld {
 public:
  DirectoryWorld() {
    static int made = 0;
    const std::string tag = std::to_string(getpid()) + "_" + std::to_string(made++);
    folder_ = std::filesystem::temp_directory_path() / ("lk-directory-" + tag);
    std::filesystem::create_directories(folder_);
    database_ = "lk_directory_test_" + tag;
    const std::string made_database = OnServer("CREATE DATABASE " + database_);
    if (!made_database.empty()) throw std::runtime_error(made_database);
    // The server URI with the directory's database in place of its own.
    const std::string server = testing::PostgresServer();
    const size_t path = server.find('/', server.find("://") + 3);
    const size_t query = server.find('?', path);
    uri_ = server.substr(0, path + 1) + database_ + (query == std::string::npos ? "" : server.substr(query));
    server_company_ = testing::PostgresCompanyUri("lk_dir_" + tag);
    Run("directory init " + ShellQuote(uri_));
    Run("new " + ShellQuote(file().string()) + " --company Books --user boss --password secret --chart standard");
    Run("new " + ShellQuote(server_company_) + " --company Ledger --user boss --password secret --chart standard");
  }
  ~DirectoryWorld() {
    for (const std::string& uri : dropped_) testing::DropPostgresCompany(uri);
    testing::DropPostgresCompany(server_company_);
    OnServer("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Runs `ledgerkit ARGUMENTS`, expecting success.
  std::string Run(const std::string& arguments) const {
    const testing::CliRun run = RunLedgerkit(folder_, arguments);
    if (run.exit_code != 0) throw std::runtime_error("ledgerkit " + arguments + " failed: " + run.err);
    return run.out;
  }
  testing::CliRun Try(const std::string& arguments) const { return RunLedgerkit(folder_, arguments); }

  const std::string& uri() const { return uri_; }
  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path file() const { return folder_ / "books.ldb"; }
  const std::string& server_company() const { return server_company_; }
  // A company URI on the server that the world drops at the end.
  std::string NewServerCompany(const std::string& suffix) {
    dropped_.push_back(server_company_ + suffix);
    return dropped_.back();
  }

 private:
  std::filesystem::path folder_;
  std::string database_;
  std::string uri_;
  std::string server_company_;
  std::vector<std::string> dropped_;
};

#define LEDGERKIT_NEEDS_SERVER()                                                          \
  do {                                                                                    \
    if (testing::PostgresServer().empty()) GTEST_SKIP() << "LEDGERKIT_TEST_PG is not set"; \
  } while (false)

class Service : public testing::ServeProcess {
 public:
  Service(const DirectoryWorld& world, const std::string& log, std::vector<std::string> extra = {})
      : ServeProcess(world.folder() / log, {"--directory", world.uri(), "--directory-cache-ms", "100"}, extra) {}
};

struct Reply {
  int status = 0;
  Json body;
};

Reply Call(int port, const std::string& method, Json params, const std::string& token = "") {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(60, 0);
  httplib::Headers headers;
  if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
  const Json request{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", std::move(params)}};
  const auto response = client.Post("/rpc", headers, request.dump(), "application/json");
  if (!response) return Reply{0, nullptr};
  return Reply{response->status, response->body.empty() ? Json(nullptr) : Json::parse(response->body)};
}

std::string Logon(int port, const std::string& company, const std::string& password = "secret") {
  const Reply reply = Call(port, "CSecurityMgr.BeginUserSession", {company, "boss", password});
  return reply.status == 200 && reply.body.contains("result") ? reply.body["result"]["value"].get<std::string>() : "";
}

std::string ErrorText(const Reply& reply) {
  return reply.body.is_object() && reply.body.contains("error") ? reply.body["error"]["message"].get<std::string>() : "";
}

// The key of the account numbered `number`, read through the service.
Json AccountKey(int port, const std::string& company, const std::string& token, const std::string& number) {
  const Reply accounts = Call(port, "CACMgr.GetAllAccounts", {company, "", ""}, token);
  for (const Json& item : accounts.body["result"]["value"]["items"]) {
    if (item["value"]["properties"]["AccountNumber"] == number) return item["value"]["properties"]["ACAccountID"];
  }
  return nullptr;
}

// A waiting deposit of 12.50 to the bank: a write. Its transaction number, or null when refused.
Reply BeginDeposit(int port, const std::string& company, const std::string& token) {
  return Call(port, "CACMgr.BeginTransaction",
              {company, "", "", 7, Json{{"$date", "2026-03-31"}}, "Deposit", AccountKey(port, company, token, "1000"),
               Json{{"$currency", "12.5"}}, "", "", ""},
              token);
}

// Three times the --directory-cache-ms of the services here: every name read before is read again.
void AfterCacheLifetime() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

// An administrator's session: the directory made and filled, its refusals, and one service
// answering logons and calls on a file company and a server company; a company taken out of the
// directory is refused once the cache has let its name go.
TEST(Directory, OneServiceFrontsCompaniesOnFilesAndServersAsTheDirectorySays) {
  LEDGERKIT_NEEDS_SERVER();
  DirectoryWorld world;
  const std::string dir = ShellQuote(world.uri());
  world.Run("directory init " + dir);  // again: nothing changes
  // A relative path is kept absolute, for a service running anywhere.
  const std::string relative = std::filesystem::relative(world.file()).string();
  EXPECT_EQ(world.Run("directory add " + dir + " books " + ShellQuote(relative)),
            "Added books at " + world.file().string() + ".\n");
  world.Run("directory add " + dir + " ledger " + ShellQuote(world.server_company()));

  const std::string with_password =
      "postgresql://boss:hunter2@" + world.server_company().substr(world.server_company().find('@') + 1);
  const testing::CliRun password = world.Try("directory add " + dir + " other " + ShellQuote(with_password));
  EXPECT_EQ(password.exit_code, 1);
  EXPECT_NE(password.err.find("boss:***@"), std::string::npos) << password.err;
  EXPECT_EQ(password.err.find("hunter2"), std::string::npos) << password.err;
  const testing::CliRun missing =
      world.Try("directory add " + dir + " other " + ShellQuote((world.folder() / "nowhere.ldb").string()));
  EXPECT_NE(missing.err.find("There is no company at " + (world.folder() / "nowhere.ldb").string()), std::string::npos)
      << missing.err;
  EXPECT_NE(world.Try("directory add " + dir + " 'a/b' " + ShellQuote(world.file().string())).err.find("not \"a/b\""), std::string::npos);
  EXPECT_NE(world.Try("directory add " + dir + " books " + ShellQuote(world.server_company())).err.find("named \"books\" already"),
            std::string::npos);
  EXPECT_NE(world.Try("directory add " + dir + " again " + ShellQuote(world.file().string())).err.find("already, as \"books\""), std::string::npos);
  // A name is bound as a value, never read as SQL.
  EXPECT_EQ(world.Try("directory remove " + dir + " \"x' OR '1'='1\"").exit_code, 1);
  EXPECT_EQ(world.Run("directory list " + dir),
            "books  " + world.file().string() + "\nledger  " + world.server_company() + "\n");

  Service service(world, "serve.log");
  const std::string books = Logon(service.port(), "books");
  const std::string ledger = Logon(service.port(), "ledger");
  ASSERT_NE(books, "");
  ASSERT_NE(ledger, "");
  EXPECT_EQ(BeginDeposit(service.port(), "books", books).status, 200);
  EXPECT_EQ(BeginDeposit(service.port(), "ledger", ledger).status, 200);
  // A session is its company's only, wherever each is.
  EXPECT_EQ(Call(service.port(), "CACMgr.GetAllAccounts", {"ledger", "", ""}, books).status, 401);
  EXPECT_NE(ErrorText(Call(service.port(), "CSecurityMgr.BeginUserSession", {"nobody", "boss", "secret"})).find("no company named"),
            std::string::npos);

  world.Run("directory remove " + dir + " books");
  Reply after;
  const auto deadline = Clock::now() + kBound;
  do {
    after = Call(service.port(), "CSecurityMgr.BeginUserSession", {"books", "boss", "secret"});
  } while (after.status == 200 && Clock::now() < deadline);
  EXPECT_NE(ErrorText(after).find("There is no company named \"books\""), std::string::npos) << after.body;
  EXPECT_EQ(Call(service.port(), "CACMgr.GetAllAccounts", {"books", "", ""}, books).status, 401);
  EXPECT_EQ(Call(service.port(), "CACMgr.GetAllAccounts", {"ledger", "", ""}, ledger).status, 200);
  EXPECT_TRUE(std::filesystem::is_regular_file(world.file()));  // taken out of the directory, not deleted
}

// Failed logons spread over two instances count together: once the limit (5) is reached
// through both, either refuses the next logon, the right password included.
TEST(Directory, FailedLogonsSpreadOverInstancesCountTogether) {
  LEDGERKIT_NEEDS_SERVER();
  DirectoryWorld world;
  world.Run("directory add " + ShellQuote(world.uri()) + " ledger " + ShellQuote(world.server_company()));
  Service first(world, "first.log");
  Service second(world, "second.log");
  for (int i = 0; i < 5; ++i) {
    const Reply failed = Call((i % 2 == 0 ? first : second).port(), "CSecurityMgr.BeginUserSession", {"ledger", "boss", "wrong"});
    ASSERT_EQ(failed.status, 401) << i << " " << failed.body;
  }
  EXPECT_EQ(Call(second.port(), "CSecurityMgr.BeginUserSession", {"ledger", "boss", "secret"}).status, 429);
  EXPECT_EQ(Call(first.port(), "CSecurityMgr.BeginUserSession", {"ledger", "boss", "wrong"}).status, 429);
}

// The counts are kept in the directory, and rows older than the window are deleted as they are
// counted, whoever's they are.
TEST(Directory, FailedLogonRowsGoOnceOutOfTheWindow) {
  LEDGERKIT_NEEDS_SERVER();
  DirectoryWorld world;
  CompanyDirectory directory(world.uri());
  for (int i = 0; i < 3; ++i) directory.RecordFailure(std::string("acme\nbo\0ss", 11));
  EXPECT_GT(directory.FailureWait(std::string("acme\nbo\0ss", 11), 3, std::chrono::seconds(3600)), 0);
  EXPECT_EQ(directory.FailureWait(std::string("acme\nbo"), 3, std::chrono::seconds(3600)), 0);  // a key of its own
  directory.ResetFailures("acme\nbo");
  EXPECT_GT(directory.FailureWait(std::string("acme\nbo\0ss", 11), 3, std::chrono::seconds(3600)), 0);
  EXPECT_EQ(directory.FailureWait("someone else", 3, std::chrono::seconds(0)), 0);
  EXPECT_EQ(directory.FailureWait(std::string("acme\nbo\0ss", 11), 3, std::chrono::seconds(3600)), 0);
}

// A company moved from a file to the server and back while a service serves it: its session and
// its rows go with it, writes land where the directory says; while it is marked, writes are
// refused and reads answered; a move that fails leaves it where it was and writable.
TEST(Directory, CompanyMovesUnderAServiceAndAFailedMoveLeavesItAsItWas) {
  LEDGERKIT_NEEDS_SERVER();
  DirectoryWorld world;
  const std::string dir = ShellQuote(world.uri());
  world.Run("directory add " + dir + " books " + ShellQuote(world.file().string()));
  Service service(world, "serve.log");
  const std::string token = Logon(service.port(), "books");
  ASSERT_NE(token, "");
  const Reply begun = BeginDeposit(service.port(), "books", token);
  ASSERT_EQ(begun.status, 200) << begun.body;

  // Marked as a move marks it: writes refused with the reason, reads answered.
  CompanyDirectory directory(world.uri());
  ASSERT_TRUE(directory.MarkMoving("books", world.file().string()));
  const Reply refused = BeginDeposit(service.port(), "books", token);
  EXPECT_NE(ErrorText(refused).find("\"books\" is being moved"), std::string::npos) << refused.body;
  EXPECT_EQ(Call(service.port(), "CACMgr.GetAllAccounts", {"books", "", ""}, token).status, 200);
  EXPECT_NE(world.Try("directory move " + dir + " books " + ShellQuote(world.NewServerCompany("_x"))).err.find("being moved"),
            std::string::npos);
  world.Run("directory unmark " + dir + " books");
  EXPECT_FALSE(directory.Find("books")->moving);
  EXPECT_EQ(world.Try("directory unmark " + dir + " books").exit_code, 1);

  const std::string on_server = world.NewServerCompany("_moved");
  EXPECT_NE(world.Run("directory move " + dir + " books " + ShellQuote(on_server)).find("the old copy is kept"),
            std::string::npos);
  EXPECT_EQ(directory.Find("books")->location, on_server);
  EXPECT_TRUE(std::filesystem::is_regular_file(world.file()));
  // The waiting deposit came along; the session too. A write that still reaches the old location
  // is refused, nothing written, and asked to call again; once the cache has let the name go
  // (100 ms), calls go to the new one.
  const Json number = begun.body["result"]["value"];
  const Reply stale = Call(service.port(), "CACMgr.AbortTransaction", {"books", number}, token);
  if (stale.body.contains("error")) {
    EXPECT_NE(ErrorText(stale).find("call again"), std::string::npos) << stale.body;
  }
  AfterCacheLifetime();
  const Reply aborted = Call(service.port(), "CACMgr.AbortTransaction", {"books", number}, token);
  EXPECT_EQ(aborted.status, 200) << aborted.body;
  EXPECT_FALSE(aborted.body.contains("error")) << aborted.body;

  // Failing moves: onto a company that exists, and a copy whose check finds a problem (the
  // source holds a second company record). Each leaves the company where it was and writable,
  // and no copy behind.
  EXPECT_NE(world.Try("directory move " + dir + " books " + ShellQuote(world.server_company())).err.find("exists"),
            std::string::npos);
  ASSERT_EQ(testing::RawExec(on_server, "INSERT INTO ISubScriber (CompanyName) VALUES ('Second')"), "");
  const std::filesystem::path back = world.folder() / "back.ldb";
  const testing::CliRun unchecked = world.Try("directory move " + dir + " books " + ShellQuote(back.string()));
  EXPECT_NE(unchecked.err.find("The check of the copy at " + back.string() + " found a problem"), std::string::npos)
      << unchecked.err;
  EXPECT_FALSE(std::filesystem::exists(back));
  EXPECT_EQ(directory.Find("books")->location, on_server);
  EXPECT_FALSE(directory.Find("books")->moving);
  ASSERT_EQ(testing::RawExec(on_server, "DELETE FROM ISubScriber WHERE CompanyName = 'Second'"), "");
  const Reply writable = BeginDeposit(service.port(), "books", token);
  EXPECT_EQ(writable.status, 200) << writable.body;
  EXPECT_FALSE(writable.body.contains("error")) << writable.body;

  // And back into a file, the server's copy dropped.
  world.Run("directory move " + dir + " books " + ShellQuote(back.string()) + " --drop-source");
  EXPECT_EQ(directory.Find("books")->location, back.string());
  EXPECT_EQ(OnServer("SELECT count(*) FROM pg_namespace WHERE nspname = '" +
                     on_server.substr(on_server.rfind('=') + 1) + "'"),
            "0");
  AfterCacheLifetime();
  const Reply deposit = BeginDeposit(service.port(), "books", token);
  EXPECT_EQ(deposit.status, 200) << deposit.body;
  EXPECT_FALSE(deposit.body.contains("error")) << deposit.body;
}

}  // namespace
}  // namespace ledgerkit
