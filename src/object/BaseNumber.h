// One scalar value: a double, a signed 64-bit integer or a boolean, with conversions
// between them and equality and ordering across the three stored types. A number owns
// nothing. Not locked: share a number between threads only once it is no longer set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "object/BaseObject.h"

class BaseNumber : public BaseObject
{
public:
  enum eNumberType
  {
    eNumberDouble = 0,
    eNumberInteger = 1,
    eNumberBoolean = 2
  };

  // A double NaN whose bits are 0x7FF0000080000001.
  BaseNumber();
  explicit BaseNumber(bool value);
  // Every integer is stored as a signed 64-bit value: unsigned int zero-extended, int sign-extended.
  explicit BaseNumber(unsigned int value);
  explicit BaseNumber(int value);
  explicit BaseNumber(long long value);
  explicit BaseNumber(double value);
  ~BaseNumber() override;

  void set(double value);
  void set(long long value);
  void set(int value);
  void set(unsigned int value);
  void set(bool value);
  // Copies the value and the stored type exactly; `number` must not be null.
  void setNumber(BaseNumber* number);

  eNumberType getNumberType() const { return m_numberType; }
  // A double is truncated toward zero; one outside the target range gives the nearest end
  // of the range, and NaN gives 0. A 64-bit integer read as 32 bits keeps its low 32 bits.
  int64_t getInteger64() const;
  int32_t getInteger() const;
  double getDouble() const;
  // Nonzero is true; a NaN is nonzero.
  bool getBoolean() const;

  // Same stored type: equal when the 8 value bytes are identical (0.0 differs from -0.0,
  // a NaN equals a NaN with the same bits). Different stored types: compared as doubles,
  // so 1 equals 1.0 and true, while their hashes differ: a hash agrees with equality only
  // between numbers of one stored type.
  bool isEqual(BaseObject* other) override;
  // -1 when the receiver is greater, 1 when `other` is, 0 when neither (any NaN gives 0);
  // a non-number is ordered by the root rule.
  int compare(BaseObject* other) override;
  // The high 32 bits of the value bytes XOR the low 32 bits.
  uint32_t hash() override;
  const char* getClass() const override;
  // "%.16g", "%lli", "true"/"false"; in XML "<number>...</number>", "<true />" or "<false />".
  // A double's text always has "." as its decimal point, whatever the process's locale.
  BaseString* toString(int flags = eToStringPlain) override;

  // "%.16g" of `value` into `buffer` (at least 32 bytes) with "." as the decimal point,
  // whatever LC_NUMERIC the host chose; returns the terminating zero's position.
  static char* formatDouble(char* buffer, size_t size, double value);

protected:
  uint64_t m_numberValue;  // the value's bytes: a double, an int64_t, or a bool in the first byte
  eNumberType m_numberType;
};
