// `ledgerkit directory init|add|list|remove|move|unmark URI ...`: the company directory that
// `ledgerkit serve --directory URI` finds its companies through (automation/Directory.h). The
// directory's URI is the first argument of every action.
#pragma once

#include "Subcommand.h"

namespace CLI {
class App;
}

namespace ledgerkit::cli {

Subcommand AddDirectoryCommand(CLI::App& app);

}  // namespace ledgerkit::cli
