// The growable byte array, which is also a stream. It owns its storage and keeps a zero
// byte after the data, so the bytes read as text up to the first zero. By default reads
// consume from a read position and leave the data in place; in FIFO mode it is a bounded
// pipe whose reads take bytes off the front, safe for one writing and one reading thread
// (plus a thread that closes it). Everything else is for one thread at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>

#include "io/IOAbstract.h"
#include "runtime/BaseMutex.h"

class BaseString;

class BaseBuffer : public IOAbstract
{
public:
  BaseBuffer();  // capacity 256
  // Capacities beyond 32 bits are refused ("unable to allocate memory", capacity 0).
  explicit BaseBuffer(size_t capacity);
  BaseBuffer(const void* bytes, uint32_t count);
  explicit BaseBuffer(const char* text);
  // The data only: the copy starts in the default mode at read position 0.
  BaseBuffer(const BaseBuffer& other);
  ~BaseBuffer() override;

  // The storage itself, not a copy; null only after an allocation failed.
  unsigned char* bytes() const { return m_bufferBytes; }
  uint32_t length() const { return m_bufferLength; }
  uint32_t capacity() const { return m_bufferCapacity; }

  // False, with an Error line and the data unchanged, when the storage cannot grow (the
  // length would pass 32 bits, or the allocation fails). `bytes` may lie in this buffer.
  bool appendBytes(const void* bytes, uint32_t count);
  bool appendString(const BaseString* text);
  bool appendString(const char* text);
  BaseBuffer& operator+=(const BaseBuffer& other);
  BaseBuffer& operator+=(char byte);
  BaseBuffer& operator+=(const char* text);
  BaseBuffer& operator=(const BaseBuffer& other);
  BaseBuffer& operator=(const char* text);
  // Growing adds zero bytes; 0 gives the storage back down to 256 bytes. The read position
  // is kept within the new length. False, data unchanged, when the storage cannot grow.
  bool setLength(uint32_t length);
  void clear() { setLength(0); }

  // The offset of the last occurrence goes to `offset` when one is given.
  bool contains(const void* pattern, uint32_t patternLength, uint32_t* offset = nullptr) const;
  bool containsString(const char* pattern) const;
  bool hasPrefix(const char* text) const;
  bool hasSuffix(const char* text) const;
  // The text between the first two occurrences of `delimiter` at or after `start`, looked
  // for up to the first zero byte of the data. On entry `size` is the room in `output`
  // (terminator included), on return the count copied; the empty text when not found.
  void copySubstringBetween(const char* delimiter, char* output, uint32_t& size, uint32_t start) const;

  // True when every byte was written; false when the file cannot be opened.
  bool writeToFile(const char* path) const;
  // The object's own encodings stay reachable beside the raw-bytes forms.
  using BaseObject::writeToFile;
  using BaseObject::readFromFile;
  // Appends the whole file; false when it cannot be opened or a read error ends it early.
  bool readFromFile(const char* path);
  // Appends single bytes from `file` until the data ends with `terminator` (true); false at
  // the end of the file, on a read error, or once `maxCount` bytes have been read.
  bool readFromFileUpTo(FILE* file, const char* terminator, uint32_t maxCount);
  // Removes up to `count` bytes from the front, writing them to `file` first when one is
  // given. When the file takes fewer, only those are removed and the result is false.
  bool getBytesToFile(FILE* file, uint32_t count);

  // size 0 returns to the default mode. Only before reading (read position 0). Reopens a
  // closed FIFO.
  void setFIFO(unsigned long size, bool blocking) EXCLUDES(m_fifoMutex);
  // Default mode: up to `length` bytes from the read position. FIFO mode: all of `length`
  // or nothing; a blocking reader waits for them (a request larger than the FIFO takes a
  // full FIFO's worth). Once closed, the bytes left are delivered, then false.
  bool readIO(void* buffer, uint32_t& length) override;
  // The unread bytes of an ordinary buffer; none in FIFO mode.
  const unsigned char* bufferedIO(uint32_t& count) override;
  void takeBufferedIO(uint32_t count) override;
  // Default mode: appends. FIFO mode: false when the room is short (non-blocking), else
  // waits for room, passing the bytes on as room appears; false once closed.
  bool writeIO(const void* bytes, uint32_t length) override;
  // In FIFO mode ends the pipe and wakes every waiting reader and writer; writes fail from
  // then on. Nothing happens in the default mode.
  bool closeIO() override EXCLUDES(m_fifoMutex);

  // "BUFFER (" and the first `count` bytes (at most the length) as "%02x ", sixteen per line.
  BaseString* hexDump(uint32_t count);
  const char* getClass() const override;
  BaseString* toString(int flags = eToStringPlain) override;

protected:
  // Fresh zero-filled storage of `capacity` bytes (at least one) and cleared state.
  bool initialize(size_t capacity);
  // Room for `needed` bytes in all, growing by doubling (at least 256).
  bool _reserve(uint64_t needed);
  // Replaces the data with `count` bytes, which may lie in this buffer.
  bool _assign(const void* bytes, uint32_t count);
  bool _readFIFO(void* buffer, uint32_t& length) EXCLUDES(m_fifoMutex);
  bool _writeFIFO(const void* bytes, uint32_t length) EXCLUDES(m_fifoMutex);
  // Takes `count` bytes off the front of a FIFO.
  void _removeFront(void* output, uint32_t count) REQUIRES(m_fifoMutex);

  unsigned char* m_bufferBytes;
  uint32_t m_bufferCapacity;
  uint32_t m_bufferLength;
  uint32_t m_streamPosition;  // default mode only; 0 in FIFO mode
  uint32_t m_fifoSize;        // 0: default mode
  bool m_fifoBlocking;
  // Made by the first setFIFO. In FIFO mode m_fifoMutex also guards the storage and the
  // length, which the default mode uses without it: the analysis cannot check those two.
  // m_fifoChanged is signalled after every data movement and on close, and waited on with
  // m_fifoMutex held.
  BaseMutex* m_fifoMutex;
  std::condition_variable_any* m_fifoChanged;
  bool m_fifoClosed GUARDED_BY(m_fifoMutex) = false;
};
