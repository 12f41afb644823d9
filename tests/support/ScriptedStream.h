// A stream the test scripts: reads are served from `content` (at most `perRead` bytes a
// call), writes are appended to it and kept one string each, and every call is recorded.
// Each side can be made to fail, or to break the read contract. One thread only.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "io/IOAbstract.h"

class ScriptedStream : public IOAbstract
{
public:
  explicit ScriptedStream(std::string bytes = "", uint32_t perRead = UINT32_MAX)
      : content(std::move(bytes)), perRead(perRead)
  {
  }
  bool readIO(void* buffer, uint32_t& length) override
  {
    reads.push_back(length);
    calls.push_back("read " + std::to_string(length));
    if (onRead) onRead();
    if (failReads) return false;  // the count is left as it was
    if (stallReads) {             // success without a byte
      length = 0;
      return true;
    }
    if (overreport) {
      length += 1;
      return true;
    }
    uint32_t n = length < perRead ? length : perRead;
    if (n > content.size() - position) n = (uint32_t)(content.size() - position);
    if (n) memcpy(buffer, content.data() + position, n);
    position += n;
    length = n;
    return n > 0;
  }
  bool writeIO(const void* bytes, uint32_t length) override
  {
    calls.push_back("write " + std::string(static_cast<const char*>(bytes), length));
    if (failWrites || writes.size() >= acceptedWrites || writtenBytes + length > writeLimit) {
      refused++;
      return false;
    }
    writes.emplace_back(static_cast<const char*>(bytes), length);
    writtenBytes += length;
    content.append(writes.back());
    return true;
  }
  bool flushIO() override
  {
    calls.push_back("flush");
    flushes++;
    return !failFlushes;
  }
  bool closeIO() override
  {
    calls.push_back("close");
    closes++;
    return !failFlushes;
  }
  std::string written() const
  {
    std::string all;
    for (const std::string& write : writes) all += write;
    return all;
  }

  std::string content;
  uint32_t perRead;
  size_t position = 0;
  std::vector<uint32_t> reads;
  std::vector<std::string> writes;
  std::vector<std::string> calls;
  std::function<void()> onRead;
  bool failReads = false, stallReads = false, overreport = false;
  bool failWrites = false, failFlushes = false;
  size_t acceptedWrites = SIZE_MAX, writeLimit = SIZE_MAX;
  size_t writtenBytes = 0;  // since the stream was made, cleared writes included
  int refused = 0, flushes = 0, closes = 0;
};
