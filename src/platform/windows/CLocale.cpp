#include "platform/CLocale.h"

#include <locale.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

double parseDouble(const char* text, char** end)
{
  static const _locale_t locale = _create_locale(LC_ALL, "C");
  return locale ? _strtod_l(text, end, locale) : strtod(text, end);
}

int formatDouble(char* buffer, size_t size, double value)
{
  // The C library's own printf of Windows would differ (three-digit exponents), so the
  // text comes from the same printf as elsewhere and only the locale's decimal point is
  // put back to '.'. "%.16g" writes at most one decimal point and no grouping.
  int length = snprintf(buffer, size, "%.16g", value);
  const char* point = localeconv()->decimal_point;
  size_t pointLength = point ? strlen(point) : 0;
  if (length <= 0 || pointLength == 0 || strcmp(point, ".") == 0) return length;
  char* found = strstr(buffer, point);
  if (!found) return length;
  *found = '.';
  memmove(found + 1, found + pointLength, strlen(found + pointLength) + 1);
  return length - int(pointLength - 1);
}

int formatFixedQuickly(char*, size_t, double, int)
{
  // The C library's printf here has rounding rules of its own: always ask it.
  return -1;
}

}  // namespace platform
