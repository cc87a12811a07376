#include "Network/NetSecurityPolicy.h"
#include "Platform/Net/ServerTrust.h"

#include "Harness/TestSupport.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

using namespace kesto;
using net::Certificate;

namespace {

net::ServerTrust trustFor(const test::TestIdentity& id, const std::string& host = "localhost") {
  return net::ServerTrust(Certificate::fromPEM(test::readFile(id.certPath)), host, 443);
}

fnd::Data der(const std::string& pem) { return Certificate::fromPEM(pem).at(0).der(); }

}  // namespace

TEST(SecurityPolicyTest, DefaultPolicyChecksChainAndHost) {
  test::TrustTestCA ca;
  const auto& pki = test::testPKI();
  auto policy = NetSecurityPolicy::defaultPolicy();
  EXPECT_TRUE(policy->validatesDomainName());
  auto good = trustFor(pki.localhost);
  EXPECT_TRUE(policy->evaluateServerTrust(good));
  // A certificate the system trusts, issued for another host, is refused by default.
  auto wrong = trustFor(pki.wrongHost);
  EXPECT_FALSE(policy->evaluateServerTrust(wrong));
  auto self = trustFor(pki.selfSigned);
  EXPECT_FALSE(policy->evaluateServerTrust(self));
  auto expired = trustFor(pki.expired);
  EXPECT_FALSE(policy->evaluateServerTrust(expired));

  policy->setAllowInvalidCertificates(true);
  EXPECT_TRUE(policy->evaluateServerTrust(self));
  policy->setAllowInvalidCertificates(false);
  policy->setValidatesDomainName(false);
  EXPECT_TRUE(policy->evaluateServerTrust(wrong)) << "only an explicit setting skips the host";
}

TEST(SecurityPolicyTest, ModeSettingKeepsHostChecks) {
  NetSecurityPolicy p;
  p.setValidatesDomainName(false);
  p.setSSLPinningMode(NetSSLPinningMode::Certificate);
  EXPECT_TRUE(p.validatesDomainName());
  p.setSSLPinningMode(NetSSLPinningMode::None);
  EXPECT_TRUE(p.validatesDomainName());
}

TEST(SecurityPolicyTest, CertificatePinning) {
  test::TrustTestCA ca;
  const auto& pki = test::testPKI();
  NetSecurityPolicy p;
  p.setSSLPinningMode(NetSSLPinningMode::Certificate);
  p.setPinnedCertificates(std::vector<fnd::Data>{der(pki.caPEM)});
  p.setValidatesCertificateChain(false);
  auto t = trustFor(pki.localhost);
  EXPECT_TRUE(p.evaluateServerTrust(t)) << "the pinned root anchors the chain";

  // Chain validation wants every chain certificate pinned: leaf and intermediate here.
  p.setValidatesCertificateChain(true);
  auto t2 = trustFor(pki.localhost);
  EXPECT_FALSE(p.evaluateServerTrust(t2));
  p.setPinnedCertificates(std::vector<fnd::Data>{der(pki.caPEM), der(pki.intermediatePEM), der(pki.localhost.certPEM)});
  auto t3 = trustFor(pki.localhost);
  EXPECT_TRUE(p.evaluateServerTrust(t3));

  auto raw = static_cast<NetSSLPinningMode>(3);
  NetSecurityPolicy odd;
  odd.setSSLPinningMode(raw);
  auto t4 = trustFor(pki.localhost);
  EXPECT_FALSE(odd.evaluateServerTrust(t4));
}

TEST(SecurityPolicyTest, PublicKeyPinningCountsCertificatesNotPairs) {
  test::TrustTestCA ca;
  const auto& pki = test::testPKI();
  NetSecurityPolicy p;
  p.setSSLPinningMode(NetSSLPinningMode::PublicKey);
  // The leaf's key pinned twice (a renewed certificate with the same key): the intermediate is
  // still unpinned, so the chain must not pass.
  p.setPinnedCertificates(std::vector<fnd::Data>{der(pki.localhost.certPEM), der(pki.expired.certPEM)});
  ASSERT_EQ(p.pinnedPublicKeys()->size(), 2u);
  auto t = trustFor(pki.localhost);
  EXPECT_FALSE(p.evaluateServerTrust(t));

  p.setValidatesCertificateChain(false);
  auto t2 = trustFor(pki.localhost);
  EXPECT_TRUE(p.evaluateServerTrust(t2)) << "the server's own key is pinned";

  p.setPinnedCertificates(std::vector<fnd::Data>{fnd::Data{1, 2, 3}});
  EXPECT_TRUE(p.pinnedPublicKeys()->empty());
  p.setPinnedCertificates(std::nullopt);
  EXPECT_FALSE(p.pinnedPublicKeys());
}

TEST(SecurityPolicyTest, PinningReachesTheComparisonForUntrustedServersWhenAllowed) {
  const auto& pki = test::testPKI();
  NetSecurityPolicy p;
  p.setSSLPinningMode(NetSSLPinningMode::Certificate);
  p.setPinnedCertificates(std::vector<fnd::Data>{der(pki.selfSigned.certPEM)});
  auto t = trustFor(pki.selfSigned);
  EXPECT_FALSE(p.evaluateServerTrust(t));
  p.setAllowInvalidCertificates(true);
  auto t2 = trustFor(pki.selfSigned);
  EXPECT_TRUE(p.evaluateServerTrust(t2));
}

TEST(SecurityPolicyTest, DefaultPinnedCertificatesAreReadOnce) {
  std::string dir = test::makeTempDir("cer");
  const auto& pki = test::testPKI();
  fnd::Data ca = der(pki.caPEM);
  test::writeFile(dir + "/root.cer", std::string(ca.begin(), ca.end()));
  test::writeFile(dir + "/other.txt", "ignored");
  NetSecurityPolicy::setDefaultPinnedCertificatesFolder(dir);
  const auto& first = NetSecurityPolicy::defaultPinnedCertificates();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0], ca);
  EXPECT_EQ(&first, &NetSecurityPolicy::defaultPinnedCertificates());
  auto p = NetSecurityPolicy::policyWithPinningMode(NetSSLPinningMode::Certificate);
  EXPECT_EQ(p->pinnedCertificates()->size(), 1u);
}
