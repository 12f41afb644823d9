// Numbers: how each constructor stores its value, conversions between the stored types,
// equality and ordering across them, and the text forms.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "object/BaseBits.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "support/Locales.h"

namespace {

class BaseNumberTest : public ::testing::Test
{
protected:
  template <typename T>
  static BaseNumber* num(T value)
  {
    return new (eRetainAutorelease) BaseNumber(value);
  }
  static BaseNumber* nan() { return new (eRetainAutorelease) BaseNumber(); }
  static std::string text(BaseObject* object, int flags = BaseObject::eToStringPlain)
  {
    return object->toString(flags)->cString();
  }

  BaseAutorelease pool;
};

class BaseNumberStorageTest : public BaseNumberTest
{
};

TEST_F(BaseNumberStorageTest, DefaultIsTheMarkedNaN)
{
  BaseNumber* number = nan();
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberDouble);
  EXPECT_EQ(bitsOfDouble(number->getDouble()), 0x7FF0000080000001ull);
  EXPECT_EQ(number->hash(), 0xFFF00001u);
  EXPECT_TRUE(number->getBoolean());
  EXPECT_EQ(text(number), "nan");
}

TEST_F(BaseNumberStorageTest, UnsignedIsZeroExtended)
{
  BaseNumber* number = num(4000000000u);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(number->getInteger64(), 4000000000ll);
  EXPECT_EQ(number->getInteger(), -294967296);
  EXPECT_EQ(number->getDouble(), 4000000000.0);
  EXPECT_EQ(text(number), "4000000000");
  EXPECT_EQ(number->hash(), 4000000000u);
}

TEST_F(BaseNumberStorageTest, IntIsSignExtended)
{
  BaseNumber* number = num(-1);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(number->getInteger64(), -1);
  EXPECT_EQ(number->hash(), 0u);  // 0xFFFFFFFF ^ 0xFFFFFFFF
  EXPECT_EQ(text(number), "-1");
}

TEST_F(BaseNumberStorageTest, SixtyFourBitsKeptWhole)
{
  BaseNumber* number = num(0x123456789ABCDEF0ll);
  EXPECT_EQ(number->getInteger64(), 0x123456789ABCDEF0ll);
  EXPECT_EQ(number->getInteger(), -1698898192);  // the low 32 bits 0x9ABCDEF0
  EXPECT_EQ(number->hash(), 0x12345678u ^ 0x9ABCDEF0u);
  EXPECT_EQ(text(number), "1311768467463790320");
  EXPECT_EQ(text(num(std::numeric_limits<long long>::min())), "-9223372036854775808");
}

TEST_F(BaseNumberStorageTest, BooleanHashesAsItsFirstByte)
{
  EXPECT_EQ(num(true)->hash(), 1u);
  EXPECT_EQ(num(false)->hash(), 0u);
  EXPECT_EQ(num(true)->getNumberType(), BaseNumber::eNumberBoolean);
}

TEST_F(BaseNumberStorageTest, SetReplacesValueAndType)
{
  BaseNumber* number = num(2.5);
  number->set(7);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(number->getInteger64(), 7);
  number->set(true);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_EQ(text(number), "true");
  number->set(4294967295u);
  EXPECT_EQ(number->getInteger64(), 4294967295ll);
  number->set(-5ll);
  EXPECT_EQ(number->getInteger64(), -5);
  number->set(-0.0);
  EXPECT_EQ(number->getNumberType(), BaseNumber::eNumberDouble);
  EXPECT_EQ(bitsOfDouble(number->getDouble()), 0x8000000000000000ull);
}

