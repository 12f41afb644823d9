// Calendar conversions that the C library spells differently per system.
#pragma once

#include <ctime>

namespace platform {

// timegm(): the broken-down UTC time as seconds since 1970; fields out of range carry over.
time_t timeFromUTC(struct tm& broken);
// gmtime_r() and localtime_r(): false when the time has no broken-down form.
bool utcTime(time_t time, struct tm& broken);
bool localTime(time_t time, struct tm& broken);

}  // namespace platform
