// Reads arbitrary bytes as a date text, the way dates arrive in attributes and headers, and
// checks the round trip: a text that reads writes again in both forms, and each form reads
// back to the same second. The first eight bytes are also taken as a time value, which
// must write in both forms and read back whenever its year is one a text can hold. Log
// lines are formatted into a sink that discards them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzLogSink.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"

namespace {

// 0000-01-01T00:00:00Z and 10000-01-01T00:00:00Z: the texts hold four-digit years.
const double FIRST_WRITABLE = -62167219200.0;
const double PAST_WRITABLE = 253402300800.0;

bool readsBack(double seconds)
{
  const double whole = std::trunc(seconds);
  return whole >= FIRST_WRITABLE && whole < PAST_WRITABLE;
}

// Both forms of `date` read back to its whole seconds, and write again the same.
void checkForms(BaseDate* date)
{
  const double whole = std::trunc(date->getSeconds());
  for (BaseDate::eFormat format : {BaseDate::eFormatISO8601, BaseDate::eFormatRFC1123}) {
    BaseString* text = date->getString(format);
    BaseDate* again = new (eRetainAutorelease) BaseDate(0.0);
    if (!again->set(text->cString())) __builtin_trap();
    if (again->getSeconds() != whole) __builtin_trap();
    if (strcmp(again->getString(format)->cString(), text->cString()) != 0) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  // A date text is short; anything longer only adds blanks that are skipped.
  if (size > 4096) return 0;
  BaseAutorelease pool;
  const std::string text(reinterpret_cast<const char*>(data), size);

  BaseDate* date = new (eRetainAutorelease) BaseDate(text.c_str());
  BaseDate* other = new (eRetainAutorelease) BaseDate(12345.0);
  const bool read = other->set(text.c_str());
  // The constructor reads as set() does, and leaves the epoch when set() refuses.
  if (read != (date->getSeconds() == other->getSeconds())) __builtin_trap();
  if (!read && (date->getSeconds() != 0.0 || other->getSeconds() != 12345.0)) __builtin_trap();
  if (read) {
    if (!readsBack(date->getSeconds()) && date->getSeconds() != PAST_WRITABLE) __builtin_trap();
    // 9999-12-31T23:59:60Z is the one text whose second falls in the year 10000.
    if (readsBack(date->getSeconds())) checkForms(date);
  }
  for (int flags = 0; flags < 4; flags++) date->toString(flags);

  if (size >= sizeof(double)) {
    double seconds;
    memcpy(&seconds, data, sizeof seconds);
    BaseDate* value = new (eRetainAutorelease) BaseDate(seconds);
    if (readsBack(seconds)) checkForms(value);
    for (int flags = 0; flags < 4; flags++) value->toString(flags);
    long whole;
    memcpy(&whole, data, sizeof whole);
    BaseDate::dateToString(whole, BaseDate::eFormatISO8601);
    BaseDate::dateToString(whole, BaseDate::eFormatRFC1123);
    if (!value->isEqual(value) && !std::isnan(seconds)) __builtin_trap();
    value->hash();
    value->compare(date);
  }
  return 0;
}
