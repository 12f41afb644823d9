#include "plugin/LogConfiguration.h"

#include <cstdio>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "runtime/Debug.h"

const char LogConfiguration::FILE_NAME[] = "log.conf";

namespace {

// An address inside this module, for the loader to name the module's file.
const char moduleAnchor = 0;

const char MARKER[] = "\n__|__\n";

// A file without a single marker is one format piece, which setFromFile would send to the
// default target, the simulator's standard output. Nobody writes such a configuration on
// purpose (a stray note, the wrong file copied), so it is left alone rather than spraying
// the host's output.
bool namesATarget(const std::string& path)
{
  FILE* file = platform::openStream(path.c_str(), "rb");
  if (!file) return false;
  std::string content;
  char chunk[4096];
  size_t read = 0;
  while (content.size() <= (size_t)DebugManager::MAX_CONFIGURATION_SIZE &&
         (read = fread(chunk, 1, sizeof chunk, file)) > 0) {
    for (size_t i = 0; i < read; i++)
      if (chunk[i] != '\r') content += chunk[i];
  }
  fclose(file);
  return content.find(MARKER) != std::string::npos;
}

// The last '/' (or, on Windows, '\\' too), or npos.
size_t lastSeparator(const std::string& path)
{
  for (size_t i = path.size(); i > 0; i--)
    if (platform::isPathSeparator(path[i - 1])) return i - 1;
  return std::string::npos;
}

}  // namespace

std::string LogConfiguration::pluginFolderOf(const std::string& modulePath)
{
  size_t slash = lastSeparator(modulePath);
  if (slash == std::string::npos) return ".";
  std::string folder = slash == 0 ? modulePath.substr(0, 1) : modulePath.substr(0, slash);
  size_t parentSlash = lastSeparator(folder);
  std::string last = parentSlash == std::string::npos ? folder : folder.substr(parentSlash + 1);
  for (const char* platformFolder : {"lin_x64", "mac_x64", "win_x64", "64"}) {
    if (last != platformFolder) continue;
    if (parentSlash == std::string::npos) return ".";
    return parentSlash == 0 ? folder.substr(0, 1) : folder.substr(0, parentSlash);
  }
  return folder;
}

std::string LogConfiguration::pluginFolder()
{
  const std::string module = platform::modulePathOf(&moduleAnchor);
  return module.empty() ? std::string() : pluginFolderOf(module);
}

BaseArray* LogConfiguration::loadSinks(const std::string& path)
{
  // Only a regular file: opening a FIFO or a device could block the simulator for good.
  platform::FileStatus status;
  if (!platform::fileStatus(path.c_str(), status) || status.kind != platform::eFileRegular) return nullptr;
  if (!namesATarget(path)) return nullptr;

  // setFromFile hands its sinks to the pool one level out from its own: this one, which
  // therefore holds nothing else. What writes is kept; the rest goes with the pool.
  BaseAutorelease pool;
  DebugManager::setFromFile(path.c_str());
  BaseArray* sinks = nullptr;
  for (unsigned int i = 0; i < pool.count(); i++) {
    DebugManager* sink = dynamic_cast<DebugManager*>(pool.objectAtIndex(i));
    if (!sink || !sink->isRegistered()) continue;
    int kind = sink->getTargetKind();
    if (kind != DebugManager::eTargetStdio && kind != DebugManager::eTargetIO) continue;
    if (!sinks) sinks = new BaseArray();
    sinks->addObject(sink);
  }
  return sinks;
}
