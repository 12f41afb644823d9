#include "object/SmallBlocks.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/BaseAssert.h"

#if defined(__SANITIZE_ADDRESS__)
#define SMALL_BLOCKS_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SMALL_BLOCKS_CACHE 0
#endif
#endif
#ifndef SMALL_BLOCKS_CACHE
#define SMALL_BLOCKS_CACHE 1
#endif

namespace SmallBlocks {

namespace {

// Class c serves sizes 16c - 7 to 16c + 8 with a request of 16c + 8 bytes: the C heap
// rounds a request up to a multiple of 16 after adding its 8-byte header, so every size of
// a class takes a chunk of the same size as the class's request.
const unsigned CLASS_COUNT = (MAX_SIZE + 7) / 16 + 1;

unsigned classOf(size_t size)
{
  return (unsigned)((size + 7) / 16);
}

size_t requestOf(unsigned sizeClass)
{
  return sizeClass * 16 + 8;
}

void* heapBlock(size_t size)
{
  void* block = malloc(size ? size : 1);
  BASE_ASSERT(block != NULL);
  return block;
}

#if SMALL_BLOCKS_CACHE

struct FreeBlock
{
  FreeBlock* next;
};

struct ThreadCache
{
  FreeBlock* heads[CLASS_COUNT];
  unsigned char counts[CLASS_COUNT];
};

// The value of the key once a thread's cache has been given back: from then on that thread
// frees straight to the C heap.
ThreadCache* const ENDED = reinterpret_cast<ThreadCache*>(uintptr_t(1));

std::atomic<bool> unloaded{false};

// The calling thread's cache: null before its first use, ENDED once given back. The key
// below holds the same pointer so that the cache is given back when the thread ends.
thread_local ThreadCache* currentCache = nullptr;

void giveBack(ThreadCache* cache)
{
  for (unsigned c = 0; c < CLASS_COUNT; c++) {
    for (FreeBlock* block = cache->heads[c]; block;) {
      FreeBlock* next = block->next;
      free(block);
      block = next;
    }
    cache->heads[c] = nullptr;
    cache->counts[c] = 0;
  }
}

void endThreadCache(void* value);

// The key that finds a thread's cache and gives it back when the thread ends. It is
// deleted when the library is unloaded, so that no thread ending later calls into unmapped
// code.
class CacheKey
{
public:
  CacheKey() : m_ready(pthread_key_create(&m_key, endThreadCache) == 0) {}
  ~CacheKey()
  {
    unloaded.store(true, std::memory_order_release);
    if (!m_ready) return;
    ThreadCache* cache = currentCache;
    if (cache && cache != ENDED) {
      giveBack(cache);
      free(cache);
    }
    currentCache = ENDED;
    pthread_key_delete(m_key);
  }
  CacheKey(const CacheKey&) = delete;
  CacheKey& operator=(const CacheKey&) = delete;

  bool ready() const { return m_ready; }
  bool set(ThreadCache* cache) const { return pthread_setspecific(m_key, cache) == 0; }

private:
  pthread_key_t m_key;
  bool m_ready;
};

CacheKey& cacheKey()
{
  static CacheKey key;
  return key;
}

void endThreadCache(void* value)
{
  ThreadCache* cache = static_cast<ThreadCache*>(value);
  if (cache != ENDED) {
    giveBack(cache);
    free(cache);
  }
  // Objects freed by later thread-exit work go to the C heap; the C library stops asking
  // after a few rounds even though the value stays set.
  currentCache = ENDED;
  cacheKey().set(ENDED);
}

// The calling thread's cache, made on first use when `create` is set; null when blocks
// must go to the heap.
inline ThreadCache* threadCache(bool create)
{
  ThreadCache* cache = currentCache;
  if (cache != nullptr) return cache != ENDED ? cache : nullptr;
  if (!create || unloaded.load(std::memory_order_acquire)) return nullptr;
  CacheKey& key = cacheKey();
  if (!key.ready()) return nullptr;
  cache = static_cast<ThreadCache*>(calloc(1, sizeof(ThreadCache)));
  if (cache && !key.set(cache)) {
    free(cache);
    cache = nullptr;
  }
  currentCache = cache ? cache : ENDED;
  return cache;
}

#endif

}  // namespace

void* allocate(size_t size)
{
  if (size > MAX_SIZE) return heapBlock(size);
  const unsigned sizeClass = classOf(size);
#if SMALL_BLOCKS_CACHE
  if (ThreadCache* cache = threadCache(false)) {
    if (FreeBlock* block = cache->heads[sizeClass]) {
      cache->heads[sizeClass] = block->next;
      cache->counts[sizeClass]--;
      return block;
    }
  }
#endif
  return heapBlock(requestOf(sizeClass));
}

void release(void* block, size_t size)
{
  if (!block) return;
#if SMALL_BLOCKS_CACHE
  if (size <= MAX_SIZE) {
    const unsigned sizeClass = classOf(size);
    ThreadCache* cache = threadCache(true);
    if (cache && cache->counts[sizeClass] < CACHE_DEPTH) {
      FreeBlock* freed = static_cast<FreeBlock*>(block);
      freed->next = cache->heads[sizeClass];
      cache->heads[sizeClass] = freed;
      cache->counts[sizeClass]++;
      return;
    }
  }
#else
  (void)size;
#endif
  free(block);
}

void* reallocate(void* block, size_t oldSize, size_t newSize)
{
  if (newSize > MAX_SIZE) {
    // Small blocks are C heap blocks too.
    void* grown = realloc(block, newSize);
    BASE_ASSERT(grown != NULL);
    return grown;
  }
  // A block already serves every size of its class.
  if (block && oldSize <= MAX_SIZE && classOf(oldSize) == classOf(newSize)) return block;
  void* grown = allocate(newSize);
  if (block) memcpy(grown, block, oldSize < newSize ? oldSize : newSize);
  release(block, oldSize);
  return grown;
}

void releaseUnsized(void* block)
{
  free(block);
}

size_t usableSize(size_t size)
{
  return size > MAX_SIZE ? size : requestOf(classOf(size));
}

}  // namespace SmallBlocks
