// The SQLite engine's file layer: the VFS below it with a write-ahead log's appended frames
// gathered into one write.
//
// SQLite writes each frame of a commit as two calls (its 24-byte header, then the page), so a
// commit of twelve pages is 24 system calls before its sync. Here a log's writes that follow one
// another are held in memory and written together when anything else happens to the log (sync,
// read, size, truncate, file control, close) or to the shared memory of its database (lock,
// barrier, unmap). The frames are therefore in the file before the commit is synced, before any
// read of them by this connection and before the wal-index makes them visible to another one, as
// if written at once. A write that fails when the frames go out is reported by the call that sent
// them out; the company's connections sync every commit (report SQL cannot change that), so a
// commit's frames go out at its sync and a failure there fails the commit.
//
// A log finds its database by the name SQLite opened it with: the log's name is kept in the same
// allocation, and sqlite3_filename_database gives the database's name pointer from it. A log
// whose database is not found (another VFS's files never are) is written through unchanged.
#include "engines/sqlite/SqliteLogWrites.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace ledgerkit {

namespace {

// Our file: the below VFS's file follows it in the same allocation (szOsFile covers both).
struct LayerFile {
  sqlite3_file base;
  sqlite3_file* below = nullptr;
  const char* database_name = nullptr;  // a main database: the name it was opened with
  LayerFile* log = nullptr;             // a main database: its open log
  LayerFile* database = nullptr;        // a log: its database; nullptr writes through
  std::vector<unsigned char> gathered;  // a log: appended frames not written yet
  sqlite3_int64 gathered_at = 0;        // where the first of them goes
};

constexpr int kBelowOffset = (sizeof(LayerFile) + 15) / 16 * 16;

LayerFile& Of(sqlite3_file* file) { return *reinterpret_cast<LayerFile*>(file); }
const sqlite3_io_methods& Below(const LayerFile& file) { return *file.below->pMethods; }
sqlite3_vfs* BelowVfs(sqlite3_vfs* layer) { return static_cast<sqlite3_vfs*>(layer->pAppData); }

// The main databases open through any layer, by the name pointer SQLite opened each with.
std::mutex databases_mutex;
std::unordered_map<const char*, LayerFile*>& OpenDatabases() {
  static auto* databases = new std::unordered_map<const char*, LayerFile*>();
  return *databases;
}

// Writes a log's gathered frames; SQLITE_OK when there were none.
int WriteOut(LayerFile& log) {
  if (log.gathered.empty()) return SQLITE_OK;
  const int rc =
      Below(log).xWrite(log.below, log.gathered.data(), static_cast<int>(log.gathered.size()), log.gathered_at);
  log.gathered.clear();
  return rc;
}

int WriteOutLogOf(LayerFile& database) { return database.log != nullptr ? WriteOut(*database.log) : SQLITE_OK; }

int Close(sqlite3_file* file) {
  LayerFile& f = Of(file);
  int rc = WriteOut(f);
  if (f.database != nullptr) f.database->log = nullptr;
  if (f.database_name != nullptr) {
    std::lock_guard lock(databases_mutex);
    OpenDatabases().erase(f.database_name);
  }
  if (f.log != nullptr) f.log->database = nullptr;
  const int closed = f.below->pMethods != nullptr ? Below(f).xClose(f.below) : SQLITE_OK;
  if (rc == SQLITE_OK) rc = closed;
  f.~LayerFile();
  file->pMethods = nullptr;
  return rc;
}

int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  return Below(f).xRead(f.below, data, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  LayerFile& f = Of(file);
  if (f.database == nullptr) return Below(f).xWrite(f.below, data, amount, offset);
  const auto* bytes = static_cast<const unsigned char*>(data);
  const size_t held = f.gathered.size();
  const bool follows = held > 0 && offset == f.gathered_at + static_cast<sqlite3_int64>(held);
  if (!follows || held + static_cast<size_t>(amount) > kGatheredLogBytes) {
    if (const int rc = WriteOut(f); rc != SQLITE_OK) return rc;
    if (amount > kGatheredLogBytes) return Below(f).xWrite(f.below, data, amount, offset);
    f.gathered_at = offset;
  }
  const size_t needed = f.gathered.size() + static_cast<size_t>(amount);
  if (needed > f.gathered.capacity()) {
    // Doubling, but never beyond the bound: a log holds at most kGatheredLogBytes.
    f.gathered.reserve(std::min<size_t>(kGatheredLogBytes, std::max(needed, 2 * f.gathered.capacity())));
  }
  f.gathered.insert(f.gathered.end(), bytes, bytes + amount);
  return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  return Below(f).xTruncate(f.below, size);
}
int Sync(sqlite3_file* file, int flags) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  return Below(f).xSync(f.below, flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  return Below(f).xFileSize(f.below, size);
}
int Lock(sqlite3_file* file, int level) { return Below(Of(file)).xLock(Of(file).below, level); }
int Unlock(sqlite3_file* file, int level) { return Below(Of(file)).xUnlock(Of(file).below, level); }
int CheckReservedLock(sqlite3_file* file, int* out) {
  return Below(Of(file)).xCheckReservedLock(Of(file).below, out);
}
int FileControl(sqlite3_file* file, int op, void* argument) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  return Below(f).xFileControl(f.below, op, argument);
}
int SectorSize(sqlite3_file* file) { return Below(Of(file)).xSectorSize(Of(file).below); }
int DeviceCharacteristics(sqlite3_file* file) { return Below(Of(file)).xDeviceCharacteristics(Of(file).below); }

