#include "io/IOFilter.h"

#include "runtime/BaseAssert.h"

IOFilter::IOFilter(IOAbstract* stream) : m_stream(stream)
{
  BASE_ASSERT(stream != NULL);
  m_stream->retain();
}

IOFilter::~IOFilter()
{
  m_stream->release();
}

bool IOFilter::readIO(void* buffer, uint32_t& length)
{
  return m_stream->readIO(buffer, length);
}

bool IOFilter::writeIO(const void* bytes, uint32_t length)
{
  return m_stream->writeIO(bytes, length);
}

bool IOFilter::flushIO()
{
  return m_stream->flushIO();
}

bool IOFilter::closeIO()
{
  return m_stream->closeIO();
}
