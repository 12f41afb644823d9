// Dates: reading and writing both calendar forms in UTC with English names whatever the
// process's time zone and locale (which the host application owns), the value of
// unreadable text, equality and ordering (the text forms: TextFormsTest).
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "object/BaseDate.h"
#include "support/CaptureStream.h"
#include "support/Locales.h"
#include "support/ValueTest.h"

namespace {

struct KnownDate
{
  long seconds;
  const char* iso;
  const char* rfc;
};

// Every month and every day of the week, on both sides of 2000.
const KnownDate KNOWN_DATES[] = {
    {1325401083, "2012-01-01T06:58:03Z", "Sun, 01 Jan 2012 06:58:03 GMT"},
    {917855826, "1999-02-01T07:57:06Z", "Mon, 01 Feb 1999 07:57:06 GMT"},
    {1331024169, "2012-03-06T08:56:09Z", "Tue, 06 Mar 2012 08:56:09 GMT"},
    {923478912, "1999-04-07T09:55:12Z", "Wed, 07 Apr 1999 09:55:12 GMT"},
    {1336042455, "2012-05-03T10:54:15Z", "Thu, 03 May 2012 10:54:15 GMT"},
    {928497198, "1999-06-04T11:53:18Z", "Fri, 04 Jun 1999 11:53:18 GMT"},
    {1341665541, "2012-07-07T12:52:21Z", "Sat, 07 Jul 2012 12:52:21 GMT"},
    {933515484, "1999-08-01T13:51:24Z", "Sun, 01 Aug 1999 13:51:24 GMT"},
    {1346683827, "2012-09-03T14:50:27Z", "Mon, 03 Sep 2012 14:50:27 GMT"},
    {939138570, "1999-10-05T15:49:30Z", "Tue, 05 Oct 1999 15:49:30 GMT"},
    {1352306913, "2012-11-07T16:48:33Z", "Wed, 07 Nov 2012 16:48:33 GMT"},
    {944156856, "1999-12-02T17:47:36Z", "Thu, 02 Dec 1999 17:47:36 GMT"},
    {1330837567, "2012-03-04T05:06:07Z", "Sun, 04 Mar 2012 05:06:07 GMT"},
    {1330473600, "2012-02-29T00:00:00Z", "Wed, 29 Feb 2012 00:00:00 GMT"},
    {0, "1970-01-01T00:00:00Z", "Thu, 01 Jan 1970 00:00:00 GMT"},
    {-1, "1969-12-31T23:59:59Z", "Wed, 31 Dec 1969 23:59:59 GMT"},
    {-2208988800, "1900-01-01T00:00:00Z", "Mon, 01 Jan 1900 00:00:00 GMT"},
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
  EXPECT_STREQ(BaseDate::getFormat(BaseDate::eFormatISO8601), "%Y-%m-%dT%H:%M:%SZ");
  EXPECT_STREQ(BaseDate::getFormat(BaseDate::eFormatRFC1123), "%a, %d %b %Y %H:%M:%S GMT");
  EXPECT_STREQ(BaseDate::getFormat(static_cast<BaseDate::eFormat>(7)), "%a, %d %b %Y %H:%M:%S GMT");
  // Whole seconds, truncated toward zero.
  EXPECT_EQ(text(date(1330837567.9)->getString(BaseDate::eFormatISO8601)), "2012-03-04T05:06:07Z");
  EXPECT_EQ(text(date(-0.5)->getString(BaseDate::eFormatISO8601)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(text(date(-1.5)->getString(BaseDate::eFormatISO8601)), "1969-12-31T23:59:59Z");
  EXPECT_EQ(text(BaseDate::dateToString(1330837567L, BaseDate::eFormatISO8601)), "2012-03-04T05:06:07Z");
  EXPECT_EQ(text(BaseDate::dateToString(1330837567L, static_cast<BaseDate::eFormat>(3))),
            "Sun, 04 Mar 2012 05:06:07 GMT");
  EXPECT_EQ(text(date(253402300800.0)->getString(BaseDate::eFormatISO8601)), "10000-01-01T00:00:00Z");
  LogCapture log;
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(text(date(std::nan(""))->getString(BaseDate::eFormatISO8601)), "");
  EXPECT_EQ(text(date(inf)->getString(BaseDate::eFormatRFC1123)), "");
  EXPECT_EQ(text(date(-1e300)->getString(BaseDate::eFormatRFC1123)), "");
  EXPECT_EQ(log.text(),
            "Warning: date of nan seconds has no calendar form\n"
            "Warning: date of inf seconds has no calendar form\n"
            "Warning: date of -1e+300 seconds has no calendar form\n");
}

TEST_F(BaseDateTest, ReadingBothPatterns)
{
  EXPECT_EQ(date("2012-03-04T05:06:07Z")->getSeconds(), 1330837567.0);
  EXPECT_EQ(date("Sun, 04 Mar 2012 05:06:07 GMT")->getSeconds(), 1330837567.0);
  // Names in any case, full or short.
  EXPECT_EQ(date("sun, 04 MAR 2012 05:06:07 GMT")->getSeconds(), 1330837567.0);
  EXPECT_EQ(date("Sunday, 04 March 2012 05:06:07 GMT")->getSeconds(), 1330837567.0);
  EXPECT_EQ(date("WEDNESDAY, 01 september 1999 00:00:00 GMT")->getSeconds(), 936144000.0);
  // The day name is not checked against the date.
  EXPECT_EQ(date("Fri, 04 Mar 2012 05:06:07 GMT")->getSeconds(), 1330837567.0);
  // Lenient where strptime is.
  EXPECT_EQ(date("2012-3-4T5:6:7Z")->getSeconds(), 1330837567.0);
  EXPECT_EQ(date("  2012-03-04T05:06:07Z\r\n")->getSeconds(), 1330837567.0);
  EXPECT_EQ(date("Sun,04   Mar 2012 05:06:07GMT")->getSeconds(), 1330837567.0);
  // A leap second counts as the first second of the next minute.
  EXPECT_EQ(date("2012-06-30T23:59:60Z")->getSeconds(), 1341100800.0);
}

TEST_F(BaseDateTest, UnreadableTextLeavesTheDateUnchanged)
{
  const char* const unreadable[] = {"yesterday",
                                    "",
                                    "2012-03-04T05:06:07",
                                    "2012-03-04 05:06:07Z",
                                    "2012-03-04T05:06:07Z trailing",
                                    "2012-03-04T05:06:07z",
                                    "2012-13-04T05:06:07Z",
                                    "2012-00-04T05:06:07Z",
                                    "2013-02-29T00:00:00Z",
                                    "2012-04-31T00:00:00Z",
                                    "2012-03-04T24:00:00Z",
                                    "2012-03-04T05:60:00Z",
                                    "2012-03-04T05:06:61Z",
                                    "-2012-03-04T05:06:07Z",
                                    "Sun, 04 Mar 2012 05:06:07 UTC",
                                    "Sun, 04 Mrz 2012 05:06:07 GMT",
                                    "So, 04 Mar 2012 05:06:07 GMT",
                                    "Sun, 04 Mar 2012 05:06 GMT",
                                    "Sun, 04 Mar 2012 05:06:07 GMT+1",
                                    "Su, 04 Mar 2012 05:06:07 GMT",
                                    "Sun, 04 Ma 2012 05:06:07 GMT",
                                    "10000-01-01T00:00:00Z"};
  BaseDate* value = date(1234.5);
  for (const char* garbage : unreadable) {
    EXPECT_FALSE(value->set(garbage)) << garbage;
    EXPECT_EQ(value->getSeconds(), 1234.5) << garbage;
  }
  EXPECT_FALSE(value->set(nullptr));
  EXPECT_EQ(value->getSeconds(), 1234.5);
  // As the constructor's text, unreadable text makes the epoch.
  LogCapture log;
  EXPECT_EQ(date("yesterday")->getSeconds(), 0.0);
  EXPECT_EQ(date(static_cast<const char*>(nullptr))->getSeconds(), 0.0);
  EXPECT_EQ(log.text(),
            "Warning: unknown date format for 'yesterday', using 1970-01-01T00:00:00Z\n"
            "Warning: unknown date format for '(null)', using 1970-01-01T00:00:00Z\n");
}

TEST_F(BaseDateTest, NowInWholeSeconds)
{
  time_t before = time(nullptr);
  BaseDate* now = new (eRetainAutorelease) BaseDate();
  time_t after = time(nullptr);
  EXPECT_EQ(now->getSeconds(), std::trunc(now->getSeconds()));
  EXPECT_GE(now->getSeconds(), static_cast<double>(before));
  EXPECT_LE(now->getSeconds(), static_cast<double>(after));
}

TEST_F(BaseDateTest, EqualityHashAndOrderBySeconds)
{
  EXPECT_TRUE(date(1330837567.0)->isEqual(date("2012-03-04T05:06:07Z")));
  EXPECT_FALSE(date(1330837567.0)->isEqual(date(1330837567.5)));
  EXPECT_FALSE(date(1.0)->isEqual(new (eRetainAutorelease) BaseNumber(1.0)));
  EXPECT_FALSE(date(1.0)->isEqual(nullptr));
  EXPECT_FALSE(date(std::nan(""))->isEqual(date(std::nan(""))));
  EXPECT_TRUE((new (eRetainAutorelease) BaseDate(5L))->isEqual(date(5.0)));
  EXPECT_EQ(date(1330837567.0)->hash(), 0x4E13D4BEu);  // 0x41D3D4BE ^ 0x0FC00000
  EXPECT_EQ(date(0.0)->hash(), 0u);
  // Equal dates hash alike, the two zeros included.
  EXPECT_TRUE(date(-0.0)->isEqual(date(0.0)));
  EXPECT_EQ(date(-0.0)->hash(), date(0.0)->hash());
  // Positive when the receiver is earlier.
  EXPECT_EQ(date(1.0)->compare(date(2.0)), 1);
  EXPECT_EQ(date(2.0)->compare(date(1.0)), -1);
  EXPECT_EQ(date(2.0)->compare(date(2.0)), 0);
  EXPECT_EQ(date(-5.0)->compare(date(0.0)), 1);
  EXPECT_EQ(date(std::nan(""))->compare(date(0.0)), 0);
  BaseNumber* number = new (eRetainAutorelease) BaseNumber(0.0);
  EXPECT_GT(date(0.0)->compare(number), 0);  // "BaseDate" before "BaseNumber"
  EXPECT_LT(number->compare(date(0.0)), 0);
}

TEST_F(BaseDateTest, IndependentOfTheTimeZone)
{
  const char* saved = getenv("TZ");
  std::string previous = saved ? saved : "";
  // Ten and a half hours east of UTC, with summer time; needs no zone database.
  setenv("TZ", "CRV-10:30CRS,M10.1.0,M4.1.0/3", 1);
  tzset();
  time_t probe = 1330837567;
  struct tm local;
  localtime_r(&probe, &local);
  EXPECT_NE(local.tm_hour, 5) << "the zone did not take effect";

  expectKnownDates();
  EXPECT_EQ(text(date(1330837567.0), BaseObject::eToStringPlain), "Sun, 04 Mar 2012 05:06:07 GMT");

  if (saved)
    setenv("TZ", previous.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(BaseDateTest, EnglishNamesWhateverTheLocale)
{
  std::string previous = setlocale(LC_ALL, nullptr);
  const char* found = switchToNonEnglishLocale();
  if (!found) GTEST_SKIP() << "no non-English locale is installed";
  char localMonth[32];
  struct tm march = {};
  march.tm_mon = 2;
  strftime(localMonth, sizeof localMonth, "%b", &march);

  expectKnownDates();
  std::string json = text(date(0.5), BaseObject::eToStringJSON);
  setlocale(LC_ALL, previous.c_str());
  EXPECT_STRNE(localMonth, "Mar") << found << " names March like English";
  EXPECT_EQ(json, "0.5");
}

}  // namespace
