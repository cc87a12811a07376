#include "Platform/Foundation/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>

namespace kesto::fnd::crypto {
namespace {

Data digest(const EVP_MD* md, std::string_view bytes) {
  Data out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &len, md, nullptr) != 1) len = 0;
  out.resize(len);
  return out;
}

}  // namespace

Data md5(std::string_view bytes) { return digest(EVP_md5(), bytes); }
Data sha1(std::string_view bytes) { return digest(EVP_sha1(), bytes); }
Data sha256(std::string_view bytes) { return digest(EVP_sha256(), bytes); }

Data hmacSha1(std::string_view key, std::string_view message) {
  Data out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  // An empty key is legal for HMAC; OpenSSL wants a non-null pointer for it.
  static const unsigned char kEmpty = 0;
  const void* k = key.empty() ? static_cast<const void*>(&kEmpty) : key.data();
  if (!HMAC(EVP_sha1(), k, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
            message.size(), out.data(), &len))
    len = 0;
  out.resize(len);
  return out;
}

std::string hexString(std::string_view bytes, bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    s.push_back(digits[c >> 4]);
    s.push_back(digits[c & 15]);
  }
  return s;
}

std::string md5Hex(std::string_view bytes, bool upperCase) { return hexString(md5(bytes), upperCase); }

std::uint32_t crc32(std::string_view bytes, std::uint32_t crc) {
  uLong c = crc;
  const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
  std::size_t left = bytes.size();
  // zlib takes the length as uInt; feed large inputs in pieces.
  while (left > 0) {
    const uInt n = left > (1u << 30) ? (1u << 30) : static_cast<uInt>(left);
    c = ::crc32(c, p, n);
    p += n;
    left -= n;
  }
  return static_cast<std::uint32_t>(c);
}

Data randomBytes(std::size_t count) {
  Data out(count);
  if (count > 0 && RAND_bytes(out.data(), static_cast<int>(count)) != 1) {
    std::fputs("kesto: the secure random generator failed\n", stderr);
    std::abort();
  }
  return out;
}

std::uint32_t randomUInt32() {
  const Data b = randomBytes(4);
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
}

std::uint32_t randomUniform(std::uint32_t upperBound) {
  if (upperBound < 2) return 0;
  // Reject the top sliver that would make small values more likely.
  const std::uint32_t min = static_cast<std::uint32_t>(-upperBound) % upperBound;
  for (;;) {
    const std::uint32_t r = randomUInt32();
    if (r >= min) return r % upperBound;
  }
}

}  // namespace kesto::fnd::crypto
