// `ledgerkit serve`: the JSON-RPC bridge over HTTP for callers the process does not trust
// (automation/Service.h): POST /rpc with one request or a batch, GET /health for load
// balancers, CORS for the origins given with --allow-origin. The transport and its limits are
// HttpServer's. One access-log line per request on standard error; the address it listens on is
// printed on standard output once it accepts connections. SIGTERM or SIGINT stops accepting,
// stops running report queries, finishes the requests in flight and exits 0, or 1 when the drain
// time ran out first.
#pragma once

#include "Subcommand.h"

namespace ledgerkit::cli {

Subcommand AddServeCommand(CLI::App& app);

}  // namespace ledgerkit::cli
