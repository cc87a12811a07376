#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/NetForward.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

enum class NetSSLPinningMode : std::uint64_t { None = 0, PublicKey = 1, Certificate = 2 };

// Judges server trust: the system's verdict on the chain and, when pinning, a comparison with
// known certificates or keys. The host name is always checked unless a caller turns
// validatesDomainName off explicitly.
class NetSecurityPolicy {
 public:
  // Every "*.cer" file of the application's resource folder, read once per process.
  static const std::vector<fnd::Data>& defaultPinnedCertificates();
  // For tests: the folder searched for "*.cer" files (before the first call of the above).
  static void setDefaultPinnedCertificatesFolder(std::string folder);

  static std::shared_ptr<NetSecurityPolicy> defaultPolicy();
  static std::shared_ptr<NetSecurityPolicy> policyWithPinningMode(NetSSLPinningMode mode);

  NetSSLPinningMode SSLPinningMode() const { return mode_; }
  // Modes 1 and 2 also turn validatesDomainName on; mode 0 leaves it as it was.
  void setSSLPinningMode(NetSSLPinningMode mode);
  bool validatesCertificateChain() const { return validatesChain_; }
  void setValidatesCertificateChain(bool on) { validatesChain_ = on; }
  const std::optional<std::vector<fnd::Data>>& pinnedCertificates() const { return pinned_; }
  // Also derives pinnedPublicKeys (DER SubjectPublicKeyInfo of each certificate that parses).
  void setPinnedCertificates(std::optional<std::vector<fnd::Data>> certificates);
  const std::optional<std::vector<fnd::Data>>& pinnedPublicKeys() const { return pinnedKeys_; }
  bool allowInvalidCertificates() const { return allowInvalid_; }
  void setAllowInvalidCertificates(bool on) { allowInvalid_ = on; }
  bool validatesDomainName() const { return validatesDomain_; }
  void setValidatesDomainName(bool on) { validatesDomain_ = on; }

  // True accepts the server. `domain` absent: the trust's own host.
  bool evaluateServerTrust(net::ServerTrust& trust, const std::optional<std::string>& domain) const;
  bool evaluateServerTrust(net::ServerTrust& trust) const { return evaluateServerTrust(trust, std::nullopt); }

 private:
  NetSSLPinningMode mode_ = NetSSLPinningMode::None;
  bool validatesChain_ = true;
  std::optional<std::vector<fnd::Data>> pinned_;
  std::optional<std::vector<fnd::Data>> pinnedKeys_;
  bool allowInvalid_ = false;
  bool validatesDomain_ = true;
};

}  // namespace kesto
