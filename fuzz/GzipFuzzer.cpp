// Reads arbitrary bytes through the gzip filter, as a reader of a peer's compressed stream
// would, until a read fails. The first byte picks the framing (chunked or not), the input
// block (small, so that chunk lengths run past it, or large) and the pattern of read sizes.
// What was read is compressed again, with a flush halfway, and must read back identically. The output is
// capped, so that a small input inflating to a huge one stays cheap.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzLogSink.h"
#include "io/BaseBuffer.h"
#include "io/IOGzipFilter.h"
#include "object/BaseAutorelease.h"

namespace {

const size_t MAX_OUTPUT = 4 << 20;
const size_t MAX_RECOMPRESSED = 256 << 10;
const uint32_t READ_SIZES[] = {1, 3, 64, 1000, 4096, 65536};
const size_t READ_SIZE_COUNT = sizeof READ_SIZES / sizeof READ_SIZES[0];

// Reads `input` to its end through a filter; false when a read breaks the stream contract.
bool readAll(BaseBuffer* input, bool chunked, uint32_t inputBlock, uint8_t pattern, std::string& output)
{
  static unsigned char block[65536];
  IOGzipFilter* reader = new (eRetainAutorelease) IOGzipFilter(input, false, chunked, 6, inputBlock, 4096);
  for (size_t i = pattern; output.size() < MAX_OUTPUT; i++) {
    const uint32_t asked = READ_SIZES[i % READ_SIZE_COUNT];
    uint32_t length = asked;
    bool delivered = reader->readIO(block, length);
    if (length > asked || (delivered && length == 0)) return false;
    output.append(reinterpret_cast<const char*>(block), length);
    if (!delivered) break;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  if (size < 1 || size > 1 << 20) return 0;
  const uint8_t settings = data[0];
  const bool chunked = settings & 1;
  const uint32_t inputBlock = settings & 2 ? 10 : 4096;
  BaseAutorelease pool;
  BaseBuffer* input = new (eRetainAutorelease) BaseBuffer(data + 1, (uint32_t)(size - 1));
  std::string output;
  if (!readAll(input, chunked, inputBlock, settings >> 2, output)) __builtin_trap();

  output.resize(output.size() < MAX_RECOMPRESSED ? output.size() : MAX_RECOMPRESSED);
  BaseBuffer* again = new (eRetainAutorelease) BaseBuffer();
  IOGzipFilter* writer = new (eRetainAutorelease)
      IOGzipFilter(again, settings & 4, chunked, settings % 10, 64, settings & 8 ? 10 : 70000);
  // Half, a full flush (twice when the settings say so: the second has nothing new), the rest.
  const uint32_t half = (uint32_t)output.size() / 2;
  bool written = writer->writeIO(output.data(), half) && writer->flushIO() &&
                 (!(settings & 16) || writer->flushIO()) &&
                 writer->writeIO(output.data() + half, (uint32_t)output.size() - half) && writer->closeIO();
  if (!written) __builtin_trap();
  std::string readBack;
  if (!readAll(again, chunked, inputBlock, settings, readBack) || readBack != output) __builtin_trap();
  return 0;
}
