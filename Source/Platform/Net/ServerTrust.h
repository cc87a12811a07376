#pragma once

#include "Platform/Foundation/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::net {

// An X.509 certificate held as DER bytes that parsed.
class Certificate {
 public:
  // Absent for bytes that are not a DER certificate.
  static std::optional<Certificate> fromDER(const fnd::Data& der);
  // Every certificate of a PEM text, in order.
  static std::vector<Certificate> fromPEM(std::string_view pem);

  const fnd::Data& der() const { return der_; }
  // The DER SubjectPublicKeyInfo; two keys are equal when these bytes are.
  const fnd::Data& publicKeyInfo() const { return spki_; }
  std::string subjectSummary() const;

  bool operator==(const Certificate& other) const { return der_ == other.der_; }

 private:
  fnd::Data der_;
  fnd::Data spki_;
  std::string subject_;
};

// Results of a trust evaluation, with the values the callers compare against.
enum class TrustResult {
  Invalid = 0,
  Proceed = 1,
  Deny = 3,
  Unspecified = 4,  // the chain verified and nobody set an explicit rule
  RecoverableTrustFailure = 5,  // untrusted root, wrong host, expired
  FatalTrustFailure = 6,
  OtherError = 7,
};

// A server's certificate chain (leaf first) with the policy to judge it by. Evaluation uses the
// system's certificate store (plus test anchors), or only the anchors given.
class ServerTrust {
 public:
  ServerTrust(std::vector<Certificate> chain, std::string host, int port);

  const std::vector<Certificate>& certificateChain() const { return chain_; }
  const std::string& host() const { return host_; }
  int port() const { return port_; }

  // The policy: basic X.509 (chain and dates only) or SSL server for a host name (chain,
  // dates, server-auth usage and the name, which may be an IP address). The default is SSL
  // server for the connection's host. Setting replaces the previous policy.
  void setPolicyBasicX509();
  void setPolicySSLServer(std::optional<std::string> hostName);
  bool checksHostName() const { return sslPolicy_; }

  // Only these certificates are trusted as roots from now on (the system store is not used).
  void setAnchorCertificates(std::vector<Certificate> anchors);

  TrustResult evaluate() const;
  // A short reason when the last evaluation failed (OpenSSL's verify text).
  std::string lastFailureReason() const { return reason_; }

  // For tests: roots trusted in addition to the system store, for every evaluation of the
  // process. An empty list removes them.
  static void setAdditionalSystemAnchorsForTesting(std::vector<Certificate> anchors);
  // For tests: use only the additional anchors, not the system store.
  static void setIgnoreSystemStoreForTesting(bool ignore);

 private:
  std::vector<Certificate> chain_;
  std::string host_;
  int port_;
  bool sslPolicy_ = true;
  std::optional<std::string> policyHost_;
  std::optional<std::vector<Certificate>> anchors_;
  mutable std::string reason_;
};

}  // namespace kesto::net
