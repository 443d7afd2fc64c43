// The bench's SQLite VFS: the default unix VFS with every xSync counted, and the writes to each
// write-ahead log (a file whose name ends in -wal) counted with their bytes. Registered as the
// default, so the library's connections and the raw loops' both go through it.
#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "CountingVfs.h"

namespace bench {

namespace {

std::atomic<uint64_t> syncs{0}, log_writes{0}, log_bytes{0};

sqlite3_vfs* real_vfs = nullptr;
sqlite3_vfs counting_vfs;
sqlite3_io_methods counting_methods;

// Our file: the real one follows it in the same allocation (szOsFile covers both).
struct CountedFile {
  sqlite3_file base;
  sqlite3_file* real;
  bool log;
};

sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<CountedFile*>(file)->real; }

int Close(sqlite3_file* file) {
  sqlite3_file* real = Real(file);
  const int rc = real->pMethods != nullptr ? real->pMethods->xClose(real) : SQLITE_OK;
  file->pMethods = nullptr;
  return rc;
}
int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(file)->pMethods->xRead(Real(file), buffer, amount, offset);
}
int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  if (reinterpret_cast<CountedFile*>(file)->log) {
    log_writes.fetch_add(1, std::memory_order_relaxed);
    log_bytes.fetch_add(static_cast<uint64_t>(amount), std::memory_order_relaxed);
  }
  return Real(file)->pMethods->xWrite(Real(file), buffer, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) { return Real(file)->pMethods->xTruncate(Real(file), size); }
int Sync(sqlite3_file* file, int flags) {
  syncs.fetch_add(1, std::memory_order_relaxed);
  return Real(file)->pMethods->xSync(Real(file), flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) { return Real(file)->pMethods->xFileSize(Real(file), size); }
int Lock(sqlite3_file* file, int level) { return Real(file)->pMethods->xLock(Real(file), level); }
int Unlock(sqlite3_file* file, int level) { return Real(file)->pMethods->xUnlock(Real(file), level); }
int CheckReservedLock(sqlite3_file* file, int* out) {
  return Real(file)->pMethods->xCheckReservedLock(Real(file), out);
}
int FileControl(sqlite3_file* file, int op, void* argument) {
  return Real(file)->pMethods->xFileControl(Real(file), op, argument);
}
int SectorSize(sqlite3_file* file) { return Real(file)->pMethods->xSectorSize(Real(file)); }
int DeviceCharacteristics(sqlite3_file* file) { return Real(file)->pMethods->xDeviceCharacteristics(Real(file)); }
int ShmMap(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
  return Real(file)->pMethods->xShmMap(Real(file), page, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  return Real(file)->pMethods->xShmLock(Real(file), offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { Real(file)->pMethods->xShmBarrier(Real(file)); }
int ShmUnmap(sqlite3_file* file, int delete_flag) { return Real(file)->pMethods->xShmUnmap(Real(file), delete_flag); }
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  return Real(file)->pMethods->xFetch(Real(file), offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  return Real(file)->pMethods->xUnfetch(Real(file), offset, page);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* counted = reinterpret_cast<CountedFile*>(file);
  counted->real = reinterpret_cast<sqlite3_file*>(counted + 1);
  const size_t length = name != nullptr ? std::strlen(name) : 0;
  counted->log = length >= 4 && std::strcmp(name + length - 4, "-wal") == 0;
  file->pMethods = nullptr;
  const int rc = real_vfs->xOpen(real_vfs, name, counted->real, flags, out_flags);
  // The real file's methods, each forwarded; an open that failed leaves none, as SQLite expects.
  if (counted->real->pMethods != nullptr) file->pMethods = &counting_methods;
  return rc;
}
int Delete(sqlite3_vfs*, const char* name, int sync_dir) { return real_vfs->xDelete(real_vfs, name, sync_dir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return real_vfs->xAccess(real_vfs, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return real_vfs->xFullPathname(real_vfs, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return real_vfs->xDlOpen(real_vfs, name); }
void DlError(sqlite3_vfs*, int size, char* out) { real_vfs->xDlError(real_vfs, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return real_vfs->xDlSym(real_vfs, handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { real_vfs->xDlClose(real_vfs, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return real_vfs->xRandomness(real_vfs, size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return real_vfs->xSleep(real_vfs, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return real_vfs->xCurrentTime(real_vfs, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) { return real_vfs->xGetLastError(real_vfs, size, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return real_vfs->xCurrentTimeInt64(real_vfs, out); }

}  // namespace

void InstallCountingVfs() {
  if (real_vfs != nullptr) return;
  real_vfs = sqlite3_vfs_find(nullptr);
  if (real_vfs == nullptr || real_vfs->iVersion < 2) throw std::runtime_error("no default SQLite VFS to count through");
  counting_methods = sqlite3_io_methods{3,        Close,       Read,     Write,        Truncate,  Sync,
                                        FileSize, Lock,        Unlock,   CheckReservedLock, FileControl,
                                        SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier,
                                        ShmUnmap, Fetch,       Unfetch};
  counting_vfs = sqlite3_vfs{};
  counting_vfs.iVersion = 2;
  counting_vfs.szOsFile = static_cast<int>(sizeof(CountedFile)) + real_vfs->szOsFile;
  counting_vfs.mxPathname = real_vfs->mxPathname;
  counting_vfs.zName = "ledgerkit-bench-counting";
  counting_vfs.xOpen = Open;
  counting_vfs.xDelete = Delete;
  counting_vfs.xAccess = Access;
  counting_vfs.xFullPathname = FullPathname;
  counting_vfs.xDlOpen = DlOpen;
  counting_vfs.xDlError = DlError;
  counting_vfs.xDlSym = DlSym;
  counting_vfs.xDlClose = DlClose;
  counting_vfs.xRandomness = Randomness;
  counting_vfs.xSleep = Sleep;
  counting_vfs.xCurrentTime = CurrentTime;
  counting_vfs.xGetLastError = GetLastError;
  counting_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  const int rc = sqlite3_vfs_register(&counting_vfs, 1);
  if (rc != SQLITE_OK) throw std::runtime_error(std::string("cannot register the counting VFS: ") + sqlite3_errstr(rc));
}

FileCounts CountedFileWork() {
  return FileCounts{syncs.load(std::memory_order_relaxed), log_writes.load(std::memory_order_relaxed),
                    log_bytes.load(std::memory_order_relaxed)};
}

}  // namespace bench
