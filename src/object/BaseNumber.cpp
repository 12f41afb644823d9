#include "object/BaseNumber.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "object/BaseBits.h"
#include "object/BaseString.h"
#include "platform/CLocale.h"
#include "runtime/BaseAssert.h"

namespace {

// A quiet NaN with a payload of its own, so that a number nobody set is recognisable.
const uint64_t DEFAULT_NAN_BITS = 0x7FF0000080000001ull;

uint64_t bitsOfInteger(int64_t value)
{
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

int64_t integerOfBits(uint64_t bits)
{
  int64_t value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

// The boolean lives in the first byte of the value, the other seven bytes are zero.
uint64_t bitsOfBoolean(bool value)
{
  uint64_t bits = 0;
  unsigned char byte = value ? 1 : 0;
  memcpy(&bits, &byte, 1);
  return bits;
}

bool booleanOfBits(uint64_t bits)
{
  unsigned char byte;
  memcpy(&byte, &bits, 1);
  return byte != 0;
}

// Converting a double that does not fit is undefined in C++: such values saturate.
int64_t doubleToInteger64(double value)
{
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

int32_t doubleToInteger32(double value)
{
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return INT32_MAX;
  if (value <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

template <typename T>
int orderOf(T mine, T theirs)
{
  return mine > theirs ? -1 : (theirs > mine ? 1 : 0);
}

}  // namespace

BaseNumber::BaseNumber() : m_numberValue(DEFAULT_NAN_BITS), m_numberType(eNumberDouble) {}

BaseNumber::BaseNumber(bool value)
{
  set(value);
}

BaseNumber::BaseNumber(unsigned int value)
{
  set(value);
}

BaseNumber::BaseNumber(int value)
{
  set(value);
}

BaseNumber::BaseNumber(long long value)
{
  set(value);
}

BaseNumber::BaseNumber(double value)
{
  set(value);
}

BaseNumber::~BaseNumber() {}

void BaseNumber::set(double value)
{
  m_numberValue = bitsOfDouble(value);
  m_numberType = eNumberDouble;
}

void BaseNumber::set(long long value)
{
  m_numberValue = bitsOfInteger(value);
  m_numberType = eNumberInteger;
}

void BaseNumber::set(int value)
{
  set(static_cast<long long>(value));
}

void BaseNumber::set(unsigned int value)
{
  set(static_cast<long long>(value));
}

void BaseNumber::set(bool value)
{
  m_numberValue = bitsOfBoolean(value);
  m_numberType = eNumberBoolean;
}

void BaseNumber::setNumber(BaseNumber* number)
{
  // clang-format off
  BASE_ASSERT(number!=NULL);
  // clang-format on
  // All 64 bits of an integer are copied: a copy holds the same value as its source.
  m_numberValue = number->m_numberValue;
  m_numberType = number->m_numberType;
}

int64_t BaseNumber::getInteger64() const
{
  switch (m_numberType) {
    case eNumberInteger:
      return integerOfBits(m_numberValue);
    case eNumberBoolean:
      return booleanOfBits(m_numberValue) ? 1 : 0;
    default:
      return doubleToInteger64(doubleOfBits(m_numberValue));
  }
}

int32_t BaseNumber::getInteger() const
{
  switch (m_numberType) {
    case eNumberInteger:
      return static_cast<int32_t>(static_cast<uint32_t>(m_numberValue));
    case eNumberBoolean:
      return booleanOfBits(m_numberValue) ? 1 : 0;
    default:
      return doubleToInteger32(doubleOfBits(m_numberValue));
  }
}

double BaseNumber::getDouble() const
{
  switch (m_numberType) {
    case eNumberInteger:
      return static_cast<double>(integerOfBits(m_numberValue));
    case eNumberBoolean:
      return booleanOfBits(m_numberValue) ? 1.0 : 0.0;
    default:
      return doubleOfBits(m_numberValue);
  }
}

bool BaseNumber::getBoolean() const
{
  switch (m_numberType) {
    case eNumberInteger:
      return integerOfBits(m_numberValue) != 0;
    case eNumberBoolean:
      return booleanOfBits(m_numberValue);
    default:
      return doubleOfBits(m_numberValue) != 0.0;  // true for NaN
  }
}

bool BaseNumber::isEqual(BaseObject* other)
{
  if (!isOfClass(other, "BaseNumber")) return false;
  BaseNumber* number = static_cast<BaseNumber*>(other);
  if (number->m_numberType == m_numberType) return number->m_numberValue == m_numberValue;
  return getDouble() == number->getDouble();
}

int BaseNumber::compare(BaseObject* other)
{
  if (!isOfClass(other, "BaseNumber")) return BaseObject::compare(other);
  BaseNumber* number = static_cast<BaseNumber*>(other);
  if (number->m_numberType != m_numberType || m_numberType == eNumberDouble)
    return orderOf(getDouble(), number->getDouble());
  if (m_numberType == eNumberInteger)
    return orderOf(integerOfBits(m_numberValue), integerOfBits(number->m_numberValue));
  return orderOf(booleanOfBits(m_numberValue), booleanOfBits(number->m_numberValue));
}

uint32_t BaseNumber::hash()
{
  return static_cast<uint32_t>(m_numberValue >> 32) ^ static_cast<uint32_t>(m_numberValue);
}

char* BaseNumber::formatDouble(char* buffer, size_t size, double value)
{
  int length = platform::formatDouble(buffer, size, value);
  if (length < 0) length = 0;
  return buffer + (size_t(length) < size ? size_t(length) : size - 1);
}

const char* BaseNumber::getClass() const
{
  return "BaseNumber";
}

BaseString* BaseNumber::toString(int flags)
{
  // Both forms are printf's in the C locale, so JSON stays JSON under a host that switched
  // LC_NUMERIC.
  char number[48];
  const char* value = number;
  std::to_chars_result written{number, std::errc()};
  switch (m_numberType) {
    case eNumberInteger:
      written = std::to_chars(number, number + sizeof number - 1, integerOfBits(m_numberValue));
      break;
    case eNumberDouble:
      written.ptr = formatDouble(number, sizeof number, doubleOfBits(m_numberValue));
      break;
    default:
      value = booleanOfBits(m_numberValue) ? "true" : "false";
      break;
  }
  *written.ptr = '\0';

  BaseString* text = new (eRetainAutorelease) BaseString(64u);
  if ((flags & 3) != eToStringXML) {
    text->append(value);
  } else if (m_numberType == eNumberBoolean) {
    text->append("<");
    text->append(value);
    text->append(" />");
  } else {
    text->append("<number>");
    text->append(value);
    text->append("</number>");
  }
  return toStringCommon(flags, text, -1);
}
