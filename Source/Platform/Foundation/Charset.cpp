#include "Platform/Foundation/Charset.h"

#include "Platform/Foundation/Strings.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <memory>
#include <vector>

namespace kesto::fnd {

namespace {

struct Entry {
  StringEncoding encoding;
  const char* name;
};

// Encodings with their preferred IANA names. Values above 0x80000000 are the platform's
// mapping of its extended encodings.
constexpr Entry kTable[] = {
    {kASCIIStringEncoding, "us-ascii"},
    {kJapaneseEUCStringEncoding, "euc-jp"},
    {kUTF8StringEncoding, "utf-8"},
    {kISOLatin1StringEncoding, "iso-8859-1"},
    {kShiftJISStringEncoding, "shift_jis"},
    {kISOLatin2StringEncoding, "iso-8859-2"},
    {kUnicodeStringEncoding, "utf-16"},
    {kWindowsCP1251StringEncoding, "windows-1251"},
    {kWindowsCP1252StringEncoding, "windows-1252"},
    {kWindowsCP1253StringEncoding, "windows-1253"},
    {kWindowsCP1254StringEncoding, "windows-1254"},
    {kWindowsCP1250StringEncoding, "windows-1250"},
    {kISO2022JPStringEncoding, "iso-2022-jp"},
    {kMacOSRomanStringEncoding, "macintosh"},
    {kUTF16BigEndianStringEncoding, "utf-16be"},
    {kUTF16LittleEndianStringEncoding, "utf-16le"},
    {kUTF32StringEncoding, "utf-32"},
    {kUTF32BigEndianStringEncoding, "utf-32be"},
    {kUTF32LittleEndianStringEncoding, "utf-32le"},
    {0x80000205, "iso-8859-5"},
    {0x80000207, "iso-8859-7"},
    {0x80000209, "iso-8859-9"},
    {0x8000020F, "iso-8859-15"},
    {0x80000505, "windows-1255"},
    {0x80000506, "windows-1256"},
    {0x80000507, "windows-1257"},
    {0x80000508, "windows-1258"},
    {0x8000041D, "windows-874"},
    {0x80000930, "gb2312"},
    {0x80000631, "gbk"},
    {0x80000632, "gb18030"},
    {0x80000940, "euc-kr"},
    {0x80000A02, "koi8-r"},
    {0x80000A08, "koi8-u"},
    {0x80000A03, "big5"},
};

struct ConverterDeleter {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterDeleter>;

ConverterPtr openConverter(std::string_view name) {
  if (name.empty() || name.size() > 64) return nullptr;
  std::string n(name);
  UErrorCode ec = U_ZERO_ERROR;
  ConverterPtr c(ucnv_open(n.c_str(), &ec));
  if (U_FAILURE(ec)) return nullptr;
  return c;
}

// ICU's internal name for a charset name, which makes aliases comparable.
std::string internalName(std::string_view name) {
  auto c = openConverter(name);
  if (!c) return {};
  UErrorCode ec = U_ZERO_ERROR;
  const char* n = ucnv_getName(c.get(), &ec);
  return U_SUCCESS(ec) && n ? std::string(n) : std::string();
}

const std::vector<std::string>& tableInternalNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const auto& e : kTable) v.push_back(internalName(e.name));
    return v;
  }();
  return names;
}

}  // namespace

StringEncoding encodingForIANAName(std::string_view name) {
  std::string n = internalName(name);
  if (n.empty()) return kInvalidEncoding;
  const auto& names = tableInternalNames();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == n) return kTable[i].encoding;
  return kInvalidEncoding;
}

std::string ianaNameForEncoding(StringEncoding enc) {
  for (const auto& e : kTable)
    if (e.encoding == enc) return e.name;
  return {};
}

bool isKnownCharset(std::string_view name) { return openConverter(name) != nullptr; }

std::optional<std::string> decodeText(std::string_view bytes, std::string_view charsetName) {
  auto c = openConverter(charsetName);
  if (!c) return std::nullopt;
  if (bytes.empty()) return std::string();
  UErrorCode ec = U_ZERO_ERROR;
  ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &ec);
  std::vector<UChar> buf(bytes.size() * 2 + 16);
  ec = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(c.get(), buf.data(), static_cast<int32_t>(buf.size()), bytes.data(),
                            static_cast<int32_t>(bytes.size()), &ec);
  if (ec == U_BUFFER_OVERFLOW_ERROR) {
    buf.resize(static_cast<std::size_t>(n) + 1);
    ec = U_ZERO_ERROR;
    ucnv_resetToUnicode(c.get());
    n = ucnv_toUChars(c.get(), buf.data(), static_cast<int32_t>(buf.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &ec);
  }
  if (U_FAILURE(ec)) return std::nullopt;
  return fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(buf.data()), static_cast<std::size_t>(n)));
}

std::optional<std::string> decodeText(std::string_view bytes, StringEncoding enc) {
  std::string name = ianaNameForEncoding(enc);
  if (name.empty()) return std::nullopt;
  return decodeText(bytes, name);
}

std::optional<std::string> encodeText(std::string_view utf8, std::string_view charsetName, bool allowLossy) {
  if (!isValidUtf8(utf8)) return std::nullopt;
  auto c = openConverter(charsetName);
  if (!c) return std::nullopt;
  if (utf8.empty()) return std::string();
  UErrorCode ec = U_ZERO_ERROR;
  if (allowLossy) {
    ucnv_setSubstChars(c.get(), "?", 1, &ec);
    ec = U_ZERO_ERROR;
    ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &ec);
  } else {
    ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &ec);
  }
  std::u16string u = toUtf16(utf8);
  std::string out(u.size() * 4 + 16, '\0');
  ec = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(c.get(), out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(u.data()), static_cast<int32_t>(u.size()), &ec);
  if (ec == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(n) + 1, '\0');
    ec = U_ZERO_ERROR;
    ucnv_resetFromUnicode(c.get());
    n = ucnv_fromUChars(c.get(), out.data(), static_cast<int32_t>(out.size()),
                        reinterpret_cast<const UChar*>(u.data()), static_cast<int32_t>(u.size()), &ec);
  }
  if (U_FAILURE(ec)) return std::nullopt;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::optional<std::string> encodeText(std::string_view utf8, StringEncoding enc, bool allowLossy) {
  std::string name = ianaNameForEncoding(enc);
  if (name.empty()) return std::nullopt;
  return encodeText(utf8, name, allowLossy);
}

std::optional<std::string> decodeTextByBOM(std::string_view bytes) {
  auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
  if (starts("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  else if (starts("\xFF\xFE")) return decodeText(bytes.substr(2), "UTF-16LE");
  else if (starts("\xFE\xFF")) return decodeText(bytes.substr(2), "UTF-16BE");
  if (!isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

std::string encodeUTF16LEWithBOM(std::string_view utf8) {
  std::u16string u = toUtf16(utf8);
  std::string out = "\xFF\xFE";
  out.reserve(2 + u.size() * 2);
  for (char16_t c : u) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

}  // namespace kesto::fnd
