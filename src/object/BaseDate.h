// A point in time: seconds since 1970-01-01T00:00:00 UTC, held as a double, with two text
// forms. Texts are always read and written in UTC with English day and month names,
// whatever time zone and locale the process has. A date owns nothing; it is not locked, so
// share it between threads only once it is no longer set.
#pragma once

#include <cstdint>

#include "object/BaseObject.h"

class BaseDate : public BaseObject
{
public:
  enum eFormat
  {
    eFormatISO8601 = 0,  // "2012-03-04T05:06:07Z"
    eFormatRFC1123 = 1   // "Sun, 04 Mar 2012 05:06:07 GMT"; any other nonzero value means this one too
  };

  // The current time in whole seconds.
  BaseDate();
  explicit BaseDate(double seconds);
  explicit BaseDate(long seconds);
  // Read with set(). A text in neither format (or null) gives the epoch, 0 seconds, and a
  // Warning "unknown date format for '<text>', using 1970-01-01T00:00:00Z".
  explicit BaseDate(const char* text);
  ~BaseDate() override;

  // Tries the ISO 8601 form, then the RFC 1123 form. The whole text must match, apart from
  // white space around it; names are English and case-insensitive, full or abbreviated, and
  // the day name is not checked against the date. False, with the date unchanged, when
  // neither matches (null included).
  bool set(const char* text);
  double getSeconds() const { return m_seconds; }

  // A new string in the caller's pool: the whole seconds (truncated toward zero) in UTC by
  // the format's pattern. Years 0 to 9999 read back with set(). A date that has no calendar
  // form (not finite, or beyond the years the platform can break down) gives an empty
  // string and a Warning.
  BaseString* getString(eFormat format);
  // The strftime-style pattern of the format.
  static const char* getFormat(eFormat format);
  static BaseString* dateToString(long seconds, eFormat format);

  // Numeric comparison of the seconds (0.0 equals -0.0, a NaN equals nothing).
  bool isEqual(BaseObject* other) override;
  // -1 when the receiver is later, 1 when `other` is, 0 otherwise; a non-date is ordered by
  // the root rule.
  int compare(BaseObject* other) override;
  // The high 32 bits of the double's bits XOR the low 32 bits; -0.0 hashes as 0.0, its equal.
  uint32_t hash() override;
  const char* getClass() const override;
  // Plain: the RFC 1123 text; JSON and Lua: the seconds by "%.16g"; XML: "<date>ISO text</date>".
  BaseString* toString(int flags = eToStringPlain) override;

protected:
  double m_seconds;
};
