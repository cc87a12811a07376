#include "Model/Base64.h"

#include "Platform/Foundation/Base64.h"

namespace kesto {

namespace {
bool isSkippedSpace(unsigned char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
}  // namespace

std::optional<std::string> Base64::encodeBase64WithData(const fnd::Data& data) {
  if (data.empty()) return std::nullopt;
  return fnd::base64::encode(data);
}

std::optional<fnd::Data> Base64::decodeBase64WithString(std::string_view text) {
  fnd::Data out;
  out.reserve(text.size() / 4 * 3 + 3);
  fnd::base64::Base64Sextets sextets;
  auto sink = [&](std::uint8_t octet) { out.push_back(octet); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    // Anything outside ASCII (a password from a foreign file, say) is invalid text, not a crash.
    if (c >= 0x80) return std::nullopt;
    if (isSkippedSpace(c)) continue;
    if (c == '=') {
      // One character of a group followed by a single "=" cannot be the end of valid text.
      if (sextets.count() % 4 == 1 && (i + 1 >= text.size() || text[i + 1] != '=')) return std::nullopt;
      continue;
    }
    int v = fnd::base64::sextetOf(c);
    if (v < 0) return std::nullopt;
    sextets.push(unsigned(v), sink);
  }
  return out;
}

std::string Base64::encodeString(std::string_view text) { return text.empty() ? std::string() : fnd::base64::encode(text); }

std::optional<std::string> Base64::decodeToString(std::string_view text) {
  auto data = decodeBase64WithString(text);
  if (!data) return std::nullopt;
  return std::string(data->begin(), data->end());
}

}  // namespace kesto
