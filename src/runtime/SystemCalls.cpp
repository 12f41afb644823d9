#include "runtime/SystemCalls.h"

std::atomic<SystemCalls::PollFunction> SystemCalls::poll{&::poll};
std::atomic<SystemCalls::RecvFunction> SystemCalls::recv{&::recv};
std::atomic<SystemCalls::SendFunction> SystemCalls::send{&::send};
std::atomic<SystemCalls::Accept4Function> SystemCalls::accept4{&::accept4};
std::atomic<SystemCalls::SetsockoptFunction> SystemCalls::setsockopt{&::setsockopt};
std::atomic<SystemCalls::ConnectFunction> SystemCalls::connect{&::connect};

void SystemCalls::restore()
{
  poll = &::poll;
  recv = &::recv;
  send = &::send;
  accept4 = &::accept4;
  setsockopt = &::setsockopt;
  connect = &::connect;
}
