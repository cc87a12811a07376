#pragma once

// Certificates made at test time: a CA, leaves signed by it, an expired leaf and a self-signed
// one, written as PEM files for the loopback TLS servers.

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

}  // namespace kesto::test
