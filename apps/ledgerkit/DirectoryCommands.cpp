#include "DirectoryCommands.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "Copy.h"
#include "Table.h"
#include "automation/Directory.h"
#include "automation/Service.h"
#include "common/EngineDriver.h"
#include "common/Text.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "reports/LedgerCheck.h"

namespace ledgerkit::cli {

namespace {

struct DirectoryOptions {
  std::string uri;
  std::string name;
  std::string location;
  bool drop_source = false;
};

// A location as the directory keeps it: a file's path made absolute (the service may run in
// another folder), a URI as given.
std::string StoredLocation(const std::string& location) {
  if (!DriverForAccount(location).names_files) return location;
  return std::filesystem::absolute(location).lexically_normal().string();
}

bool IsOnServer(const std::string& location) { return !DriverForAccount(location).names_files; }

// The trial balance of the whole ledger as CSV, to compare two copies of one company.
std::string TrialBalanceText(const std::string& location) {
  std::ostringstream text;
  PrintCsv(*CReportMgr().TrialBalance(location, "", "", Variant()), text);
  return text.str();
}

// Fails unless the company at `copy` checks clean (warnings, which the ledger allows, are the
// source's as well) and has the trial balance of `source`.
void CheckCopy(const std::string& source, const std::string& copy) {
  const std::vector<CheckFinding> findings = CheckCompanyFile(copy);
  const auto problem = std::find_if(findings.begin(), findings.end(),
                                    [](const CheckFinding& finding) { return finding.severity == CheckFinding::Severity::kProblem; });
  if (problem != findings.end()) {
    throw Error::Runtime(kInvalidArgument, "The check of the copy at " + ShownAccount(copy) + " found a problem (" +
                                               problem->kind + ": " + problem->message + ").");
  }
  if (TrialBalanceText(source) != TrialBalanceText(copy)) {
    throw Error::Runtime(kInvalidArgument, "The trial balance of the copy at " + ShownAccount(copy) +
                                               " differs from that of " + ShownAccount(source) + ".");
  }
}

// Moves company `name` to `target` (see the README's "Moving a company"): marked, copied under
// the source's write lock, checked, switched, unmarked. On any failure the company stays where it
// was, writable, and a copy this move made is removed.
void Move(CompanyDirectory& directory, const std::string& name, const std::string& target, bool drop_source,
          std::ostream& out) {
  const std::optional<DirectoryEntry> entry = directory.Find(name);
  if (!entry) throw Error::Runtime(kInvalidArgument, "The directory has no company named " + QuoteForMessage(name) + ".");
  CheckLocationForm(target);
  if (target == entry->location) {
    throw Error::Runtime(kInvalidArgument, "The company " + QuoteForMessage(name) + " is at " + ShownAccount(target) +
                                               " already.");
  }
  if (CompanyExists(CompanyLocation{target, IsOnServer(target)})) {
    throw Error::Runtime(kInvalidArgument, "A company exists at " + ShownAccount(target) +
                                               " already; a move makes a new one and replaces none.");
  }
  if (!directory.MarkMoving(name, entry->location)) {
    throw Error::Runtime(kInvalidArgument, "The company " + QuoteForMessage(name) +
                                               " is being moved by another move already (or changed meanwhile); "
                                               "nothing was done (a move that was killed leaves the mark: "
                                               "ledgerkit directory unmark clears it).");
  }
  bool copied = false;
  try {
    CopyCompany(entry->location, target, true);
    copied = true;
    CheckCopy(entry->location, target);
    directory.EndMove(name, target);
  } catch (...) {
    try {
      if (copied) DropCompanyAt(target);
    } catch (...) {
      // The failure of the move is what the caller hears; a copy that could not be removed is
      // named by no directory entry.
    }
    directory.EndMove(name, std::nullopt);
    throw;
  }
  out << "Moved " << name << " from " << ShownAccount(entry->location) << " to " << ShownAccount(target);
  if (drop_source) {
    DropCompanyAt(entry->location);
    out << "; the old copy was removed.\n";
  } else {
    out << "; the old copy is kept.\n";
  }
}

}  // namespace

Subcommand AddDirectoryCommand(CLI::App& app) {
  auto options = std::make_shared<DirectoryOptions>();
  auto* command = app.add_subcommand(
      "directory", "The company directory of `serve --directory`: company names and where each company is.");
  command->require_subcommand(1);
  command->footer(
      "Examples:\n  ledgerkit directory init postgresql://ledger@db1/directory\n"
      "  ledgerkit directory add postgresql://ledger@db1/directory acme /srv/ledgerkit/acme.ldb\n"
      "  ledgerkit directory move postgresql://ledger@db1/directory acme 'postgresql://ledger@db2/books?company=acme'\n"
      "  ledgerkit serve --directory postgresql://ledger@db1/directory");
  const std::string uri_help = "PostgreSQL database URI of the directory (postgresql://user@host:port/database)";
  auto* init = command->add_subcommand("init", "Make the directory's tables in the database (keeps what is there).");
  init->add_option("URI", options->uri, uri_help)->required();
  auto* add = command->add_subcommand("add", "Add a company by name at an existing company's location.");
  add->add_option("URI", options->uri, uri_help)->required();
  add->add_option("NAME", options->name, "Company name: 1-64 letters, digits, _ or -")->required();
  add->add_option("LOCATION", options->location,
                  "Company file path, or postgresql://user@host/db?company=NAME without a password")
      ->required();
  auto* list = command->add_subcommand("list", "List the companies of the directory and their locations.");
  list->add_option("URI", options->uri, uri_help)->required();
  auto* remove = command->add_subcommand("remove", "Take a company out of the directory (the company is kept).");
  remove->add_option("URI", options->uri, uri_help)->required();
  remove->add_option("NAME", options->name, "Company name")->required();
  auto* move = command->add_subcommand(
      "move", "Move a company to a new location under the services: writes refused meanwhile, the copy checked, "
              "then the directory switched; a failure leaves it where it was.");
  move->add_option("URI", options->uri, uri_help)->required();
  move->add_option("NAME", options->name, "Company name")->required();
  move->add_option("NEW-LOCATION", options->location, "New company file path or postgresql://...?company=NAME (must not exist)")
      ->required();
  move->add_flag("--drop-source", options->drop_source, "Remove the old copy once the move is done");
  auto* unmark = command->add_subcommand(
      "unmark", "Clear the \"being moved\" mark a move left when it was killed (run no move of it meanwhile).");
  unmark->add_option("URI", options->uri, uri_help)->required();
  unmark->add_option("NAME", options->name, "Company name")->required();

  return Subcommand{command, [=](std::ostream& out) {
                      CompanyDirectory directory(options->uri);
                      if (*init) {
                        directory.Init();
                        out << "The directory at " << directory.shown() << " is ready.\n";
                      } else if (*add) {
                        const std::string location = StoredLocation(options->location);
                        directory.Add(options->name, location);
                        out << "Added " << options->name << " at " << ShownAccount(location) << ".\n";
                      } else if (*list) {
                        for (const DirectoryEntry& entry : directory.List()) {
                          out << entry.name << "  " << entry.location << (entry.moving ? "  (being moved)" : "") << "\n";
                        }
                      } else if (*remove) {
                        directory.Remove(options->name);
                        out << "Removed " << options->name << " from the directory.\n";
                      } else if (*unmark) {
                        const std::optional<DirectoryEntry> entry = directory.Find(options->name);
                        if (!entry || !entry->moving) {
                          throw Error::Runtime(kInvalidArgument, "The directory has no company named " +
                                                                     QuoteForMessage(options->name) + " being moved.");
                        }
                        directory.EndMove(options->name, std::nullopt);
                        out << options->name << " is no longer marked as being moved; it stays at "
                            << ShownAccount(entry->location) << ".\n";
                      } else if (*move) {
                        Move(directory, options->name, StoredLocation(options->location), options->drop_source, out);
                      }
                      return 0;
                    }};
}

}  // namespace ledgerkit::cli
