#include "Skyfolder/SFBase64.h"

#include "Platform/Foundation/Base64.h"

#include <cstring>
#include <initializer_list>

namespace kesto {

namespace {

constexpr std::size_t kLineLength = 72;

enum : signed char { kInvalid = -1, kWhiteSpace = -2, kPad = -3, kNul = -4 };

struct DecodeTable {
  signed char cls[128];
  DecodeTable() {
    for (int i = 0; i < 128; ++i) {
      const int v = fnd::base64::sextetOf(static_cast<unsigned char>(i));
      cls[i] = v >= 0 ? static_cast<signed char>(v) : static_cast<signed char>(kInvalid);
    }
    for (const char ws : {'\t', '\n', '\v', '\f', '\r', ' '}) cls[static_cast<unsigned char>(ws)] = kWhiteSpace;
    cls[static_cast<unsigned char>('=')] = kPad;
    cls[0] = kNul;
  }
};

signed char classOf(char ch) {
  static const DecodeTable table;
  const auto b = static_cast<unsigned char>(ch);
  return b < 128 ? table.cls[b] : static_cast<signed char>(kInvalid);
}

}  // namespace

std::size_t SFBase64EncodedSize(std::size_t length) { return fnd::base64::encodedSize(length, kLineLength); }

std::size_t SFBase64DecodedSize(std::size_t length) { return 3 * ((length + 3) / 4); }

bool SFBase64Encode(const std::uint8_t* input, std::size_t length, char* output, std::size_t* capacity) {
  const std::size_t needed = SFBase64EncodedSize(length);
  if (!capacity || *capacity < needed) return false;
  const std::string text = fnd::base64::encode(input, length, kLineLength);
  std::memcpy(output, text.data(), text.size());
  *capacity = text.size();
  return true;
}

bool SFBase64Decode(const char* input, std::size_t length, std::uint8_t* output, std::size_t* capacity) {
  if (!capacity) return false;
  if (output) std::memset(output, '.', *capacity);
  if (*capacity < SFBase64DecodedSize(length)) return false;
  std::size_t written = 0, i = 0;
  fnd::base64::Base64Sextets sextets;
  auto sink = [&](std::uint8_t octet) {
    if (written < *capacity) output[written++] = octet;
  };
  while (i < length) {
    if (classOf(input[i]) == kPad) break;
    while (i < length && classOf(input[i]) == kWhiteSpace) ++i;
    while (i < length && classOf(input[i]) == kInvalid) ++i;
    if (i >= length) break;
    const signed char cls = classOf(input[i++]);
    sextets.push(cls >= 0 ? static_cast<unsigned>(cls) : 0u, sink);
  }
  *capacity = written;
  return true;
}

}  // namespace kesto
