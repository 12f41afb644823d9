#include "io/IOAbstract.h"

#include <mutex>
#include <unordered_set>

namespace {

// The addresses of every constructed, not yet destroyed stream; `lock` guards `streams`.
// Never destroyed: streams may still be made or destroyed by static destructors at exit.
struct LiveStreams
{
  std::mutex lock;
  std::unordered_set<const void*> streams;
};

LiveStreams& liveStreams()
{
  static LiveStreams* registry = new LiveStreams();
  return *registry;
}

}  // namespace

IOAbstract::IOAbstract()
{
  LiveStreams& registry = liveStreams();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.streams.insert(this);
}

IOAbstract::~IOAbstract()
{
  LiveStreams& registry = liveStreams();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.streams.erase(this);
}

bool IOAbstract::flushIO()
{
  return true;
}

bool IOAbstract::skipBytesInIO(uint32_t count)
{
  unsigned char discarded[SKIP_CHUNK];
  while (count > 0) {
    uint32_t asked = count < SKIP_CHUNK ? count : (uint32_t)SKIP_CHUNK;
    uint32_t length = asked;
    if (!readIO(discarded, length)) return false;
    // A stream that reports nothing, or more than it was asked for, breaks the read
    // contract; stop rather than loop forever or miscount.
    if (length == 0 || length > asked) return false;
    count -= length;
  }
  return true;
}

bool IOAbstract::closeIO()
{
  return true;
}

IOAbstract* IOAbstract::retainLiveStream(const void* address)
{
  if (!address) return nullptr;
  LiveStreams& registry = liveStreams();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (registry.streams.find(address) == registry.streams.end()) return nullptr;
  IOAbstract* stream = static_cast<IOAbstract*>(const_cast<void*>(address));
  // A stream whose last reference is gone is being destroyed (its derived destructors run
  // before ours unregisters it): it must not be brought back.
  int32_t count = stream->m_retainCount.load(std::memory_order_relaxed);
  while (count > 0) {
    if (stream->m_retainCount.compare_exchange_weak(count, count + 1, std::memory_order_relaxed))
      return stream;
  }
  return nullptr;
}
