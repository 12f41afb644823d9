// A stream that cuts the bytes written to it into packets of a fixed size for another
// thread to take with getNextPacket, or, the other way round, delivers through readIO the
// bytes of packets another thread gives to addPacket. One producer serves one direction.
// It owns its bounded queue (which retains the queued packets) and its packet block.
// Threads: one stream side (writeIO/flushIO, or readIO), one packet side (getNextPacket,
// or addPacket), and any thread for closeIO. Waits poll every millisecond and end at close.
#pragma once

#include <atomic>
#include <cstdint>

#include "io/IOAbstract.h"

class BaseBuffer;
class BaseQueue;

class IOPacketProducer : public IOAbstract
{
public:
  // The packet size must be above 0.
  IOPacketProducer(uint32_t aPacketsSize, uint32_t queueCapacity);
  ~IOPacketProducer() override;

  // Gathers bytes, queueing each full packet (through flushIO), and waits while the queue
  // is full. False when the producer was closed, possibly part way.
  bool writeIO(const void* bytes, uint32_t length) override;
  // Queues the gathered bytes as one shorter packet, waiting while the queue is full; a
  // closed producer discards them instead. Always true.
  bool flushIO() override;
  // Delivers bytes of the current packet, never more than one packet per call; waits for
  // a packet while the producer is open. Once closed, drains what is queued, then false.
  bool readIO(void* buffer, uint32_t& length) override;
  // Ends every wait within a millisecond; writes and additions fail from then on.
  bool closeIO() override;

  // The oldest queued packet, in the caller's innermost pool, or null at once when there
  // is none or the producer is closed.
  BaseBuffer* getNextPacket();
  // Queues a packet (retained by the queue), waiting while the queue is full. A packet
  // longer than the packet size is refused with an Error line, since readIO could not
  // hold it. False when refused or when the producer was closed before there was room.
  bool addPacket(BaseBuffer* aPacket);

  uint32_t getProducedPacketCount() const { return m_producedPacketCount.load(std::memory_order_relaxed); }
  uint32_t getGrabedPacketCount() const { return m_grabedPacketCount.load(std::memory_order_relaxed); }

protected:
  // Waits for a queued packet and makes it the current one; false when none came.
  bool _takePacket();

  const uint32_t m_packetsSize;
  BaseQueue* m_packetsQueue;
  // Stream side only: the packet being gathered (writing) or delivered (reading).
  unsigned char* m_packetBlock;
  uint32_t m_inputDataSize;
  uint32_t m_readOffset;
  // Written by one side, read by any thread.
  std::atomic<uint32_t> m_producedPacketCount;
  std::atomic<uint32_t> m_grabedPacketCount;
  std::atomic<uint32_t> m_receivedPacketCount;
  std::atomic<bool> m_isOpen;
};
