// Connection strings as the engine drivers read them: which driver claims an Account, the one
// unit key of two spellings, the company-name rule, and the secrets of a PostgreSQL URI masked
// wherever libpq reads them, whatever they hold, in every message the tool, the bridge and the
// service give. No server is needed: the URIs point at a closed port, so every message about
// them is a connection failure that names the company's URI.
#include <gtest/gtest.h>
#include <httplib.h>

#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/common/Variant.h"
#include "support/Capture.h"
#include "support/Cli.h"
#include "support/ServeProcess.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::RunLedgerkit;
using testing::ShellQuote;

TEST(EngineDrivers, EveryAccountIsAnsweredByTheDriverThatClaimsIt) {
  const EngineDriver& file = DriverForAccount("books/acme.ldb");
  EXPECT_TRUE(file.names_files);
  EXPECT_EQ(file.name, "SQLite");
  EXPECT_EQ(file.connection_string("books/acme.ldb"), "Driver=SQLite;Dbq=books/acme.ldb");
  // The documented connection-string form of a file names the same file, and so the same unit.
  EXPECT_EQ(file.unit_key("Driver=SQLite;Dbq=books/./acme.ldb"), file.unit_key("books/acme.ldb"));
  EXPECT_TRUE(file.company_name_fits("Acme-2"));
  EXPECT_FALSE(file.company_name_fits("../acme"));

  // A scheme no engine of the build reads is refused, and its credentials are never shown.
  const Error unknown = testing::CaptureError([] { DriverForAccount("mysql://clerk:Hunter2@db/books"); });
  EXPECT_EQ(unknown.number(), kInvalidArgument);
  EXPECT_NE(unknown.description().find("\"mysql://...\""), std::string::npos) << unknown.description();
  EXPECT_EQ(unknown.description().find("Hunter2"), std::string::npos) << unknown.description();
  EXPECT_EQ(ShownAccount("mysql://clerk:Hunter2@db/books"), "mysql://...");

  // Exactly one file engine, and every engine gives an error block of its own.
  int files = 0;
  for (const EngineDriver* driver : EngineDrivers()) {
    files += driver->names_files ? 1 : 0;
    EXPECT_FALSE(driver->errors().empty()) << driver->name;
  }
  EXPECT_EQ(files, 1);
}

#ifdef LEDGERKIT_WITH_POSTGRESQL

// Passwords holding each character a message or a JSON text treats specially, written raw and
// percent-encoded; where a raw character makes a URI libpq cannot read, only the scheme shows.
const std::vector<std::string>& HostileSecrets() {
  static const std::vector<std::string> secrets = {
      "Tr0ub4dor'3(x),y", "Pw<1>\"q\"\\z", "Pw%20with%20blanks", "Pw%27%28%29%2C%3C%3E%22%5C%20x", "Pw with blanks",
      "Pw%26amp%3Dx"};
  return secrets;
}

