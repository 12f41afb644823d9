// DebugManager's line formatter: a sink's format with its directives expanded for one
// call, and the pieces of a line (the date, the partial path and function, the clocks).
#include <pthread.h>
#include <time.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "object/Digits.h"
#include "platform/Time.h"
#include "runtime/Debug.h"
#include "runtime/DebugInternal.h"

using DebugInternal::newString;
using DebugInternal::viewOf;

namespace {

inline bool isSeparator(char c)
{
  return c == '/' || c == '\\';
}

// The bytes of a line while it is built: on the stack while it is short, on the heap beyond.
class Line
{
public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  void append(const char* bytes, size_t count)
  {
    if (!m_spilled && count < sizeof m_bytes - m_length) {
      memcpy(m_bytes + m_length, bytes, count);
      m_length += count;
      return;
    }
    if (!m_spilled) {
      m_heap.assign(m_bytes, m_length);
      m_spilled = true;
    }
    m_heap.append(bytes, count);
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  void append(const char* text) { append(text, strlen(text)); }
  void append(BaseString* text) { append(text->cString(), text->length()); }

  // The line so far, NUL-terminated.
  const char* data()
  {
    if (m_spilled) return m_heap.c_str();
    m_bytes[m_length] = '\0';
    return m_bytes;
  }
  size_t size() const { return m_spilled ? m_heap.size() : m_length; }

private:
  // The last byte is kept for the NUL.
  char m_bytes[512];
  size_t m_length = 0;
  bool m_spilled = false;
  std::string m_heap;
};

// Appends `text` with every backslash turned into a slash.
void appendWithSlashes(Line& out, std::string_view text)
{
  size_t start = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\') continue;
    out.append(text.substr(start, i - start));
    out.append("/", 1);
    start = i + 1;
  }
  out.append(text.substr(start));
}

// Appends `text` with every backslash turned into a slash, to a string.
void appendWithSlashes(BaseString* out, std::string_view text)
{
  Line line;
  appendWithSlashes(line, text);
  out->append(line.data(), (int)line.size());
}

size_t lastSeparatorBefore(std::string_view path, size_t end)
{
  for (size_t i = end; i-- > 0;)
    if (isSeparator(path[i])) return i;
  return std::string_view::npos;
}

// The last two components, or the whole path when it has fewer.
std::string_view partialPath(std::string_view path)
{
  size_t last = lastSeparatorBefore(path, path.size());
  if (last == std::string_view::npos) return path;
  size_t previous = lastSeparatorBefore(path, last);
  if (previous == std::string_view::npos) return path;
  return path.substr(previous + 1);
}

std::string_view fileNameOf(std::string_view path)
{
  size_t last = lastSeparatorBefore(path, path.size());
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view fileNameWithoutExtension(std::string_view path)
{
  std::string_view name = fileNameOf(path);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

// From the last dot on, dot included; the whole name when there is none.
std::string_view extensionOf(std::string_view path)
{
  std::string_view name = fileNameOf(path);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot);
}

// The leading identifier after the first "::", or of the whole name without one.
std::string_view partialFunction(std::string_view function)
{
  size_t scope = function.find("::");
  std::string_view rest = scope == std::string_view::npos ? function : function.substr(scope + 2);
  size_t length = 0;
  while (length < rest.size() && (isalnum((unsigned char)rest[length]) || rest[length] == '_')) length++;
  return rest.substr(0, length);
}

// A number in decimal, as "%lld" prints it.
void appendDecimal(Line& out, long long value)
{
  char digits[Digits::MAX_LENGTH];
  char* const end = digits + sizeof digits;
  const char* start = Digits::writeDecimal(end, value);
  out.append(start, (size_t)(end - start));
}

// "0x" and the lower-case hexadecimal digits, whatever the platform's "%p" prints.
void appendAddress(Line& out, uintptr_t address)
{
  char digits[Digits::MAX_LENGTH];
  char* const end = digits + sizeof digits;
  char* start = Digits::write(end, address, 16);
  *--start = 'x';
  *--start = '0';
  out.append(start, (size_t)(end - start));
}

}  // namespace

void DebugManager::_printInternal(const char* file, int line, const char* function, BaseObject* object,
                                  int severity, BaseString* message)
{
  if (m_targetKind != eTargetStdio && m_targetKind != eTargetIO) return;
  std::string_view format = viewOf(m_format);
  bool knownSeverity = severity >= eMsgFatal && severity <= eMsgVerbose;
  Line out;

  while (!format.empty()) {
    size_t percent = format.find('%');
    out.append(format.substr(0, percent));
    if (percent == std::string_view::npos) break;
    if (percent + 1 >= format.size()) break;  // a lone "%" at the very end writes nothing
    char directive = format[percent + 1];
    format.remove_prefix(percent + 2);
    switch (directive) {
      case '%':
        out.append("%", 1);
        break;
      case 'm':
        out.append(message);
        break;
      case 'P':
        out.append(file);
        break;
      case 'p':
        appendWithSlashes(out, partialPath(file));
        break;
      case 'n':
        out.append(fileNameWithoutExtension(file));
        break;
      case 'e':
        out.append(extensionOf(file));
        break;
      case 'l':
        appendDecimal(out, line);
        break;
      case 'F':
        out.append(function);
        break;
      case 'f':
        out.append(partialFunction(function));
        break;
      case 'S':
        if (knownSeverity) out.append(fullSeverity[severity]);
        break;
      case 's':
        if (knownSeverity) out.append(&initialSeverity[severity], 1);
        break;
      case 'v':
        appendDecimal(out, severity);
        break;
      case 'a':
        if (object) appendAddress(out, reinterpret_cast<uintptr_t>(object));
        break;
      case 'c':
        if (object && object->getClass()) out.append(object->getClass());
        break;
      case 'i':
        if (object) {
          BaseString* name = object->getInstanceName();
          if (name) out.append(name);
        }
        break;
      case 't':
        appendAddress(out, (uintptr_t)getCurrentThread());
        break;
      case 'M':
        appendDecimal(out, getMilliseconds());
        break;
      case 'C':
        appendDecimal(out, (long long)getCPUClocks());
        break;
      case '[': {
        const char* cursor = format.data();
        BaseString* date = getDate(cursor, format.data() + format.size());
        // Without its "%]" the directive is dropped like an unknown one.
        if (date) {
          out.append(date);
          format.remove_prefix((size_t)(cursor - format.data()));
        }
        break;
      }
      default:
        break;  // unknown directives write nothing
    }
  }
  _write(out.data(), (unsigned int)out.size());
}

BaseString* DebugManager::getDate(const char*& cursor, const char* end)
{
  if (!cursor || !end || end < cursor) return nullptr;
  std::string_view rest(cursor, (size_t)(end - cursor));
  size_t close = rest.find("%]");
  if (close == std::string_view::npos) return nullptr;
  std::string pattern(rest.substr(0, close));
  char text[200];
  time_t now = time(nullptr);
  struct tm local;
  size_t length = 0;
  // 0 means the expansion did not fit (or was empty): the date then writes nothing.
  if (!pattern.empty() && platform::localTime(now, local))
    length = strftime(text, sizeof text, pattern.c_str(), &local);
  cursor += close + 2;
  return new (eRetainAutorelease) BaseString(text, (int)length);
}

BaseString* DebugManager::getPartialFunction(BaseString* function)
{
  return newString(partialFunction(viewOf(function)));
}

BaseString* DebugManager::getFileName(BaseString* path)
{
  return newString(fileNameWithoutExtension(viewOf(path)));
}

BaseString* DebugManager::getExtension(BaseString* path)
{
  return newString(extensionOf(viewOf(path)));
}

BaseString* DebugManager::getPartialPath(BaseString* path)
{
  BaseString* out = new (eRetainAutorelease) BaseString();
  appendWithSlashes(out, partialPath(viewOf(path)));
  return out;
}

pthread_t DebugManager::getCurrentThread()
{
  return pthread_self();
}

uint32_t DebugManager::getMilliseconds()
{
  auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return (uint32_t)(uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
}

int64_t DebugManager::getCPUClocks()
{
#if defined(__x86_64__) || defined(__i386__)
  return (int64_t)__rdtsc();
#else
  auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  return (int64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(sinceStart).count();
#endif
}
