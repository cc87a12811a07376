#pragma once

#include "Platform/Foundation/Value.h"

#include <memory>
#include <optional>
#include <string>

namespace kesto {

class SFQuota;

// The reply of "/account/info".
class SFAccountInfo final : public fnd::Object {
 public:
  explicit SFAccountInfo(const fnd::Dictionary& dictionary);

  // Archives only the original reply; reads older archives of the separate fields too.
  fnd::Dictionary encodeWithCoder() const;
  static std::shared_ptr<const SFAccountInfo> initWithCoder(const fnd::Dictionary& archive);

  const std::optional<std::string>& email() const { return email_; }
  const std::optional<std::string>& country() const { return country_; }
  const std::optional<std::string>& displayName() const { return displayName_; }
  const std::shared_ptr<const SFQuota>& quota() const { return quota_; }
  const std::optional<std::string>& userId() const { return userId_; }
  const std::optional<std::string>& referralLink() const { return referralLink_; }
  const fnd::Dictionary& original() const { return original_; }

 private:
  std::optional<std::string> email_, country_, displayName_, userId_, referralLink_;
  std::shared_ptr<const SFQuota> quota_;
  fnd::Dictionary original_;
};

}  // namespace kesto
