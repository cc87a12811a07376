#include "Platform/Foundation/Log.h"
#include "Skyfolder/SFBase64.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRootCertificates.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include <string>

using namespace kesto;

namespace {

std::string encode(const std::string& in) {
  std::string out(SFBase64EncodedSize(in.size()), '\0');
  std::size_t cap = out.size();
  EXPECT_TRUE(SFBase64Encode(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(), out.data(), &cap));
  out.resize(cap);
  return out;
}

std::string decode(const std::string& in) {
  std::size_t cap = SFBase64DecodedSize(in.size());
  std::string out(cap, '\0');
  EXPECT_TRUE(SFBase64Decode(in.data(), in.size(), reinterpret_cast<std::uint8_t*>(out.data()), &cap));
  out.resize(cap);
  return out;
}

// A minimal certificate-shaped DER prefix: SEQUENCE { SEQUENCE { [0] version, INTEGER serial } }.
fnd::Data certWithSerial(const fnd::Data& serial) {
  fnd::Data tbs{0xA0, 0x03, 0x02, 0x01, 0x02, 0x02, static_cast<std::uint8_t>(serial.size())};
  tbs.insert(tbs.end(), serial.begin(), serial.end());
  tbs.insert(tbs.end(), {0x30, 0x00});  // something after the serial
  const auto n = static_cast<std::uint8_t>(tbs.size());
  fnd::Data der = tbs;
  der.insert(der.begin(), {0x30, static_cast<std::uint8_t>(n + 2), 0x30, n});
  return der;
}

}  // namespace

TEST(SFBase64, EncodesWithPaddingAndLineBreaks) {
  EXPECT_EQ(encode("M"), "TQ==");
  EXPECT_EQ(encode("Ma"), "TWE=");
  EXPECT_EQ(encode("Man"), "TWFu");
  EXPECT_EQ(encode(std::string(20, 'x')).size(), 28u);
  const std::string line = encode(std::string(54, 'a'));
  EXPECT_EQ(line.size(), 74u);
  EXPECT_EQ(line.substr(72), "\r\n");
  EXPECT_EQ(SFBase64EncodedSize(0), 0u);
  std::size_t small = 3;
  char buf[8];
  EXPECT_FALSE(SFBase64Encode(reinterpret_cast<const std::uint8_t*>("Man"), 3, buf, &small));
}

TEST(SFBase64, DecodesSkippingWhitespaceAndNeverReadsPastTheInput) {
  EXPECT_EQ(decode("TWFu"), "Man");
  EXPECT_EQ(decode("TQ=="), "M");
  EXPECT_EQ(decode("TWE="), "Ma");
  EXPECT_EQ(decode("TW\r\nFu"), "Man");
  EXPECT_EQ(decode(encode(std::string(200, '\x7f'))), std::string(200, '\x7f'));
  // Trailing white space or junk at the very end must not make the decoder look beyond it;
  // high octets are invalid characters, not table indexes.
  std::string tail = "TWFu   ";
  EXPECT_EQ(decode(tail), "Man");
  EXPECT_EQ(decode("TWFu\xff\xfe"), "Man");
  EXPECT_EQ(decode("TW\xc3\xa9" "Fu"), "Man");
  std::size_t tooSmall = 2;
  std::uint8_t out[4];
  EXPECT_FALSE(SFBase64Decode("TWFu", 4, out, &tooSmall));
  EXPECT_EQ(out[0], '.');
}

TEST(SFRequestTrust, ReadsDerLengths) {
  std::uint64_t len = 0, idx = 0;
  const std::uint8_t longForm[] = {0x82, 0x01, 0x00};
  EXPECT_EQ(SFRequest::readLength(&len, longForm, 3, &idx), 0);
  EXPECT_EQ(len, 256u);
  EXPECT_EQ(idx, 3u);
  idx = 0;
  const std::uint8_t shortForm[] = {0x05};
  EXPECT_EQ(SFRequest::readLength(&len, shortForm, 1, &idx), 0);
  EXPECT_EQ(len, 5u);
  idx = 0;
  const std::uint8_t tooLong[] = {0x85, 1, 1, 1, 1, 1};
  EXPECT_EQ(SFRequest::readLength(&len, tooLong, 6, &idx), -1);
  idx = 0;
  const std::uint8_t indefinite[] = {0x80};
  EXPECT_EQ(SFRequest::readLength(&len, indefinite, 1, &idx), -1);
  idx = 0;
  const std::uint8_t truncated[] = {0x81};
  EXPECT_EQ(SFRequest::readLength(&len, truncated, 1, &idx), -2);
  idx = 1;
  EXPECT_EQ(SFRequest::readLength(&len, truncated, 1, &idx), -2);
}

TEST(SFRequestTrust, FindsSerialsAndComparesThemOctetExactly) {
  const fnd::Data revoked{0x27, 0xab, 0x71, 0xba, 0x41, 0x86, 0x5c};
  const auto der = certWithSerial(revoked);
  const auto serial = SFRequest::copySerialFromCertificate(der.data(), static_cast<std::int64_t>(der.size()));
  ASSERT_TRUE(serial);
  EXPECT_EQ(*serial, revoked);
  EXPECT_TRUE(SFRequest::isRevokedCertificate(der));
  fnd::Data padded{0x00};
  padded.insert(padded.end(), revoked.begin(), revoked.end());
  EXPECT_FALSE(SFRequest::isRevokedCertificate(certWithSerial(padded)));
  EXPECT_FALSE(SFRequest::isRevokedCertificate(certWithSerial({0x01, 0x02})));
}

