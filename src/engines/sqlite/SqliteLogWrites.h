// Library-internal, for the SQLite engine's connections: the file layer they are opened through.
#pragma once

namespace ledgerkit {

// The name of the file layer (an SQLite VFS) over the VFS that is the default now, registered on
// first use. It is that VFS with one change: the frames a transaction appends to a company's
// write-ahead log are gathered and reach the file in one write, before the log is synced, read,
// sized or cut and before its database's shared memory is touched, so nothing another connection
// or a crash can see differs from the VFS below; a commit then costs one write, not two per page.
// At most kGatheredLogBytes are held per log: a transaction writing more goes out in pieces that
// large; the buffer stays with the connection (a small share of the page cache SQLite keeps per
// connection). Thread-safe.
const char* SqliteFileLayer();

// Below the 128 KiB that SQLite's unix VFS writes in one call at most (it fails a larger write
// as a full disk).
inline constexpr int kGatheredLogBytes = 120 * 1024;

}  // namespace ledgerkit
