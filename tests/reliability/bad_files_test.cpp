// Files that are not usable company files: not a database at all, empty, another program's
// database, a folder, a path that leads nowhere, a file the process may only read, and a file
// replaced or removed between two calls. Each gives a clean error, writes nothing, creates
// nothing, and never shows data of a file that is no longer there.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "engines/postgres/PostgresEngine.h"
#include "ledgerkit/entities/ISubScriber.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "ledgerkit/subscriber/CAccountMgr.h"
#include "support/Capture.h"
#include "support/Cli.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

namespace fs = std::filesystem;
using testing::Occurrences;
using testing::RawExec;
using testing::RawScalar;
using testing::TempCompany;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Noise(size_t size) {
  std::mt19937 random(20260331);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFFu);
  return bytes;
}

// Every folder and file under `folder` (a file by its size and a digest of its bytes), to show
// that nothing was written or created. Shared-memory index files ("-shm") are left out when
// asked: readers may note their place there without changing any data.
std::map<std::string, std::string> Snapshot(const fs::path& folder, bool without_shm = false) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_directory()) {
      entries[name + "/"] = "folder";
    } else if (!(without_shm && name.ends_with("-shm"))) {
      const std::string bytes = ReadBytes(entry.path());
      entries[name] =
          std::to_string(bytes.size()) + " bytes, digest " + std::to_string(std::hash<std::string>{}(bytes));
    }
  }
  return entries;
}

// An error of the engine's own block and source, on either engine.
bool IsEngineError(const Error& error) {
  const auto number = static_cast<uint32_t>(error.number());
  if (error.source() == kPostgresSource) return (number & 0xFFFFF000u) == kPostgresErrorBase;
  return (number & 0xFFFF0000u) == kEngineErrorBase && number < kPostgresErrorBase && error.source() == kEngineSource;
}

bool IsClean(const Error& error) {
  const bool runtime = error.number() > 0 && error.number() < 0x10000 && error.source() == kLibrarySource;
  return (IsEngineError(error) || runtime) && Occurrences(error.description(), " >VantorERR@") == 1;
}

// "ok <what the call gave>", "clean error", or what was wrong with the failure.
std::string Outcome(const std::function<std::string()>& call) {
  try {
    return "ok " + call();
  } catch (const Error& error) {
    if (IsClean(error)) return "clean error";
    return "unclean error " + std::to_string(error.number()) + " (" + error.source() + "): " + error.description();
  } catch (...) {
    return "an exception that is not a ledgerkit::Error";
  }
}

using Operation = std::pair<std::string, std::function<std::string(const Variant&)>>;

// Operations of every manager, each reading or writing a company file.
std::vector<Operation> EveryKindOfOperation() {
  const Date day = Date::FromCivil(2026, 3, 31);
  return {
      {"CAccountMgr::GetAccountInfo",
       [](const Variant& a) { return CAccountMgr().GetAccountInfo(a) ? "a company" : "nothing"; }},
      {"CAccountMgr::GetNextTransactionNumber",
       [](const Variant& a) { return ToText(CAccountMgr().GetNextTransactionNumber(a, "alice", "t")); }},
      {"CAccountMgr::UpdateAccountBusinessInfo",
       [](const Variant& a) {
         CAccountMgr().UpdateAccountBusinessInfo(a, "Renamed", "1 Main St", "", "", "Town", "ON", "K1A 0B1", "CA",
                                                 "555", "556");
         return "";
       }},
      {"CACMgr::GetAllAccounts",
       [](const Variant& a) { return std::to_string(CACMgr().GetAllAccounts(a, "alice", "t")->Count()); }},
      {"CACMgr::AddAccount",
       [](const Variant& a) {
         return ToText(CACMgr().AddAccount(a, "alice", "t", "1000", "Bank", "", "", false, "", 0, 1, 0));
       }},
      {"CACMgr::BeginTransaction",
       [day](const Variant& a) {
         return CACMgr().BeginTransaction(a, "alice", "t", int32_t{ttCHQ}, day, "Rent", 1, Currency::FromUnits(100), "",
                                          "memo", "101");
       }},
      {"CACMgr::EndTransaction",
       [](const Variant& a) {
         CACMgr().EndTransaction(a, "1");
         return "";
       }},
      {"CUserManager::AddUserProfile",
       [](const Variant& a) {
         CUserManager().AddUserProfile(a, "alice", "t", "carol", "pw", "Carol", "Chen", "C", 0, false, "", true);
         return "";
       }},
      {"CSecurityMgr::BeginUserSession",
       [](const Variant& a) { return CSecurityMgr().BeginUserSession(a, "alice", "pw"); }},
      {"CReportMgr::ExecReportQuery SELECT",
       [](const Variant& a) {
         return std::to_string(CReportMgr().ExecReportQuery(a, "SELECT Name FROM ACAccount")->RecordCount());
       }},
      {"CReportMgr::ExecReportQuery UPDATE",
       [](const Variant& a) {
         CReportMgr().ExecReportQuery(a, "UPDATE ACAccount SET Name='changed'");
         return "";
       }},
  };
}

