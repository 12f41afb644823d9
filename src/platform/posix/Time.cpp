#include "platform/Time.h"

namespace platform {

time_t timeFromUTC(struct tm& broken)
{
  return timegm(&broken);
}

bool utcTime(time_t time, struct tm& broken)
{
  return gmtime_r(&time, &broken) != nullptr;
}

bool localTime(time_t time, struct tm& broken)
{
  return localtime_r(&time, &broken) != nullptr;
}

}  // namespace platform
