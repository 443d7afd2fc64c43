// Dispatch: the base of every object a caller can hold (managers, enumeration classes,
// entities, collections, result sets), and the member tables through which late-bound callers
// reach them.
//
// Objects are shared through std::shared_ptr and are not synchronised: one object is used by
// one thread at a time. Each class declares its public members once, in a MemberTable built
// from its typed C++ methods (common/MemberTable.h); Invoke finds a member by name, letter
// case ignored, and passes the arguments by reference, so a value an operation writes back
// reaches the late-bound caller. Library-internal methods are simply not in the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

class Dispatch;

struct MemberEntry {
  enum class Kind { kMethod, kProperty };
  std::string_view name;
  Kind kind = Kind::kMethod;
  size_t arity = 0;
  Variant (*call)(Dispatch& self, const MemberEntry& entry, std::vector<Variant>& args) = nullptr;
  // Free for the class's own use: table-driven classes (entities) share one call function and
  // tell their members apart by this number.
  size_t slot = 0;
  // The argument names in order, as many as `arity` (the C++ parameter names of the method).
  std::vector<std::string_view> arguments = {};
  // What the member returns, as a caller sees it: "Long", "String", "Variant", "ACAccount",
  // "Collection of ACAccount", "Recordset", "nothing", ...
  std::string returns = {};
  // Bit i set when the member writes argument i back to the caller.
  uint32_t written_back = 0;
};

// The description of Wrong number of arguments (449) for a call of `entry` of `class_name`
// with `given` arguments; it names the arguments the member takes, in order.
std::string WrongArgumentCountText(std::string_view class_name, const MemberEntry& entry, size_t given);

class MemberTable {
 public:
  MemberTable(std::initializer_list<MemberEntry> entries) : entries_(entries) {}
  explicit MemberTable(std::vector<MemberEntry> entries) : entries_(std::move(entries)) {}
  // The entry named `name`, letter case ignored, or nullptr.
  const MemberEntry* Find(std::string_view name) const;
  const std::vector<MemberEntry>& entries() const { return entries_; }

 private:
  std::vector<MemberEntry> entries_;
};

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch() = default;

  // The public class name ("CReportMgr", "Recordset", ...).
  virtual std::string_view ClassName() const = 0;
  // The class's public members, in declaration order.
  virtual const MemberTable& Members() const = 0;

  // Calls the public member `member` (letter case ignored) with `args`, which it may write
  // back. Fails with No such member (438) for a name the class does not publish and with Wrong
  // number of arguments (449) when args.size() is not the member's arity; anything else is the
  // member's own failure.
  Variant Invoke(std::string_view member, std::vector<Variant>& args);
};

}  // namespace ledgerkit
