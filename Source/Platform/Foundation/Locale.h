#pragma once

#include <string>
#include <string_view>

namespace kesto::fnd {

// A locale, named by its ICU identifier ("en_US", "th_TH", "ja_JP@calendar=japanese").
class Locale {
 public:
  Locale() = default;
  explicit Locale(std::string identifier) : id_(std::move(identifier)) {}

  // The user's locale: the one installed with setCurrent, else the process's (LANG and friends).
  static Locale current();
  // The fixed locale for machine-readable dates and numbers.
  static Locale posix() { return Locale("en_US_POSIX"); }
  // Replaces the user's locale for this process (tests, or a preference); an empty identifier
  // goes back to the environment's.
  static void setCurrent(std::string identifier);

  const std::string& identifier() const { return id_; }
  // Language code ("en"), region code ("US"), the "calendar" keyword ("gregorian" if none).
  std::string languageCode() const;
  std::string countryCode() const;
  std::string calendarIdentifier() const;

  bool operator==(const Locale&) const = default;

 private:
  std::string id_;
};

}  // namespace kesto::fnd
