// RpcBridge: JSON-RPC 2.0 over lines of text, so that any program can create the creatable
// classes by name and call their members late-bound.
//
// One request (or batch) per input line, one response line per line that needs one. Objects a
// call returns are held under positive integer handles until released; the same object always
// comes back under the same handle. Bad input of any kind gets an error response and the bridge
// carries on. One bridge serves one client on one thread.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ledgerkit {

class RpcBridge {
 public:
  RpcBridge();
  ~RpcBridge();
  RpcBridge(const RpcBridge&) = delete;
  RpcBridge& operator=(const RpcBridge&) = delete;

  // The response line (without its line break) for one input line, or nothing when the line
  // held only notifications.
  std::optional<std::string> HandleLine(std::string_view line);

  // Answers every line of `in` on `out`, flushing after each response, until end of input.
  void Serve(std::istream& in, std::ostream& out);

  // How many objects are held under handles.
  size_t HeldCount() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ledgerkit
