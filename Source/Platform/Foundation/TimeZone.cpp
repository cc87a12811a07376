#include "Platform/Foundation/TimeZone.h"

#include "Platform/Foundation/IcuSupport.h"
#include "Platform/Foundation/InstalledName_p.h"

#include <unicode/timezone.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace kesto::fnd {

namespace {

InstalledName& installedZone() {
  static InstalledName name;
  return name;
}

// ICU zones by identifier, per thread (ICU zone objects are not thread-safe to share).
const icu::TimeZone& icuZone(const std::string& id) {
  thread_local std::map<std::string, std::unique_ptr<icu::TimeZone>, std::less<>> cache;
  auto it = cache.find(id);
  if (it == cache.end())
    it = cache.emplace(id, std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(detail::toUnicode(id)))).first;
  return *it->second;
}

bool isUnknown(const icu::TimeZone& tz) {
  icu::UnicodeString id;
  tz.getID(id);
  return id == icu::UnicodeString("Etc/Unknown");
}

double toUDate(Date d) { return d.timeIntervalSince1970() * 1000.0; }

}  // namespace

TimeZone TimeZone::local() {
  if (std::string id = installedZone().get(); !id.empty()) return TimeZone(id);
  // The host zone is looked up again only when TZ changes.
  static std::mutex hostMutex;
  std::lock_guard lock(hostMutex);
  static std::string lastTZ = "\x01";
  static std::string detected;
  const char* tzEnv = std::getenv("TZ");
  std::string tz = tzEnv ? tzEnv : std::string();
  if (tz != lastTZ || detected.empty()) {
    std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    if (host && !isUnknown(*host)) host->getID(id);
    detected = id.isEmpty() ? std::string("GMT") : detail::toUtf8(id);
    lastTZ = tz;
  }
  return TimeZone(detected);
}

bool TimeZone::setLocal(std::string identifier) {
  if (!identifier.empty()) {
    auto z = named(identifier);
    if (!z) return false;
    identifier = z->identifier();
  }
  installedZone().set(std::move(identifier));
  return true;
}

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
  if (identifier.empty()) return std::nullopt;
  std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(detail::toUnicode(identifier)));
  if (!tz || isUnknown(*tz)) return std::nullopt;
  icu::UnicodeString id;
  tz->getID(id);
  return TimeZone(detail::toUtf8(id));
}

TimeZone TimeZone::withSecondsFromGMT(int seconds) {
  if (seconds == 0) return gmt();
  int a = seconds < 0 ? -seconds : seconds;
  char buf[32];
  std::snprintf(buf, sizeof buf, "GMT%c%02d:%02d", seconds < 0 ? '-' : '+', a / 3600, (a / 60) % 60);
  auto z = named(buf);
  return z ? *z : gmt();
}

int TimeZone::secondsFromGMT(Date date) const {
  int32_t raw = 0, dst = 0;
  UErrorCode ec = U_ZERO_ERROR;
  icuZone(id_).getOffset(toUDate(date), false, raw, dst, ec);
  if (U_FAILURE(ec)) return 0;
  return (raw + dst) / 1000;
}

bool TimeZone::isDaylightSavingTime(Date date) const {
  int32_t raw = 0, dst = 0;
  UErrorCode ec = U_ZERO_ERROR;
  icuZone(id_).getOffset(toUDate(date), false, raw, dst, ec);
  return U_SUCCESS(ec) && dst != 0;
}

}  // namespace kesto::fnd
