// What the gzip filter costs over zlib itself: 64 MiB of log-like text with variation,
// compressed and decompressed through IOGzipFilter over an in-memory stream, and with
// deflate/inflate driven directly at the same level, window and block sizes. Both sides run
// in every iteration, in alternating order, and move their compressed bytes through the same
// kind of preallocated memory, so "vs_zlib" (filter throughput over zlib's) is the filter's own.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "io/IOGzipFilter.h"
#include "object/BaseAutorelease.h"

namespace {

const size_t DATA_SIZE = 64 << 20;
const uint32_t BLOCK_SIZE = 16384;  // the filter's blocks and zlib's buffers alike
const uint32_t CALL_SIZE = 65536;   // bytes per write or read call
const int LEVEL = 6;

typedef std::vector<unsigned char> Bytes;

const Bytes& source()
{
  static const Bytes data = [] {
    Bytes text;
    text.reserve(DATA_SIZE + 256);
    uint32_t seed = 12345;
    while (text.size() < DATA_SIZE) {
      seed = seed * 1103515245 + 12345;
      std::string line = "2026-12-07 position lat=" + std::to_string(seed % 90000) +
                         " lon=" + std::to_string((seed >> 8) % 180000) +
                         " alt=" + std::to_string((seed >> 16) % 12000) +
                         (seed & 1 ? " climbing\n" : " level flight\n");
      text.insert(text.end(), line.begin(), line.end());
    }
    text.resize(DATA_SIZE);
    return text;
  }();
  return data;
}

// A stream over memory: writes append (no growth once reserved), reads consume.
class MemoryStream : public IOAbstract
{
public:
  bool readIO(void* buffer, uint32_t& length) override
  {
    size_t left = bytes.size() - position;
    if (length > left) length = (uint32_t)left;
    memcpy(buffer, bytes.data() + position, length);
    position += length;
    return length != 0;
  }
  bool writeIO(const void* data, uint32_t length) override
  {
    const unsigned char* first = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), first, first + length);
    return true;
  }

  Bytes bytes;
  size_t position = 0;
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool filterCompress(const Bytes& data, MemoryStream* sink)
{
  sink->bytes.clear();
  IOGzipFilter* filter = new IOGzipFilter(sink, false, false, LEVEL, BLOCK_SIZE, BLOCK_SIZE);
  bool ok = true;
  for (size_t offset = 0; ok && offset < data.size(); offset += CALL_SIZE)
    ok = filter->writeIO(&data[offset], (uint32_t)std::min<size_t>(CALL_SIZE, data.size() - offset));
  ok = filter->closeIO() && ok;
  filter->release();
  return ok;
}

// Moves the output block into `out` whenever it is full, or when `all` says so.
void drain(z_stream& stream, unsigned char* block, Bytes& out, bool all)
{
  if (stream.avail_out != 0 && !all) return;
  out.insert(out.end(), block, block + BLOCK_SIZE - stream.avail_out);
  stream.next_out = block;
  stream.avail_out = BLOCK_SIZE;
}

