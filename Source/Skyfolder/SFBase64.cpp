#include "Skyfolder/SFBase64.h"

#include <cstring>
#include <initializer_list>

namespace kesto {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 72;

enum : signed char { kInvalid = -1, kWhiteSpace = -2, kPad = -3, kNul = -4 };

struct DecodeTable {
  signed char cls[128];
  DecodeTable() {
    for (auto& c : cls) c = kInvalid;
    for (int i = 0; i < 64; ++i) cls[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
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

std::size_t SFBase64EncodedSize(std::size_t length) {
  const std::size_t q = 4 * ((length + 2) / 3);
  return (q % kLineLength) + (q / kLineLength) * (kLineLength + 2);
}

std::size_t SFBase64DecodedSize(std::size_t length) { return 3 * ((length + 3) / 4); }

bool SFBase64Encode(const std::uint8_t* input, std::size_t length, char* output, std::size_t* capacity) {
  const std::size_t needed = SFBase64EncodedSize(length);
  if (!capacity || *capacity < needed) return false;
  *capacity = needed;
  std::size_t o = 0, line = 0;
  auto put = [&](char ch) {
    output[o++] = ch;
    if (++line == kLineLength) {
      output[o++] = '\r';
      output[o++] = '\n';
      line = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const std::uint32_t v = (input[i] << 16) | (input[i + 1] << 8) | input[i + 2];
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  if (length - i == 1) {
    const std::uint32_t v = input[i] << 16;
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put('=');
    put('=');
  } else if (length - i == 2) {
    const std::uint32_t v = (input[i] << 16) | (input[i + 1] << 8);
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put('=');
  }
  return true;
}

bool SFBase64Decode(const char* input, std::size_t length, std::uint8_t* output, std::size_t* capacity) {
  if (!capacity) return false;
  if (output) std::memset(output, '.', *capacity);
  if (*capacity < SFBase64DecodedSize(length)) return false;
  std::size_t written = 0, sextets = 0, i = 0;
  std::uint32_t acc = 0;
  auto emit = [&](std::uint32_t octet) {
    if (written < *capacity) output[written++] = static_cast<std::uint8_t>(octet);
  };
  while (i < length) {
    if (classOf(input[i]) == kPad) break;
    while (i < length && classOf(input[i]) == kWhiteSpace) ++i;
    while (i < length && classOf(input[i]) == kInvalid) ++i;
    if (i >= length) break;
    const signed char cls = classOf(input[i++]);
    const std::uint32_t v = cls >= 0 ? static_cast<std::uint32_t>(cls) : 0;
    switch (sextets++ % 4) {
      case 0: acc = v << 2; break;
      case 1: emit(acc | (v >> 4)); acc = (v & 0x0F) << 4; break;
      case 2: emit(acc | (v >> 2)); acc = (v & 0x03) << 6; break;
      case 3: emit(acc | v); break;
    }
  }
  *capacity = written;
  return true;
}

}  // namespace kesto
