// The export and import commands of the command-line tool.
#pragma once

#include <vector>

#include "Subcommand.h"

namespace CLI {
class App;
}

namespace ledgerkit::cli {

// Adds `export` and `import` to the tool.
std::vector<Subcommand> AddJournalCommands(CLI::App& app);

}  // namespace ledgerkit::cli
