// Line output of the stand-in host. Every line carries the "sim: " prefix and is flushed at once,
// so that it interleaves in order with the plug-in's own output when both streams are captured.
// Any thread may call: one lock keeps lines whole even when plug-in threads report violations.
#pragma once

#include <string>

class SimOutput
{
public:
  // Command results and lifecycle lines, on standard output.
  static void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Errors and plug-in misuse (threading violations, bad handles), on standard error.
  static void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Text without the prefix, for --help and usage errors.
  static void plain(bool toStderr, const std::string& text);
  // Plug-in supplied text with control characters replaced, so one name cannot break a line.
  static std::string printable(const std::string& text);
};
