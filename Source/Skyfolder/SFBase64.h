#pragma once

#include <cstddef>
#include <cstdint>

namespace kesto {

// The client's own Base64 transcoder (RFC 4648 alphabet, "=" padding). The encoder breaks lines
// after 72 characters with CR LF; the decoder skips white space and invalid characters.

// Characters the encoder writes for `length` octets, line breaks included.
std::size_t SFBase64EncodedSize(std::size_t length);
// Upper bound of the octets the decoder writes for `length` characters.
std::size_t SFBase64DecodedSize(std::size_t length);
// False when `*capacity` is below the encoded size; else writes and sets `*capacity` to it.
bool SFBase64Encode(const std::uint8_t* input, std::size_t length, char* output, std::size_t* capacity);
// False when `*capacity` is below the decoded size; else sets `*capacity` to the octets written.
// Never reads past `length` characters; octets of 0x80 and above count as invalid.
bool SFBase64Decode(const char* input, std::size_t length, std::uint8_t* output, std::size_t* capacity);

}  // namespace kesto
