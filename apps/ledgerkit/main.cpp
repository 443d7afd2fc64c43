// ledgerkit: the command-line tool over the library.
//
//   ledgerkit new FILE --company NAME [--user NAME --password PW] [--chart standard]   a new company file
//   ledgerkit query FILE SQL [--json|--csv]  a report query printed as a table
//   ledgerkit rpc [--by-value] [--max-line BYTES] [--max-handles N] [--max-held-bytes BYTES]
//                                          the JSON-RPC bridge on standard input and output
//   ledgerkit demo [FILE]                  the main job: a sample company, its trial balance and bank register
//   ledgerkit check FILE [--json]          the integrity check of a company file
//   ledgerkit describe [--json|--markdown] the public API: classes, members, enumerations, errors
//   ledgerkit report NAME FILE [...]        a financial statement (Report.h)
//   ledgerkit accounts FILE                 the chart of accounts as a tree with balances
//   ledgerkit post FILE --date D ...        one general-journal transaction (Books.h)
//   ledgerkit cheque|deposit FILE --bank N  a cheque or deposit split over accounts (Books.h)
//   ledgerkit account|type|taxcode ACTION FILE ...   the chart, account types, tax codes (ChartCommands.h)
//   ledgerkit serve --data DIR [...]        the JSON-RPC bridge over HTTP, logon enforced (Serve.h)
//   ledgerkit copy SRC DST                  a company copied into a new file or server company (Copy.h)
//   ledgerkit directory ACTION URI ...      the company directory of serve --directory (DirectoryCommands.h)
//   ledgerkit invoice ACTION FILE ...       customer invoices from entry to payment (InvoiceCommands.h)
//   ledgerkit reconcile FILE --account N    bank reconciliation against a statement (ReconcileCommand.h)
//
// FILE is a company file's path or a company on a server (postgresql://...?company=NAME)
// wherever it appears.
//
// Every failure is one line on standard error and a non-zero exit; nothing of the library's
// internals is printed.
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "BankImportCommand.h"
#include "Books.h"
#include "ChartCommands.h"
#include "Copy.h"
#include "DirectoryCommands.h"
#include "Demo.h"
#include "FailureLine.h"
#include "InvoiceCommands.h"
#include "ReconcileCommand.h"
#include "Report.h"
#include "Serve.h"
#include "Subcommand.h"
#include "JournalCommands.h"
#include "Table.h"
#include "automation/ApiDescription.h"
#include "automation/OpenRpc.h"
#include "common/ProcessMemory.h"
#include "ledgerkit/automation/RpcBridge.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/Version.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "reports/LedgerCheck.h"

namespace {

// "ledgerkit account add": the words of the command that was run.
std::string CommandName(const CLI::App& app) {
  std::string name = "ledgerkit";
  for (auto chosen = app.get_subcommands(); !chosen.empty(); chosen = chosen.front()->get_subcommands()) {
    name += " " + chosen.front()->get_name();
  }
  return name;
}

// The tool's commands, in the order --help lists them.
std::string CommandList(const CLI::App& app) {
  std::string list;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    list += (list.empty() ? "" : ", ") + command->get_name();
  }
  return list;
}

// With no command, or a first word that is neither a command nor an option, says so in one line
// with the list of commands and returns 1; otherwise 0.
int RefuseUnknownCommand(const CLI::App& app, int argc, char** argv) {
  if (argc > 1 && argv[1][0] == '-') return 0;
  if (argc > 1) {
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
      if (command->check_name(argv[1])) return 0;
    }
  }
  std::cerr << "ledgerkit: "
            << (argc > 1 ? "unknown command \"" + ledgerkit::cli::EscapedControls(argv[1]) + "\"" : std::string("no command"))
            << "; the commands are " << CommandList(app) << " (ledgerkit COMMAND --help tells more)\n";
  return 1;
}

