#pragma once

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/TimeZone.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace kesto::fnd {

// Calendar units, as bits (values as the stored formats know them).
enum CalendarUnit : unsigned {
  EraUnit = 1u << 1,
  YearUnit = 1u << 2,
  MonthUnit = 1u << 3,
  DayUnit = 1u << 4,
  HourUnit = 1u << 5,
  MinuteUnit = 1u << 6,
  SecondUnit = 1u << 7,
  WeekdayUnit = 1u << 9,
  WeekdayOrdinalUnit = 1u << 10,
  WeekOfMonthUnit = 1u << 12,
  WeekOfYearUnit = 1u << 13,
  YearForWeekOfYearUnit = 1u << 14,
  NanosecondUnit = 1u << 15,
};

// A field not asked for or not set.
inline constexpr std::int64_t kUndefinedComponent = std::numeric_limits<std::int64_t>::max();

struct DateComponents {
  std::int64_t era = kUndefinedComponent;
  std::int64_t year = kUndefinedComponent;
  std::int64_t month = kUndefinedComponent;
  std::int64_t day = kUndefinedComponent;
  std::int64_t hour = kUndefinedComponent;
  std::int64_t minute = kUndefinedComponent;
  std::int64_t second = kUndefinedComponent;
  std::int64_t nanosecond = kUndefinedComponent;
  // 1 = Sunday ... 7 = Saturday.
  std::int64_t weekday = kUndefinedComponent;
  // The weekday's ordinal within the month (the 2nd Tuesday is 2).
  std::int64_t weekdayOrdinal = kUndefinedComponent;
  std::int64_t weekOfMonth = kUndefinedComponent;
  std::int64_t weekOfYear = kUndefinedComponent;
  std::int64_t yearForWeekOfYear = kUndefinedComponent;

  bool operator==(const DateComponents&) const = default;
};

// Calendar arithmetic with ICU: a calendar system ("gregorian", "japanese", "buddhist", ...),
// the week rules of a locale, and a time zone. Each call works on its own ICU calendar, so a
// Calendar may be shared between threads.
class Calendar {
 public:
  // The user's calendar: the calendar system and week rules of Locale::current(), in
  // TimeZone::local(). Asked for anew, so a changed locale or zone applies at once.
  static Calendar current();
  // The Gregorian calendar with the week rules of `locale`.
  static Calendar gregorian(const TimeZone& zone = TimeZone::local(), const Locale& locale = Locale::posix());
  // The calendar system of the locale (its "calendar" keyword, else the region's default).
  Calendar(const Locale& locale, const TimeZone& zone);
  ~Calendar();
  Calendar(const Calendar&);
  Calendar& operator=(const Calendar&);

  std::string identifier() const;
  const Locale& locale() const;
  const TimeZone& timeZone() const;
  void setTimeZone(const TimeZone& zone);
  // 1 = Sunday. Defaults from the locale; may be overridden.
  int firstWeekday() const;
  void setFirstWeekday(int weekday);
  int minimumDaysInFirstWeek() const;
  void setMinimumDaysInFirstWeek(int days);

  // The asked units of `date`; others stay kUndefinedComponent.
  DateComponents components(unsigned units, Date date) const;
  std::int64_t component(CalendarUnit unit, Date date) const;
  // The difference from `from` to `to` in the asked units, largest first (each unit takes
  // as much as it can; the rest goes to the smaller ones).
  DateComponents components(unsigned units, Date from, Date to) const;
  // The date of the set fields (unset ones take their lowest value; year defaults to 1).
  std::optional<Date> dateFromComponents(const DateComponents& c) const;
  // Adds each set field (month-end and DST handled by the calendar).
  std::optional<Date> dateByAdding(const DateComponents& c, Date date) const;

  Date startOfDay(Date date) const;
  // The first day of the date's week (by firstWeekday) at 00:00.
  Date startOfWeek(Date date) const;
  // The first day of the date's month at 00:00.
  Date startOfMonth(Date date) const;
  bool isSameDay(Date a, Date b) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::fnd
