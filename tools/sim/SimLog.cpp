#include "SimLog.h"

#include "SimOutput.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

SimLog::~SimLog()
{
  if (m_fd >= 0) close(m_fd);
}

bool SimLog::open(const std::string& path, std::string& error)
{
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    const ssize_t wrote = ::write(m_fd, text.data() + done, text.size() - done);
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
