// Error: the one exception type that leaves a public ledgerkit operation.
//
// An error is the triple (number, source, description) a caller of the library receives.
// Numbers tell the origin apart: the library's own errors live in the 0x80040000 block
// (ErrorNumbers.h), runtime errors use the small classic numbers below, and engine errors are
// 0x80050000 plus the engine's primary result code.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace ledgerkit {

// Runtime error numbers: conversions, arguments, objects and cursors.
enum RuntimeError : int32_t {
  kInvalidArgument = 5,      // also: first element of an empty collection, failed lookups
  kOverflow = 6,
  kTypeMismatch = 13,
  kObjectIsNothing = 91,
  kInvalidUseOfNull = 94,
  kObjectRequired = 424,
  kCannotCreateObject = 429,
  kNoSuchMember = 438,
  kWrongArgumentCount = 449,
  kNoCurrentRow = 3021,
};

// Every runtime error number with its name and what it means to a caller, for describing the
// API; the descriptions a caller receives are sentences about the particular failure.
struct RuntimeErrorInfo {
  RuntimeError number;
  std::string_view name;
  std::string_view meaning;
};

inline constexpr RuntimeErrorInfo kRuntimeErrors[] = {
    {kInvalidArgument, "kInvalidArgument",
     "Invalid argument: a value out of range or too long for its column, a row that does not exist, "
     "an empty collection's first element, a failed lookup."},
    {kOverflow, "kOverflow", "Overflow: a number beyond the range of its type (money beyond Currency, a key beyond Long)."},
    {kTypeMismatch, "kTypeMismatch",
     "Type mismatch: a value that does not convert to what the argument needs (a key with a fraction, "
     "text that is not a number or a date)."},
    {kObjectIsNothing, "kObjectIsNothing",
     "Object is nothing: a row the operation needs is missing (no company record, a user name that names no user)."},
    {kInvalidUseOfNull, "kInvalidUseOfNull", "Invalid use of Null: Null where a value is needed."},
    {kObjectRequired, "kObjectRequired", "Object required: declared for callers; no operation raises it."},
    {kCannotCreateObject, "kCannotCreateObject", "Class cannot be created: the name is not a creatable class."},
    {kNoSuchMember, "kNoSuchMember", "No such member: the class publishes no member of that name."},
    {kWrongArgumentCount, "kWrongArgumentCount",
     "Wrong number of arguments: the description names the arguments the member takes, in order."},
    {kNoCurrentRow, "kNoCurrentRow", "No current row: the result set's cursor is before its first row or past its last."},
};

// Default source of the library's own and runtime errors.
inline constexpr std::string_view kLibrarySource = "ledgerkit";
// Source of errors reported by the database engine.
inline constexpr std::string_view kEngineSource = "SQLite";
// Engine errors are numbered from here: 0x80050000 + primary result code.
inline constexpr uint32_t kEngineErrorBase = 0x80050000u;

// Beside the triple an error may know the argument at fault (its public name, as the member
// table spells it) and the operation that failed ("Class.Member"). Neither is part of the
// description: they travel with the error through every re-raise, for callers that show them
// apart (the bridge sends them as fields of their own).
class Error : public std::exception {
 public:
  Error(int32_t number, std::string source, std::string description);

  int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }
  const std::optional<std::string>& argument() const noexcept { return argument_; }
  const std::optional<std::string>& operation() const noexcept { return operation_; }

  // The same error with another description; number, source, argument and operation are kept.
  Error WithDescription(std::string description) const;
  // The same error naming the argument at fault; one already named stays (the innermost
  // conversion knows best). An empty name names nothing.
  Error WithArgument(std::string_view name) const;
  // The same error naming the failed operation, unless it names one already.
  Error WithOperation(std::string_view name) const;

  // A runtime error (source "ledgerkit") with the given number and plain-sentence description.
  static Error Runtime(int32_t number, std::string description);
  // A library error (one of the errCACMgr/errCUserManager/errCSecurityMgr values).
  static Error Library(int32_t number, std::string description);
  // An engine error from the engine's (possibly extended) result code and its message.
  static Error Engine(int engine_result_code, std::string message);

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  std::optional<std::string> argument_;
  std::optional<std::string> operation_;
};

// The engine error number for an engine result code (extended codes are reduced to primary).
int32_t EngineErrorNumber(int engine_result_code);

}  // namespace ledgerkit
