#include "object/SmallBlocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
const bool CACHED = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool CACHED = false;
#else
const bool CACHED = true;
#endif
#else
const bool CACHED = true;
#endif

// A block holds what was asked, its class's usable size and, where the C heap can tell,
// takes no more memory than a direct malloc of the same size would; a freed block comes
// back for any size of its class. On a thread of its own, whose cache starts empty.
void checkBlocks()
{
  const size_t sizes[] = {0, 1, 8, 9, 24, 25, 40, 41, 56, 57, 100, 200, 248, 249, 256, 257, 4000};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    const size_t usable = SmallBlocks::usableSize(size);
    EXPECT_GE(usable, size);
    unsigned char* block = static_cast<unsigned char*>(SmallBlocks::allocate(size));
    memset(block, 0xA5, usable);
#if defined(__GLIBC__)
    void* direct = malloc(size);
    if (CACHED) EXPECT_EQ(malloc_usable_size(block), malloc_usable_size(direct));
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

// Objects made on one thread die on another, and threads end with full caches.
TEST(SmallBlocksTest, ObjectsCrossThreadsAndThreadsEndWithFullCaches)
{
  for (int round = 0; round < 4; round++) {
    std::vector<BaseString*> made;
    std::thread maker([&made] {
      for (int i = 0; i < 200; i++) made.push_back(new BaseString("a string of some length", i % 24));
      std::vector<BaseString*> own;
      for (int i = 0; i < 100; i++) own.push_back(new BaseString("kept on this thread"));
      for (BaseString* text : own) text->release();
    });
    maker.join();
    std::vector<std::thread> takers;
    for (int t = 0; t < 4; t++)
      takers.emplace_back([&made, t] {
        for (size_t i = size_t(t); i < made.size(); i += 4) {
          EXPECT_EQ(made[i]->length(), i % 24);
          made[i]->release();
        }
      });
    for (std::thread& taker : takers) taker.join();
  }
}

}  // namespace
