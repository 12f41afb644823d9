#include "platform/CLocale.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

locale_t cLocale()
{
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  return locale;
}

}  // namespace

double parseDouble(const char* text, char** end)
{
  locale_t locale = cLocale();
  return locale ? strtod_l(text, end, locale) : strtod(text, end);
}

int formatDouble(char* buffer, size_t size, double value)
{
  // The C locale of this thread only, for the one call: the host's own locale is left alone.
  locale_t locale = cLocale();
  locale_t previous = locale ? uselocale(locale) : (locale_t)0;
  int length = snprintf(buffer, size, "%.16g", value);
  if (previous) uselocale(previous);
  return length;
}

int formatFixedQuickly(char* buffer, size_t size, double value, int precision)
{
#if defined(__cpp_lib_to_chars)
  // to_chars rounds exactly as printf does in the C locale; only the decimal point can
  // differ, so any locale whose point is not "." goes to printf.
  if (!std::isfinite(value) || precision < 0) return -1;
  const char* point = nl_langinfo(RADIXCHAR);
  if (!point || point[0] != '.' || point[1] != 0) return -1;
  std::to_chars_result result = std::to_chars(buffer, buffer + size, value, std::chars_format::fixed, precision);
  if (result.ec != std::errc()) return -1;
  return int(result.ptr - buffer);
#else
  (void)buffer;
  (void)size;
  (void)value;
  (void)precision;
  return -1;
#endif
}

}  // namespace platform
