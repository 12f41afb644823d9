// Numbers: how each constructor stores its value, conversions between the stored types,
// equality, hashing and ordering across them, and doubles printed whatever the locale
// (the text forms: TextFormsTest).
#include <clocale>
#include <cstdint>
#include <limits>
#include <tuple>

#include "object/BaseBits.h"
#include "support/Locales.h"
#include "support/ValueTest.h"

namespace {

class BaseNumberTest : public ValueTest
{
protected:
  static BaseNumber* nan() { return new (eRetainAutorelease) BaseNumber(); }
  const double inf = std::numeric_limits<double>::infinity();
};

TEST_F(BaseNumberTest, StoredTypesAndTheirReadings)
{
  EXPECT_EQ(nan()->getNumberType(), BaseNumber::eNumberDouble);
  EXPECT_EQ(bitsOfDouble(nan()->getDouble()), 0x7FF0000080000001ull);  // the marked NaN
  EXPECT_EQ(num(4000000000u)->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(num(-1)->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(num(true)->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_EQ(num(4000000000u)->getDouble(), 4000000000.0);
  EXPECT_EQ(num(true)->getDouble(), 1.0);
  EXPECT_EQ(num(-7)->getDouble(), -7.0);
  // Unsigned values are zero-extended, int sign-extended, 64 bits kept whole; doubles
  // truncate toward zero and saturate, NaN reads 0.
  auto expectReadings = [](std::initializer_list<std::tuple<BaseNumber*, long long, int>> rows) {
    for (auto [number, integer64, integer] : rows) {
      EXPECT_EQ(number->getInteger64(), integer64) << number->getDouble();
      EXPECT_EQ(number->getInteger(), integer) << number->getDouble();
    }
  };
  expectReadings({{num(4000000000u), 4000000000ll, -294967296}, {num(-1), -1, -1}, {num(true), 1, 1}});
  expectReadings(
      {{num(0x123456789ABCDEF0ll), 0x123456789ABCDEF0ll, -1698898192}, {num(false), 0, 0}, {nan(), 0, 0}});
  expectReadings({{num(2.9), 2, 2}, {num(-2.9), -2, -2}, {num(-2147483648.9), -2147483648ll, INT32_MIN}});
  expectReadings({{num(2147483648.0), 2147483648ll, INT32_MAX}, {num(3e9), 3000000000ll, INT32_MAX}});
  expectReadings(
      {{num(-3e9), -3000000000ll, INT32_MIN}, {num(9007199254740992.0), 9007199254740992ll, INT32_MAX}});
  expectReadings({{num(9223372036854775808.0), INT64_MAX, INT32_MAX}, {num(1e300), INT64_MAX, INT32_MAX}});
  expectReadings({{num(-9223372036854775808.0), INT64_MIN, INT32_MIN}, {num(-1e300), INT64_MIN, INT32_MIN}});
  expectReadings({{num(inf), INT64_MAX, INT32_MAX}, {num(-inf), INT64_MIN, INT32_MIN}});
  for (BaseNumber* yes : {num(-3), num(0x100000000ll), num(0.25), nan(), num(true)})
    EXPECT_TRUE(yes->getBoolean());
  for (BaseNumber* no : {num(0), num(0.0), num(-0.0), num(false)}) EXPECT_FALSE(no->getBoolean());
}

TEST_F(BaseNumberTest, SetAndSetNumberReplaceValueAndType)
{
  BaseNumber* number = num(2.5);
  number->set(7);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(number->getInteger64(), 7);
  number->set(true);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberBoolean);
  number->set(4294967295u);
  EXPECT_EQ(number->getInteger64(), 4294967295ll);
  number->set(-5ll);
  EXPECT_EQ(number->getInteger64(), -5);
  number->set(-0.0);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberDouble);
  EXPECT_EQ(bitsOfDouble(number->getDouble()), 0x8000000000000000ull);

  for (BaseNumber* source : {num(0x123456789ll), num(4000000000u), nan(), num(false)}) {
    number->setNumber(source);
    EXPECT_EQ(number->getNumberType(), source->getNumberType());
    EXPECT_EQ(bitsOfDouble(number->getDouble()), bitsOfDouble(source->getDouble()));
    EXPECT_EQ(number->getInteger64(), source->getInteger64());
  }
  number->setNumber(number);
  EXPECT_TRUE(number->isEqual(num(false)));
  EXPECT_DEATH(number->setNumber(nullptr), "Assertion failed: number!=NULL, file src/object/BaseNumber");
}

TEST_F(BaseNumberTest, EqualByValueAcrossStoredTypesAndByBitsWithinOne)
{
  auto expectEqual = [](bool equal, std::initializer_list<std::pair<BaseNumber*, BaseObject*>> rows) {
    for (auto [a, b] : rows)
      EXPECT_EQ(a->isEqual(b), equal) << text(a, 0) << " and " << (b ? text(b, 0) : "null");
  };
  expectEqual(true, {{num(3), num(3.0)}, {num(3.0), num(3)}, {num(true), num(1)}, {num(1.0), num(true)}});
  expectEqual(true, {{num(false), num(-0.0)}, {nan(), nan()}, {num(5), num(5u)}, {num(5), num(5ll)}});
  expectEqual(false, {{num(true), num(2)}, {num(3), num(3.5)}, {num(1), nan()}, {num(0.0), num(-0.0)}});
  expectEqual(false, {{nan(), num(doubleOfBits(0x7FF8000000000000ull))}, {num(-1), num(4294967295u)}});
  expectEqual(false, {{num(1), str("1")}, {num(1), nullptr}});
}

TEST_F(BaseNumberTest, HashFollowsTheStoredBits)
{
  // Equal within a stored type hash alike; equal across stored types hash apart.
  auto expectHashes = [](std::initializer_list<std::pair<BaseNumber*, uint32_t>> rows) {
    for (auto [number, hash] : rows) EXPECT_EQ(number->hash(), hash) << text(number, 0);
  };
  // -1 hashes 0xFFFFFFFF ^ 0xFFFFFFFF, a boolean its first byte.
  expectHashes({{nan(), 0xFFF00001u},
                {num(4000000000u), 4000000000u},
                {num(-1), 0u},
                {num(true), 1u},
                {num(false), 0u}});
  expectHashes(
      {{num(0x123456789ABCDEF0ll), 0x12345678u ^ 0x9ABCDEF0u}, {num(5), 5u}, {num(5ll), 5u}, {num(5u), 5u}});
  expectHashes({{num(1), 1u},
                {num(1.0), 0x3FF00000u},
                {num(2.5), 0x40040000u},
                {num(-0.0), 0x80000000u},
                {num(0.0), 0u}});
}

TEST_F(BaseNumberTest, PositiveWhenTheReceiverGoesFirst)
{
  auto expectOrder = [](int order, std::initializer_list<std::pair<BaseNumber*, BaseNumber*>> rows) {
    for (auto [a, b] : rows) EXPECT_EQ(a->compare(b), order) << text(a, 0) << " " << text(b, 0);
  };
  expectOrder(1,
              {{num(1), num(2)}, {num(1), num(2.5)}, {num(false), num(true)}, {num(-1), num(4294967295u)}});
  expectOrder(-1, {{num(2), num(1)}, {num(2.5), num(1)}, {num(true), num(false)}, {num(-1.5), num(-2.5)}});
  // Both round to the same double; as integers they differ. NaN orders with nothing.
  expectOrder(-1, {{num(9007199254740993ll), num(9007199254740992ll)}});
  expectOrder(1, {{num(std::numeric_limits<long long>::min()), num(0)}});
  expectOrder(
      0,
      {{num(1), num(true)}, {num(0.0), num(-0.0)}, {nan(), num(1)}, {num(1.0), nan()}, {nan(), num(true)}});
  // Other classes by class name: "BaseNumber" before "BaseString".
  EXPECT_GT(num(1)->compare(str("0")), 0);
  EXPECT_LT(str("0")->compare(num(1)), 0);
  BaseArray* sorted = arrayOf({num(3), num(1.5), num(-2ll), num(true), num(0.25)});
  sorted->sortArray();
  EXPECT_EQ(text(sorted, BaseObject::eToStringJSON), "[ -2, 0.25, true, 1.5, 3 ]");
}

TEST_F(BaseNumberTest, DoublesPrintAsPrintfSixteenDigits)
{
  for (double value :
       {1.0 / 3, 1e20, 0.1, -0.0, 1e-300, 2.5e-5, 123456789012345678.0, 1e15, 1e16, -inf, inf}) {
    char expected[64];
    snprintf(expected, sizeof expected, "%.16g", value);
    EXPECT_EQ(text(num(value), BaseObject::eToStringJSON), expected);
  }
}

// The host application may switch the process's locale; our texts must not follow it.
TEST_F(BaseNumberTest, DecimalPointWhateverTheLocale)
{
  std::string previous = setlocale(LC_ALL, nullptr);
  const char* found = switchToNonEnglishLocale();
  if (!found) GTEST_SKIP() << "no locale with a decimal comma is installed";
  char local[16];
  snprintf(local, sizeof local, "%.1f", 0.5);
  std::string json = text(num(0.5), BaseObject::eToStringJSON);
  std::string large = text(num(1.25e20), BaseObject::eToStringJSON);
  setlocale(LC_ALL, previous.c_str());
  EXPECT_STREQ(local, "0,5") << found;
  EXPECT_EQ(json, "0.5");
  EXPECT_EQ(large, "1.25e+20");
}

}  // namespace
