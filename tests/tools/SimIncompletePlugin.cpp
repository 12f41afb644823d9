// A plug-in file with only one of the five entry points, for corvane-sim's load-failure tests:
// the host must refuse it before calling anything, so its start line must never appear.
#include "plugin/xplm/XPLM.h"

#include <cstdio>

PLUGIN_API int XPluginStart(char*, char*, char*)
{
  std::printf("incomplete: start\n");
  return 1;
}
