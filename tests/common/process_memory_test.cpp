// The C library settings our programs start with: a freed block at the top of the heap is kept
// for the next request instead of being given back to the kernel at once.
#include "common/ProcessMemory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace ledgerkit {
namespace {

TEST(ProcessMemory, ABlockOfAFewMebibytesComesFromTheHeapAndStaysWithItWhenFreed) {
#if !defined(__GLIBC__)
  GTEST_SKIP() << "the C library has no such settings";
#endif
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer serves every block from its own mappings";
#endif
  ASSERT_TRUE(KeepFreedMemoryForReuse());
  // 3 MiB: above the library's default threshold for a mapping of its own (128 KiB, growing
  // with what is freed), below the one set.
  constexpr size_t kBlock = 3 << 20;
  char* block = static_cast<char*>(std::malloc(kBlock));
  ASSERT_NE(block, nullptr);
  block[0] = block[kBlock - 1] = 1;
  const char* top = static_cast<const char*>(sbrk(0));
  EXPECT_LT(block, top) << "the block was mapped apart from the heap";
  std::free(block);
  EXPECT_EQ(static_cast<const char*>(sbrk(0)), top) << "the freed top of the heap was given back";
}

}  // namespace
}  // namespace ledgerkit
