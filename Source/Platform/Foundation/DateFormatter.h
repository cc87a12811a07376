#pragma once

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/TimeZone.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kesto::fnd {

enum class DateFormatterStyle { None, Short, Medium, Long, Full };

// Formats and parses dates with ICU, by Unicode date pattern or by style. A formatter is not
// thread-safe; use one per thread (threadFormatter keeps them). Parsing is strict: the whole
// text must match, else the result is absent.
class DateFormatter {
 public:
  // No pattern, no styles, the current locale and the local time zone.
  DateFormatter();
  ~DateFormatter();
  DateFormatter(const DateFormatter& other);
  DateFormatter& operator=(const DateFormatter& other);
  DateFormatter(DateFormatter&&) noexcept;
  DateFormatter& operator=(DateFormatter&&) noexcept;

  // A machine-readable format: the pattern under en_US_POSIX and the Gregorian calendar.
  static DateFormatter fixed(std::string_view pattern, const TimeZone& zone = TimeZone::gmt());
  // A display format in the given (default: current) locale.
  static DateFormatter styled(DateFormatterStyle dateStyle, DateFormatterStyle timeStyle,
                              const TimeZone& zone = TimeZone::local(),
                              const Locale& locale = Locale::current());

  // The formatter of this thread for a fixed pattern and zone (made once per thread).
  static DateFormatter& threadFormatter(std::string_view pattern, const TimeZone& zone = TimeZone::gmt());

  // Setting a pattern clears the styles, and setting a style clears the pattern.
  void setDateFormat(std::string_view pattern);
  const std::string& dateFormat() const;
  void setDateStyle(DateFormatterStyle s);
  void setTimeStyle(DateFormatterStyle s);
  DateFormatterStyle dateStyle() const;
  DateFormatterStyle timeStyle() const;
  void setLocale(const Locale& locale);
  const Locale& locale() const;
  void setTimeZone(const TimeZone& zone);
  const TimeZone& timeZone() const;
  // Lenient parsing accepts near misses (extra spaces, numbers out of range); off by default.
  void setLenient(bool lenient);

  // The text for `date`; empty when neither a pattern nor a style is set.
  std::string stringFromDate(Date date) const;
  // The date the whole text stands for, or absent.
  std::optional<Date> dateFromString(std::string_view text) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Patterns and conveniences used in several places.
inline constexpr const char* kDescriptionDatePattern = "yyyy-MM-dd HH:mm:ss ZZZ";

// Reads text in the description form ("2014-03-01 10:20:30 +0100"), by the pattern above.
std::optional<Date> dateFromDescription(std::string_view text);

}  // namespace kesto::fnd
