#include "SimLog.h"

#include "SimOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Descriptor.h"

SimLog::~SimLog()
{
  if (m_fd >= 0) close(m_fd);
}

bool SimLog::open(const std::string& path, std::string& error)
{
  m_fd = platform::createFile(path.c_str());
  if (m_fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  // X-Plane's log opens with a line naming the program that writes it.
  write("Log.txt for corvane-sim, a stand-in X-Plane host\n");
  return true;
}

void SimLog::write(const std::string& text)
{
  size_t done = 0;
  while (m_fd >= 0 && done < text.size()) {
    const int wrote = int(::write(m_fd, text.data() + done, unsigned(text.size() - done)));
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
    } else if (wrote == 0 || errno != EINTR) {
      SimOutput::report("cannot write the log: %s; logging ends",
                        wrote == 0 ? "nothing written" : std::strerror(errno));
      close(m_fd);
      m_fd = -1;
    }
  }
}
