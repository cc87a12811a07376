#include "Model/Base64.h"

namespace kesto {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool isSkippedSpace(unsigned char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

}  // namespace

std::optional<std::string> Base64::encodeBase64WithData(const fnd::Data& data) {
  if (data.empty()) return std::nullopt;
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  std::size_t rest = data.size() - i;
  if (rest == 1) {
    unsigned v = data[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<fnd::Data> Base64::decodeBase64WithString(std::string_view text) {
  fnd::Data out;
  out.reserve(text.size() / 4 * 3 + 3);
  unsigned char group[4];
  int inGroup = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    // Anything outside ASCII (a password from a foreign file, say) is invalid text, not a crash.
    if (c >= 0x80) return std::nullopt;
    if (isSkippedSpace(c)) continue;
    if (c == '=') {
      // One character of a group followed by a single "=" cannot be the end of valid text.
      if (inGroup == 1 && (i + 1 >= text.size() || text[i + 1] != '=')) return std::nullopt;
      continue;
    }
    int v = decodeChar(c);
    if (v < 0) return std::nullopt;
    group[inGroup++] = static_cast<unsigned char>(v);
    if (inGroup == 4) {
      out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
      out.push_back(static_cast<std::uint8_t>(((group[1] & 0x0F) << 4) | (group[2] >> 2)));
      out.push_back(static_cast<std::uint8_t>(((group[2] & 0x03) << 6) | group[3]));
      inGroup = 0;
    }
  }
  if (inGroup >= 2) out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
  if (inGroup == 3) out.push_back(static_cast<std::uint8_t>(((group[1] & 0x0F) << 4) | (group[2] >> 2)));
  return out;
}

std::string Base64::encodeString(std::string_view text) {
  fnd::Data bytes(text.begin(), text.end());
  return encodeBase64WithData(bytes).value_or(std::string());
}

std::optional<std::string> Base64::decodeToString(std::string_view text) {
  auto data = decodeBase64WithString(text);
  if (!data) return std::nullopt;
  return std::string(data->begin(), data->end());
}

}  // namespace kesto
