#pragma once

#include <compare>
#include <functional>
#include <string>

namespace kesto::fnd {

// Seconds, as the system counts every span of time.
using TimeInterval = double;

// Seconds between 1970-01-01 and 2001-01-01, the reference date of every stored date.
inline constexpr TimeInterval kTimeIntervalSince1970 = 978307200.0;

// A point in time: seconds since 2001-01-01 00:00:00 UTC. A plain value, cheap to copy.
class Date {
 public:
  constexpr Date() = default;
  constexpr explicit Date(TimeInterval sinceReferenceDate) : t_(sinceReferenceDate) {}

  // The current time, from the installed clock (see setClock).
  static Date now();
  static constexpr Date withTimeIntervalSince1970(TimeInterval s) { return Date(s - kTimeIntervalSince1970); }
  static constexpr Date distantPast() { return Date(-63114076800.0); }
  static constexpr Date distantFuture() { return Date(63113904000.0); }

  constexpr TimeInterval timeIntervalSinceReferenceDate() const { return t_; }
  constexpr TimeInterval timeIntervalSince1970() const { return t_ + kTimeIntervalSince1970; }
  constexpr TimeInterval timeIntervalSinceDate(Date other) const { return t_ - other.t_; }
  TimeInterval timeIntervalSinceNow() const { return t_ - now().t_; }
  constexpr Date dateByAddingTimeInterval(TimeInterval s) const { return Date(t_ + s); }

  // The description form in UTC, "2014-03-01 10:20:30 +0000" (whole seconds, rounded down).
  std::string description() const;

  constexpr auto operator<=>(const Date&) const = default;
  constexpr bool operator==(const Date&) const = default;

 private:
  TimeInterval t_ = 0;
};

// The clock behind Date::now(). Tests install a fixed or stepping clock; an empty function
// restores the system clock.
using Clock = std::function<Date()>;
void setClock(Clock clock);

}  // namespace kesto::fnd
