#include "Platform/Foundation/Base64.h"

namespace kesto::fnd::base64 {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

int sextetOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::size_t encodedSize(std::size_t size, std::size_t lineLength) {
  const std::size_t chars = 4 * ((size + 2) / 3);
  if (lineLength == 0) return chars;
  return chars + (chars / lineLength) * 2;
}

std::string encode(const std::uint8_t* data, std::size_t size, std::size_t lineLength) {
  std::string out;
  out.reserve(encodedSize(size, lineLength));
  std::size_t line = 0;
  auto put = [&](char ch) {
    out += ch;
    if (lineLength && ++line == lineLength) {
      out += "\r\n";
      line = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const std::uint32_t v = (std::uint32_t(data[i]) << 16) | (std::uint32_t(data[i + 1]) << 8) | data[i + 2];
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  const std::size_t rest = size - i;
  if (rest > 0) {
    const std::uint32_t v = (std::uint32_t(data[i]) << 16) | (rest == 2 ? std::uint32_t(data[i + 1]) << 8 : 0);
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    put('=');
  }
  return out;
}

std::optional<Data> decode(std::string_view text) {
  std::size_t end = text.size();
  std::size_t padding = 0;
  while (end > 0 && text[end - 1] == '=' && padding < 2) {
    --end;
    ++padding;
  }
  if (padding && text.size() % 4 != 0) return std::nullopt;
  Data out;
  out.reserve(end / 4 * 3 + 2);
  Base64Sextets sextets;
  for (std::size_t i = 0; i < end; ++i) {
    const int v = sextetOf(static_cast<unsigned char>(text[i]));
    if (v < 0) return std::nullopt;
    sextets.push(unsigned(v), [&](std::uint8_t octet) { out.push_back(octet); });
  }
  return out;
}

}  // namespace kesto::fnd::base64
