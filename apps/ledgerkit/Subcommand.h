// A subcommand of the tool: its CLI11 entry and the function that runs it once the command line
// is parsed. main() keeps a list of them, so a new command is one more Add...Command(app) line.
#pragma once

#include <functional>
#include <iosfwd>

namespace CLI {
class App;
}

namespace ledgerkit::cli {

struct Subcommand {
  CLI::App* app = nullptr;
  // Runs the command, printing to `out`; returns the exit code. Failures leave as exceptions
  // (a ledgerkit::Error for the library's), which main() prints as one line.
  std::function<int(std::ostream& out)> run;
};

}  // namespace ledgerkit::cli
