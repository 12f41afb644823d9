#include "object/BaseDate.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "object/BaseBits.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Time.h"
#include "runtime/Debug.h"

// Texts are made and read here from the two patterns, with our own English name tables and
// timegm/gmtime_r: strftime's and strptime's %a and %b follow the process's locale, which the
// host application may have changed, and local-time functions follow its time zone.

namespace {

const char* const PATTERNS[2] = {"%Y-%m-%dT%H:%M:%SZ", "%a, %d %b %Y %H:%M:%S GMT"};

const char* const DAY_NAMES[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
const char* const MONTH_NAMES[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// Beyond this, gmtime_r cannot give a year that fits an int.
const double MAX_FORMATTABLE_SECONDS = 1e16;

bool isBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isDigit(char c)
{
  return c >= '0' && c <= '9';
}

char asciiLower(char c)
{
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

const char* skipBlanks(const char* text)
{
  while (isBlank(*text)) text++;
  return text;
}

// True when `text` starts with the first `length` bytes of `name`, ignoring ASCII case.
bool startsWithName(const char* text, const char* name, size_t length)
{
  for (size_t i = 0; i < length; i++)
    if (text[i] == '\0' || asciiLower(text[i]) != asciiLower(name[i])) return false;
  return true;
}

// A full or three-letter English name from `names`; its index, or -1.
int readName(const char*& text, const char* const* names, int count)
{
  for (int i = 0; i < count; i++) {
    size_t full = strlen(names[i]);
    size_t length = startsWithName(text, names[i], full) ? full : (startsWithName(text, names[i], 3) ? 3 : 0);
    if (length) {
      text += length;
      return i;
    }
  }
  return -1;
}

// One to `maxDigits` decimal digits within [low, high].
bool readNumber(const char*& text, int maxDigits, int low, int high, int& value)
{
  int digits = 0;
  value = 0;
  while (digits < maxDigits && isDigit(text[digits])) value = value * 10 + (text[digits++] - '0');
  if (digits == 0 || value < low || value > high) return false;
  text += digits;
  return true;
}

bool isLeapYear(int year)
{
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Reads `text` by one of the two patterns, as strptime would in the C locale, except that
// the whole text must be used and the day must exist in its month.
bool readDate(const char* text, const char* pattern, double& seconds)
{
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  text = skipBlanks(text);
  for (const char* p = pattern; *p; p++) {
    if (isBlank(*p)) {
      text = skipBlanks(text);
      continue;
    }
    if (*p != '%') {
      if (*text != *p) return false;
      text++;
      continue;
    }
    bool read = false;
    switch (*++p) {
      case 'Y':
        read = readNumber(text, 4, 0, 9999, year);
        break;
      case 'm':
        read = readNumber(text, 2, 1, 12, month);
        break;
      case 'd':
        read = readNumber(text, 2, 1, 31, day);
        break;
      case 'H':
        read = readNumber(text, 2, 0, 23, hour);
        break;
      case 'M':
        read = readNumber(text, 2, 0, 59, minute);
        break;
      case 'S':
        read = readNumber(text, 2, 0, 60, second);  // 60: a leap second, counted as the next minute
        break;
      case 'a':
        read = readName(text, DAY_NAMES, 7) >= 0;
        break;
      case 'b':
        read = (month = readName(text, MONTH_NAMES, 12) + 1) > 0;
        break;
      default:
        break;
    }
    if (!read) return false;
  }
  if (*skipBlanks(text) != '\0' || day > daysInMonth(year, month)) return false;

  struct tm broken;
  memset(&broken, 0, sizeof broken);
  broken.tm_year = year - 1900;
  broken.tm_mon = month - 1;
  broken.tm_mday = day;
  broken.tm_hour = hour;
  broken.tm_min = minute;
  broken.tm_sec = second;
  seconds = static_cast<double>(platform::timeFromUTC(broken));
  return true;
}

// Writes `broken` by `pattern` into `out`. Only the conversions of the two patterns occur.
void writeDate(const struct tm& broken, const char* pattern, char* out, size_t size)
{
  size_t used = 0;
  for (const char* p = pattern; *p && used + 1 < size; p++) {
    if (*p != '%') {
      out[used++] = *p;
      continue;
    }
    int written = 0;
    char* at = out + used;
    size_t room = size - used;
    switch (*++p) {
      case 'Y': {
        long long year = broken.tm_year + 1900LL;
        written = snprintf(at, room, year >= 0 ? "%04lld" : "%lld", year);
        break;
      }
      case 'm':
        written = snprintf(at, room, "%02d", broken.tm_mon + 1);
        break;
      case 'd':
        written = snprintf(at, room, "%02d", broken.tm_mday);
        break;
      case 'H':
        written = snprintf(at, room, "%02d", broken.tm_hour);
        break;
      case 'M':
        written = snprintf(at, room, "%02d", broken.tm_min);
        break;
      case 'S':
        written = snprintf(at, room, "%02d", broken.tm_sec);
        break;
      case 'a':
        written = snprintf(at, room, "%.3s", DAY_NAMES[broken.tm_wday]);
        break;
      case 'b':
        written = snprintf(at, room, "%.3s", MONTH_NAMES[broken.tm_mon]);
        break;
      default:
        break;
    }
    used += written > 0 ? static_cast<size_t>(written) : 0;
    if (used >= size) used = size - 1;
  }
  out[used] = '\0';
}

// False when `seconds` has no calendar form.
bool formatSeconds(double seconds, BaseDate::eFormat format, char* out, size_t size)
{
  double whole = std::trunc(seconds);
  if (!std::isfinite(whole) || std::fabs(whole) > MAX_FORMATTABLE_SECONDS) return false;
  time_t time = static_cast<time_t>(whole);
  struct tm broken;
  if (!platform::utcTime(time, broken)) return false;
  writeDate(broken, BaseDate::getFormat(format), out, size);
  return true;
}

BaseString* dateText(BaseObject* date, double seconds, BaseDate::eFormat format)
{
  char text[80];
  if (!formatSeconds(seconds, format, text, sizeof text)) {
    BASE_LOG(date, eMsgWarning, "date of %.16g seconds has no calendar form", seconds);
    text[0] = '\0';
  }
  return new (eRetainAutorelease) BaseString(text);
}

}  // namespace

BaseDate::BaseDate() : m_seconds(static_cast<double>(time(nullptr))) {}

BaseDate::BaseDate(double seconds) : m_seconds(seconds) {}

BaseDate::BaseDate(long seconds) : m_seconds(static_cast<double>(seconds)) {}

BaseDate::BaseDate(const char* text) : m_seconds(0.0)
{
  if (!set(text))
    BASE_LOG(this, eMsgWarning, "unknown date format for '%s', using 1970-01-01T00:00:00Z", text);
}

BaseDate::~BaseDate() {}

bool BaseDate::set(const char* text)
{
  if (!text) return false;
  double parsed;
  if (!readDate(text, PATTERNS[eFormatISO8601], parsed) && !readDate(text, PATTERNS[eFormatRFC1123], parsed))
    return false;
  m_seconds = parsed;
  return true;
}

BaseString* BaseDate::getString(eFormat format)
{
  return dateText(this, m_seconds, format);
}

const char* BaseDate::getFormat(eFormat format)
{
  return PATTERNS[format == eFormatISO8601 ? 0 : 1];
}

BaseString* BaseDate::dateToString(long seconds, eFormat format)
{
  return dateText(nullptr, static_cast<double>(seconds), format);
}

bool BaseDate::isEqual(BaseObject* other)
{
  return isOfClass(other, "BaseDate") && static_cast<BaseDate*>(other)->m_seconds == m_seconds;
}

int BaseDate::compare(BaseObject* other)
{
  if (!isOfClass(other, "BaseDate")) return BaseObject::compare(other);
  double theirs = static_cast<BaseDate*>(other)->m_seconds;
  return m_seconds > theirs ? -1 : (theirs > m_seconds ? 1 : 0);
}

uint32_t BaseDate::hash()
{
  uint64_t bits = bitsOfDouble(m_seconds == 0.0 ? 0.0 : m_seconds);
  return static_cast<uint32_t>(bits >> 32) ^ static_cast<uint32_t>(bits);
}

const char* BaseDate::getClass() const
{
  return "BaseDate";
}

BaseString* BaseDate::toString(int flags)
{
  BaseString* text;
  switch (flags & 3) {
    case eToStringPlain:
      text = getString(eFormatRFC1123);
      break;
    case eToStringXML:
      text = new (eRetainAutorelease) BaseString("<date>");
      text->append(getString(eFormatISO8601));
      text->append("</date>");
      break;
    default: {
      char number[48];
      BaseNumber::formatDouble(number, sizeof number, m_seconds);
      text = new (eRetainAutorelease) BaseString(number);
      break;
    }
  }
  return toStringCommon(flags, text, -1);
}