// A command line CLI11 could not read, told in one line; help and version print as CLI11 does.
int ParseFailure(const CLI::App& app, const CLI::ParseError& error) {
  if (error.get_exit_code() == 0) return app.exit(error);
  const std::string name = CommandName(app);
  std::cerr << name << ": " << ledgerkit::cli::EscapedControls(ledgerkit::OneLine(error.what())) << " (" << name
            << " --help lists the options)\n";
  return error.get_exit_code();
}

}  // namespace

int main(int argc, char** argv) {
  ledgerkit::KeepFreedMemoryForReuse();
  CLI::App app{"ledgerkit: a small-business double-entry ledger, each company a SQLite file or a schema on a PostgreSQL server."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "ledgerkit " + std::string(ledgerkit::kVersion));

  std::string file;
  std::string company;
  auto* create = app.add_subcommand("new", "Create a new company file, or company on a server (refuses an existing one).");
  create->add_option("FILE", file, "Path of the company file to create, or postgresql://...?company=NAME")->required();
  create->add_option("--company", company, "Company name")->required();
  std::string first_user;
  std::string first_password;
  auto* user_option = create->add_option("--user", first_user, "First user: main user, admin, allowed to log on");
  auto* password_option = create->add_option("--password", first_password, "The first user's password (at most 30 characters)");
  user_option->needs(password_option);
  password_option->needs(user_option);
  std::string starter_chart;
  // Accounts belong to the company of the user who adds them, so a chart needs the first user.
  create->add_option("--chart", starter_chart, "Starter chart of accounts to add (needs --user)")
      ->check(CLI::IsMember({"standard"}))
      ->needs(user_option);

  std::string sql;
  bool as_json = false;
  bool as_csv = false;
  auto* query = app.add_subcommand("query", "Run one SQL statement on a company and print the rows.");
  query->add_option("FILE", file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  query->add_option("SQL", sql, "One SQL statement (money columns hold ten-thousandths inside SQL)")->required();
  auto* json_flag = query->add_flag("--json", as_json, "Print the rows as a JSON array of objects");
  query->add_flag("--csv", as_csv, "Print the rows as CSV")->excludes(json_flag);

  auto* rpc = app.add_subcommand("rpc", "Serve JSON-RPC 2.0 requests, one per line, on standard input and output.");
  ledgerkit::RpcLimits limits;
  rpc->add_option("--max-line", limits.max_line, "Longest request line in bytes; a longer line gets an error answer")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  rpc->add_option("--max-handles", limits.max_handles, "Most objects held at once; past it a call that would hold one more fails")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  rpc->add_option("--max-held-bytes", limits.max_held_bytes,
                  "Most bytes held objects may take at once, as the bridge reckons them; past it a call that would "
                  "hold more fails")
      ->check(CLI::PositiveNumber);
  rpc->add_flag("--by-value", limits.by_value,
                "Send the results of Class.Member calls whole and hold nothing, unless a request has \"hold\": true");

  std::string demo_file = "ledgerkit-demo.ldb";
  auto* demo = app.add_subcommand("demo", "Record a sample company and print its trial balance and bank register.");
  demo->add_option("FILE", demo_file, "Path of the new sample company file, or postgresql://...?company=NAME (refuses an existing one)");

  bool check_json = false;
  auto* check = app.add_subcommand(
      "check", "Check a company. Exit 0: no finding; 2: warnings only; 3: problems; 1: the company cannot be checked.");
  check->add_option("FILE", file, "Company file path, or postgresql://...?company=NAME for a company on a server")->required();
  check->add_flag("--json", check_json, "Print the findings as a JSON array");

  bool describe_json = false;
  bool describe_markdown = false;
  auto* describe = app.add_subcommand(
      "describe", "Print the public API: every class, its members with their arguments in order and what each returns, "
                  "the enumerations and the error numbers.");
  auto* describe_json_flag = describe->add_flag("--json", describe_json, "Print it as one JSON document");
  bool describe_openrpc = false;
  auto* describe_markdown_flag =
      describe->add_flag("--markdown", describe_markdown, "Print it as the Markdown reference (docs/API.md)")
          ->excludes(describe_json_flag);
  describe->add_flag("--openrpc", describe_openrpc,
                     "Print the OpenRPC 1.3 document of the JSON-RPC protocol (what rpc.discover and GET /openrpc.json give)")
      ->excludes(describe_json_flag)
      ->excludes(describe_markdown_flag);

  // Commands set up by their own files; each runs when its name was given.
  std::vector<ledgerkit::cli::Subcommand> subcommands = {
      ledgerkit::cli::AddReportCommand(app),
      ledgerkit::cli::AddAccountsCommand(app),
      ledgerkit::cli::AddPostCommand(app),
      ledgerkit::cli::AddServeCommand(app),
      ledgerkit::cli::AddCopyCommand(app),
      ledgerkit::cli::AddDirectoryCommand(app),
      ledgerkit::cli::AddAccountCommands(app),
      ledgerkit::cli::AddTypeCommands(app),
      ledgerkit::cli::AddTaxCodeCommands(app),
      ledgerkit::cli::AddChequeCommand(app),
      ledgerkit::cli::AddDepositCommand(app),
      ledgerkit::cli::AddInvoiceCommand(app),
      ledgerkit::cli::AddReconcileCommand(app),
      ledgerkit::cli::AddBankImportCommand(app),
  };

  for (auto& journal : ledgerkit::cli::AddJournalCommands(app)) subcommands.push_back(std::move(journal));

  if (const int refused = RefuseUnknownCommand(app, argc, argv); refused != 0) return refused;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return ParseFailure(app, error);
  }

  try {
    if (*create) {
      std::optional<ledgerkit::FirstUser> user;
      if (*user_option) user = ledgerkit::FirstUser{first_user, first_password};
      ledgerkit::CreateSubscriberDatabase(file, company, user);
      if (!starter_chart.empty()) ledgerkit::cli::AddStandardChart(file, first_user);
      std::cout << (ledgerkit::cli::IsServerCompany(file) ? "Created company " : "Created company file ")
                << ledgerkit::cli::ShownCompany(file) << " for " << company
                << (starter_chart.empty() ? "" : " with the " + starter_chart + " chart of accounts") << ".\n";
    } else if (*demo) {
      return ledgerkit::cli::RunDemo(demo_file, std::cout);
    } else if (*describe) {
      std::cout << (describe_json       ? ledgerkit::DescribeApiJson()
                    : describe_markdown ? ledgerkit::DescribeApiMarkdown()
                    : describe_openrpc  ? ledgerkit::DescribeOpenRpc()
                                        : ledgerkit::DescribeApiText());
    } else if (*check) {
      return ledgerkit::cli::PrintCheck(ledgerkit::CheckCompanyFile(file), check_json, std::cout);
    } else if (*rpc) {
      std::ios::sync_with_stdio(false);
      ledgerkit::RpcBridge bridge(limits);
      bridge.Serve(std::cin, std::cout);
    }
    for (const auto& subcommand : subcommands) {
      if (*subcommand.app) return subcommand.run(std::cout);
    }
    if (*query) {
      ledgerkit::CReportMgr reports;
      const auto result = reports.ExecReportQuery(file, sql);
      if (as_json) {
        ledgerkit::cli::PrintJson(*result, std::cout);
      } else if (as_csv) {
        ledgerkit::cli::PrintCsv(*result, std::cout);
      } else {
        ledgerkit::cli::PrintTable(*result, std::cout);
      }
    }
  } catch (const ledgerkit::Error& error) {
    // A company being made is not one yet: its failures are told as they are.
    const bool creating = *create || *demo;
    std::cerr << CommandName(app) << ": "
              << ledgerkit::cli::FailureLine(error, creating ? "" : ledgerkit::cli::CommandCompany(app)) << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << CommandName(app) << ": " << ledgerkit::cli::EscapedControls(ledgerkit::OneLine(error.what())) << "\n";
    return 1;
  }
  return 0;
}
