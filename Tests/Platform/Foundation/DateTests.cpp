#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/TimeZone.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kesto::fnd;

namespace {

// 2014-03-01 10:20:30 UTC.
const Date kSample = Date::withTimeIntervalSince1970(1393669230);

TimeZone zone(const char* id) { return *TimeZone::named(id); }

// Restores the process locale and zone after a test changes them.
struct ScopedLocaleAndZone {
  ScopedLocaleAndZone(const char* locale, const char* tz) {
    Locale::setCurrent(locale);
    EXPECT_TRUE(TimeZone::setLocal(tz));
  }
  ~ScopedLocaleAndZone() {
    Locale::setCurrent("");
    TimeZone::setLocal("");
  }
};

}  // namespace

TEST(Date, DescriptionFormIsUtcWholeSeconds) {
  EXPECT_EQ(Date(0).description(), "2001-01-01 00:00:00 +0000");
  EXPECT_EQ(kSample.description(), "2014-03-01 10:20:30 +0000");
  EXPECT_EQ(kSample.dateByAddingTimeInterval(0.999).description(), "2014-03-01 10:20:30 +0000");
  EXPECT_EQ(Date::withTimeIntervalSince1970(-1).description(), "1969-12-31 23:59:59 +0000");
  EXPECT_EQ(Date::withTimeIntervalSince1970(951782400).description(), "2000-02-29 00:00:00 +0000");
  EXPECT_EQ(dateFromDescription("2014-03-01 10:20:30 +0000"), kSample);
  EXPECT_EQ(dateFromDescription(kSample.description()), kSample);
}

TEST(DateFormatter, FixedPatternsReadAndWriteExactText) {
  EXPECT_EQ(dateFromDescription("2014-03-01 10:20:30 +0100"), kSample.dateByAddingTimeInterval(-3600));
  auto server = DateFormatter::fixed("yyyy-MM-dd'T'HH:mm:ss.SSSZ", TimeZone::gmt());
  EXPECT_EQ(server.stringFromDate(Date(0)), "2001-01-01T00:00:00.000+0000");
  EXPECT_EQ(server.dateFromString("2014-03-01T11:20:30.250+0100"), kSample.dateByAddingTimeInterval(0.25));
  auto service = DateFormatter::fixed("yyyy-MM-dd'T'HH:mm:ss'Z'", TimeZone::utc());
  EXPECT_EQ(service.dateFromString("2014-03-01T10:20:30Z"), kSample);
  EXPECT_EQ(DateFormatter::fixed("yyyy-MM-dd").dateFromString("2014-03-01"), kSample.dateByAddingTimeInterval(-37230));
  EXPECT_EQ(DateFormatter::fixed("yyyy-MM-dd HH:mm").stringFromDate(kSample), "2014-03-01 10:20");
  EXPECT_EQ(DateFormatter::fixed("hh:mm a").stringFromDate(kSample.dateByAddingTimeInterval(3 * 3600)), "01:20 PM");
  auto http = DateFormatter::fixed("EEE, dd MMM yyyy HH:mm:ss Z");
  EXPECT_EQ(http.stringFromDate(kSample), "Sat, 01 Mar 2014 10:20:30 +0000");
  EXPECT_EQ(http.dateFromString("Sat, 01 Mar 2014 11:20:30 +0100"), kSample);
}

TEST(DateFormatter, ParsingIsStrict) {
  auto f = DateFormatter::fixed("yyyy-MM-dd HH:mm:ss ZZZ");
  EXPECT_FALSE(f.dateFromString(""));
  EXPECT_FALSE(f.dateFromString("2014-03-01 10:20:30 +0000 trailing"));
  EXPECT_FALSE(f.dateFromString("2014-03-01 10:20:30"));
  EXPECT_FALSE(f.dateFromString("2014-13-01 10:20:30 +0000"));
  EXPECT_FALSE(f.dateFromString("2014-02-30 10:20:30 +0000"));
  EXPECT_FALSE(f.dateFromString("not a date"));
  EXPECT_FALSE(DateFormatter().dateFromString("2014"));  // neither pattern nor style
  EXPECT_EQ(DateFormatter().stringFromDate(kSample), "");
  f.setLenient(true);
  EXPECT_TRUE(f.dateFromString("2014-13-01 10:20:30 +0000"));
}

TEST(DateFormatter, FixedPatternsIgnoreTheUserCalendarAndLocale) {
  ScopedLocaleAndZone scope("th_TH", "Asia/Bangkok");
  EXPECT_EQ(DateFormatter::fixed("yyyy-MM-dd HH:mm:ss ZZZ").stringFromDate(kSample), "2014-03-01 10:20:30 +0000");
  EXPECT_EQ(dateFromDescription("2014-03-01 10:20:30 +0000"), kSample);
  // The same pattern in the user's locale counts Buddhist-era years and Thai month names.
  DateFormatter user;
  user.setDateFormat("yyyy");
  EXPECT_EQ(user.timeZone().identifier(), "Asia/Bangkok");
  EXPECT_EQ(user.stringFromDate(kSample), "2557");

  Locale::setCurrent("ja_JP@calendar=japanese");
  DateFormatter era;
  era.setDateFormat("Gy");
  EXPECT_EQ(era.stringFromDate(kSample), "\xE5\xB9\xB3\xE6\x88\x90" "26");  // Heisei 26
  EXPECT_EQ(DateFormatter::fixed("Gy").stringFromDate(kSample), "AD2014");
}

