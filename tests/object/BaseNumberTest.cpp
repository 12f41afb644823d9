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
  EXPECT_EQ(bitsOfDouble(nan()->getDouble()), 0x7FF0000080000001ull);  // the marked NaN
  EXPECT_EQ(num(4000000000u)->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(num(true)->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_EQ(num(4000000000u)->getDouble(), 4000000000.0);
  // Unsigned values are zero-extended, 64 bits kept whole; doubles truncate toward zero and
  // saturate, NaN reads 0.
  const std::tuple<BaseNumber*, long long, int> readings[] = {
      {num(4000000000u), 4000000000ll, -294967296}, {num(true), 1, 1}, {nan(), 0, 0}, {num(-2.9), -2, -2},
      {num(3e9), 3000000000ll, INT32_MAX}, {num(-1e300), INT64_MIN, INT32_MIN}, {num(inf), INT64_MAX, INT32_MAX}};
  for (auto [number, integer64, integer] : readings) {
    EXPECT_EQ(number->getInteger64(), integer64) << number->getDouble();
    EXPECT_EQ(number->getInteger(), integer) << number->getDouble();
  }
  EXPECT_TRUE(num(0.25)->getBoolean() && num(7)->getBoolean());
  EXPECT_FALSE(num(-0.0)->getBoolean() || num(0)->getBoolean() || num(false)->getDouble() != 0.0);

  BaseNumber* number = num(2.5);
  number->set(true);
  EXPECT_EQ(number->getInteger64(), 1);
  number->set(4294967295u);
  EXPECT_EQ(number->getInteger64(), 4294967295ll);
  number->set(-0.0);
  EXPECT_EQ(bitsOfDouble(number->getDouble()), 0x8000000000000000ull);
  number->setNumber(num(0x123456789ll));
  EXPECT_EQ(number->getInteger64(), 0x123456789ll);
}

TEST_F(BaseNumberTest, EqualityHashAndOrder)
{
  EXPECT_TRUE(num(3)->isEqual(num(3.0)));
  EXPECT_TRUE(num(true)->isEqual(num(1)));
  EXPECT_TRUE(nan()->isEqual(nan()));
  EXPECT_FALSE(num(0.0)->isEqual(num(-0.0)));
  EXPECT_FALSE(num(-1)->isEqual(num(4294967295u)));
  EXPECT_FALSE(num(1)->isEqual(str("1")));
  EXPECT_EQ(num(0x123456789ABCDEF0ll)->hash(), 0x12345678u ^ 0x9ABCDEF0u);
  EXPECT_EQ(num(2.5)->hash(), 0x40040000u);
  // Positive when the receiver goes first; NaN orders with nothing.
  EXPECT_EQ(num(1)->compare(num(2.5)), 1);
  EXPECT_EQ(num(true)->compare(num(false)), -1);
  EXPECT_EQ(num(9007199254740993ll)->compare(num(9007199254740992ll)), -1);
  EXPECT_EQ(nan()->compare(num(1)) + num(5)->compare(num(5)) + num(2.5)->compare(num(1.5)), -1);
  EXPECT_GT(num(1)->compare(str("0")), 0);
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
