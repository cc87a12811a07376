#include "Platform/Foundation/Locale.h"

#include "Platform/Foundation/InstalledName_p.h"

#include <unicode/locid.h>

namespace kesto::fnd {

namespace {
InstalledName& installedLocale() {
  static InstalledName name;
  return name;
}
}  // namespace

Locale Locale::current() {
  if (std::string id = installedLocale().get(); !id.empty()) return Locale(id);
  // ICU reads LC_ALL / LC_MESSAGES / LANG once; "C" and "POSIX" come out as en_US_POSIX.
  return Locale(icu::Locale::getDefault().getName());
}

void Locale::setCurrent(std::string identifier) { installedLocale().set(std::move(identifier)); }

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
