#include "Skyfolder/SFMetadata.h"

#include "Platform/Foundation/Strings.h"

#include <cstring>
#include <ctime>

namespace kesto {

namespace {

std::optional<std::string> stringFor(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  return it == d.end() ? std::nullopt : it->second.stringIfString();
}

bool boolFor(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  return it != d.end() && it->second.isNumber() && it->second.boolValue();
}

std::int64_t intFor(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  return it != d.end() && it->second.isNumber() ? it->second.intValue() : 0;
}

std::optional<fnd::Date> dateFor(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  if (it == d.end() || !it->second.isString()) return std::nullopt;
  return SFMetadata::dateFromString(it->second.string());
}

bool readDigits(std::string_view s, std::size_t& i, int count, int& out) {
  out = 0;
  for (int k = 0; k < count; ++k, ++i) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

bool expect(std::string_view s, std::size_t& i, std::string_view lit) {
  if (s.substr(i, lit.size()) != lit) return false;
  i += lit.size();
  return true;
}

int nameIndex(std::string_view s, std::size_t& i, const char* const* names, int count) {
  if (i + 3 > s.size()) return -1;
  for (int k = 0; k < count; ++k) {
    if (fnd::asciiEqualsIgnoringCase(s.substr(i, 3), std::string_view(names[k], 3))) {
      i += 3;
      return k;
    }
  }
  return -1;
}

std::optional<std::string> lastPathComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p == "/") return p;
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace

std::optional<fnd::Date> SFMetadata::dateFromString(std::string_view s) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::size_t i = 0;
  int day, year, hour, minute, second, zh, zm;
  if (nameIndex(s, i, kDays, 7) < 0 || !expect(s, i, ", ") || !readDigits(s, i, 2, day) || !expect(s, i, " "))
    return std::nullopt;
  const int month = nameIndex(s, i, kMonths, 12);
  if (month < 0 || !expect(s, i, " ") || !readDigits(s, i, 4, year) || !expect(s, i, " ") ||
      !readDigits(s, i, 2, hour) || !expect(s, i, ":") || !readDigits(s, i, 2, minute) || !expect(s, i, ":") ||
      !readDigits(s, i, 2, second) || !expect(s, i, " "))
    return std::nullopt;
  if (i >= s.size() || (s[i] != '+' && s[i] != '-')) return std::nullopt;
  const int sign = s[i++] == '-' ? -1 : 1;
  if (!readDigits(s, i, 2, zh) || !readDigits(s, i, 2, zm) || i != s.size()) return std::nullopt;
  static const int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day < 1 || day > kDaysIn[month] || hour > 23 || minute > 59 || second > 60 || zm > 59) return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::time_t utc = timegm(&tm);
  if (tm.tm_mday != day) return std::nullopt;  // 29 February of a common year
  const double offset = sign * (zh * 3600.0 + zm * 60.0);
  return fnd::Date::withTimeIntervalSince1970(static_cast<double>(utc) - offset);
}

SFMetadata::SFMetadata(const fnd::Dictionary& d) {
  thumbnailExists_ = boolFor(d, "thumb_exists");
  totalBytes_ = intFor(d, "bytes");
  lastModifiedDate_ = dateFor(d, "modified");
  clientMtime_ = dateFor(d, "client_mtime");
  setPath(stringFor(d, "path"));
  isDirectory_ = boolFor(d, "is_dir");
  if (const auto it = d.find("contents"); it != d.end()) {
    std::vector<std::shared_ptr<const SFMetadata>> children;
    children.reserve(it->second.array().size());
    for (const auto& element : it->second.array()) {
      // Elements that are not objects carry no record; they are left out.
      if (element.isDictionary()) children.push_back(std::make_shared<const SFMetadata>(element.dictionary()));
    }
    contents_ = std::move(children);
  }
  hash_ = stringFor(d, "hash");
  humanReadableSize_ = stringFor(d, "size");
  root_ = stringFor(d, "root");
  icon_ = stringFor(d, "icon");
  rev_ = stringFor(d, "rev");
  revision_ = intFor(d, "revision");
  isDeleted_ = boolFor(d, "is_deleted");
}

std::shared_ptr<const SFMetadata> SFMetadata::initWithDictionary(const fnd::Value& value) {
  if (!value.isDictionary()) return nullptr;
  return std::make_shared<const SFMetadata>(value.dictionary());
}

