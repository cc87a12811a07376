#pragma once

#include "Platform/Foundation/Value.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// A certificate with its key, made at test time so nothing committed can expire.
struct TestCert {
  std::shared_ptr<void> key;   // EVP_PKEY
  std::shared_ptr<void> cert;  // X509
  fnd::Data der() const;
  std::string pem() const;
  std::string keyPem() const;
};

// A self-signed certificate authority.
TestCert makeCA(const std::string& commonName);
// A server certificate issued by `ca` for `subjectAltNames` ("IP:127.0.0.1,DNS:localhost"),
// with the serial given in hexadecimal.
TestCert makeLeaf(const TestCert& ca, const std::string& commonName, const std::string& subjectAltNames,
                  const std::string& serialHex = "1001");

// Files for a TLS server: the leaf followed by its issuer, and the leaf's key.
struct TestIdentity {
  std::string certPath;
  std::string keyPath;
};
TestIdentity writeIdentity(const TestCert& leaf, const TestCert& ca, const std::string& directory,
                           const std::string& name);

}  // namespace kesto::test
