#include "Platform/Foundation/Locale.h"

#include <unicode/locid.h>

#include <mutex>

namespace kesto::fnd {

namespace {
// The locale setCurrent installed over the system's, if any.
struct Installed {
  std::mutex mutex;
  std::string identifier;
};
Installed& installed() {
  static Installed i;
  return i;
}
}  // namespace

Locale Locale::current() {
  {
    std::lock_guard lock(installed().mutex);
    if (!installed().identifier.empty()) return Locale(installed().identifier);
  }
  // ICU reads LC_ALL / LC_MESSAGES / LANG once; "C" and "POSIX" come out as en_US_POSIX.
  return Locale(icu::Locale::getDefault().getName());
}

void Locale::setCurrent(std::string identifier) {
  std::lock_guard lock(installed().mutex);
  installed().identifier = std::move(identifier);
}

std::string Locale::languageCode() const { return icu::Locale::createFromName(id_.c_str()).getLanguage(); }

std::string Locale::countryCode() const { return icu::Locale::createFromName(id_.c_str()).getCountry(); }

std::string Locale::calendarIdentifier() const {
  icu::Locale l = icu::Locale::createFromName(id_.c_str());
  char buf[64] = {};
  UErrorCode ec = U_ZERO_ERROR;
  int32_t n = l.getKeywordValue("calendar", buf, sizeof buf, ec);
  if (U_FAILURE(ec) || n <= 0) return "gregorian";
  return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace kesto::fnd
