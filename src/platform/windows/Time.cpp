#include "platform/Time.h"

#include <cstdint>

namespace platform {

namespace {

// The C library of Windows refuses times before 1970 (and far ahead), where the POSIX
// calls answer: the civil calendar is computed here instead, proleptic Gregorian, as they do.

int64_t floorDivide(int64_t value, int64_t divisor)
{
  return value / divisor - (value % divisor < 0 ? 1 : 0);
}

// Days from 1970-01-01 to the given date (month 1 to 12).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day)
{
  year -= month <= 2;
  int64_t era = floorDivide(year, 400);
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

time_t timeFromUTC(struct tm& broken)
{
  int64_t month = broken.tm_mon;
  int64_t year = broken.tm_year + 1900LL + floorDivide(month, 12);
  month -= floorDivide(month, 12) * 12;
  int64_t days = daysFromCivil(year, month + 1, 1) + broken.tm_mday - 1;
  int64_t seconds = days * 86400 + broken.tm_hour * 3600LL + broken.tm_min * 60LL + broken.tm_sec;
  // Fields out of range carry over, as timegm leaves them.
  utcTime((time_t)seconds, broken);
  return (time_t)seconds;
}

bool utcTime(time_t time, struct tm& broken)
{
  int64_t seconds = (int64_t)time;
  int64_t days = floorDivide(seconds, 86400);
  int64_t inDay = seconds - days * 86400;
  // Years must still fit tm_year.
  if (days > 784000000000LL || days < -784000000000LL) return false;
  int64_t shifted = days + 719468;
  int64_t era = floorDivide(shifted, 146097);
  int64_t dayOfEra = shifted - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2);
  broken = tm();
  broken.tm_year = (int)(year - 1900);
  broken.tm_mon = (int)(month - 1);
  broken.tm_mday = (int)day;
  broken.tm_hour = (int)(inDay / 3600);
  broken.tm_min = (int)(inDay / 60 % 60);
  broken.tm_sec = (int)(inDay % 60);
  broken.tm_wday = (int)(floorDivide(days + 4, 7) * -7 + days + 4);
  broken.tm_yday = (int)(days - daysFromCivil(year, 1, 1));
  return true;
}

bool localTime(time_t time, struct tm& broken)
{
  return localtime_s(&broken, &time) == 0;
}

}  // namespace platform
