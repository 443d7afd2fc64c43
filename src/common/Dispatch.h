// Dispatch: the base of every object a caller can hold (managers, enumeration classes,
// entities, collections, result sets).
//
// Objects are shared through std::shared_ptr and are not synchronised: one object is used by
// one thread at a time. Late-bound callers reach members by name through Invoke; arguments
// travel by reference so that a value an operation writes back reaches the caller.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "common/Variant.h"

namespace ledgerkit {

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch() = default;

  // The public class name ("CReportMgr", "Recordset", ...).
  virtual std::string_view ClassName() const = 0;

  // Calls the member `member` (letter case ignored) with `args`, which it may write back.
  // Fails with No such member (438) when the class has no such public member.
  virtual Variant Invoke(std::string_view member, std::vector<Variant>& args);
};

}  // namespace ledgerkit