bool zlibCompress(const Bytes& data, Bytes& out)
{
  out.clear();
  unsigned char block[BLOCK_SIZE];
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (deflateInit2(&stream, LEVEL, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  stream.next_out = block;
  stream.avail_out = BLOCK_SIZE;
  int res = Z_OK;
  for (size_t offset = 0; res == Z_OK && offset < data.size(); offset += CALL_SIZE) {
    stream.next_in = const_cast<unsigned char*>(&data[offset]);
    stream.avail_in = (uInt)std::min<size_t>(CALL_SIZE, data.size() - offset);
    while (res == Z_OK && stream.avail_in != 0) {
      res = deflate(&stream, Z_NO_FLUSH);
      drain(stream, block, out, false);
    }
  }
  while (res == Z_OK) {
    res = deflate(&stream, Z_FINISH);
    drain(stream, block, out, res == Z_STREAM_END);
  }
  deflateEnd(&stream);
  return res == Z_STREAM_END;
}

size_t filterDecompress(MemoryStream* compressed)
{
  static unsigned char out[CALL_SIZE];
  compressed->position = 0;
  IOGzipFilter* filter = new IOGzipFilter(compressed, false, false, LEVEL, BLOCK_SIZE, BLOCK_SIZE);
  size_t total = 0;
  for (;;) {
    uint32_t length = CALL_SIZE;
    bool delivered = filter->readIO(out, length);
    total += length;
    if (!delivered) break;
  }
  filter->release();
  return total;
}

size_t zlibDecompress(const Bytes& compressed)
{
  static unsigned char out[CALL_SIZE];
  unsigned char block[BLOCK_SIZE];
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (inflateInit2(&stream, 47) != Z_OK) return 0;
  size_t position = 0, total = 0;
  int res = Z_OK;
  while (res == Z_OK) {
    stream.next_out = out;
    stream.avail_out = CALL_SIZE;
    while (res == Z_OK && stream.avail_out != 0) {
      if (stream.avail_in == 0) {
        // Staged through a block, as the filter stages what it reads from its stream.
        size_t count = std::min<size_t>(BLOCK_SIZE, compressed.size() - position);
        if (count == 0) break;
        memcpy(block, compressed.data() + position, count);
        position += count;
        stream.next_in = block;
        stream.avail_in = (uInt)count;
      }
      res = inflate(&stream, Z_NO_FLUSH);
    }
    total += CALL_SIZE - stream.avail_out;
    if (stream.avail_out != 0 && res == Z_OK) break;
  }
  inflateEnd(&stream);
  return res == Z_STREAM_END ? total : 0;
}

void report(benchmark::State& state, double filterSeconds, double zlibSeconds, size_t compressedSize)
{
  double megabytes = double(DATA_SIZE) * double(state.iterations()) / 1e6;
  state.counters["filter_MBps"] = megabytes / filterSeconds;
  state.counters["zlib_MBps"] = megabytes / zlibSeconds;
  state.counters["vs_zlib"] = zlibSeconds / filterSeconds;
  state.counters["compressed_pct"] = 100.0 * double(compressedSize) / double(DATA_SIZE);
}

void BM_GzipCompress(benchmark::State& state)
{
  BaseAutorelease pool;
  const Bytes& data = source();
  MemoryStream* sink = new (eRetainAutorelease) MemoryStream();
  sink->bytes.reserve(DATA_SIZE);
  Bytes direct;
  direct.reserve(DATA_SIZE);
  double filterSeconds = 0, zlibSeconds = 0;
  bool filterFirst = true;
  for (auto _ : state) {
    for (int side = 0; side < 2; side++) {
      auto start = std::chrono::steady_clock::now();
      if ((side == 0) == filterFirst) {
        if (!filterCompress(data, sink)) state.SkipWithError("filter compression failed");
        filterSeconds += secondsSince(start);
      } else {
        if (!zlibCompress(data, direct)) state.SkipWithError("zlib compression failed");
        zlibSeconds += secondsSince(start);
      }
    }
    filterFirst = !filterFirst;
  }
  // Same level, window and input: the two must agree byte for byte.
  if (sink->bytes != direct) state.SkipWithError("filter and zlib output differ");
  report(state, filterSeconds, zlibSeconds, direct.size());
}
BENCHMARK(BM_GzipCompress)->Iterations(4)->Unit(benchmark::kMillisecond);

void BM_GzipDecompress(benchmark::State& state)
{
  BaseAutorelease pool;
  MemoryStream* compressed = new (eRetainAutorelease) MemoryStream();
  compressed->bytes.reserve(DATA_SIZE);
  if (!filterCompress(source(), compressed)) state.SkipWithError("compression failed");
  double filterSeconds = 0, zlibSeconds = 0;
  bool filterFirst = true;
  for (auto _ : state) {
    for (int side = 0; side < 2; side++) {
      auto start = std::chrono::steady_clock::now();
      if ((side == 0) == filterFirst) {
        if (filterDecompress(compressed) != DATA_SIZE) state.SkipWithError("filter read back too little");
        filterSeconds += secondsSince(start);
      } else {
        if (zlibDecompress(compressed->bytes) != DATA_SIZE) state.SkipWithError("zlib read back too little");
        zlibSeconds += secondsSince(start);
      }
    }
    filterFirst = !filterFirst;
  }
  report(state, filterSeconds, zlibSeconds, compressed->bytes.size());
}
BENCHMARK(BM_GzipDecompress)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
