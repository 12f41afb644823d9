// The pilot's switch for diagnostics: the log sinks described by a file "log.conf" in the
// plug-in's own folder (never the working directory, which is the simulator's). The plug-in
// creates no sink of its own; the caller keeps the sinks that loadSinks hands out until the
// host stops the plug-in. Main thread only, before the bridge's threads start.
#pragma once

#include <string>

class BaseArray;

class LogConfiguration
{
public:
  // The file looked for in the plug-in's folder.
  static const char FILE_NAME[];

  // The folder the user copies into X-Plane's plugins folder: the directory of the module
  // file, or its parent when that directory is a platform folder (lin_x64, mac_x64, win_x64
  // or 64). "." for a bare file name.
  static std::string pluginFolderOf(const std::string& modulePath);
  // The folder of the module this code is linked into, from the loader's record of it;
  // empty when the loader cannot say.
  static std::string pluginFolder();
  // The sinks that write somewhere, in a new array owned by the caller (one reference to
  // each sink); null, leaving no sink registered, when the file is missing, not a regular
  // file, names no target or describes no sink that writes.
  static BaseArray* loadSinks(const std::string& path);
};
