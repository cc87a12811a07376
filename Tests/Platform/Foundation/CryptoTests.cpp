#include "Platform/Foundation/Crypto.h"

#include <gtest/gtest.h>

#include <set>

using namespace kesto::fnd;

namespace {
std::string hex(const Data& d) { return crypto::hexString(d); }
}  // namespace

// RFC 1321 appendix A.5.
TEST(Crypto, Md5MatchesRfcVectors) {
  EXPECT_EQ(hex(crypto::md5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(crypto::md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(crypto::md5("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(crypto::md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(crypto::md5Hex("abc", true), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(Crypto, Md5CoversBinaryInputWithZeroBytes) {
  const std::string withNul("a\0b", 3);
  EXPECT_NE(crypto::md5Hex(withNul), crypto::md5Hex("a"));
  EXPECT_EQ(crypto::md5Hex(withNul), crypto::md5Hex(crypto::bytes(Data{'a', 0, 'b'})));
}

// FIPS 180 examples.
TEST(Crypto, Sha1AndSha256MatchStandardVectors) {
  EXPECT_EQ(hex(crypto::sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(crypto::sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(hex(crypto::sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// RFC 2202 section 3.
TEST(Crypto, HmacSha1MatchesRfc2202) {
  EXPECT_EQ(hex(crypto::hmacSha1(std::string(20, '\x0b'), "Hi There")), "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(hex(crypto::hmacSha1("Jefe", "what do ya want for nothing?")), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(hex(crypto::hmacSha1(std::string(20, '\xaa'), std::string(50, '\xdd'))),
            "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  // Keys longer than the block are hashed first.
  EXPECT_EQ(hex(crypto::hmacSha1(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  // An empty key is valid (OAuth signs with "&" but other callers may not).
  EXPECT_EQ(crypto::hmacSha1("", "").size(), 20u);
}

TEST(Crypto, Crc32MatchesCheckValueAndContinues) {
  EXPECT_EQ(crypto::crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(crypto::crc32(""), 0u);
  EXPECT_EQ(crypto::crc32("56789", crypto::crc32("1234")), 0xCBF43926u);
}

TEST(Crypto, RandomBytesAreFreshAndBounded) {
  EXPECT_TRUE(crypto::randomBytes(0).empty());
  const Data a = crypto::randomBytes(32), b = crypto::randomBytes(32);
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
  EXPECT_EQ(crypto::randomUniform(0), 0u);
  EXPECT_EQ(crypto::randomUniform(1), 0u);
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 400; ++i) {
    const std::uint32_t r = crypto::randomUniform(6);
    ASSERT_LT(r, 6u);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 6u);
}