// What must never appear in any output: the secret, and the start of it as written and as
// percent-decoded (each begins with a few characters no message holds otherwise).
std::vector<std::string> Telltales(const std::string& secret) {
  std::string decoded;
  for (size_t i = 0; i < secret.size(); ++i) {
    if (secret[i] == '%' && i + 2 < secret.size()) {
      decoded += static_cast<char>(std::stoi(secret.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += secret[i];
    }
  }
  return {secret, decoded, secret.substr(0, 5), decoded.substr(0, 5)};
}

// The URIs of one secret: in the user part, as password=, as sslpassword=, and all three.
std::vector<std::string> UrisWith(const std::string& secret) {
  const std::string host = "127.0.0.1:1/books";
  return {"postgresql://clerk:" + secret + "@" + host + "?connect_timeout=5&company=acme",
          "postgres://clerk@" + host + "?password=" + secret + "&company=acme",
          "postgresql://clerk@" + host + "?sslpassword=" + secret + "&connect_timeout=5&company=acme",
          "postgresql://clerk:" + secret + "@" + host + "?password=" + secret + "&sslpassword=" + secret +
              "&company=acme"};
}

void ExpectNoSecret(const std::string& text, const std::string& secret, const std::string& where) {
  for (const std::string& telltale : Telltales(secret)) {
    EXPECT_EQ(text.find(telltale), std::string::npos) << where << " shows " << telltale << ": " << text;
  }
}

TEST(PostgresUris, SecretsAreMaskedWhereLibpqReadsThemWhateverTheyHold) {
  for (const std::string& secret : HostileSecrets()) {
    for (const std::string& uri : UrisWith(secret)) {
      SCOPED_TRACE(uri);
      const std::string shown = ShownAccount(uri);
      ExpectNoSecret(shown, secret, "the shown form");
      // What is shown is the URI with the mask where each secret was, or, for a URI libpq
      // cannot read, its scheme alone.
      if (shown.size() > 16) {
        EXPECT_NE(shown.find("clerk"), std::string::npos) << shown;
        EXPECT_NE(shown.find("***"), std::string::npos) << shown;
        EXPECT_NE(shown.find("company=acme"), std::string::npos) << shown;
      } else {
        EXPECT_TRUE(shown == "postgresql://..." || shown == "postgres://...") << shown;
      }
      // Opening it fails on the closed port, or refuses what libpq cannot read, and says so
      // with the masked URI.
      const Error error = testing::CaptureError([&] { UnitOfWork::Run(Variant(uri), Access::kRead, [] {}); });
      ExpectNoSecret(error.description(), secret, "the error");
      EXPECT_NE(error.description().find(shown), std::string::npos) << error.description();
    }
  }
  // Two spellings of one company share one unit; a URI without a secret is shown as written.
  const EngineDriver& server = DriverForAccount("postgres://clerk@db/books?company=acme");
  EXPECT_FALSE(server.names_files);
  EXPECT_EQ(server.unit_key("postgres://clerk@db/books?company=acme"),
            server.unit_key("postgresql://clerk@db/books?company=acme"));
  EXPECT_EQ(ShownAccount("postgresql://clerk@db:5432/books?sslmode=disable&company=acme"),
            "postgresql://clerk@db:5432/books?sslmode=disable&company=acme");
  // The key=value form is read by libpq too: quoted, escaped and plain values are masked.
  EXPECT_EQ(server.shown("host=db password='it\\'s (x), y' sslpassword=Tr0ub\\ 4dor user=clerk"),
            "host=db password=*** sslpassword=*** user=clerk");
  EXPECT_EQ(server.shown("host=db password='unterminated user=clerk"), "(connection string)");
  // The one company-name rule: a server's schema names.
  EXPECT_TRUE(server.company_name_fits("acme_2"));
  for (const std::string& name : std::vector<std::string>{"Acme", "2acme", "pg_x", "a-b", std::string(64, 'a')}) {
    EXPECT_FALSE(server.company_name_fits(name)) << name;
  }
}

// Every way the tool reaches a company on a server, with a hostile password: no output of any
// command, no answer of `ledgerkit rpc` and no answer of `serve --server` shows it.
TEST(PostgresUris, NoCommandAnswerOrLogShowsAPassword) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("lk_uris_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  for (const std::string& secret : HostileSecrets()) {
    const std::string uri = UrisWith(secret)[3];
    SCOPED_TRACE(uri);
    const std::string company = ShellQuote(uri);
    for (const std::string& command :
         {"check " + company, "accounts " + company, "report trial-balance " + company,
          "query " + company + " 'SELECT 1'", "copy " + company + " " + ShellQuote((folder / "c.ldb").string()),
          "post " + company + " --date 2024-01-02 --description x --debit 1000=1 --credit 2000=1",
          "new " + company + " --company x"}) {
      const testing::CliRun run = RunLedgerkit(folder, command);
      EXPECT_NE(run.exit_code, 0) << command;
      EXPECT_FALSE(run.err.empty()) << command;
      ExpectNoSecret(run.out + run.err, secret, command);
    }
    const nlohmann::json logon = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "CSecurityMgr.BeginUserSession"},
                                  {"params", {uri, "boss", "secret"}}};
    const testing::CliRun rpc = RunLedgerkit(folder, "rpc", logon.dump() + "\n");
    EXPECT_NE(rpc.out.find("\"error\""), std::string::npos) << rpc.out;
    ExpectNoSecret(rpc.out + rpc.err, secret, "rpc");
  }

  // The service on a server that is down: the logon's answer and the access log name the company
  // and never the server's password.
  for (const std::string& secret : {std::string("Tr0ub4dor'3(x),y"), std::string("Pw%27%28%29%2C%3C%3E%22%5C%20x")}) {
    const std::string server = "postgresql://clerk:" + secret + "@127.0.0.1:1/books?password=" + secret +
                               "&sslpassword=" + secret + "&connect_timeout=5";
    testing::ServeProcess serve(folder / "serve.log", {"--server", server}, {});
    httplib::Client client("127.0.0.1", serve.port());
    client.set_read_timeout(60, 0);
    const nlohmann::json logon = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "CSecurityMgr.BeginUserSession"},
                                  {"params", {"acme", "boss", "secret"}}};
    const auto answer = client.Post("/rpc", logon.dump(), "application/json");
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->body.find("\"error\""), std::string::npos) << answer->body;
    ExpectNoSecret(answer->body, secret, "serve");
    serve.Stop();
    ExpectNoSecret(serve.Log(), secret, "the access log");
  }
  std::filesystem::remove_all(folder);
}

#endif  // LEDGERKIT_WITH_POSTGRESQL

}  // namespace
}  // namespace ledgerkit
