#pragma once

#include "Platform/Foundation/Calendar.h"
#include "Platform/Foundation/Date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Date arithmetic, calendar tests and the fixed text forms the library uses. "Now" comes from the
// installed clock (fnd::setClock). Calendar questions use the user's current calendar; fixed
// text patterns always use en_US_POSIX and the Gregorian calendar, so a user's locale or calendar
// never changes how sync dates read.
namespace kesto::brightwren {

fnd::Date dateWithDaysFromNow(std::int64_t days);
fnd::Date dateWithDaysBeforeNow(std::int64_t days);
fnd::Date dateWithHoursFromNow(std::int64_t hours);
fnd::Date dateWithHoursBeforeNow(std::int64_t hours);
fnd::Date dateWithMinutesFromNow(std::int64_t minutes);
fnd::Date dateWithMinutesBeforeNow(std::int64_t minutes);
fnd::Date dateTomorrow();
fnd::Date dateYesterday();
fnd::Date dateNowUTC();

// "yyyy-MM-dd HH:mm:ss ZZZ" (the sync file's description form; the text carries its offset).
std::optional<fnd::Date> dateFromString(std::string_view text);
// "yyyy-MM-dd'T'HH:mm:ss.SSSZ".
std::optional<fnd::Date> dateFromServerString(std::string_view text);
std::optional<fnd::Date> dateUTCFromServerString(std::string_view text);
// "yyyy-MM-dd'T'HH:mm:ss.SSSZ" in GMT ("...+0000").
std::string dateToServerString(fnd::Date date);
// "yyyy-MM-dd" and "yyyy-MM-dd HH:mm", read in GMT.
std::optional<fnd::Date> dateFromStringIgnoringTimezone(std::string_view text);
std::optional<fnd::Date> dateFromStringIgnoringTimezoneIncludingTime(std::string_view text);
// "hh:mm a" in GMT.
std::string formattedTimeFromDate(fnd::Date date);
// The medium date style of the user's locale, no time, in GMT (file names of exports).
std::string formattedDateFromDate(fnd::Date date);

fnd::Date dateToUTC(fnd::Date date);
bool isEqualToDateIgnoringTime(fnd::Date a, fnd::Date b);
bool isToday(fnd::Date date);
bool isTomorrow(fnd::Date date);
bool isYesterday(fnd::Date date);
// Equal week-of-year numbers and less than a week apart.
bool isSameWeekAsDate(fnd::Date a, fnd::Date b);
bool isThisWeek(fnd::Date date);
// In the week one week after / before the present one.
bool isNextWeek(fnd::Date date);
bool isLastWeek(fnd::Date date);
bool isSameYearAsDate(fnd::Date a, fnd::Date b);
bool isThisYear(fnd::Date date);
bool isNextYear(fnd::Date date);
bool isLastYear(fnd::Date date);
// Equal dates answer true for both.
bool isEarlierThanDate(fnd::Date date, fnd::Date other);
bool isLaterThanDate(fnd::Date date, fnd::Date other);

fnd::Date dateByAddingDays(fnd::Date date, std::int64_t days);
fnd::Date dateByAddingHours(fnd::Date date, std::int64_t hours);
fnd::Date dateByAddingMinutes(fnd::Date date, std::int64_t minutes);
fnd::Date dateBySubtractingDays(fnd::Date date, std::int64_t days);
fnd::Date dateBySubtractingHours(fnd::Date date, std::int64_t hours);
fnd::Date dateBySubtractingMinutes(fnd::Date date, std::int64_t minutes);
fnd::Date dateAtStartOfDay(fnd::Date date);
// The first day of the present month at 00:00 (the argument takes no part).
fnd::Date dateAtStartOfMonth(fnd::Date date);
fnd::DateComponents componentsWithOffsetFromDate(fnd::Date date, fnd::Date from);

std::int64_t minutesAfterDate(fnd::Date date, fnd::Date other);
std::int64_t hoursAfterDate(fnd::Date date, fnd::Date other);
std::int64_t daysAfterDate(fnd::Date date, fnd::Date other);
std::int64_t minutesBeforeDate(fnd::Date date, fnd::Date other);
std::int64_t hoursBeforeDate(fnd::Date date, fnd::Date other);
std::int64_t daysBeforeDate(fnd::Date date, fnd::Date other);

// The hour of now + 30 minutes.
std::int64_t nearestHour();
std::int64_t hour(fnd::Date date);
std::int64_t minute(fnd::Date date);
std::int64_t seconds(fnd::Date date);
std::int64_t day(fnd::Date date);
std::int64_t month(fnd::Date date);
std::int64_t week(fnd::Date date);
std::int64_t weekday(fnd::Date date);
std::int64_t nthWeekday(fnd::Date date);
std::int64_t year(fnd::Date date);

}  // namespace kesto::brightwren
