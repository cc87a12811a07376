#include "Skyfolder/SFAccountInfo.h"

#include "Skyfolder/SFMetadata.h"

namespace kesto {

namespace {

std::optional<std::string> textFor(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  if (it == d.end()) return std::nullopt;
  if (it->second.isString()) return it->second.string();
  if (it->second.isInteger()) return std::to_string(it->second.intValue());
  return std::nullopt;
}

}  // namespace

SFAccountInfo::SFAccountInfo(const fnd::Dictionary& d)
    : email_(textFor(d, "email")),
      country_(textFor(d, "country")),
      displayName_(textFor(d, "display_name")),
      userId_(textFor(d, "uid")),
      referralLink_(textFor(d, "referral_link")),
      original_(d) {
  if (const auto it = d.find("quota_info"); it != d.end() && it->second.isDictionary())
    quota_ = std::make_shared<const SFQuota>(it->second.dictionary());
}

fnd::Dictionary SFAccountInfo::encodeWithCoder() const { return {{"original", fnd::Value(original_)}}; }

std::shared_ptr<const SFAccountInfo> SFAccountInfo::initWithCoder(const fnd::Dictionary& a) {
  if (const auto it = a.find("original"); it != a.end() && it->second.isDictionary())
    return std::make_shared<const SFAccountInfo>(it->second.dictionary());
  fnd::Dictionary d;
  auto copy = [&](const char* from, const char* to) {
    if (const auto it = a.find(from); it != a.end()) d.insert_or_assign(to, it->second);
  };
  copy("country", "country");
  copy("displayName", "display_name");
  copy("referralLink", "referral_link");
  copy("email", "email");
  if (const auto it = a.find("userId"); it != a.end()) d.insert_or_assign("uid", fnd::Value(it->second.intValue()));
  if (const auto it = a.find("quota"); it != a.end() && it->second.isDictionary()) {
    const auto q = SFQuota::initWithCoder(it->second.dictionary());
    d.insert_or_assign("quota_info", fnd::Value(fnd::Dictionary{{"normal", fnd::Value(q->normalConsumedBytes())},
                                                                {"shared", fnd::Value(q->sharedConsumedBytes())},
                                                                {"quota", fnd::Value(q->totalBytes())}}));
  }
  return std::make_shared<const SFAccountInfo>(d);
}

}  // namespace kesto