using testing::CliRun;
using testing::ShellQuote;

TEST(BadFiles, FilesThatAreNoCompanyFileGiveCleanErrorsAndAreNeitherWrittenNorCreated) {
  TempCompany scratch;  // its folder holds the bad files; its own company file stays untouched
  const fs::path folder = scratch.folder();
  WriteBytes(folder / "noise.ldb", Noise(8192));
  WriteBytes(folder / "empty.ldb", "");
  WriteBytes(folder / "photos.db", "");
  ASSERT_EQ(RawExec((folder / "photos.db").string(),
                    "CREATE TABLE album (id INTEGER PRIMARY KEY, title TEXT);"
                    "CREATE TABLE photo (id INTEGER PRIMARY KEY, album INTEGER, taken TEXT, path TEXT);"
                    "INSERT INTO album (title) VALUES ('Holidays');"
                    "INSERT INTO photo (album, taken, path) VALUES (1, '2025-08-01', 'beach.jpg');"),
            "");
  fs::create_directory(folder / "a folder");
  const std::vector<std::string> targets = {
      (folder / "noise.ldb").string(),
      (folder / "empty.ldb").string(),
      (folder / "photos.db").string(),
      (folder / "a folder").string(),
      (folder / "nowhere" / "company.ldb").string(),
      scratch.MissingPath(),
  };

  const auto before = Snapshot(folder);
  for (const std::string& target : targets) {
    for (const auto& [name, operation] : EveryKindOfOperation()) {
      EXPECT_EQ(Outcome([&, &op = operation] { return op(Variant(target)); }), "clean error")
          << name << " on " << target;
    }
  }
  EXPECT_EQ(Snapshot(folder), before) << "no file written, none created";

  TempCompany elsewhere;  // keeps the tool's standard error out of the folder watched
  for (const std::string& target : targets) {
    const CliRun run = testing::RunLedgerkit(elsewhere.folder(), "query " + ShellQuote(target) + " 'SELECT Name FROM ACAccount'");
    EXPECT_NE(run.exit_code, 0) << target;
    EXPECT_EQ(run.out, "") << target;
    EXPECT_TRUE(run.err.starts_with("ledgerkit query: ")) << run.err;
    EXPECT_EQ(Occurrences(run.err, "\n"), 1) << "one line: " << run.err;
    EXPECT_TRUE(run.err.ends_with(", SQLite)\n") || run.err.ends_with(", " + std::string(kPostgresSource) + ")\n") ||
                run.err.ends_with(", ledgerkit)\n"))
        << run.err;
    EXPECT_EQ(Occurrences(run.err, "VantorERR"), 0) << run.err;
  }
  EXPECT_EQ(Snapshot(folder), before) << "the command-line tool wrote or created nothing either";
}

// What a company file shows to the reads below, as text.
std::vector<std::pair<std::string, std::string>> Reads(const Variant& a, const std::string& token) {
  const std::vector<std::pair<std::string, std::function<std::string()>>> reads = {
      {"CAccountMgr::GetAccountInfo", [&] { return ToText(CAccountMgr().GetAccountInfo(a)->Value("CompanyName")); }},
      {"CACMgr::GetAllAccounts", [&] { return std::to_string(CACMgr().GetAllAccounts(a, "alice", "t")->Count()); }},
      {"CACMgr::GetAccount", [&] { return ToText(CACMgr().GetAccount(a, "alice", "t", 1)->Value("Name")); }},
      {"CACMgr::GetAccountBalance", [&] { return ToText(CACMgr().GetAccountBalance(a, 1)); }},
      {"CSecurityMgr::GetSysSession",
       [&] { return ToText(CSecurityMgr().GetSysSession(a, token)->Value("UserName")); }},
      {"CReportMgr::ExecReportQuery",
       [&] { return ToText(CReportMgr().ExecReportQuery(a, "SELECT COUNT(*) FROM ACTransaction")->Field(0)); }},
  };
  std::vector<std::pair<std::string, std::string>> outcomes;
  for (const auto& [name, read] : reads) outcomes.emplace_back(name, Outcome(read));
  return outcomes;
}

