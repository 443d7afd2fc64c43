// ledgerkit export FILE [--format journal|csv] [--from DATE] [--to DATE] [--output PATH]
//   the committed transactions as a plain-text double-entry journal, or the register as CSV
// ledgerkit import FILE JOURNAL [--user NAME]
//   the transactions of a journal into an existing company, all or nothing
#include "JournalCommands.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "Copy.h"
#include "Table.h"
#include "common/Error.h"
#include "common/ErrorConvention.h"
#include "reports/Journal.h"

namespace ledgerkit::cli {

namespace {

struct JournalOptions {
  std::string file;
  std::string format = "journal";
  std::string from, to;
  std::string output;
  std::string journal;
  std::string user;
};

std::optional<Date> Bound(const std::string& text, const char* option) {
  if (text.empty()) return std::nullopt;
  const auto date = Date::Parse(text);
  if (!date) throw Error::Runtime(kTypeMismatch, std::string(option) + " " + text + " is not a date (YYYY-MM-DD).");
  return date;
}

template <class Body>
void Run(const char* command, Body&& body) {
  try {
    body();
  } catch (const Error& error) {
    std::cerr << "ledgerkit " << command << ": " << ErrorLine(error) << "\n";
    throw CLI::RuntimeError(1);
  } catch (const std::exception& error) {
    std::cerr << "ledgerkit " << command << ": " << error.what() << "\n";
    throw CLI::RuntimeError(1);
  }
}

void Export(const JournalOptions& options) {
  const JournalRange range{Bound(options.from, "--from"), Bound(options.to, "--to")};
  std::ofstream file;
  if (!options.output.empty()) {
    file.open(options.output, std::ios::binary | std::ios::trunc);
    if (!file) throw Error::Runtime(kInvalidArgument, "Cannot write " + options.output + ".");
  }
  if (options.output.empty()) std::ios::sync_with_stdio(false);  // nothing was written yet
  std::ostream& out = options.output.empty() ? std::cout : file;
  if (options.format == "csv") {
    ExportRegisterCsv(options.file, out, range);
  } else {
    ExportJournal(options.file, out, range);
  }
  out.flush();
  if (!out) throw Error::Runtime(kInvalidArgument, "The export could not be written completely.");
}

void Import(const JournalOptions& options) {
  std::ifstream file;
  if (options.journal != "-") {
    file.open(options.journal, std::ios::binary);
    if (!file) throw Error::Runtime(kInvalidArgument, "Cannot read the journal " + options.journal + ".");
  }
  const JournalImport done =
      ImportJournal(options.file, options.journal == "-" ? std::cin : file, options.user.empty() ? Variant() : Variant(options.user));
  std::cout << "Imported " << done.transactions << " transactions into " << ShownCompany(options.file) << " ("
            << done.accounts_created << " accounts and " << done.account_types_created << " account types created).\n";
}

}  // namespace

void AddJournalCommands(CLI::App& app) {
  auto options = std::make_shared<JournalOptions>();

  auto* exporter = app.add_subcommand(
      "export", "Write the committed transactions as a plain-text double-entry journal, or the register rows as CSV.");
  exporter->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  exporter->add_option("--format", options->format, "journal (the default) or csv")
      ->check(CLI::IsMember({"journal", "csv"}));
  exporter->add_option("--from", options->from, "First transaction date included (YYYY-MM-DD)");
  exporter->add_option("--to", options->to, "Last transaction date included (YYYY-MM-DD)");
  exporter->add_option("-o,--output", options->output, "Write to this file instead of standard output");
  exporter->callback([options] { Run("export", [&] { Export(*options); }); });

  auto* importer = app.add_subcommand(
      "import", "Record the transactions of a journal in a company, creating missing accounts; all or nothing.");
  importer->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  importer->add_option("JOURNAL", options->journal, "The journal to read (- for standard input)")->required();
  importer->add_option("--user", options->user, "User who owns the accounts created (default: the main user)");
  importer->callback([options] { Run("import", [&] { Import(*options); }); });
}

}  // namespace ledgerkit::cli
