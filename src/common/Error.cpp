#include "ledgerkit/common/Error.h"

#include <utility>

namespace ledgerkit {

Error::Error(int32_t number, std::string source, std::string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {}

Error Error::WithDescription(std::string description) const {
  Error changed = *this;
  changed.description_ = std::move(description);
  return changed;
}

Error Error::WithArgument(std::string_view name) const {
  Error named = *this;
  if (!named.argument_ && !name.empty()) named.argument_ = std::string(name);
  return named;
}

Error Error::WithOperation(std::string_view name) const {
  Error named = *this;
  if (!named.operation_ && !name.empty()) named.operation_ = std::string(name);
  return named;
}

Error Error::Runtime(int32_t number, std::string description) {
  return Error(number, std::string(kLibrarySource), std::move(description));
}

Error Error::Library(int32_t number, std::string description) {
  return Error(number, std::string(kLibrarySource), std::move(description));
}

Error Error::Engine(int engine_result_code, std::string message) {
  return Error(EngineErrorNumber(engine_result_code), std::string(kEngineSource), std::move(message));
}

int32_t EngineErrorNumber(int engine_result_code) {
  // Extended result codes carry the primary code in their low byte.
  const uint32_t primary = static_cast<uint32_t>(engine_result_code) & 0xFFu;
  return static_cast<int32_t>(kEngineErrorBase + primary);
}

}  // namespace ledgerkit
