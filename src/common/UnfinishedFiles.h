// Library-internal: the company files this process is writing under a temporary name, until they
// take their own (engines/sqlite/SqliteSchema.cpp's creation). A program that stops on SIGINT or
// SIGTERM removes them from its handler, so nothing half-made is left beside the destination.
#pragma once

#include <string>

namespace ledgerkit {

// Registers `path` (a temporary company file) from construction to destruction. Removing the
// file is the owner's work; the registration only lets RemoveUnfinishedFiles find it meanwhile.
// At most kUnfinishedFileSlots are registered at once; more are simply not found by the handler.
class UnfinishedFile {
 public:
  explicit UnfinishedFile(const std::string& path);
  ~UnfinishedFile();
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;

 private:
  int slot_ = -1;
};

inline constexpr int kUnfinishedFileSlots = 8;

// Removes every registered file with what the engine keeps beside it (-wal, -shm, -journal).
// Async-signal-safe: meant for a handler of SIGINT or SIGTERM that then ends the process.
void RemoveUnfinishedFiles() noexcept;

}  // namespace ledgerkit
