// Library-internal: open connections kept per thread between operations, so an operation does
// not pay for opening the file, reading its schema and compiling its statements each time.
//
// Nothing a caller can observe changes: a connection is handed out again only to the same
// thread, only while its file is still the one it opened (same device and inode: a file
// replaced or removed since is never read through the old handle), never in a process other
// than the one that opened it (after fork the child leaves its parent's connections alone), and
// only with no transaction open. At most a few are kept; the rest are closed.
#pragma once

#include <memory>
#include <string>

#include "common/Engine.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// An open connection to the file `account` names (`key` is its normalised path): a kept one
// when it still names that file, otherwise a new one, checked against the company catalog
// (EngineConnection::CheckSchema) before it is handed out. Fails like OpenEngine and that check.
std::unique_ptr<EngineConnection> TakeConnection(const Variant& account, const std::string& key);

// Keeps `connection` for a later TakeConnection with the same key, or closes it when it has a
// transaction open or is spent (a report statement ran on it).
void ReturnConnection(const std::string& key, std::unique_ptr<EngineConnection> connection) noexcept;

}  // namespace ledgerkit
