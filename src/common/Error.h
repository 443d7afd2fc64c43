// Error: the one exception type that leaves a public ledgerkit operation.
//
// An error is the triple (number, source, description) a caller of the library receives.
// Numbers tell the origin apart: the library's own errors live in the 0x80040000 block
// (ErrorNumbers.h), runtime errors use the small classic numbers below, and engine errors are
// 0x80050000 plus the engine's primary result code.
#pragma once

#include <cstdint>
#include <exception>
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

// Default source of the library's own and runtime errors.
inline constexpr std::string_view kLibrarySource = "ledgerkit";
// Source of errors reported by the database engine.
inline constexpr std::string_view kEngineSource = "SQLite";
// Engine errors are numbered from here: 0x80050000 + primary result code.
inline constexpr uint32_t kEngineErrorBase = 0x80050000u;

class Error : public std::exception {
 public:
  Error(int32_t number, std::string source, std::string description);

  int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

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
};

// The engine error number for an engine result code (extended codes are reduced to primary).
int32_t EngineErrorNumber(int engine_result_code);

}  // namespace ledgerkit
