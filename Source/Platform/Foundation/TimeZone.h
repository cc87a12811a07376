#pragma once

#include "Platform/Foundation/Date.h"

#include <optional>
#include <string>
#include <string_view>

namespace kesto::fnd {

// A time zone from ICU's zone data, named by its identifier ("GMT", "UTC", "Europe/Paris",
// "Pacific/Chatham", "GMT+0130").
class TimeZone {
 public:
  // GMT.
  TimeZone() = default;

  static TimeZone gmt() { return TimeZone("GMT"); }
  static TimeZone utc() { return TimeZone("UTC"); }
  // The zone installed with setLocal, else the system's (TZ, /etc/localtime).
  static TimeZone local();
  // Replaces the local zone for this process (tests, or a preference); empty goes back to the
  // system's. Answers false (and changes nothing) for an unknown identifier.
  static bool setLocal(std::string identifier);
  // The zone with that identifier, or absent when ICU does not know it.
  static std::optional<TimeZone> named(std::string_view identifier);
  // A fixed offset from GMT ("GMT+0100" form).
  static TimeZone withSecondsFromGMT(int seconds);

  const std::string& identifier() const { return id_; }
  // The offset from GMT in effect at `date`, daylight saving included.
  int secondsFromGMT(Date date) const;
  bool isDaylightSavingTime(Date date) const;

  bool operator==(const TimeZone&) const = default;

 private:
  explicit TimeZone(std::string id) : id_(std::move(id)) {}
  std::string id_ = "GMT";
};

}  // namespace kesto::fnd
