#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::fnd {

// Digests, message authentication and secure random numbers (OpenSSL underneath).
// Byte inputs are taken as string_view so that both text and Data can be passed.
namespace crypto {

inline std::string_view bytes(const Data& d) {
  return {reinterpret_cast<const char*>(d.data()), d.size()};
}

Data md5(std::string_view bytes);
Data sha1(std::string_view bytes);
Data sha256(std::string_view bytes);
Data hmacSha1(std::string_view key, std::string_view message);

// Hexadecimal text of `bytes`, lower case unless `upperCase`.
std::string hexString(std::string_view bytes, bool upperCase = false);
inline std::string hexString(const Data& d, bool upperCase = false) { return hexString(bytes(d), upperCase); }

// MD5 of the bytes as 32 hex digits.
std::string md5Hex(std::string_view bytes, bool upperCase = false);

// CRC-32 (the zip and PNG checksum) of the bytes, continuing from `crc`.
std::uint32_t crc32(std::string_view bytes, std::uint32_t crc = 0);

// `count` bytes from the system's cryptographically secure generator. Never returns fewer:
// a generator failure ends the process rather than handing out weak randomness.
Data randomBytes(std::size_t count);
std::uint32_t randomUInt32();
// Uniform in [0, upperBound); 0 when upperBound is 0.
std::uint32_t randomUniform(std::uint32_t upperBound);

}  // namespace crypto
}  // namespace kesto::fnd
