#include "object/SmallBlocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Whether blocks are cached (not under AddressSanitizer), and whether the C heap is the C
// library's own (sanitizers bring theirs, which size blocks as asked).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED_HEAP 2
#elif __has_feature(thread_sanitizer)
#define SANITIZED_HEAP 1
#endif
#endif
#if !defined(SANITIZED_HEAP) && defined(__SANITIZE_ADDRESS__)
#define SANITIZED_HEAP 2
#elif !defined(SANITIZED_HEAP) && defined(__SANITIZE_THREAD__)
#define SANITIZED_HEAP 1
#endif
#ifndef SANITIZED_HEAP
#define SANITIZED_HEAP 0
#endif
const bool CACHED = SANITIZED_HEAP != 2;
const bool PLAIN_HEAP = SANITIZED_HEAP == 0;

// A block holds what was asked, its class's usable size and, where the C heap can tell,
// takes no more memory than a direct malloc of the same size would; a freed block comes
// back for any size of its class. On a thread of its own, whose cache starts empty.
void checkBlocks()
{
  const size_t sizes[] = {0, 1, 8, 9, 24, 25, 40, 41, 56, 57, 100, 200, 248, 249, 264, 265, 4000};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    const size_t usable = SmallBlocks::usableSize(size);
    EXPECT_GE(usable, size);
    unsigned char* block = static_cast<unsigned char*>(SmallBlocks::allocate(size));
    memset(block, 0xA5, usable);
#if defined(__GLIBC__)
    void* direct = malloc(size);
    if (PLAIN_HEAP) {
      EXPECT_EQ(malloc_usable_size(block), malloc_usable_size(direct));
    }
    free(direct);
#endif
    SmallBlocks::release(block, size);
    if (CACHED && size <= SmallBlocks::MAX_SIZE) {
      void* again = SmallBlocks::allocate(usable);
      EXPECT_EQ(again, block);
      SmallBlocks::release(again, usable);
    }
  }
  SmallBlocks::release(nullptr, 16);
  SmallBlocks::releaseUnsized(SmallBlocks::allocate(24));
}

TEST(SmallBlocksTest, BlocksCostWhatMallocWouldAndComeBackWithinTheirClass)
{
  std::thread(checkBlocks).join();
}

}  // namespace
