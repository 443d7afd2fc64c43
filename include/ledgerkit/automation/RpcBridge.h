// RpcBridge: JSON-RPC 2.0 over lines of text, so that any program can create the creatable
// classes by name and call their members late-bound.
//
// One request (or batch) per input line, one response line per line that needs one. Objects a
// call returns are held under positive integer handles until released; the same object always
// comes back under the same handle. Bad input of any kind gets an error response and the bridge
// carries on. One bridge serves one client on one thread.
//
// Memory stays bounded by the limits whatever a client sends: a line longer than max_line is
// passed over unread, a batch is split and answered one request at a time with its responses
// written as they come, and no more than max_handles objects, reckoned at no more than
// max_held_bytes, are held at once. With by_value, "<Class>.<Member>" results are sent whole
// and nothing is held unless the request asks ("hold": true). No error description quotes more
// than 200 characters of a caller's value, whatever the engine copied into it.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ledgerkit {

class Dispatch;
class Variant;
struct MemberEntry;

// A host's say over every member call a bridge carries out: BeforeCall sees the decoded
// arguments and may change them or refuse the call by throwing (the caller gets the error as any
// failure of the call); AfterCall may change the arguments again before they are shown to the
// caller. A bridge without one trusts its caller completely.
class RpcCallFilter {
 public:
  virtual ~RpcCallFilter() = default;
  virtual void BeforeCall(Dispatch& object, const MemberEntry& member, std::vector<Variant>& args) = 0;
  virtual void AfterCall(Dispatch& object, const MemberEntry& member, std::vector<Variant>& args) = 0;
};

struct RpcLimits {
  // Longest request line in bytes, not counting its line break.
  size_t max_line = size_t{64} << 20;
  // Most objects held under handles at once.
  size_t max_handles = 1'000'000;
  // Most bytes held objects may take at once (as the bridge reckons them); past it a call that
  // would hold one more fails with a clear error and holds nothing.
  size_t max_held_bytes = std::numeric_limits<size_t>::max();
  // Results of "<Class>.<Member>" calls are sent by value: an entity as its properties, a
  // collection as an array of them, a result set as columns and rows, nothing held. A request
  // with "hold": true, and create/invoke, hold objects as before.
  bool by_value = false;
  // Entity properties and result-set columns of these names (letter case ignored) read as an
  // empty text in every answer, held or by value (a service keeps password hashes in).
  std::vector<std::string> blank_properties = {};
};

class RpcBridge {
 public:
  explicit RpcBridge(RpcLimits limits = {}, std::shared_ptr<RpcCallFilter> filter = nullptr);
  ~RpcBridge();
  RpcBridge(const RpcBridge&) = delete;
  RpcBridge& operator=(const RpcBridge&) = delete;

  // Writes the response line (with its line break) for one input line to `out`, a batch's
  // responses as each request is carried out; writes nothing and returns false when the line
  // held only notifications.
  bool Answer(std::string_view line, std::ostream& out);

  // The response line (without its line break) for one input line, or nothing when the line
  // held only notifications. Collects what Answer writes.
  std::optional<std::string> HandleLine(std::string_view line);

  // Answers every line of `in` on `out`, flushing after each response, until end of input.
  void Serve(std::istream& in, std::ostream& out);

  // How many objects are held under handles.
  size_t HeldCount() const;
  // The bytes the held objects are charged against max_held_bytes, as the bridge reckons them
  // (an object's texts and a fixed cost per object, row, cell and item).
  size_t HeldBytes() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  RpcLimits limits_;
};

}  // namespace ledgerkit
