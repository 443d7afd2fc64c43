#include "common/ProcessMemory.h"

// <malloc.h> first: it is what defines __GLIBC__ (through <features.h>), which the settings
// below are guarded by. Tested before any libc header, the guard was always false and the
// function did nothing.
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace ledgerkit {

bool KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  return mallopt(M_MMAP_THRESHOLD, 4 << 20) == 1 && mallopt(M_TRIM_THRESHOLD, 32 << 20) == 1;
#else
  return false;
#endif
}

}  // namespace ledgerkit
