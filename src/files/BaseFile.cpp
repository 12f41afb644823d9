#include "files/BaseFile.h"

#include <cstring>

#include "io/BaseBuffer.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

BaseFile::BaseFile(BaseString* aFilePath, bool create)
  : m_path(nullptr),
    m_atomicPath(nullptr),
    m_directoryHandle(nullptr),
    m_stream(nullptr),
    m_readBuffer(nullptr),
    m_contextAttribute(nullptr),
    m_lockDescriptor(-1),
    m_resume(false),
    m_transferOffset(0)
{
  BASE_ASSERT(aFilePath!=NULL);
  memset(&m_status, 0, sizeof(m_status));
  (void)create;
}

BaseFile::~BaseFile()
{
}

const char* BaseFile::getClass() const { return "BaseFile"; }

BaseString* BaseFile::toString(int flags) { return BaseObject::toString(flags); }

bool BaseFile::readIO(void*, uint32_t& length)
{
  length = 0;
  return false;
}

bool BaseFile::writeIO(const void*, uint32_t) { return false; }

bool BaseFile::flushIO() { return false; }

bool BaseFile::skipBytesInIO(uint32_t) { return false; }
