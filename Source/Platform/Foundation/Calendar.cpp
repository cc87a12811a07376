#include "Platform/Foundation/Calendar.h"

#include "Platform/Foundation/IcuSupport.h"

#include <unicode/calendar.h>
#include <unicode/timezone.h>

#include <cmath>
#include <map>

namespace kesto::fnd {

namespace {

double toUDate(Date d) { return d.timeIntervalSince1970() * 1000.0; }
Date fromUDate(double ms) { return Date::withTimeIntervalSince1970(ms / 1000.0); }

std::unique_ptr<icu::Calendar> createCalendar(const Locale& locale, const TimeZone& zone) {
  UErrorCode ec = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> c(
      icu::Calendar::createInstance(icu::TimeZone::createTimeZone(detail::toUnicode(zone.identifier())),
                                    icu::Locale::createFromName(locale.identifier().c_str()), ec));
  if (U_FAILURE(ec)) c.reset();
  if (!c) {
    ec = U_ZERO_ERROR;
    c.reset(icu::Calendar::createInstance(icu::TimeZone::getGMT()->clone(), icu::Locale::getRoot(), ec));
  }
  return c;
}

// Making an ICU calendar loads locale data; callers ask for the current calendar often, so
// each thread keeps one prototype per locale and zone and clones it.
std::unique_ptr<icu::Calendar> makeCalendar(const Locale& locale, const TimeZone& zone) {
  thread_local std::map<std::string, std::unique_ptr<icu::Calendar>, std::less<>> cache;
  std::string key = locale.identifier() + '\n' + zone.identifier();
  auto it = cache.find(key);
  if (it == cache.end()) {
    if (cache.size() > 32) cache.clear();
    it = cache.emplace(std::move(key), createCalendar(locale, zone)).first;
  }
  return std::unique_ptr<icu::Calendar>(it->second->clone());
}

// Fields in the order differences are taken: larger units first.
struct UnitField {
  unsigned unit;
  UCalendarDateFields field;
  std::int64_t DateComponents::*member;
};
const UnitField kFields[] = {
    {EraUnit, UCAL_ERA, &DateComponents::era},
    {YearUnit, UCAL_YEAR, &DateComponents::year},
    {YearForWeekOfYearUnit, UCAL_YEAR_WOY, &DateComponents::yearForWeekOfYear},
    {MonthUnit, UCAL_MONTH, &DateComponents::month},
    {WeekOfYearUnit, UCAL_WEEK_OF_YEAR, &DateComponents::weekOfYear},
    {WeekOfMonthUnit, UCAL_WEEK_OF_MONTH, &DateComponents::weekOfMonth},
    {WeekdayOrdinalUnit, UCAL_DAY_OF_WEEK_IN_MONTH, &DateComponents::weekdayOrdinal},
    {DayUnit, UCAL_DATE, &DateComponents::day},
    {WeekdayUnit, UCAL_DAY_OF_WEEK, &DateComponents::weekday},
    {HourUnit, UCAL_HOUR_OF_DAY, &DateComponents::hour},
    {MinuteUnit, UCAL_MINUTE, &DateComponents::minute},
    {SecondUnit, UCAL_SECOND, &DateComponents::second},
};

}  // namespace

struct Calendar::Impl {
  Locale locale;
  TimeZone zone;
  std::unique_ptr<icu::Calendar> proto;

  Impl(Locale l, TimeZone z) : locale(std::move(l)), zone(std::move(z)), proto(makeCalendar(locale, zone)) {}
  Impl(const Impl& o) : locale(o.locale), zone(o.zone), proto(o.proto->clone()) {}

