// The export and import commands of the command-line tool.
#pragma once

namespace CLI {
class App;
}

namespace ledgerkit::cli {

// Adds `export` and `import` to the tool. Each runs as its subcommand is parsed, prints its
// own failure as one line on standard error and leaves through CLI::RuntimeError with exit
// code 1, so the caller's parse handling returns that code.
void AddJournalCommands(CLI::App& app);

}  // namespace ledgerkit::cli
