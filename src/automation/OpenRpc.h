// The OpenRPC 1.3 document of the JSON-RPC bridge, as `ledgerkit describe --openrpc` prints it,
// `rpc.discover` answers it and `ledgerkit serve` gives it at GET /openrpc.json: every method
// (Class.Member of the creatable classes, create, invoke, release, rpc.discover) with its params
// in order and its result as JSON Schemas, the errors it may answer, and examples of the common
// flows. Each method's result schema is that of the whole JSON-RPC `result` member,
// {"value": ..., "args": [...]}. The same on every run; no company is opened.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace ledgerkit {

nlohmann::ordered_json OpenRpcDocument();
// The document as indented JSON text, ending in a line break.
std::string DescribeOpenRpc();

}  // namespace ledgerkit
