// BaseObject's encodings and files. They are members of the object classes but are defined
// here, beside the serializer and above the byte buffer they need, so that the object model
// itself depends on neither.
#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseObject.h"
#include "object/BaseString.h"
#include "object/JSONParser.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"

bool BaseObject::encode(BaseBuffer* buffer, eToStringFlags format)
{
  BASE_ASSERT(buffer != NULL);
  int textFormat = format & 3;
  if (textFormat == eToStringJSON || textFormat == eToStringXML) {
    BaseAutorelease pool;
    BaseString* text = toString(textFormat);
    return buffer->appendBytes(text->cString(), text->length());
  }
  if (format & eToStringSerialized) {
    BaseSerializer serializer(buffer, nullptr);
    return serializer.appendSerializableObject(this);
  }
  BASE_LOG(this, eMsgInfo, "unsupported encode format %i", (int)format);
  return false;
}

BaseObject* BaseObject::decode(BaseBuffer* buffer, eToStringFlags* format)
{
  return nullptr;
}

bool BaseObject::writeToFile(BaseString* path, eToStringFlags format)
{
  BASE_ASSERT(path != NULL);
  BaseBuffer* buffer = new BaseBuffer();
  bool written = encode(buffer, format) && buffer->writeToFile(path->cString());
  buffer->release();
  return written;
}

BaseObject* BaseObject::readFromFile(BaseString* path, eToStringFlags* format)
{
  BASE_ASSERT(path != NULL);
  BaseBuffer* buffer = new BaseBuffer();
  BaseObject* result = nullptr;
  int found = 0;
  if (buffer->readFromFile(path->cString())) {
    if (buffer->hasPrefix("<?xml ")) {
      found = eToStringXML;
      if (format) *format = eToStringXML;
      BASE_LOG(nullptr, eMsgWarning, "Unserialize a property list from XML is currently unsupported");
    }
    if (buffer->hasPrefix("{") || buffer->hasPrefix("[") || buffer->hasPrefix("\"")) {
      result = JSONParser::parseJSON(buffer->bytes(), buffer->length());
      if (result) {
        found = eToStringJSON;
        if (format) *format = eToStringJSON;
      }
    }
    if (!result) {
      result = BaseSerializer::unserializeObject(buffer);
      if (result) {
        found = eToStringSerialized;
        if (format) *format = eToStringSerialized;
      }
    }
  }
  buffer->release();
  if (result)
    BASE_LOG(nullptr, eMsgWarning,
             "BaseObject::readFromFile loaded an instance of %s, format was %i, path was %s",
             result->getClass(), found, path->cString());
  else
    BASE_LOG(nullptr, eMsgWarning, "BaseObject::readFromFile object from file failed, path was %s",
             path->cString());
  return result;
}
