#pragma once

// Compressed bodies for loopback servers: ordinary ones, ones that inflate a thousandfold, and
// the start of one that never ends and inflates to nothing.

#include <zlib.h>

#include <cstdint>
#include <string>

namespace kesto::test {

// `text` as one gzip stream.
inline std::string gzipped(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

// The ten bytes that open a gzip stream (deflate, no name, no time).
inline std::string gzipHeader() { return std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10); }

// `count` empty stored deflate blocks, none the last: five bytes each that inflate to nothing,
// so a body of them can run on for ever without one byte coming out.
inline std::string emptyDeflateBlocks(std::size_t count) {
  std::string out;
  out.reserve(count * 5);
  for (std::size_t i = 0; i < count; ++i) out.append("\x00\x00\x00\xff\xff", 5);
  return out;
}

// A gzip stream that inflates to `mebibytes` MiB of zeros in about a thousandth of that: one
// deflate block of a mebibyte, flushed so it stands alone, written again and again.
inline std::string gzipOfZeros(std::size_t mebibytes) {
  const std::string zeros(1u << 20, '\0');
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string block(deflateBound(&z, static_cast<uLong>(zeros.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  z.avail_in = static_cast<uInt>(zeros.size());
  z.next_out = reinterpret_cast<Bytef*>(block.data());
  z.avail_out = static_cast<uInt>(block.size());
  deflate(&z, Z_FULL_FLUSH);
  block.resize(block.size() - z.avail_out);
  deflateEnd(&z);
  std::string out = gzipHeader();
  const uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
  uLong crc = crc32(0, nullptr, 0);
  for (std::size_t i = 0; i < mebibytes; ++i) {
    out += block;
    crc = crc32_combine(crc, one, static_cast<z_off_t>(zeros.size()));
  }
  out += std::string("\x03\x00", 2);  // the last block, empty
  const std::uint32_t size = static_cast<std::uint32_t>(mebibytes << 20);
  for (std::uint32_t v : {static_cast<std::uint32_t>(crc), size})
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}

}  // namespace kesto::test
