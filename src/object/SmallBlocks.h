// The memory of the framework's small objects and short buffers: blocks of up to
// MAX_SIZE bytes are kept, once freed, in a small per-thread cache of each size class and
// handed out again by the same thread without touching the C heap's locks or bins. Every
// block is an ordinary malloc block whose request is the largest of its class that the C
// heap serves from a chunk of the same size, so that a cached block costs exactly the
// memory a direct malloc of the same size would. A block may be freed on any thread (it
// joins that thread's cache) or handed to free() directly (releaseUnsized).
//
// A thread's cache holds at most CACHE_DEPTH blocks of a class and is given back to the C
// heap when the thread ends; when the library is unloaded, the unloading thread's cache is
// given back and from then on every call goes straight to malloc and free. In builds with
// AddressSanitizer nothing is cached, so that a use after free is still caught.
#pragma once

#include <cstddef>

namespace SmallBlocks {

// The largest size of the largest class (16 * 16 + 8).
const size_t MAX_SIZE = 264;
const unsigned CACHE_DEPTH = 32;

// A block of at least `size` bytes; never null (failure stops the program, as a failed
// allocation of an object does).
void* allocate(size_t size);
// A block of at least `newSize` bytes holding the first `oldSize` bytes of `block` (which
// allocate(oldSize) returned, or null): `block` itself when its class serves `newSize`,
// else a new one and `block` is given back. Larger blocks are reallocated by the C heap.
void* reallocate(void* block, size_t oldSize, size_t newSize);
// Gives back a block that allocate(size) returned; `size` must be the one asked for (or
// any size of the same class). Null is ignored.
void release(void* block, size_t size);
// Gives back a block whose size is no longer known; it goes to the C heap.
void releaseUnsized(void* block);
// The largest size whose blocks allocate(size) would serve from the same class.
size_t usableSize(size_t size);

}  // namespace SmallBlocks
