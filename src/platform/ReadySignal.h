// A descriptor that one thread makes readable to wake another, which waits for it beside the
// descriptors of a library (waitForReadable): a pipe on Linux; on Windows, whose socket wait
// takes sockets only, a UDP socket on 127.0.0.1 that sends to itself. Any thread may signal;
// the waiting thread clears. Owns its descriptors.
#pragma once

#include <cstdint>

namespace platform {

class ReadySignal
{
public:
  ReadySignal();
  ~ReadySignal();
  ReadySignal(const ReadySignal&) = delete;
  ReadySignal& operator=(const ReadySignal&) = delete;

  // False when the system gave no descriptor: then nothing can wait for it.
  bool isValid() const { return m_readEnd != -1; }
  // What waitForReadable watches; -1 when not valid.
  int descriptor() const { return int(m_readEnd); }
  // Makes the descriptor readable until clear; signalling again changes nothing. Never blocks.
  void signal();
  void clear();

private:
  intptr_t m_readEnd;
  intptr_t m_writeEnd;  // the same socket on Windows
};

// Waits at most timeoutMs (negative: with no bound) until one of the descriptors is readable
// or closed; negative descriptors are not watched. Sets readable[i] for each such one and
// returns their count: 0 when the time ran out, -1 when the wait failed, with the system's
// error code in *error when given.
int waitForReadable(const int* descriptors, bool* readable, int count, int timeoutMs, int* error = nullptr);

}  // namespace platform