TEST_F(BaseNumberStorageTest, SetNumberCopiesExactly)
{
  BaseNumber* copy = num(0);
  copy->setNumber(num(0x123456789ll));
  EXPECT_EQ(copy->getInteger64(), 0x123456789ll);
  EXPECT_EQ(copy->getNumberType(), BaseNumber::eNumberInteger);

  copy->setNumber(num(4000000000u));
  EXPECT_EQ(copy->getInteger64(), 4000000000ll);

  copy->setNumber(nan());
  EXPECT_EQ(bitsOfDouble(copy->getDouble()), 0x7FF0000080000001ull);

  copy->setNumber(num(false));
  EXPECT_EQ(copy->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_TRUE(copy->isEqual(num(false)));

  copy->setNumber(copy);
  EXPECT_TRUE(copy->isEqual(num(false)));
}

TEST_F(BaseNumberStorageTest, SetNumberFromNothingStops)
{
  EXPECT_DEATH(num(1)->setNumber(nullptr), "Assertion failed: number!=NULL, file src/object/BaseNumber");
}

class BaseNumberConversionTest : public BaseNumberTest
{
};

TEST_F(BaseNumberConversionTest, DoublesTruncateTowardZero)
{
  EXPECT_EQ(num(2.9)->getInteger64(), 2);
  EXPECT_EQ(num(-2.9)->getInteger64(), -2);
  EXPECT_EQ(num(2.9)->getInteger(), 2);
  EXPECT_EQ(num(-2.9)->getInteger(), -2);
  EXPECT_EQ(num(-2147483648.9)->getInteger(), INT32_MIN);
  EXPECT_EQ(num(9007199254740992.0)->getInteger64(), 9007199254740992ll);
}

TEST_F(BaseNumberConversionTest, DoublesOutOfRangeSaturate)
{
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(num(1e300)->getInteger64(), INT64_MAX);
  EXPECT_EQ(num(-1e300)->getInteger64(), INT64_MIN);
  EXPECT_EQ(num(9223372036854775808.0)->getInteger64(), INT64_MAX);
  EXPECT_EQ(num(-9223372036854775808.0)->getInteger64(), INT64_MIN);
  EXPECT_EQ(num(inf)->getInteger64(), INT64_MAX);
  EXPECT_EQ(num(-inf)->getInteger(), INT32_MIN);
  EXPECT_EQ(num(3e9)->getInteger(), INT32_MAX);
  EXPECT_EQ(num(-3e9)->getInteger(), INT32_MIN);
  EXPECT_EQ(num(2147483648.0)->getInteger(), INT32_MAX);
  EXPECT_EQ(nan()->getInteger64(), 0);
  EXPECT_EQ(nan()->getInteger(), 0);
}

TEST_F(BaseNumberConversionTest, BooleanReadings)
{
  EXPECT_EQ(num(true)->getInteger64(), 1);
  EXPECT_EQ(num(true)->getDouble(), 1.0);
  EXPECT_EQ(num(false)->getInteger(), 0);
  EXPECT_TRUE(num(-3)->getBoolean());
  EXPECT_FALSE(num(0)->getBoolean());
  EXPECT_TRUE(num(0x100000000ll)->getBoolean());  // nothing in the low 32 bits
  EXPECT_TRUE(num(0.25)->getBoolean());
  EXPECT_FALSE(num(0.0)->getBoolean());
  EXPECT_FALSE(num(-0.0)->getBoolean());
  EXPECT_EQ(num(-7)->getDouble(), -7.0);
}

class BaseNumberEqualityTest : public BaseNumberTest
{
};

TEST_F(BaseNumberEqualityTest, AcrossStoredTypesByValue)
{
  EXPECT_TRUE(num(3)->isEqual(num(3.0)));
  EXPECT_TRUE(num(3.0)->isEqual(num(3)));
  EXPECT_TRUE(num(true)->isEqual(num(1)));
  EXPECT_TRUE(num(1.0)->isEqual(num(true)));
  EXPECT_TRUE(num(false)->isEqual(num(-0.0)));
  EXPECT_FALSE(num(true)->isEqual(num(2)));
  EXPECT_FALSE(num(3)->isEqual(num(3.5)));
  EXPECT_FALSE(num(1)->isEqual(nan()));
}

TEST_F(BaseNumberEqualityTest, SameStoredTypeByBits)
{
  EXPECT_FALSE(num(0.0)->isEqual(num(-0.0)));
  EXPECT_TRUE(nan()->isEqual(nan()));
  EXPECT_FALSE(nan()->isEqual(num(doubleOfBits(0x7FF8000000000000ull))));
  EXPECT_TRUE(num(5)->isEqual(num(5u)));
  EXPECT_TRUE(num(5)->isEqual(num(5ll)));
  EXPECT_FALSE(num(-1)->isEqual(num(4294967295u)));
}

TEST_F(BaseNumberEqualityTest, OnlyNumbersCanBeEqual)
{
  EXPECT_FALSE(num(1)->isEqual(new (eRetainAutorelease) BaseString("1")));
  EXPECT_FALSE(num(1)->isEqual(nullptr));
}

TEST_F(BaseNumberEqualityTest, HashFollowsEqualityWithinAStoredType)
{
  EXPECT_EQ(num(5)->hash(), num(5ll)->hash());
  EXPECT_EQ(num(5u)->hash(), num(5)->hash());
  EXPECT_EQ(nan()->hash(), nan()->hash());
  EXPECT_EQ(num(2.5)->hash(), num(2.5)->hash());
  EXPECT_EQ(num(true)->hash(), num(true)->hash());
  // Equal across stored types, hashed apart.
  EXPECT_EQ(num(1)->hash(), 1u);
  EXPECT_EQ(num(1.0)->hash(), 0x3FF00000u);
  EXPECT_EQ(num(-0.0)->hash(), 0x80000000u);
  EXPECT_EQ(num(0.0)->hash(), 0u);
}

class BaseNumberOrderTest : public BaseNumberTest
{
};

TEST_F(BaseNumberOrderTest, PositiveWhenTheReceiverGoesFirst)
{
  EXPECT_EQ(num(1)->compare(num(2)), 1);
  EXPECT_EQ(num(2)->compare(num(1)), -1);
  EXPECT_EQ(num(1)->compare(num(2.5)), 1);
  EXPECT_EQ(num(2.5)->compare(num(1)), -1);
  EXPECT_EQ(num(1)->compare(num(true)), 0);
  EXPECT_EQ(num(false)->compare(num(true)), 1);
  EXPECT_EQ(num(true)->compare(num(false)), -1);
  EXPECT_EQ(num(-1.5)->compare(num(-2.5)), -1);
  EXPECT_EQ(num(0.0)->compare(num(-0.0)), 0);
}

TEST_F(BaseNumberOrderTest, IntegersCompareExactly)
{
  // Both round to the same double; as integers they differ.
  EXPECT_EQ(num(9007199254740993ll)->compare(num(9007199254740992ll)), -1);
  EXPECT_EQ(num(-1)->compare(num(4294967295u)), 1);
  EXPECT_EQ(num(std::numeric_limits<long long>::min())->compare(num(0)), 1);
}

TEST_F(BaseNumberOrderTest, NaNOrdersWithNothing)
{
  EXPECT_EQ(nan()->compare(num(1)), 0);
  EXPECT_EQ(num(1.0)->compare(nan()), 0);
  EXPECT_EQ(nan()->compare(num(true)), 0);
}

TEST_F(BaseNumberOrderTest, OtherClassesByClassName)
{
  BaseString* string = new (eRetainAutorelease) BaseString("0");
  EXPECT_GT(num(1)->compare(string), 0);  // "BaseNumber" before "BaseString"
  EXPECT_LT(string->compare(num(1)), 0);
}

TEST_F(BaseNumberOrderTest, SortsAscendingAcrossStoredTypes)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  array->addObject(num(3));
  array->addObject(num(1.5));
  array->addObject(num(-2ll));
  array->addObject(num(true));
  array->addObject(num(0.25));
  array->sortArray();
  EXPECT_EQ(text(array, BaseObject::eToStringJSON), "[ -2, 0.25, true, 1.5, 3 ]");
}

