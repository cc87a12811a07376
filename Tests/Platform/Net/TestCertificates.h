#pragma once

// Certificates made at test time: a CA, leaves signed by it, an expired leaf and a self-signed
// one, written as PEM files for the loopback TLS servers.

#include "Platform/Net/ServerTrust.h"

#include <string>

namespace kesto::test {

struct TestIdentity {
  std::string certPath;  // PEM: the leaf, then the intermediates
  std::string keyPath;   // PEM private key
  std::string certPEM;   // the leaf alone
};

struct TestPKI {
  std::string caPEM;
  std::string caPath;
  TestIdentity localhost;     // localhost and 127.0.0.1, signed by the CA through an intermediate
  std::string intermediatePEM;
  TestIdentity wrongHost;     // only "wrong.test"
  TestIdentity expired;       // localhost, expired yesterday
  TestIdentity selfSigned;    // localhost, its own issuer
};

// Made once per process in a temporary folder.
const TestPKI& testPKI();

// While it lives, only the test CA of testPKI() is trusted: the system's roots are not.
struct TrustTestCA {
  TrustTestCA() {
    net::ServerTrust::setIgnoreSystemStoreForTesting(true);
    net::ServerTrust::setAdditionalSystemAnchorsForTesting(net::Certificate::fromPEM(testPKI().caPEM));
  }
  ~TrustTestCA() {
    net::ServerTrust::setAdditionalSystemAnchorsForTesting({});
    net::ServerTrust::setIgnoreSystemStoreForTesting(false);
  }
  TrustTestCA(const TrustTestCA&) = delete;
  TrustTestCA& operator=(const TrustTestCA&) = delete;
};

}  // namespace kesto::test
