// A counting SQLite VFS for the bench and the tests: the default unix VFS with its file syncs
// and its writes to write-ahead logs counted, process-wide. Counting never changes what is
// written or when.
#pragma once

#include <cstdint>

namespace bench {

// Totals counted since the counting VFS was installed: xSync calls on any file, xWrite calls
// and bytes on write-ahead logs (files whose names end in -wal).
struct FileCounts {
  uint64_t syncs = 0;
  uint64_t log_writes = 0;
  uint64_t log_bytes = 0;
};

// Registers the counting VFS as SQLite's default; connections opened from then on go through
// it (those open already keep the VFS they were opened with). A second call does nothing.
// Throws std::runtime_error when SQLite has no default VFS to wrap.
void InstallCountingVfs();
FileCounts CountedFileWork();

}  // namespace bench
