#pragma once

#include "TestPKI.h"

#include "Harness/TestSupport.h"
#include "Platform/Net/ServerTrust.h"

#include <string>

namespace kesto::test {

// A root made for one test and a server identity it issued for 127.0.0.1 and localhost, for a
// loopback stand-in of an online service. While trusted, the clients accept servers it issued
// as they accept those of the system's roots; nothing outside the tests can trust it.
struct LoopbackTLS {
  LoopbackTLS()
      : dir(makeTempDir("tls")),
        ca(makeCA("Kesto Test Services Root")),
        leaf(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1,DNS:localhost")),
        identity(writeIdentity(leaf, ca, dir, "server")) {}
  void trust() const { net::ServerTrust::setAdditionalSystemAnchorsForTesting({*net::Certificate::fromDER(ca.der())}); }
  static void distrust() { net::ServerTrust::setAdditionalSystemAnchorsForTesting({}); }

  std::string dir;
  TestCert ca, leaf;
  TestIdentity identity;
};

}  // namespace kesto::test
