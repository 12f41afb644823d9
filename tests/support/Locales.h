// Switches the process to a locale whose texts differ from English and C (names of days
// and months, a decimal comma), for tests that must not depend on the locale. Returns
// the name switched to, or null when the machine has none (glibc's names, then Windows');
// the caller restores its own.
#pragma once

#include <clocale>
#include <initializer_list>

inline const char* switchToNonEnglishLocale()
{
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8", "es_ES.UTF-8",
                           "German_Germany.1252", "French_France.1252"})
    if (setlocale(LC_ALL, name)) return name;
  return nullptr;
}