TEST(DateFormatter, StylesFollowTheGivenLocale) {
  auto medium = DateFormatter::styled(DateFormatterStyle::Medium, DateFormatterStyle::None, TimeZone::gmt(),
                                      Locale("en_US"));
  EXPECT_EQ(medium.stringFromDate(Date::withTimeIntervalSince1970(1796428800)), "Dec 5, 2026");
  medium.setLocale(Locale("de_DE"));
  EXPECT_EQ(medium.stringFromDate(Date::withTimeIntervalSince1970(1796428800)), "05.12.2026");
  // Late in the GMT day is still that day, whatever the local zone.
  EXPECT_EQ(DateFormatter::styled(DateFormatterStyle::Medium, DateFormatterStyle::None, TimeZone::gmt(),
                                  Locale("en_US"))
                .stringFromDate(Date::withTimeIntervalSince1970(1796428800 + 86399)),
            "Dec 5, 2026");
  DateFormatter longDate;
  longDate.setLocale(Locale("fr_FR"));
  longDate.setTimeZone(TimeZone::gmt());
  longDate.setDateFormat("MMMM dd, yyyy");
  EXPECT_EQ(longDate.stringFromDate(kSample), "mars 01, 2014");
  longDate.setLocale(Locale("en_US"));
  EXPECT_EQ(longDate.stringFromDate(kSample), "March 01, 2014");
  // Setting a style drops the pattern.
  longDate.setDateStyle(DateFormatterStyle::Short);
  EXPECT_EQ(longDate.dateFormat(), "");
  EXPECT_EQ(longDate.stringFromDate(kSample), "3/1/14");
}

TEST(DateFormatter, ChathamOffsetsIncludeQuarterHoursAndDaylightSaving) {
  auto chatham = zone("Pacific/Chatham");
  Date summer = Date::withTimeIntervalSince1970(1389787200);  // 2014-01-15 12:00 UTC
  Date winter = Date::withTimeIntervalSince1970(1405425600);  // 2014-07-15 12:00 UTC
  EXPECT_EQ(chatham.secondsFromGMT(summer), 13 * 3600 + 45 * 60);
  EXPECT_EQ(chatham.secondsFromGMT(winter), 12 * 3600 + 45 * 60);
  EXPECT_TRUE(chatham.isDaylightSavingTime(summer));
  EXPECT_FALSE(chatham.isDaylightSavingTime(winter));
  auto f = DateFormatter::fixed("yyyy-MM-dd HH:mm ZZZ", chatham);
  EXPECT_EQ(f.stringFromDate(summer), "2014-01-16 01:45 +1345");
  EXPECT_EQ(f.stringFromDate(winter), "2014-07-16 00:45 +1245");
  auto local = DateFormatter::fixed("yyyy-MM-dd HH:mm", chatham);
  EXPECT_EQ(local.dateFromString("2014-01-16 01:45"), summer);
}

TEST(TimeZone, LookupAndInjection) {
  EXPECT_FALSE(TimeZone::named("Mars/Olympus_Mons"));
  EXPECT_FALSE(TimeZone::named(""));
  EXPECT_EQ(TimeZone::gmt().secondsFromGMT(kSample), 0);
  EXPECT_EQ(TimeZone::utc().secondsFromGMT(kSample), 0);
  EXPECT_EQ(TimeZone::withSecondsFromGMT(5400).secondsFromGMT(kSample), 5400);
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-3600).secondsFromGMT(kSample), -3600);
  EXPECT_FALSE(TimeZone::setLocal("Nowhere/Special"));
  ASSERT_TRUE(TimeZone::setLocal("Asia/Kolkata"));
  EXPECT_EQ(TimeZone::local().identifier(), "Asia/Kolkata");
  EXPECT_EQ(DateFormatter().timeZone().secondsFromGMT(kSample), 19800);
  TimeZone::setLocal("");
  EXPECT_NE(TimeZone::local().identifier(), "");
}

TEST(DateFormatter, ThreadFormattersAreKeptPerThread) {
  DateFormatter* mine = &DateFormatter::threadFormatter("yyyy");
  EXPECT_EQ(mine, &DateFormatter::threadFormatter("yyyy"));
  EXPECT_NE(mine, &DateFormatter::threadFormatter("yyyy", zone("Europe/Paris")));
  const DateFormatter* other = nullptr;
  std::string text;
  std::thread t([&] {
    other = &DateFormatter::threadFormatter("yyyy");
    for (int i = 0; i < 200; ++i) text = dateFromDescription("2014-03-01 10:20:30 +0000")->description();
  });
  for (int i = 0; i < 200; ++i) EXPECT_EQ(dateFromDescription("2014-03-01 10:20:30 +0000"), kSample);
  t.join();
  EXPECT_NE(mine, other);
  EXPECT_EQ(text, "2014-03-01 10:20:30 +0000");
}
