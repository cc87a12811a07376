#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Text encodings by IANA charset name (through ICU converters) and by the numeric encoding
// values the stored formats use.
namespace kesto::fnd {

using StringEncoding = std::uint64_t;
inline constexpr StringEncoding kInvalidEncoding = 0;
inline constexpr StringEncoding kASCIIStringEncoding = 1;
inline constexpr StringEncoding kNEXTSTEPStringEncoding = 2;
inline constexpr StringEncoding kJapaneseEUCStringEncoding = 3;
inline constexpr StringEncoding kUTF8StringEncoding = 4;
inline constexpr StringEncoding kISOLatin1StringEncoding = 5;
inline constexpr StringEncoding kNonLossyASCIIStringEncoding = 7;
inline constexpr StringEncoding kShiftJISStringEncoding = 8;
inline constexpr StringEncoding kISOLatin2StringEncoding = 9;
inline constexpr StringEncoding kUnicodeStringEncoding = 10;  // UTF-16 with BOM
inline constexpr StringEncoding kWindowsCP1251StringEncoding = 11;
inline constexpr StringEncoding kWindowsCP1252StringEncoding = 12;
inline constexpr StringEncoding kWindowsCP1253StringEncoding = 13;
inline constexpr StringEncoding kWindowsCP1254StringEncoding = 14;
inline constexpr StringEncoding kWindowsCP1250StringEncoding = 15;
inline constexpr StringEncoding kISO2022JPStringEncoding = 21;
inline constexpr StringEncoding kMacOSRomanStringEncoding = 30;
inline constexpr StringEncoding kUTF16BigEndianStringEncoding = 0x90000100;
inline constexpr StringEncoding kUTF16LittleEndianStringEncoding = 0x94000100;
inline constexpr StringEncoding kUTF32StringEncoding = 0x8c000100;
inline constexpr StringEncoding kUTF32BigEndianStringEncoding = 0x98000100;
inline constexpr StringEncoding kUTF32LittleEndianStringEncoding = 0x9c000100;

// The encoding for an IANA charset name (case-insensitive, aliases accepted, e.g. "latin1",
// "utf8", "Shift_JIS"); kInvalidEncoding when unknown. Names ICU knows but the table above does
// not still work with the name-based functions below.
StringEncoding encodingForIANAName(std::string_view name);
// The preferred IANA name of an encoding ("utf-8", "iso-8859-1", ...); empty when unknown.
std::string ianaNameForEncoding(StringEncoding enc);
// True when ICU has a converter for the name.
bool isKnownCharset(std::string_view name);

// Decodes bytes in the named charset to UTF-8. Absent when the name is unknown or the bytes are
// not valid in that charset.
std::optional<std::string> decodeText(std::string_view bytes, std::string_view charsetName);
std::optional<std::string> decodeText(std::string_view bytes, StringEncoding enc);
// Encodes UTF-8 text in the named charset. Absent when the name is unknown, the input is not
// valid UTF-8, or (unless `allowLossy`) a character has no mapping; with `allowLossy` such
// characters become "?".
std::optional<std::string> encodeText(std::string_view utf8, std::string_view charsetName, bool allowLossy = false);
std::optional<std::string> encodeText(std::string_view utf8, StringEncoding enc, bool allowLossy = false);

// Reads text by its byte-order mark: UTF-8 (BOM optional), UTF-16LE or UTF-16BE; without a BOM
// the bytes are read as UTF-8. The BOM itself is dropped. Absent when the bytes are invalid.
std::optional<std::string> decodeTextByBOM(std::string_view bytes);
// UTF-16 little-endian with a leading BOM (FF FE).
std::string encodeUTF16LEWithBOM(std::string_view utf8);

// The encoding a label names as browsers read labels (any ASCII case, ASCII white space around it
// ignored): its canonical name, "windows-1252" for "latin1" or "us-ascii", "Shift_JIS" for "sjis".
// Empty when browsers know no such label.
std::string encodingForWebLabel(std::string_view label);

// Decodes text in a web encoding (a name encodingForWebLabel gives) to UTF-8, piece by piece, as
// browsers decode it: a byte or sequence the encoding cannot read becomes U+FFFD and the text goes
// on (an ASCII byte after a lead byte it forms nothing with is kept), the bytes Windows code pages
// leave undefined in 0x80-0x9F are the C1 controls, and the codes ICU reads as private-use
// characters where browsers read others give browsers' characters. Big5 (with the Hong Kong
// codes), EUC-JP and EUC-KR are read byte by byte as browsers' decoders read them. An unknown name
// decodes as UTF-8.
class WebTextDecoder {
 public:
  explicit WebTextDecoder(std::string_view encoding);
  ~WebTextDecoder();
  WebTextDecoder(const WebTextDecoder&) = delete;
  WebTextDecoder& operator=(const WebTextDecoder&) = delete;
  // Appends the text of `bytes` to `out`; a character cut at the end waits for the next piece.
  void decode(std::string_view bytes, std::string& out);
  // The end of the text: a character left unfinished becomes U+FFFD.
  void finish(std::string& out);

 private:
  struct Converter;
  void decodeUtf8(std::string_view bytes, std::string& out);
  std::unique_ptr<Converter> converter_;  // none for UTF-8
  bool replacement_ = false, replaced_ = false;
  // UTF-8: the character being read.
  std::uint32_t codePoint_ = 0;
  int needed_ = 0, seen_ = 0;
  unsigned char lower_ = 0x80, upper_ = 0xBF;
};

// Bytes <-> string helpers for Data.
inline std::string_view asStringView(const Data& d) {
  return {reinterpret_cast<const char*>(d.data()), d.size()};
}
inline Data toData(std::string_view s) { return Data(s.begin(), s.end()); }

}  // namespace kesto::fnd
