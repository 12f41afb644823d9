#include "SimOutput.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// Guards nothing but the order of whole lines on the two streams.
std::mutex s_outputLock;

void writeLine(FILE* stream, const char* format, va_list args)
{
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> buffer(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) std::vsnprintf(buffer.data(), buffer.size(), format, args);
  std::lock_guard<std::mutex> guard(s_outputLock);
  std::fputs("sim: ", stream);
  std::fputs(buffer.data(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void SimOutput::say(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  writeLine(stdout, format, args);
  va_end(args);
}

void SimOutput::report(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  writeLine(stderr, format, args);
  va_end(args);
}

void SimOutput::plain(bool toStderr, const std::string& text)
{
  FILE* stream = toStderr ? stderr : stdout;
  std::lock_guard<std::mutex> guard(s_outputLock);
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

std::string SimOutput::printable(const std::string& text)
{
  std::string result = text;
  for (char& c : result) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return result;
}
