#include "Model/Unused/BRWAPIClient.h"
#include "Model/DateAdditions.h"

#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/TimeZone.h"

#include <gtest/gtest.h>

namespace kesto {
namespace {

using namespace brightwren;

// A fixed "now" and a chosen local zone for each test.
class DateAdditionsTest : public ::testing::Test {
 protected:
  void SetUp() override { fnd::TimeZone::setLocal("Pacific/Chatham"); }
  void TearDown() override {
    fnd::setClock({});
    fnd::TimeZone::setLocal("");
  }
  static fnd::Date gmt(const char* text) { return *dateFromStringIgnoringTimezoneIncludingTime(text); }
  void setNow(fnd::Date d) {
    fnd::setClock([d] { return d; });
  }
};

TEST_F(DateAdditionsTest, FixedTextFormats) {
  auto d = dateFromString("2014-03-01 10:20:30 +0100");
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, gmt("2014-03-01 09:20").dateByAddingTimeInterval(30));
  EXPECT_EQ(dateToServerString(fnd::Date(0)), "2001-01-01T00:00:00.000+0000");
  auto s = dateFromServerString("2001-01-01T01:00:00.500+0100");
  ASSERT_TRUE(s);
  EXPECT_DOUBLE_EQ(s->timeIntervalSinceReferenceDate(), 0.5);
  EXPECT_EQ(dateFromStringIgnoringTimezone("2001-01-02"), fnd::Date(86400));
  EXPECT_EQ(formattedTimeFromDate(fnd::Date(13 * 3600 + 5 * 60)), "01:05 PM");
  EXPECT_FALSE(dateFromString("yesterday").has_value());
  EXPECT_FALSE(dateFromStringIgnoringTimezone("2001-01-02 10:00").has_value());
}

TEST_F(DateAdditionsTest, FixedFormatsIgnoreTheUsersLocaleAndCalendar) {
  // A Buddhist-calendar locale with native digits must not change how sync dates read.
  fnd::Locale::setCurrent("th_TH@calendar=buddhist;numbers=thai");
  auto d = dateFromString("2014-03-01 10:20:30 +0000");
  ASSERT_TRUE(d);
  EXPECT_EQ(dateToServerString(*d), "2014-03-01T10:20:30.000+0000");
  fnd::Locale::setCurrent("");
}

TEST_F(DateAdditionsTest, ArithmeticAndComparisons) {
  fnd::Date d(1000000);
  EXPECT_EQ(dateBySubtractingDays(d, 1), fnd::Date(1000000 - 86400));
  EXPECT_EQ(dateByAddingHours(d, -2), fnd::Date(1000000 - 7200));
  EXPECT_EQ(dateBySubtractingMinutes(d, -1), fnd::Date(1000060));
  EXPECT_TRUE(isEarlierThanDate(d, d));
  EXPECT_TRUE(isLaterThanDate(d, d));
  EXPECT_FALSE(isEarlierThanDate(d, fnd::Date(0)));
  EXPECT_EQ(daysAfterDate(d, fnd::Date(1000000 - 86400 * 2 + 1)), 1);
  EXPECT_EQ(hoursBeforeDate(d, fnd::Date(1000000 - 5400)), -1);
}

TEST_F(DateAdditionsTest, CalendarTestsUseTheLocalDay) {
  // 2020-06-10 22:00 GMT is 2020-06-11 10:45 in Chatham (+12:45 in June).
  fnd::Date now = gmt("2020-06-10 22:00");
  setNow(now);
  EXPECT_EQ(day(now), 11);
  EXPECT_TRUE(isToday(now));
  EXPECT_TRUE(isYesterday(gmt("2020-06-10 11:00")));   // 23:45 on the 10th locally
  EXPECT_FALSE(isToday(gmt("2020-06-10 11:00")));
  EXPECT_TRUE(isTomorrow(gmt("2020-06-11 13:00")));
  EXPECT_EQ(dateAtStartOfDay(now), gmt("2020-06-10 11:15"));
  EXPECT_EQ(dateAtStartOfMonth(fnd::Date(0)), dateAtStartOfMonth(now));
  EXPECT_EQ(dateAtStartOfMonth(now), gmt("2020-05-31 11:15"));
}

TEST_F(DateAdditionsTest, WeekAndYearTests) {
  fnd::Date now = gmt("2021-06-16 00:00");  // a Wednesday
  setNow(now);
  EXPECT_TRUE(isThisWeek(now));
  EXPECT_TRUE(isSameWeekAsDate(now, now.dateByAddingTimeInterval(86400 * 2)));
  // Equal week numbers a year apart are not the same week.
  EXPECT_FALSE(isSameWeekAsDate(gmt("2021-06-16 00:00"), gmt("2020-06-17 00:00")));
  EXPECT_TRUE(isNextWeek(now.dateByAddingTimeInterval(86400 * 7)));
  EXPECT_TRUE(isLastWeek(now.dateByAddingTimeInterval(-86400 * 7)));
  EXPECT_FALSE(isNextWeek(now.dateByAddingTimeInterval(86400 * 60)));
  // Earlier this year but another week: still this year.
  EXPECT_TRUE(isThisYear(gmt("2021-02-01 00:00")));
  EXPECT_FALSE(isThisYear(gmt("2020-02-01 00:00")));
  EXPECT_TRUE(isLastYear(gmt("2020-02-01 00:00")));
  EXPECT_TRUE(isNextYear(gmt("2022-02-01 00:00")));
}


TEST(BRWAPIClientTest, UpdatesWhenTheLocalCopyIsNotLater) {
  auto& client = BRWAPIClient::sharedInstance();
  EXPECT_EQ(&client, &BRWAPIClient::sharedInstance());
  EXPECT_TRUE(client.shouldUpdateFromServerGivenRemoteDate(fnd::Date(10), fnd::Date(5)));
  EXPECT_TRUE(client.shouldUpdateFromServerGivenRemoteDate(fnd::Date(10), fnd::Date(10)));
  EXPECT_FALSE(client.shouldUpdateFromServerGivenRemoteDate(fnd::Date(5), fnd::Date(10)));
}

}  // namespace
}  // namespace kesto