void SFMetadata::setPath(std::optional<std::string> path) {
  path_ = std::move(path);
  filename_ = path_ ? lastPathComponent(*path_).value_or("") : "";
}

bool SFMetadata::isEqual(const fnd::Object& other) const {
  if (this == &other) return true;
  const auto* o = dynamic_cast<const SFMetadata*>(&other);
  return o && rev_ && o->rev_ && *rev_ == *o->rev_;
}

std::string SFMetadata::description() const {
  return "<SFMetadata " + path_.value_or("(no path)") + " rev " + rev_.value_or("(none)") + ">";
}

fnd::Dictionary SFMetadata::encodeWithCoder() const {
  fnd::Dictionary a;
  auto putString = [&](const char* key, const std::optional<std::string>& s) {
    if (s) a.emplace(key, fnd::Value(*s));
  };
  auto putDate = [&](const char* key, const std::optional<fnd::Date>& date) {
    if (date) a.emplace(key, fnd::Value(*date));
  };
  a.emplace("thumbnailExists", fnd::Value(thumbnailExists_));
  a.emplace("totalBytes", fnd::Value(totalBytes_));
  putDate("lastModifiedDate", lastModifiedDate_);
  putDate("clientMtime", clientMtime_);
  putString("path", path_);
  a.emplace("isDirectory", fnd::Value(isDirectory_));
  if (contents_) {
    fnd::Array children;
    for (const auto& child : *contents_) children.emplace_back(child->encodeWithCoder());
    a.emplace("contents", fnd::Value(std::move(children)));
  }
  putString("hash", hash_);
  putString("humanReadableSize", humanReadableSize_);
  putString("root", root_);
  putString("icon", icon_);
  putString("rev", rev_);
  a.emplace("revision", fnd::Value(revision_));
  a.emplace("isDeleted", fnd::Value(isDeleted_));
  return a;
}

std::shared_ptr<const SFMetadata> SFMetadata::initWithCoder(const fnd::Dictionary& a) {
  auto m = std::shared_ptr<SFMetadata>(new SFMetadata());
  auto date = [&](const char* key) -> std::optional<fnd::Date> {
    const auto it = a.find(key);
    if (it == a.end() || !it->second.isDate()) return std::nullopt;
    return it->second.date();
  };
  m->thumbnailExists_ = boolFor(a, "thumbnailExists");
  m->totalBytes_ = intFor(a, "totalBytes");
  m->lastModifiedDate_ = date("lastModifiedDate");
  m->clientMtime_ = date("clientMtime");
  m->setPath(stringFor(a, "path"));
  m->isDirectory_ = boolFor(a, "isDirectory");
  if (const auto it = a.find("contents"); it != a.end() && it->second.isArray()) {
    std::vector<std::shared_ptr<const SFMetadata>> children;
    for (const auto& element : it->second.array())
      if (element.isDictionary()) children.push_back(initWithCoder(element.dictionary()));
    m->contents_ = std::move(children);
  }
  m->hash_ = stringFor(a, "hash");
  m->humanReadableSize_ = stringFor(a, "humanReadableSize");
  m->root_ = stringFor(a, "root");
  m->icon_ = stringFor(a, "icon");
  m->rev_ = stringFor(a, "rev");
  m->revision_ = intFor(a, "revision");
  m->isDeleted_ = boolFor(a, "isDeleted");
  return m;
}

SFQuota::SFQuota(const fnd::Dictionary& d)
    : normal_(intFor(d, "normal")), shared_(intFor(d, "shared")), total_(intFor(d, "quota")) {}

fnd::Dictionary SFQuota::encodeWithCoder() const {
  return {{"normalConsumedBytes", fnd::Value(normal_)},
          {"sharedConsumedBytes", fnd::Value(shared_)},
          {"totalBytes", fnd::Value(total_)}};
}

std::shared_ptr<const SFQuota> SFQuota::initWithCoder(const fnd::Dictionary& a) {
  return std::make_shared<const SFQuota>(intFor(a, "normalConsumedBytes"), intFor(a, "sharedConsumedBytes"),
                                         intFor(a, "totalBytes"));
}

}  // namespace kesto
