// Dates: reading and writing both calendar forms in UTC with English names whatever the
// process's time zone and locale (which the host application owns), the value of
// unreadable text, equality and ordering (the text forms: TextFormsTest).
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "object/BaseDate.h"
#include "platform/Process.h"
#include "support/CaptureStream.h"
#include "support/Locales.h"
#include "support/ValueTest.h"

namespace {

struct KnownDate
{
  long long seconds;
  const char* iso;
  const char* rfc;
};

// Both sides of 2000, a leap day, before 1900 and the last four-digit year.
const KnownDate KNOWN_DATES[] = {
    {917855826, "1999-02-01T07:57:06Z", "Mon, 01 Feb 1999 07:57:06 GMT"},
    {1352306913, "2012-11-07T16:48:33Z", "Wed, 07 Nov 2012 16:48:33 GMT"},
    {1330473600, "2012-02-29T00:00:00Z", "Wed, 29 Feb 2012 00:00:00 GMT"},
    {-1, "1969-12-31T23:59:59Z", "Wed, 31 Dec 1969 23:59:59 GMT"},
    {-60825816000, "0042-07-04T12:00:00Z", "Fri, 04 Jul 0042 12:00:00 GMT"},
    {253402300799, "9999-12-31T23:59:59Z", "Fri, 31 Dec 9999 23:59:59 GMT"},
};

class BaseDateTest : public ValueTest
{
protected:
  static BaseDate* date(double seconds) { return new (eRetainAutorelease) BaseDate(seconds); }
  static BaseDate* date(const char* text) { return new (eRetainAutorelease) BaseDate(text); }

  // Every known date must print and read back as it would in UTC with English names.
  static void expectKnownDates()
  {
    for (const KnownDate& known : KNOWN_DATES) {
      BaseDate* value = date(static_cast<double>(known.seconds));
      EXPECT_EQ(text(value->getString(BaseDate::eFormatISO8601)), known.iso);
      EXPECT_EQ(text(value->getString(BaseDate::eFormatRFC1123)), known.rfc);
      BaseDate* parsed = date(0.5);
      EXPECT_TRUE(parsed->set(known.iso)) << known.iso;
      EXPECT_EQ(parsed->getSeconds(), static_cast<double>(known.seconds)) << known.iso;
      parsed = date(0.5);
      EXPECT_TRUE(parsed->set(known.rfc)) << known.rfc;
      EXPECT_EQ(parsed->getSeconds(), static_cast<double>(known.seconds)) << known.rfc;
    }
  }
};

TEST_F(BaseDateTest, BothTextFormsOfKnownDates)
{
  expectKnownDates();
  // Whole seconds, truncated toward zero.
  EXPECT_EQ(text(date(-0.5)->getString(BaseDate::eFormatISO8601)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(text(BaseDate::dateToString(1330837567L, BaseDate::eFormatISO8601)), "2012-03-04T05:06:07Z");
  LogCapture log;
  EXPECT_EQ(text(date(std::nan(""))->getString(BaseDate::eFormatISO8601)), "");
  EXPECT_EQ(text(date(1e17)->getString(BaseDate::eFormatISO8601)), "");
  EXPECT_EQ(log.text(),
            "Warning: date of nan seconds has no calendar form\n"
            "Warning: date of 1e+17 seconds has no calendar form\n");
}

TEST_F(BaseDateTest, ReadingLenientlyAndRefusingUnreadableText)
{
  // Names in any case, full or short; lenient where strptime is.
  EXPECT_EQ(date("Sunday, 04 MARCH 2012 05:06:07 GMT")->getSeconds(), 1330837567.0);
  EXPECT_EQ(date("  2012-3-4T5:6:7Z\r\n")->getSeconds(), 1330837567.0);
  // A leap second counts as the first second of the next minute.
  EXPECT_EQ(date("2012-06-30T23:59:60Z")->getSeconds(), 1341100800.0);
  BaseDate* value = date(1234.5);
  for (const char* garbage :
       {"2012-03-04T05:06:07", "2012-03-04T05:06:07Z trailing", "2013-02-29T00:00:00Z",
        "2012-03-04T24:00:00Z", "Sun, 04 Mrz 2012 05:06:07 GMT", "10000-01-01T00:00:00Z", "Sun, 04 Ma",
        "2012-00-04T05:06:07Z", (const char*)nullptr}) {
    EXPECT_FALSE(value->set(garbage)) << garbage;
    EXPECT_EQ(value->getSeconds(), 1234.5) << garbage;
  }
  // As the constructor's text, unreadable text makes the epoch.
  LogCapture log;
  EXPECT_EQ(date("yesterday")->getSeconds(), 0.0);
  EXPECT_EQ(log.text(), "Warning: unknown date format for 'yesterday', using 1970-01-01T00:00:00Z\n");
}

TEST_F(BaseDateTest, NowEqualityHashAndOrder)
{
  time_t before = time(nullptr);
  BaseDate* now = new (eRetainAutorelease) BaseDate();
  EXPECT_EQ(now->getSeconds(), std::trunc(now->getSeconds()));
  EXPECT_GE(now->getSeconds(), static_cast<double>(before));
  EXPECT_TRUE(date(1330837567.0)->isEqual(date("2012-03-04T05:06:07Z")));
  EXPECT_FALSE(date(1330837567.0)->isEqual(date(1330837567.5)) || date(0.0)->isEqual(num(0)));
  EXPECT_EQ(date(0.0)->hash(), date(-0.0)->hash());
  EXPECT_GT(date(0.0)->compare(num(0)), 0);            // by class name
  EXPECT_EQ(date(1330837567.0)->hash(), 0x4E13D4BEu);  // 0x41D3D4BE ^ 0x0FC00000
  // Positive when the receiver is earlier.
  EXPECT_EQ(date(1.0)->compare(date(2.0)), 1);
  EXPECT_EQ(date(2.0)->compare(date(1.0)) + date(2.0)->compare(date(2.0)), -1);
}

// The host application owns the time zone and the locale; neither may change our texts.
TEST_F(BaseDateTest, IndependentOfTheTimeZoneAndTheLocale)
{
  const char* saved = getenv("TZ");
  std::string previous = saved ? saved : "";
  // Ten and a half hours east of UTC, with summer time; needs no zone database.
  platform::setEnvironmentVariable("TZ", "CRV-10:30CRS,M10.1.0,M4.1.0/3");
  tzset();
  expectKnownDates();
  platform::setEnvironmentVariable("TZ", saved ? previous.c_str() : nullptr);
  tzset();

  std::string locale = setlocale(LC_ALL, nullptr);
  const char* found = switchToNonEnglishLocale();
  if (!found) GTEST_SKIP() << "no non-English locale is installed";
  expectKnownDates();
  setlocale(LC_ALL, locale.c_str());
}

}  // namespace
