#include "common/ProcessMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ledgerkit {

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}

}  // namespace ledgerkit
