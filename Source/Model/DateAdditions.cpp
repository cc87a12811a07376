#include "Model/DateAdditions.h"

#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/TimeZone.h"

#include <cmath>

namespace kesto::brightwren {

namespace {

constexpr double kDay = 86400, kHour = 3600, kMinute = 60, kWeek = 604800;

constexpr unsigned kAllUnits = fnd::YearUnit | fnd::MonthUnit | fnd::DayUnit | fnd::HourUnit | fnd::MinuteUnit |
                               fnd::SecondUnit | fnd::WeekOfYearUnit | fnd::WeekdayUnit | fnd::WeekdayOrdinalUnit;

fnd::DateComponents parts(fnd::Date d) { return fnd::Calendar::current().components(kAllUnits, d); }

std::int64_t truncated(double v) { return static_cast<std::int64_t>(std::trunc(v)); }

constexpr const char* kServerPattern = "yyyy-MM-dd'T'HH:mm:ss.SSSZ";

}  // namespace

fnd::Date dateWithDaysFromNow(std::int64_t days) { return fnd::Date::now().dateByAddingTimeInterval(days * kDay); }
fnd::Date dateWithDaysBeforeNow(std::int64_t days) { return fnd::Date::now().dateByAddingTimeInterval(-days * kDay); }
fnd::Date dateWithHoursFromNow(std::int64_t hours) { return fnd::Date::now().dateByAddingTimeInterval(hours * kHour); }
fnd::Date dateWithHoursBeforeNow(std::int64_t hours) { return fnd::Date::now().dateByAddingTimeInterval(-hours * kHour); }
fnd::Date dateWithMinutesFromNow(std::int64_t m) { return fnd::Date::now().dateByAddingTimeInterval(m * kMinute); }
fnd::Date dateWithMinutesBeforeNow(std::int64_t m) { return fnd::Date::now().dateByAddingTimeInterval(-m * kMinute); }
fnd::Date dateTomorrow() { return dateWithDaysFromNow(1); }
fnd::Date dateYesterday() { return dateWithDaysBeforeNow(1); }
fnd::Date dateNowUTC() { return dateToUTC(fnd::Date::now()); }

std::optional<fnd::Date> dateFromString(std::string_view text) {
  return fnd::DateFormatter::threadFormatter(fnd::kDescriptionDatePattern, fnd::TimeZone::local()).dateFromString(text);
}

std::optional<fnd::Date> dateFromServerString(std::string_view text) {
  return fnd::DateFormatter::threadFormatter(kServerPattern, fnd::TimeZone::local()).dateFromString(text);
}

std::optional<fnd::Date> dateUTCFromServerString(std::string_view text) {
  auto d = dateFromServerString(text);
  if (!d) return std::nullopt;
  return dateToUTC(*d);
}

std::string dateToServerString(fnd::Date date) {
  return fnd::DateFormatter::threadFormatter(kServerPattern, fnd::TimeZone::gmt()).stringFromDate(date);
}

std::optional<fnd::Date> dateFromStringIgnoringTimezone(std::string_view text) {
  return fnd::DateFormatter::threadFormatter("yyyy-MM-dd", fnd::TimeZone::gmt()).dateFromString(text);
}

std::optional<fnd::Date> dateFromStringIgnoringTimezoneIncludingTime(std::string_view text) {
  return fnd::DateFormatter::threadFormatter("yyyy-MM-dd HH:mm", fnd::TimeZone::gmt()).dateFromString(text);
}

std::string formattedTimeFromDate(fnd::Date date) {
  return fnd::DateFormatter::threadFormatter("hh:mm a", fnd::TimeZone::gmt()).stringFromDate(date);
}

std::string formattedDateFromDate(fnd::Date date) {
  // A display form: the user's locale is right here.
  return fnd::DateFormatter::styled(fnd::DateFormatterStyle::Medium, fnd::DateFormatterStyle::None, fnd::TimeZone::gmt())
      .stringFromDate(date);
}

fnd::Date dateToUTC(fnd::Date date) {
  return date.dateByAddingTimeInterval(-fnd::TimeZone::utc().secondsFromGMT(date));
}

bool isEqualToDateIgnoringTime(fnd::Date a, fnd::Date b) {
  auto pa = parts(a), pb = parts(b);
  return pa.year == pb.year && pa.month == pb.month && pa.day == pb.day;
}

bool isToday(fnd::Date date) { return isEqualToDateIgnoringTime(date, fnd::Date::now()); }
bool isTomorrow(fnd::Date date) { return isEqualToDateIgnoringTime(date, dateTomorrow()); }
bool isYesterday(fnd::Date date) { return isEqualToDateIgnoringTime(date, dateYesterday()); }

bool isSameWeekAsDate(fnd::Date a, fnd::Date b) {
  if (parts(a).weekOfYear != parts(b).weekOfYear) return false;
  return std::fabs(a.timeIntervalSinceDate(b)) < kWeek;
}

bool isThisWeek(fnd::Date date) { return isSameWeekAsDate(date, fnd::Date::now()); }
bool isNextWeek(fnd::Date date) { return isSameWeekAsDate(date, fnd::Date::now().dateByAddingTimeInterval(kWeek)); }
bool isLastWeek(fnd::Date date) { return isSameWeekAsDate(date, fnd::Date::now().dateByAddingTimeInterval(-kWeek)); }

bool isSameYearAsDate(fnd::Date a, fnd::Date b) {
  auto cal = fnd::Calendar::current();
  return cal.component(fnd::YearUnit, a) == cal.component(fnd::YearUnit, b);
}

bool isThisYear(fnd::Date date) { return isSameYearAsDate(date, fnd::Date::now()); }
bool isNextYear(fnd::Date date) { return year(date) == year(fnd::Date::now()) + 1; }
bool isLastYear(fnd::Date date) { return year(date) == year(fnd::Date::now()) - 1; }

bool isEarlierThanDate(fnd::Date date, fnd::Date other) { return date <= other; }
bool isLaterThanDate(fnd::Date date, fnd::Date other) { return date >= other; }

fnd::Date dateByAddingDays(fnd::Date d, std::int64_t n) { return d.dateByAddingTimeInterval(n * kDay); }
fnd::Date dateByAddingHours(fnd::Date d, std::int64_t n) { return d.dateByAddingTimeInterval(n * kHour); }
fnd::Date dateByAddingMinutes(fnd::Date d, std::int64_t n) { return d.dateByAddingTimeInterval(n * kMinute); }
fnd::Date dateBySubtractingDays(fnd::Date d, std::int64_t n) { return dateByAddingDays(d, -n); }
fnd::Date dateBySubtractingHours(fnd::Date d, std::int64_t n) { return dateByAddingHours(d, -n); }
fnd::Date dateBySubtractingMinutes(fnd::Date d, std::int64_t n) { return dateByAddingMinutes(d, -n); }

fnd::Date dateAtStartOfDay(fnd::Date date) { return fnd::Calendar::current().startOfDay(date); }

fnd::Date dateAtStartOfMonth(fnd::Date) { return fnd::Calendar::current().startOfMonth(fnd::Date::now()); }

fnd::DateComponents componentsWithOffsetFromDate(fnd::Date date, fnd::Date from) {
  return fnd::Calendar::current().components(kAllUnits, from, date);
}

std::int64_t minutesAfterDate(fnd::Date d, fnd::Date o) { return truncated(d.timeIntervalSinceDate(o) / kMinute); }
std::int64_t hoursAfterDate(fnd::Date d, fnd::Date o) { return truncated(d.timeIntervalSinceDate(o) / kHour); }
std::int64_t daysAfterDate(fnd::Date d, fnd::Date o) { return truncated(d.timeIntervalSinceDate(o) / kDay); }
std::int64_t minutesBeforeDate(fnd::Date d, fnd::Date o) { return truncated(o.timeIntervalSinceDate(d) / kMinute); }
std::int64_t hoursBeforeDate(fnd::Date d, fnd::Date o) { return truncated(o.timeIntervalSinceDate(d) / kHour); }
std::int64_t daysBeforeDate(fnd::Date d, fnd::Date o) { return truncated(o.timeIntervalSinceDate(d) / kDay); }

std::int64_t nearestHour() {
  return fnd::Calendar::current().component(fnd::HourUnit, fnd::Date::now().dateByAddingTimeInterval(1800));
}
std::int64_t hour(fnd::Date d) { return parts(d).hour; }
std::int64_t minute(fnd::Date d) { return parts(d).minute; }
std::int64_t seconds(fnd::Date d) { return parts(d).second; }
std::int64_t day(fnd::Date d) { return parts(d).day; }
std::int64_t month(fnd::Date d) { return parts(d).month; }
std::int64_t week(fnd::Date d) { return parts(d).weekOfYear; }
std::int64_t weekday(fnd::Date d) { return parts(d).weekday; }
std::int64_t nthWeekday(fnd::Date d) { return parts(d).weekdayOrdinal; }
std::int64_t year(fnd::Date d) { return parts(d).year; }

}  // namespace kesto::brightwren
