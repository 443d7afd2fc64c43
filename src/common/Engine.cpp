// The engine interface's entry points and the questions asked of the driver list: each passes a
// connection string, or a caller's Account, to the driver that claims it.
#include "common/Engine.h"

#include <cstdio>
#include <optional>

#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

// The scheme of a scheme:// URI (letters, then letters, digits, '+', '-' or '.'), or nothing when
// `text` is none. A company file's path never has one here: a relative path that would is
// written ./mysql://... .
std::optional<std::string_view> UriScheme(std::string_view text) {
  const size_t colon = text.find("://");
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(text[0])) return std::nullopt;
  for (const char c : text.substr(0, colon)) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  return text.substr(0, colon);
}

// What this build reads, in words: "a company file's path or a postgresql:// or postgres:// URI".
std::string AccountFormsRead() {
  std::string forms;
  const auto drivers = EngineDrivers();
  for (size_t i = 0; i < drivers.size(); ++i) {
    if (i > 0) forms += i + 1 == drivers.size() ? " or " : ", ";
    forms += drivers[i]->account_forms;
  }
  return forms;
}

// A text no driver reads, as a message may show it: a URI by its scheme alone (what secrets
// another kind of URI holds, and where, is not known here), anything else as it stands.
std::string UnreadForm(std::string_view text) {
  if (const auto scheme = UriScheme(text)) return std::string(*scheme) + "://...";
  return std::string(text);
}

std::string UnreadText(std::string_view text) { return QuoteForMessage(UnreadForm(text)); }

const EngineDriver& DriverFor(std::string_view connection_string) {
  for (const EngineDriver* driver : EngineDrivers()) {
    if (driver->claims(connection_string)) return *driver;
  }
  throw Error::Runtime(kInvalidArgument,
                       "The connection string " + UnreadText(connection_string) + " names no known driver.");
}

}  // namespace

const EngineDriver& DriverForAccount(std::string_view account) {
  const EngineDriver* files = nullptr;
  for (const EngineDriver* driver : EngineDrivers()) {
    if (driver->claims(account)) return *driver;
    if (driver->names_files) files = driver;
  }
  if (UriScheme(account) || files == nullptr) {
    throw Error::Runtime(kInvalidArgument, "The Account " + UnreadText(account) +
                                               " is read by no engine of this build, which reads " + AccountFormsRead() +
                                               ".");
  }
  return *files;
}

std::string ShownAccount(std::string_view account) {
  try {
    return DriverForAccount(account).shown(account);
  } catch (const Error&) {
    return UnreadForm(account);
  }
}

std::string ErrorNumberHex(int32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(number)));
  return text;
}

std::unique_ptr<EngineConnection> OpenEngine(std::string_view connection_string) {
  return DriverFor(connection_string).open(connection_string);
}

void CreateEngineDatabase(std::string_view connection_string, const Catalog& catalog,
                          const std::function<void()>& first_rows) {
  DriverFor(connection_string).create(connection_string, catalog, first_rows);
}

const EngineDialect& EngineDialectFor(std::string_view connection_string) {
  return DriverFor(connection_string).dialect;
}

std::atomic<uint64_t>& EngineStatementCounter() {
  static std::atomic<uint64_t> count{0};
  return count;
}

uint64_t EngineStatementsRun() { return EngineStatementCounter().load(std::memory_order_relaxed); }

}  // namespace ledgerkit
