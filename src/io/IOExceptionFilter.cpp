#include "io/IOExceptionFilter.h"

IOException::IOException() {}

IOException::~IOException() {}

IOExceptionFilter::IOExceptionFilter(IOAbstract* stream) : IOFilter(stream) {}

bool IOExceptionFilter::readIO(void* buffer, uint32_t& length)
{
  return test(m_stream->readIO(buffer, length));
}

bool IOExceptionFilter::writeIO(const void* bytes, uint32_t length)
{
  return test(m_stream->writeIO(bytes, length));
}

bool IOExceptionFilter::flushIO()
{
  return test(m_stream->flushIO());
}

bool IOExceptionFilter::closeIO()
{
  return test(m_stream->closeIO());
}

bool IOExceptionFilter::test(bool result)
{
  if (!result) throw new IOException();
  return true;
}