TEST(BadFiles, FileThatMayOnlyBeReadRefusesEveryWriteCleanlyAndChangesNothing) {
  LEDGERKIT_FILE_ONLY("a file that may only be read is the file engine's case");
  // Made on a thread of its own, so that when it ends no connection to the file is kept here.
  std::optional<TempCompany> company;
  std::vector<std::pair<std::string, std::string>> expected_reads;
  std::string pending;
  const std::string token = "0123456789ABCDEF01234567";
  std::thread([&] {
    company.emplace();
    const Variant a = company->account();
    ASSERT_EQ(RawExec(company->path(),
                      "INSERT INTO IUser (IUserID,Parent,UserName,Password,LastName,AllowLogon) VALUES "
                      "(1,1,'alice','pw','Anders',1),(2,1,'bob','secret','Berg',1);"
                      "INSERT INTO SysSessions (Account,UserName,Token) VALUES ('TEMP','alice','" +
                          token + "');"),
              "");
    CACMgr ledger;
    const Variant asset = ledger.AddAccountType(a, "alice", "t", "Bank accounts", "", false, int32_t{bstASSET});
    const Variant expense = ledger.AddAccountType(a, "alice", "t", "Expenses", "", false, int32_t{bstEXPENSE});
    ASSERT_EQ(ToLong(ledger.AddAccount(a, "alice", "t", "1000", "Bank", "", "", false, "", 0, asset, 0)), 1);
    ASSERT_EQ(ToLong(ledger.AddAccount(a, "alice", "t", "5000", "Rent", "", "", false, "", 0, expense, 0)), 2);
    const Date day = Date::FromCivil(2026, 3, 31);
    const std::string cheque =
        ledger.BeginTransaction(a, "alice", "t", int32_t{ttCHQ}, day, "Rent", 1, Currency::FromUnits(100), "", "", "7");
    ledger.PostDebit(a, cheque, 2, Currency::FromUnits(100), "Rent");
    ledger.EndTransaction(a, cheque);
    pending = ledger.BeginTransaction(a, "alice", "t", int32_t{ttGENJRNL}, day, "Accrual", 0, Currency(), "", "", "");
    ledger.PostDebit(a, pending, 2, Currency::FromUnits(5), "waiting");
    expected_reads = Reads(a, token);
  }).join();
  ASSERT_TRUE(company.has_value());
  for (const auto& [name, outcome] : expected_reads) ASSERT_TRUE(outcome.starts_with("ok ")) << name << ": " << outcome;

  const std::string path = company->path();
  const Date day = Date::FromCivil(2026, 4, 1);
  const std::vector<std::pair<std::string, std::function<void(const Variant&)>>> writes = {
      {"CACMgr::AddAccount",
       [](const Variant& a) { CACMgr().AddAccount(a, "alice", "t", "6000", "Travel", "", "", false, "", 0, 2, 0); }},
      {"CACMgr::UpdateAccount",
       [](const Variant& a) {
         CACMgr().UpdateAccount(a, "alice", "t", 1, "1000", "Renamed", "", "", false, "", 0, 0, 1);
       }},
      {"CACMgr::DeleteAccount", [](const Variant& a) { CACMgr().DeleteAccount(a, "alice", "t", 2); }},
      {"CACMgr::BeginTransaction",
       [day](const Variant& a) {
         CACMgr().BeginTransaction(a, "alice", "t", int32_t{ttCHQ}, day, "Fuel", 1, Currency::FromUnits(40), "", "",
                                   "8");
       }},
      {"CACMgr::PostDebit",
       [&](const Variant& a) { CACMgr().PostDebit(a, pending, 2, Currency::FromUnits(1), "more"); }},
      {"CACMgr::EndTransaction", [&](const Variant& a) { CACMgr().EndTransaction(a, pending); }},
      {"CACMgr::AbortTransaction", [](const Variant& a) { CACMgr().AbortTransaction(a, "1"); }},
      {"CUserManager::AddUserProfile",
       [](const Variant& a) {
         CUserManager().AddUserProfile(a, "alice", "t", "carol", "pw", "Carol", "Chen", "", 0, false, "", true);
       }},
      {"CUserManager::DeleteUserProfile",
       [](const Variant& a) { CUserManager().DeleteUserProfile(a, "alice", "t", 2); }},
      {"CSecurityMgr::BeginUserSession", [](const Variant& a) { CSecurityMgr().BeginUserSession(a, "alice", "pw"); }},
      {"CSecurityMgr::EndUserSession", [](const Variant& a) { CSecurityMgr().EndUserSession(a, "alice"); }},
      {"CSecurityMgr::ChangeUserPassword",
       [](const Variant& a) { CSecurityMgr().ChangeUserPassword(a, "alice", "pw", "new"); }},
      {"CAccountMgr::GetNextTransactionNumber",
       [](const Variant& a) { CAccountMgr().GetNextTransactionNumber(a, "alice", "t"); }},
      {"CAccountMgr::UpdateAccountBusinessInfo",
       [](const Variant& a) {
         CAccountMgr().UpdateAccountBusinessInfo(a, "Renamed", "", "", "", "", "", "", "", "", "");
       }},
      {"CReportMgr::ExecReportQuery",
       [](const Variant& a) { CReportMgr().ExecReportQuery(a, "UPDATE ACAccount SET Name='x'"); }},
  };

  const std::string dump_before = testing::DumpTables(path);
  const auto files_before = Snapshot(company->folder(), true);
  int report[2] = {-1, -1};
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child: give up the right to write the file, try everything, report through the pipe.
    ::close(report[0]);
    std::string lines;
    if (::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        lines += "setup\tcannot drop privileges\n";
    } else if (::chmod(path.c_str(), 0444) != 0) {
      lines += "setup\tcannot make the file read-only\n";
    }
    if (::access(path.c_str(), W_OK) == 0) lines += "setup\tthe file is still writable\n";
    const Variant a(path);
    for (const auto& [name, write] : writes) {
      lines += name + "\t" + Outcome([&, &w = write] {
                 w(a);
                 return std::string();
               }) +
               "\n";
    }
    for (const auto& [name, outcome] : Reads(a, token)) lines += "read " + name + "\t" + outcome + "\n";
    for (size_t done = 0; done < lines.size();) {
      const ssize_t wrote = ::write(report[1], lines.data() + done, lines.size() - done);
      if (wrote <= 0) ::_exit(2);
      done += static_cast<size_t>(wrote);
    }
    ::_exit(0);
  }
  ::close(report[1]);
  std::string lines;
  std::array<char, 4096> buffer{};
  for (ssize_t got = 0; (got = ::read(report[0], buffer.data(), buffer.size())) > 0;)
    lines.append(buffer.data(), static_cast<size_t>(got));
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (::geteuid() != 0) ::chmod(path.c_str(), 0644);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended with status " << status;

  std::map<std::string, std::string> outcomes;
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);) {
    const size_t tab = line.find('\t');
    outcomes[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
  }
  EXPECT_EQ(outcomes.count("setup"), 0u) << outcomes["setup"];
  for (const auto& [name, write] : writes) EXPECT_EQ(outcomes[name], "clean error") << name;
  for (const auto& [name, expected] : expected_reads) {
    const std::string& got = outcomes["read " + name];
    EXPECT_TRUE(got == expected || got == "clean error")
        << name << " gave \"" << got << "\", expected \"" << expected << "\"";
  }
  EXPECT_EQ(Snapshot(company->folder(), true), files_before) << "no byte written, no file created";
  EXPECT_EQ(testing::DumpTables(path), dump_before);
}