  // A working copy: ICU calendars carry state, so each operation gets its own.
  std::unique_ptr<icu::Calendar> at(Date date) const {
    std::unique_ptr<icu::Calendar> c(proto->clone());
    UErrorCode ec = U_ZERO_ERROR;
    c->setTime(toUDate(date), ec);
    return c;
  }
};

Calendar Calendar::current() { return Calendar(Locale::current(), TimeZone::local()); }

Calendar Calendar::gregorian(const TimeZone& zone, const Locale& locale) {
  std::string id = locale.identifier();
  auto at = id.find('@');
  if (at != std::string::npos) id.erase(at);
  return Calendar(Locale(id + "@calendar=gregorian"), zone);
}

Calendar::Calendar(const Locale& locale, const TimeZone& zone) : d_(std::make_unique<Impl>(locale, zone)) {}
Calendar::~Calendar() = default;
Calendar::Calendar(const Calendar& o) : d_(std::make_unique<Impl>(*o.d_)) {}
Calendar& Calendar::operator=(const Calendar& o) {
  if (this != &o) d_ = std::make_unique<Impl>(*o.d_);
  return *this;
}

std::string Calendar::identifier() const { return d_->proto->getType(); }
const Locale& Calendar::locale() const { return d_->locale; }
const TimeZone& Calendar::timeZone() const { return d_->zone; }

void Calendar::setTimeZone(const TimeZone& zone) {
  d_->zone = zone;
  d_->proto->adoptTimeZone(icu::TimeZone::createTimeZone(detail::toUnicode(zone.identifier())));
}

int Calendar::firstWeekday() const {
  UErrorCode ec = U_ZERO_ERROR;
  return static_cast<int>(d_->proto->getFirstDayOfWeek(ec));
}

void Calendar::setFirstWeekday(int weekday) {
  if (weekday >= 1 && weekday <= 7) d_->proto->setFirstDayOfWeek(static_cast<UCalendarDaysOfWeek>(weekday));
}

int Calendar::minimumDaysInFirstWeek() const { return d_->proto->getMinimalDaysInFirstWeek(); }

void Calendar::setMinimumDaysInFirstWeek(int days) {
  if (days >= 1 && days <= 7) d_->proto->setMinimalDaysInFirstWeek(static_cast<uint8_t>(days));
}

DateComponents Calendar::components(unsigned units, Date date) const {
  DateComponents out;
  auto c = d_->at(date);
  for (const auto& f : kFields) {
    if (!(units & f.unit)) continue;
    UErrorCode ec = U_ZERO_ERROR;
    std::int64_t v = c->get(f.field, ec);
    if (U_FAILURE(ec)) continue;
    if (f.field == UCAL_MONTH) v += 1;
    out.*f.member = v;
  }
  if (units & NanosecondUnit) {
    double s = date.timeIntervalSince1970();
    out.nanosecond = static_cast<std::int64_t>(std::llround((s - std::floor(s)) * 1e9)) % 1000000000;
  }
  return out;
}

std::int64_t Calendar::component(CalendarUnit unit, Date date) const {
  DateComponents c = components(unit, date);
  for (const auto& f : kFields)
    if (f.unit == unit) return c.*f.member;
  if (unit == NanosecondUnit) return c.nanosecond;
  return kUndefinedComponent;
}

DateComponents Calendar::components(unsigned units, Date from, Date to) const {
  DateComponents out;
  auto c = d_->at(from);
  double target = toUDate(to);
  for (const auto& f : kFields) {
    if (!(units & f.unit)) continue;
    UErrorCode ec = U_ZERO_ERROR;
    std::int64_t v = c->fieldDifference(target, f.field, ec);
    out.*f.member = U_SUCCESS(ec) ? v : 0;
  }
  if (units & NanosecondUnit) {
    UErrorCode ec = U_ZERO_ERROR;
    double rest = target - c->getTime(ec);
    out.nanosecond = static_cast<std::int64_t>(std::llround(rest * 1e6));
  }
  return out;
}

std::optional<Date> Calendar::dateFromComponents(const DateComponents& comp) const {
  std::unique_ptr<icu::Calendar> c(d_->proto->clone());
  c->clear();
  c->setLenient(true);
  auto set = [&](UCalendarDateFields f, std::int64_t v, std::int64_t adjust = 0) {
    if (v != kUndefinedComponent) c->set(f, static_cast<int32_t>(v + adjust));
  };
  set(UCAL_ERA, comp.era);
  if (comp.year != kUndefinedComponent)
    set(UCAL_YEAR, comp.year);
  else if (comp.yearForWeekOfYear == kUndefinedComponent)
    c->set(UCAL_YEAR, 1);
  set(UCAL_YEAR_WOY, comp.yearForWeekOfYear);
  set(UCAL_MONTH, comp.month, -1);
  set(UCAL_WEEK_OF_YEAR, comp.weekOfYear);
  set(UCAL_WEEK_OF_MONTH, comp.weekOfMonth);
  set(UCAL_DAY_OF_WEEK_IN_MONTH, comp.weekdayOrdinal);
  set(UCAL_DATE, comp.day);
  set(UCAL_DAY_OF_WEEK, comp.weekday);
  set(UCAL_HOUR_OF_DAY, comp.hour);
  set(UCAL_MINUTE, comp.minute);
  set(UCAL_SECOND, comp.second);
  UErrorCode ec = U_ZERO_ERROR;
  double ms = c->getTime(ec);
  if (U_FAILURE(ec)) return std::nullopt;
  Date d = fromUDate(ms);
  if (comp.nanosecond != kUndefinedComponent) d = d.dateByAddingTimeInterval(comp.nanosecond / 1e9);
  return d;
}

std::optional<Date> Calendar::dateByAdding(const DateComponents& comp, Date date) const {
  auto c = d_->at(date);
  for (const auto& f : kFields) {
    std::int64_t v = comp.*f.member;
    if (v == kUndefinedComponent || v == 0) continue;
    UErrorCode ec = U_ZERO_ERROR;
    c->add(f.field, static_cast<int32_t>(v), ec);
    if (U_FAILURE(ec)) return std::nullopt;
  }
  UErrorCode ec = U_ZERO_ERROR;
  double ms = c->getTime(ec);
  if (U_FAILURE(ec)) return std::nullopt;
  Date d = fromUDate(ms);
  if (comp.nanosecond != kUndefinedComponent) d = d.dateByAddingTimeInterval(comp.nanosecond / 1e9);
  return d;
}

Date Calendar::startOfDay(Date date) const {
  auto c = d_->at(date);
  c->set(UCAL_HOUR_OF_DAY, 0);
  c->set(UCAL_MINUTE, 0);
  c->set(UCAL_SECOND, 0);
  c->set(UCAL_MILLISECOND, 0);
  UErrorCode ec = U_ZERO_ERROR;
  double ms = c->getTime(ec);
  return U_SUCCESS(ec) ? fromUDate(ms) : date;
}

Date Calendar::startOfWeek(Date date) const {
  auto c = d_->at(date);
  UErrorCode ec = U_ZERO_ERROR;
  int weekday = c->get(UCAL_DAY_OF_WEEK, ec);
  int back = (weekday - firstWeekday() + 7) % 7;
  c->add(UCAL_DATE, -back, ec);
  double ms = c->getTime(ec);
  return U_SUCCESS(ec) ? startOfDay(fromUDate(ms)) : date;
}

Date Calendar::startOfMonth(Date date) const {
  auto c = d_->at(date);
  c->set(UCAL_DATE, 1);
  UErrorCode ec = U_ZERO_ERROR;
  double ms = c->getTime(ec);
  return U_SUCCESS(ec) ? startOfDay(fromUDate(ms)) : date;
}

bool Calendar::isSameDay(Date a, Date b) const {
  unsigned u = EraUnit | YearUnit | MonthUnit | DayUnit;
  DateComponents ca = components(u, a), cb = components(u, b);
  return ca.era == cb.era && ca.year == cb.year && ca.month == cb.month && ca.day == cb.day;
}

}  // namespace kesto::fnd
