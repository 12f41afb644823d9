#include "platform/CLocale.h"

#include <locale.h>

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

}  // namespace platform