// The shared memory is the database's: its log's frames go out before any of it is touched.
int ShmMap(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
  LayerFile& f = Of(file);
  if (Below(f).iVersion < 2) return SQLITE_IOERR_SHMMAP;
  return Below(f).xShmMap(f.below, page, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOutLogOf(f); rc != SQLITE_OK) return rc;
  return Below(f).xShmLock(f.below, offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) {
  LayerFile& f = Of(file);
  // No way to report here: a commit's frames went out at its sync already.
  static_cast<void>(WriteOutLogOf(f));
  Below(f).xShmBarrier(f.below);
}
int ShmUnmap(sqlite3_file* file, int delete_flag) {
  LayerFile& f = Of(file);
  if (const int rc = WriteOutLogOf(f); rc != SQLITE_OK) return rc;
  return Below(f).xShmUnmap(f.below, delete_flag);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  LayerFile& f = Of(file);
  if (Below(f).iVersion < 3) {
    *out = nullptr;  // no mapping: SQLite reads instead
    return SQLITE_OK;
  }
  return Below(f).xFetch(f.below, offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  LayerFile& f = Of(file);
  return Below(f).iVersion < 3 ? SQLITE_OK : Below(f).xUnfetch(f.below, offset, page);
}

constexpr sqlite3_io_methods kMethods = {
    3,        Close, Read,   Write,  Truncate,   Sync,     FileSize, Lock,  Unlock, CheckReservedLock,
    FileControl, SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch};

int Open(sqlite3_vfs* layer, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* f = new (file) LayerFile();
  f->below = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kBelowOffset);
  f->below->pMethods = nullptr;
  sqlite3_vfs* below = BelowVfs(layer);
  const int rc = below->xOpen(below, name, f->below, flags, out_flags);
  if (f->below->pMethods == nullptr) {
    // SQLite calls no xClose on a file whose open left no methods.
    f->~LayerFile();
    file->pMethods = nullptr;
    return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
  }
  file->pMethods = &kMethods;
  if (rc != SQLITE_OK || name == nullptr) return rc;
  if ((flags & SQLITE_OPEN_MAIN_DB) != 0) {
    std::lock_guard lock(databases_mutex);
    if (OpenDatabases().emplace(name, f).second) f->database_name = name;
  } else if ((flags & SQLITE_OPEN_WAL) != 0) {
    std::lock_guard lock(databases_mutex);
    const auto found = OpenDatabases().find(sqlite3_filename_database(name));
    if (found != OpenDatabases().end() && found->second->log == nullptr) {
      f->database = found->second;
      found->second->log = f;
    }
  }
  return rc;
}

int Delete(sqlite3_vfs* layer, const char* name, int sync_dir) {
  return BelowVfs(layer)->xDelete(BelowVfs(layer), name, sync_dir);
}
int Access(sqlite3_vfs* layer, const char* name, int flags, int* out) {
  return BelowVfs(layer)->xAccess(BelowVfs(layer), name, flags, out);
}
int FullPathname(sqlite3_vfs* layer, const char* name, int size, char* out) {
  return BelowVfs(layer)->xFullPathname(BelowVfs(layer), name, size, out);
}
void* DlOpen(sqlite3_vfs* layer, const char* name) { return BelowVfs(layer)->xDlOpen(BelowVfs(layer), name); }
void DlError(sqlite3_vfs* layer, int size, char* out) { BelowVfs(layer)->xDlError(BelowVfs(layer), size, out); }
void (*DlSym(sqlite3_vfs* layer, void* handle, const char* symbol))(void) {
  return BelowVfs(layer)->xDlSym(BelowVfs(layer), handle, symbol);
}
void DlClose(sqlite3_vfs* layer, void* handle) { BelowVfs(layer)->xDlClose(BelowVfs(layer), handle); }
int Randomness(sqlite3_vfs* layer, int size, char* out) {
  return BelowVfs(layer)->xRandomness(BelowVfs(layer), size, out);
}
int Sleep(sqlite3_vfs* layer, int microseconds) { return BelowVfs(layer)->xSleep(BelowVfs(layer), microseconds); }
int CurrentTime(sqlite3_vfs* layer, double* out) { return BelowVfs(layer)->xCurrentTime(BelowVfs(layer), out); }
int GetLastError(sqlite3_vfs* layer, int size, char* out) {
  return BelowVfs(layer)->xGetLastError(BelowVfs(layer), size, out);
}
int CurrentTimeInt64(sqlite3_vfs* layer, sqlite3_int64* out) {
  sqlite3_vfs* below = BelowVfs(layer);
  if (below->iVersion >= 2 && below->xCurrentTimeInt64 != nullptr) return below->xCurrentTimeInt64(below, out);
  double days = 0;
  const int rc = below->xCurrentTime(below, &days);
  *out = static_cast<sqlite3_int64>(days * 86400000.0);
  return rc;
}

// One layer per VFS it has been put over, registered with SQLite for the life of the process.
struct Layer {
  sqlite3_vfs vfs{};
  std::string name;
};

}  // namespace

