#include "platform/SystemCalls.h"

namespace platform {

std::atomic<SystemCalls::PollFunction> SystemCalls::poll{&pollSockets};
std::atomic<SystemCalls::RecvFunction> SystemCalls::recv{&receiveBytes};
std::atomic<SystemCalls::SendFunction> SystemCalls::send{&sendBytes};
std::atomic<SystemCalls::AcceptFunction> SystemCalls::accept{&acceptSocket};
std::atomic<SystemCalls::SetOptionFunction> SystemCalls::setOption{&setSocketOption};
std::atomic<SystemCalls::KeepAliveFunction> SystemCalls::keepAlive{&setKeepAlive};
std::atomic<SystemCalls::ConnectFunction> SystemCalls::connect{&connectSocket};

void SystemCalls::restore()
{
  poll = &pollSockets;
  recv = &receiveBytes;
  send = &sendBytes;
  accept = &acceptSocket;
  setOption = &setSocketOption;
  keepAlive = &setKeepAlive;
  connect = &connectSocket;
}

}  // namespace platform