TEST(SFRequestTrust, MalformedCertificatesHaveNoSerialAndCountAsRevoked) {
  EXPECT_FALSE(SFRequest::copySerialFromCertificate(nullptr, 0));
  EXPECT_FALSE(SFRequest::copySerialFromCertificate(nullptr, -1));
  const fnd::Data notSeq{0x31, 0x00};
  EXPECT_FALSE(SFRequest::copySerialFromCertificate(notSeq.data(), 2));
  // A version element whose length points far beyond the buffer must not wrap the index.
  const fnd::Data huge{0x30, 0x0a, 0x30, 0x08, 0xA0, 0x84, 0xff, 0xff, 0xff, 0xf8, 0x02, 0x01, 0x05, 0x00};
  EXPECT_FALSE(SFRequest::copySerialFromCertificate(huge.data(), static_cast<std::int64_t>(huge.size())));
  // A serial running past the end of the data.
  fnd::Data cut = certWithSerial({0x01, 0x02, 0x03});
  cut.resize(cut.size() - 4);
  EXPECT_FALSE(SFRequest::copySerialFromCertificate(cut.data(), static_cast<std::int64_t>(cut.size())));
  EXPECT_TRUE(SFRequest::isRevokedCertificate(notSeq));
}

TEST(SFRequestTrust, EachHeaderOnTheWayToTheSerialIsChecked) {
  const auto serialOf = [](const fnd::Data& der) {
    return SFRequest::copySerialFromCertificate(der.data(), static_cast<std::int64_t>(der.size()));
  };
  // The version element is skipped by its length, however long it is.
  const fnd::Data longVersion{0x30, 0x0c, 0x30, 0x0a, 0xA0, 0x04, 0x02, 0x02, 0x00, 0x02, 0x02, 0x01, 0x07, 0x00};
  ASSERT_TRUE(serialOf(longVersion));
  EXPECT_EQ(*serialOf(longVersion), fnd::Data{0x07});

  const fnd::Data good = certWithSerial({0x07});
  ASSERT_TRUE(serialOf(good));
  const auto broken = [&](std::size_t at, std::uint8_t octet) {
    fnd::Data der = good;
    der[at] = octet;
    return der;
  };
  EXPECT_FALSE(serialOf(broken(2, 0x31))) << "the second element is no sequence";
  EXPECT_FALSE(serialOf(broken(4, 0x1F))) << "a multi-octet version tag";
  EXPECT_FALSE(serialOf(broken(9, 0x04))) << "the serial is no integer";
  EXPECT_FALSE(serialOf(broken(1, 0x80))) << "indefinite length of the certificate";
  EXPECT_FALSE(serialOf(broken(3, 0x80))) << "indefinite length of its body";
  EXPECT_FALSE(serialOf(broken(5, 0x80))) << "indefinite length of the version";
  EXPECT_FALSE(serialOf(broken(10, 0x80))) << "indefinite length of the serial";
  // Cut right after each header's tag.
  for (std::size_t size : {1u, 3u, 5u, 8u, 10u}) {
    fnd::Data cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(serialOf(cut)) << size;
  }
}

TEST(SFRequestTrust, PinnedRootsAreTheDecodableCertificates) {
  fnd::LogCapture capture;
  const auto roots = SFRequest::rootCertificates();
  // The roots still distributed decode; withdrawn ones (left empty) are skipped without an error.
  EXPECT_FALSE(capture.contains("Root certificate")) << "an entry left empty on purpose is no error";
  EXPECT_GE(roots.size(), 9u);
  EXPECT_LE(roots.size(), 19u);
  for (const auto& root : roots) EXPECT_TRUE(SFRequest::copySerialFromCertificate(root.der().data(),
                                                                                   static_cast<std::int64_t>(root.der().size())));
  SFRequest::setRootCertificatesForTesting(std::vector<net::Certificate>{});
  EXPECT_TRUE(SFRequest::rootCertificates().empty());
  SFRequest::setRootCertificatesForTesting(std::nullopt);
  EXPECT_EQ(SFRequest::rootCertificates().size(), roots.size());
}

namespace kesto::test {
namespace {

TEST(SFRequestTrust, EveryPinnedRootIsOneDebiansCertificateStoreCarries) {
  std::ifstream in("/etc/ssl/certs/ca-certificates.crt");
  if (!in) GTEST_SKIP() << "no ca-certificates bundle";
  std::set<std::string> bundle;
  std::string line, body;
  while (std::getline(in, line)) {
    if (line.rfind("-----BEGIN", 0) == 0) body.clear();
    else if (line.rfind("-----END", 0) == 0) bundle.insert(body);
    else body += line;
  }
  int filled = 0;
  for (const std::string_view text : SFRootCertificateTexts()) {
    if (text.empty()) continue;
    ++filled;
    EXPECT_TRUE(bundle.count(std::string(text))) << text.substr(0, 60);
  }
  // Nine of the nineteen (GeoTrust, thawte, the Go Daddy Secure intermediate) no store carries.
  EXPECT_EQ(filled, 10);
  EXPECT_EQ(SFRootCertificateTexts().size(), 19u);
}

}  // namespace
}  // namespace kesto::test