// Three company files, each with one account named after it ("Alpha bank"), and readers of
// the company file at a path: each gives "ok <what it read>" or "clean error".
class ReplacedFile {
 public:
  ReplacedFile() {
    for (const TempCompany* company : {&alpha_, &beta_, &gamma_}) {
      const std::string name = RawScalar(company->path(), "SELECT CompanyName FROM ISubScriber");
      EXPECT_EQ(RawExec(company->path(), "INSERT INTO ACAccount (Parent,AccountNumber,Name) VALUES (1,'1000','" +
                                             name.substr(0, name.find(' ')) + " bank');"),
                "");
    }
  }

  std::string CompanyName() const {
    return Outcome([&] { return ToText(CAccountMgr().GetAccountInfo(path_)->Value("CompanyName")); });
  }
  std::string AccountNames() const {
    return Outcome([&] {
      std::string names;
      const auto accounts = CACMgr().GetAllAccounts(path_, "alice", "t");
      for (const auto& [key, item] : accounts->entries()) {
        names += ToText(static_cast<const Entity&>(*item).Value("Name")) + ";";
      }
      return names;
    });
  }
  // Moves a complete copy of `source` (or `bytes`) over the path in one step, as a restore
  // from a backup does. With `whole_set`, the old file's write-ahead log and shared-memory
  // index go too, so that only a connection kept to the old file could still show its data.
  void MoveOver(const TempCompany& source, bool whole_set) const {
    ASSERT_EQ(RawExec(source.path(), "VACUUM INTO '" + next_ + "'"), "");
    Move(whole_set);
  }
  void MoveOver(const std::string& bytes, bool whole_set) const {
    WriteBytes(next_, bytes);
    Move(whole_set);
  }