class BaseNumberTextTest : public BaseNumberTest
{
};

TEST_F(BaseNumberTextTest, DoublesAsPrintfSixteenDigits)
{
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {1.0 / 3, 1e20, 0.1,  -0.0, 1e-300, 2.5e-5, 123456789012345678.0,
                           1e15,    1e16, -inf, inf};
  for (double value : values) {
    char expected[64];
    snprintf(expected, sizeof expected, "%.16g", value);
    EXPECT_EQ(text(num(value), BaseObject::eToStringJSON), expected) << expected;
  }
  EXPECT_EQ(text(num(1.0 / 3), BaseObject::eToStringJSON), "0.3333333333333333");
  EXPECT_EQ(text(num(1e20), BaseObject::eToStringJSON), "1e+20");
  EXPECT_EQ(text(num(-0.0)), "-0");
  EXPECT_EQ(text(num(inf), BaseObject::eToStringLua), "inf");
  EXPECT_EQ(text(num(doubleOfBits(0xFFF8000000000000ull))), "-nan");
}

TEST_F(BaseNumberTextTest, SameTextInPlainJsonAndLua)
{
  for (int format : {BaseObject::eToStringPlain, BaseObject::eToStringJSON, BaseObject::eToStringLua}) {
    EXPECT_EQ(text(num(42), format), "42");
    EXPECT_EQ(text(num(false), format), "false");
    EXPECT_EQ(text(num(2.5), format), "2.5");
  }
}

TEST_F(BaseNumberTextTest, XmlElements)
{
  EXPECT_EQ(text(num(true), BaseObject::eToStringXML), "<true />");
  EXPECT_EQ(text(num(false), BaseObject::eToStringXML), "<false />");
  EXPECT_EQ(text(num(42), BaseObject::eToStringXML), "<number>42</number>");
  EXPECT_EQ(text(num(-0.5), BaseObject::eToStringXML), "<number>-0.5</number>");
  EXPECT_EQ(text(nan(), BaseObject::eToStringXML), "<number>nan</number>");
}

TEST_F(BaseNumberTextTest, Decoration)
{
  BaseNumber* number = num(42);
  EXPECT_EQ(text(number, BaseObject::eToStringLua | BaseObject::eToStringClassName), "-- BaseNumber \n42");
  EXPECT_EQ(text(number, BaseObject::eToStringXML | BaseObject::eToStringClassName),
            "<!-- BaseNumber -->\n<number>42</number>");
  // A number has no entries to count.
  EXPECT_EQ(text(number, BaseObject::eToStringJSON | BaseObject::eToStringEntryCount), "42");
  BaseNumber* flag = num(true);
  char expected[96];
  snprintf(expected, sizeof expected, "BaseNumber @%p  :\ntrue", static_cast<void*>(flag));
  EXPECT_EQ(text(flag, BaseObject::eToStringClassName | BaseObject::eToStringAddress |
                           BaseObject::eToStringEntryCount),
            expected);
}

TEST_F(BaseNumberTextTest, FormatsAsItsLuaText)
{
  EXPECT_STREQ(BaseString::stringWithFormat("n=%@ b=%@", num(7), num(true))->cString(), "n=7 b=true");
}

// The host application may switch the process's locale; our texts must not follow it.
TEST_F(BaseNumberTextTest, DecimalPointWhateverTheLocale)
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
