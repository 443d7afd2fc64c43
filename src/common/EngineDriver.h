// What an engine implementation gives the rest of the library: the entry points reached through a
// connection string, and every answer about the Account strings that name its companies (which
// it claims, the key their units share, how they are shown in messages, which company names it
// takes, its block of errors). Code outside the engines' folders asks the driver list below and
// never reads a URI scheme itself.
//
// Each engine's folder defines one driver. The list of the build's drivers is written by CMake
// from the engines it builds (common/EngineList.cpp in the build folder), so a driver is never
// lost by a linker dropping an unreferenced registration object of a static library.
//
// Drivers are constant and live for the whole process; every answer may be asked from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Catalog.h"
#include "common/Engine.h"

namespace ledgerkit {

// One error of an engine's block, as `ledgerkit describe` and the OpenRPC document list it.
struct EngineErrorEntry {
  std::string name;     // "SQLite14", "PostgreSQL08"
  int32_t number = 0;   // the error number an answer carries
  std::string meaning;  // the whole sentence shown for it
};

struct EngineDriver {
  // The engine's name, as the source of its errors and in messages ("SQLite", "PostgreSQL").
  std::string_view name;
  // What its Account strings are, in words, for messages naming what this build reads
  // ("a company file's path", "a postgresql:// or postgres:// URI").
  std::string_view account_forms;
  // True for the engine whose companies are files: it takes every Account no driver claims that
  // is no scheme:// URI. Exactly one driver of a build is one.
  bool names_files = false;

  // True when `text` (a caller's Account, or a connection string of `connection_string`) names
  // a company of this engine.
  bool (*claims)(std::string_view text);
  // The connection string OpenEngine and CreateEngineDatabase take for an Account of this engine.
  std::string (*connection_string)(std::string_view account);
  // The key every unit of work and kept connection of the Account's company shares: two
  // spellings of one company give one key (a file's resolved path, a URI's one scheme).
  std::string (*unit_key)(std::string_view account);
  // The Account as a message or log line may show it: every secret it holds masked ("***"),
  // whatever characters the secret has. Messages that embed an Account are built from this,
  // never masked afterwards.
  std::string (*shown)(std::string_view account);
  // True when `name` may name a company of this engine (a file in a data folder, a schema on a
  // server), and the rule in words ("lower-case letters ...") for a message refusing one.
  bool (*company_name_fits)(std::string_view name);
  std::string_view company_name_rule;
  // The Account of company `name` at `place` (a data folder, a server URI without a company).
  std::string (*company_account)(std::string_view place, std::string_view name);

  // The engine's block of errors, for the API description.
  std::vector<EngineErrorEntry> (*errors)();

  // OpenEngine and CreateEngineDatabase for a connection string this driver claims.
  std::unique_ptr<EngineConnection> (*open)(std::string_view connection_string);
  void (*create)(std::string_view connection_string, const Catalog& catalog, const std::function<void()>& first_rows);
  const EngineDialect& dialect;
};

// The drivers of this build, in the order they are asked (common/EngineList.cpp, written by
// CMake).
std::span<const EngineDriver* const> EngineDrivers();

// The driver of the company `account` names: the first that claims it, else the file engine's
// for a text that is no scheme:// URI. Invalid argument (5) for a scheme:// URI no engine of
// this build reads; the message names the scheme and what the build reads, never the rest of
// the URI (its credentials are not known here).
const EngineDriver& DriverForAccount(std::string_view account);
// An error number as the API description writes it, 0x8005000E.
std::string ErrorNumberHex(int32_t number);
// The Account as a message may show it (DriverForAccount(account).shown); an Account no driver
// reads is shown as its scheme alone.
std::string ShownAccount(std::string_view account);

// Statement runs started in this process, counted by every engine as EngineStatementsRun
// describes.
std::atomic<uint64_t>& EngineStatementCounter();

}  // namespace ledgerkit
