#include "Platform/Foundation/Calendar.h"

#include <gtest/gtest.h>

using namespace kesto::fnd;

namespace {

Date utc(double unixSeconds) { return Date::withTimeIntervalSince1970(unixSeconds); }
TimeZone zone(const char* id) { return *TimeZone::named(id); }
constexpr unsigned kAllUnits = YearUnit | MonthUnit | DayUnit | HourUnit | MinuteUnit | SecondUnit | WeekdayUnit |
                               WeekdayOrdinalUnit | WeekOfYearUnit;

}  // namespace

TEST(Calendar, ComponentsOfADate) {
  auto cal = Calendar::gregorian(TimeZone::gmt(), Locale("en_US"));
  DateComponents c = cal.components(kAllUnits, utc(1393669230));  // Sat 2014-03-01 10:20:30 UTC
  EXPECT_EQ(c.year, 2014);
  EXPECT_EQ(c.month, 3);
  EXPECT_EQ(c.day, 1);
  EXPECT_EQ(c.hour, 10);
  EXPECT_EQ(c.minute, 20);
  EXPECT_EQ(c.second, 30);
  EXPECT_EQ(c.weekday, 7);  // Saturday; 1 is Sunday
  EXPECT_EQ(c.weekdayOrdinal, 1);
  EXPECT_EQ(c.weekOfYear, 9);
  EXPECT_EQ(c.era, kUndefinedComponent);  // not asked for
  EXPECT_EQ(cal.component(WeekdayUnit, utc(1394964000)), 1);  // Sun 2014-03-16
  EXPECT_EQ(cal.component(WeekdayOrdinalUnit, utc(1394964000)), 3);
  // The same instant is already Sunday at +14:00.
  cal.setTimeZone(zone("Pacific/Kiritimati"));
  EXPECT_EQ(cal.component(WeekdayUnit, utc(1393669230)), 1);
}

TEST(Calendar, WeekNumbersFollowTheLocaleRules) {
  Date newYear = utc(1325419200);  // Sunday 2012-01-01 12:00 UTC
  auto us = Calendar::gregorian(TimeZone::gmt(), Locale("en_US"));
  auto de = Calendar::gregorian(TimeZone::gmt(), Locale("de_DE"));
  EXPECT_EQ(us.firstWeekday(), 1);
  EXPECT_EQ(de.firstWeekday(), 2);
  EXPECT_EQ(de.minimumDaysInFirstWeek(), 4);
  EXPECT_EQ(us.component(WeekOfYearUnit, newYear), 1);
  EXPECT_EQ(de.component(WeekOfYearUnit, newYear), 52);  // ISO week of 2011
  EXPECT_EQ(de.component(YearForWeekOfYearUnit, newYear), 2011);
  us.setFirstWeekday(2);
  us.setMinimumDaysInFirstWeek(4);
  EXPECT_EQ(us.component(WeekOfYearUnit, newYear), 52);
  // Week starts: Sunday in the US, Monday in Germany.
  Date wednesday = utc(1325678400);  // 2012-01-04 12:00 UTC
  EXPECT_EQ(Calendar::gregorian(TimeZone::gmt(), Locale("en_US")).startOfWeek(wednesday), utc(1325376000));
  EXPECT_EQ(de.startOfWeek(wednesday), utc(1325462400));
}

TEST(Calendar, StartOfDayAndMonthAcrossDaylightSaving) {
  auto berlin = Calendar::gregorian(zone("Europe/Berlin"));
  // 2014-03-30 is 23 hours long in Berlin; its midnight is still at +0100.
  Date afternoon = utc(1396184400);  // 2014-03-30 13:00 UTC = 15:00 CEST
  EXPECT_EQ(berlin.startOfDay(afternoon), utc(1396134000));  // 2014-03-29 23:00 UTC
  EXPECT_EQ(berlin.startOfMonth(afternoon), utc(1393628400));  // 2014-02-28 23:00 UTC
  EXPECT_TRUE(berlin.isSameDay(afternoon, utc(1396134000)));
  EXPECT_FALSE(berlin.isSameDay(afternoon, utc(1396134000 - 1)));
  // One calendar day from midnight to midnight is 23 hours here.
  DateComponents oneDay;
  oneDay.day = 1;
  EXPECT_EQ(berlin.dateByAdding(oneDay, utc(1396134000)), utc(1396134000 + 23 * 3600));
  // Chatham's day starts at 00:00 +1345 in January.
  auto chatham = Calendar::gregorian(zone("Pacific/Chatham"));
  EXPECT_EQ(chatham.startOfDay(utc(1389787200)), utc(1389787200 - (1 * 3600 + 45 * 60)));
}

TEST(Calendar, ArithmeticAndDifferences) {
  auto cal = Calendar::gregorian(TimeZone::gmt());
  DateComponents month;
  month.month = 1;
  EXPECT_EQ(cal.dateByAdding(month, utc(1391126400)), utc(1393545600));  // Jan 31 2014 -> Feb 28
  DateComponents back;
  back.year = -1;
  back.hour = 2;
  EXPECT_EQ(cal.dateByAdding(back, utc(1330473600)), utc(1298851200 + 7200));  // Feb 29 2012 -> Feb 28 2011 02:00

  DateComponents diff = cal.components(MonthUnit | DayUnit | HourUnit, utc(1391126400), utc(1393682400));
  EXPECT_EQ(diff.month, 1);  // Jan 31 -> Feb 28 ...
  EXPECT_EQ(diff.day, 1);    // ... -> Mar 1 ...
  EXPECT_EQ(diff.hour, 14);  // ... 14:00
  DateComponents negative = cal.components(DayUnit, utc(1393682400), utc(1391126400));
  EXPECT_EQ(negative.day, -29);
  DateComponents weeks = cal.components(WeekOfYearUnit | DayUnit, utc(0), utc(20 * 86400));
  EXPECT_EQ(weeks.weekOfYear, 2);
  EXPECT_EQ(weeks.day, 6);

  DateComponents parts;
  parts.year = 2014;
  parts.month = 3;
  parts.day = 1;
  parts.hour = 10;
  parts.minute = 20;
  parts.second = 30;
  EXPECT_EQ(cal.dateFromComponents(parts), utc(1393669230));
  parts.month = 14;  // out-of-range fields roll over
  parts.day = 1;
  EXPECT_EQ(cal.dateFromComponents(parts), utc(1422786030));  // 2015-02-01
}

TEST(Calendar, CurrentCalendarFollowsTheInjectedLocaleAndZone) {
  Locale::setCurrent("ja_JP@calendar=japanese");
  ASSERT_TRUE(TimeZone::setLocal("Asia/Tokyo"));
  Calendar jp = Calendar::current();
  EXPECT_EQ(jp.identifier(), "japanese");
  EXPECT_EQ(jp.component(YearUnit, utc(1393669230)), 26);  // Heisei 26
  EXPECT_EQ(jp.component(HourUnit, utc(1393669230)), 19);
  Locale::setCurrent("th_TH");
  EXPECT_EQ(Calendar::current().identifier(), "buddhist");
  EXPECT_EQ(Calendar::current().component(YearUnit, utc(1393669230)), 2557);
  EXPECT_EQ(Calendar::gregorian(TimeZone::local(), Locale::current()).component(YearUnit, utc(1393669230)), 2014);
  Locale::setCurrent("");
  TimeZone::setLocal("");
}
