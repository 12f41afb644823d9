// How long each call into the plug-in held the main thread, by kind of call ("XPluginEnable",
// "menu 'Start'", "flight loop"...): count, median and maximum in microseconds of a monotonic clock.
// Memory stays bounded however long the host runs: durations are counted in buckets, exact below
// 1024 us and within 0.2 % above. Main thread only, like the calls it times.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class SimCallTimes
{
public:
  // Times one call from construction to destruction. With printEach, the host prints a line as
  // the call returns, except for calls made every frame (`perFrame`).
  class Scope
  {
  public:
    Scope(SimCallTimes& times, std::string kind, bool perFrame = false);
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope();

  private:
    SimCallTimes& m_times;
    std::string m_kind;
    bool m_perFrame;
    std::chrono::steady_clock::time_point m_start;
  };

  explicit SimCallTimes(bool printEach) : m_printEach(printEach) {}

  void record(const std::string& kind, uint64_t microseconds);
  // One line per kind, in the order of their first calls: "KIND: N calls, median M us, max X us".
  std::vector<std::string> lines() const;

private:
  struct Kind
  {
    std::string name;
    uint64_t count = 0;
    uint64_t max = 0;
    std::map<uint32_t, uint64_t> buckets;  // bucket -> calls
  };

  static uint32_t bucketOf(uint64_t microseconds);
  static uint64_t lowestIn(uint32_t bucket);

  bool m_printEach;
  std::vector<Kind> m_kinds;
  std::map<std::string, size_t> m_index;  // kind name -> position in m_kinds
};
