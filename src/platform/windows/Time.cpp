#include "platform/Time.h"

namespace platform {

time_t timeFromUTC(struct tm& broken)
{
  return _mkgmtime(&broken);
}

bool utcTime(time_t time, struct tm& broken)
{
  return gmtime_s(&broken, &time) == 0;
}

bool localTime(time_t time, struct tm& broken)
{
  return localtime_s(&broken, &time) == 0;
}

}  // namespace platform
