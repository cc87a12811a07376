#pragma once

#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The one Base64 codec (RFC 4648 standard alphabet, "=" padding). Readers that are lenient in
// their own ways (skipping white space or stray characters) keep their scanning rules and feed
// the sextets they accept to a Base64Sextets; the octets come out the same for all of them.
namespace kesto::fnd::base64 {

// The value of an alphabet character, or -1 for anything else ("=" included).
int sextetOf(unsigned char c);

// `size` octets as Base64 text; with `lineLength`, CR LF after every `lineLength` characters
// (a last full line ends with one too).
std::string encode(const std::uint8_t* data, std::size_t size, std::size_t lineLength = 0);
inline std::string encode(const Data& data, std::size_t lineLength = 0) {
  return encode(data.data(), data.size(), lineLength);
}
inline std::string encode(std::string_view bytes, std::size_t lineLength = 0) {
  return encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), lineLength);
}
// The characters encode() writes for `size` octets.
std::size_t encodedSize(std::size_t size, std::size_t lineLength = 0);

// Strict reading: only alphabet characters, then at most two "=" that make the text a whole
// number of groups (unpadded text is accepted). White space is an error: strip it first.
std::optional<Data> decode(std::string_view text);

// Octets from sextets: each sextet completes the octet it finishes, so a final partial group
// gives what it holds (two sextets one octet, three two). The octets go to `sink` (a name that
// is no macro: Qt's headers make `emit` one that expands to nothing).
class Base64Sextets {
 public:
  template <class Sink>
  void push(unsigned sextet, Sink&& sink) {
    switch (count_++ % 4) {
      case 0: acc_ = sextet << 2; break;
      case 1: sink(static_cast<std::uint8_t>(acc_ | (sextet >> 4))); acc_ = (sextet & 0x0F) << 4; break;
      case 2: sink(static_cast<std::uint8_t>(acc_ | (sextet >> 2))); acc_ = (sextet & 0x03) << 6; break;
      default: sink(static_cast<std::uint8_t>(acc_ | sextet)); break;
    }
  }
  // Sextets pushed so far.
  std::size_t count() const { return count_; }

 private:
  unsigned acc_ = 0;
  std::size_t count_ = 0;
};

}  // namespace kesto::fnd::base64
