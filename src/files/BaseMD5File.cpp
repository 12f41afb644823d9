// The digest of a file's content: the operations of BaseMD5 that read a file object. They
// live with the files, so that the digest itself depends on nothing but bytes and buffers.
#include "crypto/BaseMD5.h"
#include "files/BaseFile.h"
#include "runtime/BaseAssert.h"

bool BaseMD5::appendFile(BaseFile* file)
{
  BASE_ASSERT(file!=nullptr);
  if (!file->openFile(true)) return false;
  file->setOffset(0);
  unsigned char* bytes = nullptr;
  uint32_t count;
  while ((count = file->getNextBytes(&bytes, 4096)) > 0) appendBytes(bytes, count);
  bool complete = !file->readFailed();
  file->closeFile();
  return complete;
}

BaseString* BaseMD5::md5FromFile(BaseFile* file)
{
  BaseMD5* digest = new (eRetainNone) BaseMD5();
  BaseString* text = digest->appendFile(file) ? digest->getHexDigest() : nullptr;
  digest->release();
  return text;
}
