// The fuzzers' log sink: every line is formatted (so the formatting runs on hostile input
// too) and then thrown away. Installed once per process.
#pragma once

#include <cstdio>

#include "io/IOAbstract.h"
#include "runtime/Debug.h"

namespace fuzzing {

class DiscardingStream : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    length = 0;
    return false;
  }
  bool writeIO(const void*, uint32_t) override { return true; }
};

inline void installDiscardingSink()
{
  static bool installed = [] {
    static DiscardingStream* target = new DiscardingStream();
    char text[64];
    snprintf(text, sizeof text, "io:%p", static_cast<void*>(target));
    static DebugManager* sink = new DebugManager("%S: %m\n", text, "V");
    (void)sink;
    return true;
  }();
  (void)installed;
}

}  // namespace fuzzing
