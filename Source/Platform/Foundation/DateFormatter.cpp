#include "Platform/Foundation/DateFormatter.h"

#include "Platform/Foundation/IcuSupport.h"

#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <map>

namespace kesto::fnd {

namespace {

icu::DateFormat::EStyle icuStyle(DateFormatterStyle s) {
  switch (s) {
    case DateFormatterStyle::Short: return icu::DateFormat::kShort;
    case DateFormatterStyle::Medium: return icu::DateFormat::kMedium;
    case DateFormatterStyle::Long: return icu::DateFormat::kLong;
    case DateFormatterStyle::Full: return icu::DateFormat::kFull;
    case DateFormatterStyle::None: break;
  }
  return icu::DateFormat::kNone;
}

// Fixed formats must not follow the user's calendar or numbering system.
constexpr const char* kFixedLocale = "en_US_POSIX@calendar=gregorian";

}  // namespace

struct DateFormatter::Impl {
  std::string pattern;
  DateFormatterStyle dateStyle = DateFormatterStyle::None;
  DateFormatterStyle timeStyle = DateFormatterStyle::None;
  Locale locale = Locale::current();
  TimeZone zone = TimeZone::local();
  bool lenient = false;
  // Built on first use, dropped by every setter.
  mutable std::unique_ptr<icu::DateFormat> fmt;

  Impl() = default;
  Impl(const Impl& o)
      : pattern(o.pattern), dateStyle(o.dateStyle), timeStyle(o.timeStyle), locale(o.locale), zone(o.zone),
        lenient(o.lenient) {}

  icu::DateFormat* format() const {
    if (fmt) return fmt.get();
    icu::Locale loc = icu::Locale::createFromName(locale.identifier().c_str());
    UErrorCode ec = U_ZERO_ERROR;
    if (!pattern.empty()) {
      fmt = std::make_unique<icu::SimpleDateFormat>(detail::toUnicode(pattern), loc, ec);
      if (U_FAILURE(ec)) fmt.reset();
    } else if (dateStyle != DateFormatterStyle::None || timeStyle != DateFormatterStyle::None) {
      fmt.reset(icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), loc));
    }
    if (!fmt) return nullptr;
    fmt->adoptTimeZone(icu::TimeZone::createTimeZone(detail::toUnicode(zone.identifier())));
    fmt->setLenient(lenient);
    return fmt.get();
  }
};

DateFormatter::DateFormatter() : d_(std::make_unique<Impl>()) {}
DateFormatter::~DateFormatter() = default;
DateFormatter::DateFormatter(const DateFormatter& other) : d_(std::make_unique<Impl>(*other.d_)) {}
DateFormatter& DateFormatter::operator=(const DateFormatter& other) {
  if (this != &other) d_ = std::make_unique<Impl>(*other.d_);
  return *this;
}
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;

DateFormatter DateFormatter::fixed(std::string_view pattern, const TimeZone& zone) {
  DateFormatter f;
  f.d_->locale = Locale(kFixedLocale);
  f.d_->zone = zone;
  f.d_->pattern = std::string(pattern);
  return f;
}

DateFormatter DateFormatter::styled(DateFormatterStyle dateStyle, DateFormatterStyle timeStyle, const TimeZone& zone,
                                    const Locale& locale) {
  DateFormatter f;
  f.d_->dateStyle = dateStyle;
  f.d_->timeStyle = timeStyle;
  f.d_->zone = zone;
  f.d_->locale = locale;
  return f;
}

DateFormatter& DateFormatter::threadFormatter(std::string_view pattern, const TimeZone& zone) {
  thread_local std::map<std::string, DateFormatter, std::less<>> cache;
  std::string key = zone.identifier();
  key += '\n';
  key += pattern;
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(std::move(key), fixed(pattern, zone)).first;
  return it->second;
}

void DateFormatter::setDateFormat(std::string_view pattern) {
  d_->pattern = std::string(pattern);
  d_->dateStyle = d_->timeStyle = DateFormatterStyle::None;
  d_->fmt.reset();
}
const std::string& DateFormatter::dateFormat() const { return d_->pattern; }

void DateFormatter::setDateStyle(DateFormatterStyle s) {
  d_->dateStyle = s;
  d_->pattern.clear();
  d_->fmt.reset();
}
void DateFormatter::setTimeStyle(DateFormatterStyle s) {
  d_->timeStyle = s;
  d_->pattern.clear();
  d_->fmt.reset();
}
DateFormatterStyle DateFormatter::dateStyle() const { return d_->dateStyle; }
DateFormatterStyle DateFormatter::timeStyle() const { return d_->timeStyle; }

void DateFormatter::setLocale(const Locale& locale) {
  d_->locale = locale;
  d_->fmt.reset();
}
const Locale& DateFormatter::locale() const { return d_->locale; }

void DateFormatter::setTimeZone(const TimeZone& zone) {
  d_->zone = zone;
  d_->fmt.reset();
}
const TimeZone& DateFormatter::timeZone() const { return d_->zone; }

void DateFormatter::setLenient(bool lenient) {
  d_->lenient = lenient;
  d_->fmt.reset();
}

std::string DateFormatter::stringFromDate(Date date) const {
  icu::DateFormat* f = d_->format();
  if (!f) return {};
  icu::UnicodeString out;
  f->format(date.timeIntervalSince1970() * 1000.0, out);
  return detail::toUtf8(out);
}

std::optional<Date> DateFormatter::dateFromString(std::string_view text) const {
  icu::DateFormat* f = d_->format();
  if (!f || text.empty()) return std::nullopt;
  icu::UnicodeString u = detail::toUnicode(text);
  icu::ParsePosition pos(0);
  UDate ms = f->parse(u, pos);
  if (pos.getErrorIndex() >= 0 || pos.getIndex() != u.length()) return std::nullopt;
  return Date::withTimeIntervalSince1970(ms / 1000.0);
}

std::optional<Date> dateFromDescription(std::string_view text) {
  return DateFormatter::threadFormatter(kDescriptionDatePattern, TimeZone::gmt()).dateFromString(text);
}

}  // namespace kesto::fnd