  TempCompany alpha_{"Alpha Trading"};
  TempCompany beta_{"Beta Supplies"};
  TempCompany gamma_{"Gamma Works"};
  const std::string path_ = alpha_.path();
  const std::string next_ = path_ + ".next";

 private:
  void Move(bool whole_set) const {
    if (whole_set) {
      fs::remove(path_ + "-wal");
      fs::remove(path_ + "-shm");
    }
    fs::rename(next_, path_);
  }
};

TEST(BadFiles, FileReplacedOrRemovedBetweenCallsIsNeverReadThroughItsOldConnection) {
  LEDGERKIT_FILE_ONLY("files replaced or removed under a kept connection are the file engine's case");
  ReplacedFile file;
  EXPECT_EQ(file.CompanyName(), "ok Alpha Trading");
  EXPECT_EQ(file.AccountNames(), "ok Alpha bank;");

  file.MoveOver(file.beta_, true);
  EXPECT_EQ(file.CompanyName(), "ok Beta Supplies");
  EXPECT_EQ(file.AccountNames(), "ok Beta bank;");
  EXPECT_EQ(Outcome([&] {
              return std::to_string(
                  CReportMgr().ExecReportQuery(file.path_, "UPDATE ISubScriber SET AccountNo='B-7'")->RecordCount());
            }),
            "ok 0");
  EXPECT_EQ(RawScalar(file.path_, "SELECT AccountNo FROM ISubScriber"), "B-7") << "the write went into the new file";

  file.MoveOver(Noise(8192), true);
  EXPECT_EQ(file.CompanyName(), "clean error");
  EXPECT_EQ(file.AccountNames(), "clean error");
  EXPECT_EQ(ReadBytes(file.path_), Noise(8192));

  file.MoveOver(file.gamma_, true);
  EXPECT_EQ(file.CompanyName(), "ok Gamma Works");
  EXPECT_EQ(file.AccountNames(), "ok Gamma bank;");

  fs::remove(file.path_);
  const Error gone = testing::CaptureError([&] { CAccountMgr().GetAccountInfo(file.path_); });
  EXPECT_TRUE(IsEngineError(gone) && IsClean(gone))
      << gone.number() << " " << gone.source() << ": " << gone.description();
  EXPECT_EQ(file.AccountNames(), "clean error");
  EXPECT_FALSE(fs::exists(file.path_)) << "a removed file is not made again";
}

// A caller who moves one file over another between two calls, the way files are handled
// anywhere else, sees the new file's data, never what the old one left beside it.
TEST(BadFiles, FileMovedOverACompanyFileShowsItsOwnDataOnly) {
  LEDGERKIT_FILE_ONLY("a file moved over a company file is the file engine's case");
  ReplacedFile file;
  EXPECT_EQ(file.CompanyName(), "ok Alpha Trading");
  file.MoveOver(file.beta_, false);
  EXPECT_EQ(file.CompanyName(), "ok Beta Supplies");
  EXPECT_EQ(file.AccountNames(), "ok Beta bank;");
  file.MoveOver(Noise(8192), false);
  EXPECT_EQ(file.CompanyName(), "clean error");
  EXPECT_EQ(file.AccountNames(), "clean error");
}

}  // namespace
}  // namespace ledgerkit
