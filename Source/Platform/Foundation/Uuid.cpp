#include "Platform/Foundation/Uuid.h"

#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/Strings.h"

#include <cstring>

namespace kesto::fnd {
namespace {

bool isDashPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

// Version 4 and the RFC 4122 variant over 16 random bytes.
std::array<std::uint8_t, 16> randomForm(const std::uint8_t* random) {
  std::array<std::uint8_t, 16> b{};
  std::memcpy(b.data(), random, 16);
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  return b;
}

}  // namespace

Uuid::Uuid() {
  const Data r = crypto::randomBytes(16);
  bytes_ = randomForm(r.data());
}

Uuid UuidGenerator::next() {
  if (at_ + 16 > pool_.size()) {
    constexpr std::size_t kBlock = 16 * 256;
    const Data r = crypto::randomBytes(kBlock);
    pool_.assign(r.begin(), r.end());
    at_ = 0;
  }
  Uuid id(randomForm(pool_.data() + at_));
  at_ += 16;
  return id;
}

std::optional<Uuid> Uuid::fromString(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  std::array<std::uint8_t, 16> b{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < 36;) {
    if (isDashPosition(i)) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int hi = hexDigitValue(text[i]);
    const int lo = hexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0 || isDashPosition(i + 1)) return std::nullopt;
    b[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
    i += 2;
  }
  return Uuid(b);
}

std::string Uuid::string() const {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  s.reserve(36);
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(digits[bytes_[i] >> 4]);
    s.push_back(digits[bytes_[i] & 15]);
  }
  return s;
}

std::string Uuid::newString() { return Uuid().string(); }

}  // namespace kesto::fnd
