// ledgerkit export FILE [--format journal|csv] [--from DATE] [--to DATE] [--output PATH]
//   the committed transactions as a plain-text double-entry journal, or the register as CSV
// ledgerkit import FILE JOURNAL [--user NAME]
//   the transactions of a journal into an existing company, all or nothing
#include "JournalCommands.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "CommandArguments.h"
#include "Copy.h"
#include "OutputFile.h"
#include "Table.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
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
  return DayArgument(text, option);
}

void Export(const JournalOptions& options) {
  const JournalRange range{Bound(options.from, "--from"), Bound(options.to, "--to")};
  OutputFile output(options.output);
  if (options.output.empty() || options.output == "-") std::ios::sync_with_stdio(false);  // nothing was written yet
  if (options.format == "csv") {
    ExportRegisterCsv(options.file, output.stream(), range);
  } else {
    ExportJournal(options.file, output.stream(), range);
  }
  output.Commit();
}

void Import(const JournalOptions& options, std::ostream& out) {
  const Variant user = options.user.empty() ? Variant() : Variant(options.user);
  // A journal file finds the files it includes from its own folder; standard input has none.
  const JournalImport done = options.journal == "-" ? ImportJournal(options.file, std::cin, user)
                                                    : ImportJournal(options.file, std::filesystem::path(options.journal), user);
  for (const std::string& warning : done.warnings) std::cerr << "warning: " << warning << "\n";
  out << "Imported " << done.transactions << " transactions into " << ShownCompany(options.file) << " ("
      << done.accounts_created << " accounts and " << done.account_types_created << " account types created).\n";
}

}  // namespace

std::vector<Subcommand> AddJournalCommands(CLI::App& app) {
  auto options = std::make_shared<JournalOptions>();

  auto* exporter = app.add_subcommand(
      "export", "Write the committed transactions as a plain-text double-entry journal, or the register rows as CSV.");
  exporter->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  exporter->add_option("--format", options->format, "journal (the default) or csv")
      ->check(CLI::IsMember({"journal", "csv"}));
  exporter->add_option("--from", options->from, "First transaction date included (YYYY-MM-DD)");
  exporter->add_option("--to", options->to, "Last transaction date included (YYYY-MM-DD)");
  exporter->add_option("-o,--output", options->output, "Write to this file instead of standard output (- is standard output); an existing file is replaced only when the whole export was written");

  auto* importer = app.add_subcommand(
      "import", "Record the transactions of a journal in a company, creating missing accounts; all or nothing.");
  importer->add_option("FILE", options->file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  importer->add_option("JOURNAL", options->journal, "The journal to read (- for standard input)")->required();
  importer->add_option("--user", options->user, "User who owns the accounts created (default: the main user)");
  return {Subcommand{exporter, [options](std::ostream&) { return Export(*options), 0; }},
          Subcommand{importer, [options](std::ostream& out) { return Import(*options, out), 0; }}};
}

}  // namespace ledgerkit::cli
