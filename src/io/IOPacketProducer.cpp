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
    : packetsSize(aPacketsSize),
      packetsQueue(nullptr),
      packetBlock(nullptr),
      inputDataSize(0),
      readOffset(0),
      producedPacketCount(0),
      grabedPacketCount(0),
      receivedPacketCount(0),
      isOpen(true)
{
  // Assertion conditions stay unformatted: their text is the message.
  // clang-format off
  BASE_ASSERT(aPacketsSize>0);
  // clang-format on
  packetsQueue = new BaseQueue(queueCapacity, true);
  packetBlock = static_cast<unsigned char*>(calloc(packetsSize, 1));
  // Without a block nothing can pass: the producer starts closed rather than half usable.
  if (!packetBlock) {
    BASE_LOG(this, eMsgError, "unable to allocate a packet block of %u bytes", packetsSize);
    closeIO();
  }
}

IOPacketProducer::~IOPacketProducer()
{
  packetsQueue->release();
  free(packetBlock);
}

bool IOPacketProducer::writeIO(const void* bytes, uint32_t length)
{
  const unsigned char* input = static_cast<const unsigned char*>(bytes);
  while (isOpen && length > 0) {
    uint32_t room = packetsSize - inputDataSize;
    uint32_t count = length < room ? length : room;
    memcpy(packetBlock + inputDataSize, input, count);
    inputDataSize += count;
    input += count;
    length -= count;
    // clang-format off
    BASE_ASSERT(inputDataSize<=packetsSize);
    // clang-format on
    // Virtual, so that a subclass sees every full packet.
    if (inputDataSize == packetsSize) flushIO();
  }
  return isOpen;
}

bool IOPacketProducer::flushIO()
{
  if (inputDataSize == 0) return true;
  BaseBuffer* aPacket = new BaseBuffer(packetBlock, inputDataSize);
  bool queued = false;
  // A closed producer has nobody left to take packets: queueing would only pin memory.
  while (isOpen) {
    packetsQueue->lockQueue();
    queued = packetsQueue->tryEnqueue(aPacket);
    if (queued) break;
    packetsQueue->unlockQueue();
    pollPause();
  }
  if (queued) {
    producedPacketCount++;
    aPacket->release();
    // clang-format off
    BASE_ASSERT(aPacket->getRetainCount()>0);
    // clang-format on
    packetsQueue->unlockQueue();
  } else {
    aPacket->release();
  }
  memset(packetBlock, 0, packetsSize);
  inputDataSize = 0;
  return true;
}

BaseBuffer* IOPacketProducer::getNextPacket()
{
  if (!isOpen) return nullptr;
  packetsQueue->lockQueue();
  BaseBuffer* aPacket = static_cast<BaseBuffer*>(packetsQueue->tryDequeue());
  if (aPacket) {
    aPacket->retain();
    aPacket->autorelease();
    grabedPacketCount++;
  }
  packetsQueue->unlockQueue();
  return aPacket;
}

bool IOPacketProducer::addPacket(BaseBuffer* aPacket)
{
  BASE_ASSERT(aPacket);
  // The packet comes from a peer: its size is input to check, not a promise to trust.
  if (aPacket->length() > packetsSize) {
    BASE_LOG(this, eMsgError, "packet is %i bytes, more than the packet size %i: refused",
             (int)aPacket->length(), (int)packetsSize);
    return false;
  }
  bool queued = false;
  while (isOpen) {
    packetsQueue->lockQueue();
    queued = packetsQueue->tryEnqueue(aPacket);
    if (queued) receivedPacketCount++;
    packetsQueue->unlockQueue();
    if (queued) break;
    pollPause();
  }
  BASE_LOG(this, eMsgDebug, "packet is %i bytes, receivedPacketCount %i", (int)aPacket->length(),
           (int)receivedPacketCount.load());
  return queued;
}

bool IOPacketProducer::_takePacket()
{
  // The queue hands its reference to a pool: a pool of our own frees each packet as soon
  // as it is copied, however long the caller's pool stays open.
  BaseAutorelease pool;
  BaseBuffer* aPacket = nullptr;
  do {
    packetsQueue->lockQueue();
    aPacket = static_cast<BaseBuffer*>(packetsQueue->tryDequeue());
    bool blocking = aPacket ? false : packetsQueue->getBlocking();
    packetsQueue->unlockQueue();
    if (aPacket || !blocking) break;
    pollPause();
  } while (isOpen);
  if (!aPacket) return false;
  inputDataSize = aPacket->length();
  // addPacket refuses longer packets and flushIO never makes them.
  // clang-format off
  BASE_ASSERT(inputDataSize<=packetsSize);
  // clang-format on
  if (inputDataSize > 0) memcpy(packetBlock, aPacket->bytes(), inputDataSize);
  readOffset = 0;
  return true;
}

bool IOPacketProducer::readIO(void* buffer, uint32_t& length)
{
  const uint32_t asked = length;
  length = 0;
  if (asked == 0) return false;
  // An empty packet carries nothing to deliver: go on to the next one.
  while (inputDataSize == 0)
    if (!_takePacket()) return false;
  uint32_t count = asked < inputDataSize ? asked : inputDataSize;
  memcpy(buffer, packetBlock + readOffset, count);
  readOffset += count;
  inputDataSize -= count;
  length = count;
  return true;
}

bool IOPacketProducer::closeIO()
{
  isOpen = false;
  packetsQueue->lockQueue();
  packetsQueue->setBlocking(false);
  packetsQueue->unlockQueue();
  return true;
}
