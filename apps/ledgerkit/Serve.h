// `ledgerkit serve`: the JSON-RPC bridge over HTTP for callers the process does not trust
// (automation/Service.h): POST /rpc with one request or a batch, GET /health for load
// balancers. One access-log line per request on standard error; the address it listens on is
// printed on standard output once it accepts connections. SIGTERM or SIGINT stops accepting,
// finishes the requests in flight and exits 0.
#pragma once

#include "Subcommand.h"

namespace ledgerkit::cli {

Subcommand AddServeCommand(CLI::App& app);

}  // namespace ledgerkit::cli
