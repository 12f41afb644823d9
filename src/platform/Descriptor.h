// File descriptors on both systems: pipes, waiting until one of several has input, files
// created for writing, and the byte-for-byte mode of the standard streams. On Windows
// these are the C runtime's descriptors over the system's handles. Any thread.
#pragma once

namespace platform {

// A pipe whose ends no child process inherits: ends[0] reads, ends[1] writes.
bool openPipe(int ends[2]);

// Creates or truncates a file for writing, not inherited by child processes; -1 with errno
// set when it cannot.
int createFile(const char* path);

// Waits until a read from one of `fds` would not block (there is input, or its end was
// reached) or `timeoutMs` passed (negative: no limit). Returns the ready descriptors as bits
// (1 << index), 0 when none is ready (time-out or interrupted by a signal), -1 on an error.
// Windows pipes cannot be waited on together, so there the wait looks every few
// milliseconds.
int waitForInput(const int* fds, int count, int timeoutMs);

// Waits until `fd` takes a write without blocking, for at most `timeoutMs`. Windows pipes
// have no such wait: a write there blocks until the reader has made room, and this is true.
bool waitForRoom(int fd, int timeoutMs);

// Makes writes to `fd` return at once (with what fit) rather than block, where the system
// can (POSIX).
void setNonBlocking(int fd);

// Bytes pass the descriptor unchanged: no "\r\n" for "\n" on Windows; nothing to do on POSIX.
void setBinaryMode(int fd);

}  // namespace platform
