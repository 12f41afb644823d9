#include "io/IOPacketProducer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseQueue.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

namespace {

// Polling instead of a condition variable keeps the queue a plain lock; a millisecond is
// also the longest a close waits for a waiting side to notice.
void pollPause()
{
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

IOPacketProducer::IOPacketProducer(uint32_t aPacketsSize, uint32_t queueCapacity)
    : m_packetsSize(aPacketsSize),
      m_packetsQueue(nullptr),
      m_packetBlock(nullptr),
      m_inputDataSize(0),
      m_readOffset(0),
      m_producedPacketCount(0),
      m_grabedPacketCount(0),
      m_receivedPacketCount(0),
      m_isOpen(true)
{
  // Assertion conditions stay unformatted: their text is the message.
  // clang-format off
  BASE_ASSERT(aPacketsSize>0);
  // clang-format on
  m_packetsQueue = new BaseQueue(queueCapacity, true);
  m_packetBlock = static_cast<unsigned char*>(calloc(m_packetsSize, 1));
  // Without a block nothing can pass: the producer starts closed rather than half usable.
  if (!m_packetBlock) {
    BASE_LOG(this, eMsgError, "unable to allocate a packet block of %u bytes", m_packetsSize);
    closeIO();
  }
}

IOPacketProducer::~IOPacketProducer()
{
  m_packetsQueue->release();
  free(m_packetBlock);
}

bool IOPacketProducer::writeIO(const void* bytes, uint32_t length)
{
  const unsigned char* input = static_cast<const unsigned char*>(bytes);
  while (m_isOpen && length > 0) {
    uint32_t room = m_packetsSize - m_inputDataSize;
    uint32_t count = length < room ? length : room;
    memcpy(m_packetBlock + m_inputDataSize, input, count);
    m_inputDataSize += count;
    input += count;
    length -= count;
    // clang-format off
    BASE_ASSERT(m_inputDataSize<=m_packetsSize);
    // clang-format on
    // Virtual, so that a subclass sees every full packet.
    if (m_inputDataSize == m_packetsSize) flushIO();
  }
  return m_isOpen;
}

bool IOPacketProducer::flushIO()
{
  if (m_inputDataSize == 0) return true;
  BaseBuffer* aPacket = new BaseBuffer(m_packetBlock, m_inputDataSize);
  bool queued = false;
  // A closed producer has nobody left to take packets: queueing would only pin memory.
  while (m_isOpen) {
    m_packetsQueue->lockQueue();
    queued = m_packetsQueue->tryEnqueue(aPacket);
    if (queued) {
      // Under the lock: no reader can take the packet and let go of it before the check.
      m_producedPacketCount++;
      aPacket->release();
      // clang-format off
      BASE_ASSERT(aPacket->getRetainCount()>0);
      // clang-format on
    }
    m_packetsQueue->unlockQueue();
    if (queued) break;
    pollPause();
  }
  if (!queued) aPacket->release();
  memset(m_packetBlock, 0, m_packetsSize);
  m_inputDataSize = 0;
  return true;
}

BaseBuffer* IOPacketProducer::getNextPacket()
{
  if (!m_isOpen) return nullptr;
  m_packetsQueue->lockQueue();
  BaseBuffer* aPacket = static_cast<BaseBuffer*>(m_packetsQueue->tryDequeue());
  if (aPacket) {
    aPacket->retain();
    aPacket->autorelease();
    m_grabedPacketCount++;
  }
  m_packetsQueue->unlockQueue();
  return aPacket;
}

bool IOPacketProducer::addPacket(BaseBuffer* aPacket)
{
  BASE_ASSERT(aPacket);
  // The packet comes from a peer: its size is input to check, not a promise to trust.
  if (aPacket->length() > m_packetsSize) {
    BASE_LOG(this, eMsgError, "packet is %i bytes, more than the packet size %i: refused",
             (int)aPacket->length(), (int)m_packetsSize);
    return false;
  }
  bool queued = false;
  while (m_isOpen) {
    m_packetsQueue->lockQueue();
    queued = m_packetsQueue->tryEnqueue(aPacket);
    if (queued) m_receivedPacketCount++;
    m_packetsQueue->unlockQueue();
    if (queued) break;
    pollPause();
  }
  BASE_LOG(this, eMsgDebug, "packet is %i bytes, receivedPacketCount %i", (int)aPacket->length(),
           (int)m_receivedPacketCount.load());
  return queued;
}

bool IOPacketProducer::_takePacket()
{
  // The queue hands its reference to a pool: a pool of our own frees each packet as soon
  // as it is copied, however long the caller's pool stays open.
  BaseAutorelease pool;
  BaseBuffer* aPacket = nullptr;
  do {
    m_packetsQueue->lockQueue();
    aPacket = static_cast<BaseBuffer*>(m_packetsQueue->tryDequeue());
    bool blocking = aPacket ? false : m_packetsQueue->getBlocking();
    m_packetsQueue->unlockQueue();
    if (aPacket || !blocking) break;
    pollPause();
  } while (m_isOpen);
  if (!aPacket) return false;
  m_inputDataSize = aPacket->length();
  // addPacket refuses longer packets and flushIO never makes them.
  // clang-format off
  BASE_ASSERT(m_inputDataSize<=m_packetsSize);
  // clang-format on
  if (m_inputDataSize > 0) memcpy(m_packetBlock, aPacket->bytes(), m_inputDataSize);
  m_readOffset = 0;
  return true;
}

bool IOPacketProducer::readIO(void* buffer, uint32_t& length)
{
  const uint32_t asked = length;
  length = 0;
  if (asked == 0) return false;
  // An empty packet carries nothing to deliver: go on to the next one.
  while (m_inputDataSize == 0)
    if (!_takePacket()) return false;
  uint32_t count = asked < m_inputDataSize ? asked : m_inputDataSize;
  memcpy(buffer, m_packetBlock + m_readOffset, count);
  m_readOffset += count;
  m_inputDataSize -= count;
  length = count;
  return true;
}

bool IOPacketProducer::closeIO()
{
  m_isOpen = false;
  m_packetsQueue->lockQueue();
  m_packetsQueue->setBlocking(false);
  m_packetsQueue->unlockQueue();
  return true;
}