const char* SqliteFileLayer() {
  static std::mutex mutex;
  static auto* layers = new std::list<Layer>();
  std::lock_guard lock(mutex);
  sqlite3_vfs* below = sqlite3_vfs_find(nullptr);
  if (below == nullptr) return nullptr;  // SQLite's own default is then used, and fails alike
  for (const Layer& layer : *layers) {
    if (layer.vfs.pAppData == below) return layer.name.c_str();
  }
  Layer& layer = layers->emplace_back();
  layer.name = "ledgerkit-gathered-log/" + std::string(below->zName);
  layer.vfs.iVersion = 2;
  layer.vfs.szOsFile = kBelowOffset + below->szOsFile;
  layer.vfs.mxPathname = below->mxPathname;
  layer.vfs.zName = layer.name.c_str();
  layer.vfs.pAppData = below;
  layer.vfs.xOpen = Open;
  layer.vfs.xDelete = Delete;
  layer.vfs.xAccess = Access;
  layer.vfs.xFullPathname = FullPathname;
  layer.vfs.xDlOpen = DlOpen;
  layer.vfs.xDlError = DlError;
  layer.vfs.xDlSym = DlSym;
  layer.vfs.xDlClose = DlClose;
  layer.vfs.xRandomness = Randomness;
  layer.vfs.xSleep = Sleep;
  layer.vfs.xCurrentTime = CurrentTime;
  layer.vfs.xGetLastError = GetLastError;
  layer.vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  if (sqlite3_vfs_register(&layer.vfs, 0) != SQLITE_OK) {
    layers->pop_back();
    return nullptr;
  }
  return layer.name.c_str();
}

}  // namespace ledgerkit
