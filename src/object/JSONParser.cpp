#include "object/JSONParser.h"

// RapidJSON 1.1.0's stack tests for room with `stackTop_ + size > stackEnd_` while its
// storage is still null, which clang's checks report as an offset applied to a null
// pointer; that comparison is all the code does with the pointer, so the check is off for
// RapidJSON's own functions only.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "object/BaseArray.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/CLocale.h"
#include "runtime/Debug.h"

namespace {

// Builds the tree from the reader's events. A container joins its parent as soon as it
// opens, so the builder owns only the root and a key waiting for its value: releasing
// those two frees whatever was built when the reader stops half-way.
class ObjectBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ObjectBuilder>
{
public:
  ObjectBuilder() = default;
  ObjectBuilder(const ObjectBuilder&) = delete;
  ObjectBuilder& operator=(const ObjectBuilder&) = delete;
  ~ObjectBuilder()
  {
    BaseObject::release(m_root);
    BaseObject::release(m_key);
  }

  bool Null() { return add(&BaseNull::instance); }
  bool Bool(bool value) { return addNew(new BaseNumber(value)); }
  // Numbers come as their checked text: RapidJSON 1.1.0's own conversion at full precision
  // hands a zero significand to __builtin_clzll (as in "0e-30"), so the text is converted
  // here, exactly and whatever the process's locale.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool)
  {
    const char* end = text + length;
    if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) == end) {
      long long integer;
      std::from_chars_result read = std::from_chars(text, end, integer);
      if (read.ec == std::errc() && read.ptr == end) return addNew(new BaseNumber(integer));
    }
    // Out of the 64-bit range, or with a fraction or an exponent. The text is terminated.
    double value = platform::parseDouble(text);
    if (!std::isfinite(value)) {
      m_failure = "number too big to be stored in a double";
      return false;
    }
    return addNew(new BaseNumber(value));
  }
  bool String(const char* text, rapidjson::SizeType length, bool)
  {
    if (!acceptable(text, length)) return false;
    return addNew(new BaseString(text, (int)length));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool)
  {
    if (!acceptable(text, length)) return false;
    BaseObject::release(m_key);
    m_key = new BaseString(text, (int)length);
    return true;
  }
  bool StartObject() { return open(new BaseDictionary(), true); }
  bool EndObject(rapidjson::SizeType) { return close(); }
  bool StartArray() { return open(new BaseArray(), false); }
  bool EndArray(rapidjson::SizeType) { return close(); }

  // The finished value, handed over with the builder's reference.
  BaseObject* takeRoot()
  {
    BaseObject* root = m_root;
    m_root = nullptr;
    return root;
  }
  // Why the builder stopped the reader, or null when it did not.
  const char* failure() const { return m_failure; }

private:
  struct OpenContainer
  {
    BaseObject* container;  // owned by its parent, or the root
    bool isDictionary;
  };

  // The reader has checked the UTF-8 of the input, but it turns the escape of a lone low
  // surrogate ("\uDC00") into the bytes ED B0 80, which are not UTF-8: no valid sequence
  // has ED followed by A0 or more.
  bool acceptable(const char* text, rapidjson::SizeType length)
  {
    if (length > (rapidjson::SizeType)INT_MAX) {
      m_failure = "string too long";
      return false;
    }
    for (rapidjson::SizeType i = 0; i + 1 < length; i++) {
      if ((unsigned char)text[i] == 0xED && (unsigned char)text[i + 1] >= 0xA0) {
        m_failure = "unpaired surrogate escape in string";
        return false;
      }
    }
    return true;
  }

  bool add(BaseObject* value)
  {
    if (m_open.empty()) {
      m_root = BaseObject::retain(value);
      return true;
    }
    const OpenContainer& parent = m_open.back();
    if (parent.isDictionary) {
      static_cast<BaseDictionary*>(parent.container)->setObjectForKey(value, m_key);
      BaseObject::release(m_key);
      m_key = nullptr;
    } else {
      static_cast<BaseArray*>(parent.container)->addObject(value);
    }
    return true;
  }
  // Takes over the creator's reference of `value`.
  bool addNew(BaseObject* value)
  {
    bool added = add(value);
    value->release();
    return added;
  }
  bool open(BaseObject* container, bool isDictionary)
  {
    if (m_open.size() >= JSONParser::MAX_NESTING_DEPTH) {
      container->release();
      snprintf(m_depthFailure, sizeof m_depthFailure, "nesting deeper than %d levels",
               (int)JSONParser::MAX_NESTING_DEPTH);
      m_failure = m_depthFailure;
      return false;
    }
    add(container);
    m_open.push_back({container, isDictionary});
    container->release();
    return true;
  }
  bool close()
  {
    m_open.pop_back();
    return true;
  }

  BaseObject* m_root = nullptr;
  BaseString* m_key = nullptr;
  std::vector<OpenContainer> m_open;
  const char* m_failure = nullptr;
  char m_depthFailure[48];
};

}  // namespace

BaseObject* JSONParser::parseJSON(const void* bytes, size_t length)
{
  if (!bytes && length != 0) return nullptr;
  rapidjson::MemoryStream input(bytes ? static_cast<const char*>(bytes) : "", length);
  ObjectBuilder builder;
  // The iterative reader keeps its state on the heap, so deep input cannot exhaust the
  // stack; the builder bounds the depth.
  rapidjson::Reader reader;
  rapidjson::ParseResult parsed =
      reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
                   rapidjson::kParseNumbersAsStringsFlag>(input, builder);

  const char* failure = nullptr;
  size_t offset = 0;
  if (parsed.IsError()) {
    failure = builder.failure() ? builder.failure() : rapidjson::GetParseError_En(parsed.Code());
    offset = parsed.Offset();
  } else if (input.Tell() != length) {
    // The reader takes a zero byte for the end of the input.
    failure = "data after the value";
    offset = input.Tell();
  }
  if (failure) {
    BASE_LOG(nullptr, eMsgWarning, "JSON text rejected at offset %u: %s", (unsigned int)offset, failure);
    return nullptr;
  }
  BaseObject* root = builder.takeRoot();
  root->autorelease();
  return root;
}
