#include "Platform/Foundation/Charset.h"

#include "Platform/Foundation/Strings.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>
#include <utility>
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

// ---- Web encodings --------------------------------------------------------------------------

namespace {

struct WebEncoding {
  const char* name;
  const char* converter;  // ICU's name; null where ICU does not read it (UTF-8, ByteReader, replacement)
  const char* labels;     // space-separated
};

// The encodings browsers read and every label of each.
constexpr WebEncoding kWebEncodings[] = {
    {"UTF-8", nullptr, "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", "ibm-866", "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", "iso-8859-2", "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", "iso-8859-3", "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", "iso-8859-4", "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", "iso-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {"ISO-8859-6", "iso-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e iso-8859-6-i "
     "iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", "iso-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 iso_8859-7 "
     "iso_8859-7:1987 sun_eu_greek"},
    {"ISO-8859-8", "iso-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 iso_8859-8 "
     "iso_8859-8:1988 visual"},
    {"ISO-8859-8-I", "iso-8859-8", "csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", "iso-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", "iso-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", "iso-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", "iso-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"ISO-8859-16", "iso-8859-16", "iso-8859-16"},
    {"KOI8-R", "koi8-r", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"KOI8-U", "koi8-u", "koi8-ru koi8-u"},
    {"macintosh", "macintosh", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "windows-874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "windows-1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "windows-1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "windows-1252",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 iso88591 iso_8859-1 "
     "iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "windows-1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "windows-1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 latin5 "
     "windows-1254 x-cp1254"},
    {"windows-1255", "windows-1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "windows-1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "windows-1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "windows-1258", "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", "x-mac-cyrillic", "x-mac-cyrillic x-mac-ukrainian"},
    {"GBK", "gb18030", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "gb18030", "gb18030"},
    {"Big5", nullptr, "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", nullptr, "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", "iso-2022-jp", "csiso2022jp iso-2022-jp"},
    {"Shift_JIS", "windows-31j", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"EUC-KR", nullptr,
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 windows-949"},
    {"replacement", nullptr, "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
    {"UTF-16BE", "UTF-16BE", "unicodefffe utf-16be"},
    {"UTF-16LE", "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {"x-user-defined", "windows-1252", "x-user-defined"},
};

const WebEncoding* webEncodingNamed(std::string_view name) {
  for (const auto& e : kWebEncodings)
    if (name == e.name) return &e;
  return nullptr;
}

bool isAsciiWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

constexpr char16_t kReplacementCharacter = 0xFFFD;

// Where a converter cannot read a byte or sequence: U+FFFD once, or the C1 control a Windows
// code page's undefined byte stands for, or the euro sign of GBK's 0x80.
struct ReplacementRules {
  bool c1Controls = false;
  bool euroAt80 = false;
  // A lead byte and an ASCII byte that form no character: browsers read the ASCII byte again,
  // where ICU takes both as one unreadable pair.
  bool asciiAfterLeadKept = false;
};

void replaceUnreadable(const void* context, UConverterToUnicodeArgs* args, const char* units, int32_t length,
                       UConverterCallbackReason reason, UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;  // a reset, close or clone: nothing to write
  const auto* rules = static_cast<const ReplacementRules*>(context);
  UChar c[2] = {kReplacementCharacter, 0};
  int32_t count = 1;
  if (length == 1) {
    const auto byte = static_cast<unsigned char>(units[0]);
    if (rules->c1Controls && byte >= 0x80 && byte <= 0x9F) c[0] = byte;
    if (rules->euroAt80 && byte == 0x80) c[0] = 0x20AC;
  } else if (length == 2 && rules->asciiAfterLeadKept && static_cast<unsigned char>(units[1]) < 0x80) {
    // An ASCII byte is a character of its own in these encodings, so it is written as read again.
    c[1] = static_cast<unsigned char>(units[1]);
    count = 2;
  }
  *error = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, c, count, 0, error);
}

// gb18030 and GBK: the two-byte codes GB18030-2022 moved from private use to the vertical forms
// and ideographs browsers give, and A3A0, which browsers read as the ideographic space. ICU gives
// each of these private-use characters for one two-byte code only (the four-byte codes of
// U+FE10-FE19 and U+9FB4-9FBB read as those already), so the character stands for its bytes.
constexpr std::pair<char16_t, char16_t> kGB18030PrivateUse[] = {
    {0xE78D, 0xFE10},  // A6D9
    {0xE78E, 0xFE12},  // A6DA
    {0xE78F, 0xFE11},  // A6DB
    {0xE790, 0xFE13},  // A6DC
    {0xE791, 0xFE14},  // A6DD
    {0xE792, 0xFE15},  // A6DE
    {0xE793, 0xFE16},  // A6DF
    {0xE794, 0xFE17},  // A6EC
    {0xE795, 0xFE18},  // A6ED
    {0xE796, 0xFE19},  // A6F3
    {0xE81E, 0x9FB4},  // FE59
    {0xE826, 0x9FB5},  // FE61
    {0xE82B, 0x9FB6},  // FE66
    {0xE82C, 0x9FB7},  // FE67
    {0xE832, 0x9FB8},  // FE6D
    {0xE843, 0x9FB9},  // FE7E
    {0xE854, 0x9FBA},  // FE90
    {0xE864, 0x9FBB},  // FEA0
    {0xE5E5, 0x3000},  // A3A0
};

char16_t gb18030Character(char16_t c) {
  if (c >= 0xE000 && c <= 0xF8FF)
    for (const auto& [from, to] : kGB18030PrivateUse)
      if (c == from) return to;
  return c;
}

// Big5, EUC-JP and EUC-KR are read byte by byte as browsers read them: ICU's Big5 lacks the
// Hong Kong codes browsers read, and ICU's EUC-JP and EUC-KR take more bytes into one error than
// browsers do and read some bytes they do not.
enum class ByteReader { None, Big5, EUCJP, EUCKR };

#include "Platform/Foundation/Big5Index.inc"

// Appends the character (or the letter and combining mark) of a Big5 code; false where the code
// is none.
bool appendBig5(int lead, int trail, std::string& out) {
  if (!((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE))) return false;
  const int pointer = (lead - 0x81) * 157 + (trail - (trail < 0x7F ? 0x40 : 0x62));
  // The four codes the index leaves out.
  const char* pair = pointer == 1133   ? "\u00CA\u0304"
                     : pointer == 1135 ? "\u00CA\u030C"
                     : pointer == 1164 ? "\u00EA\u0304"
                     : pointer == 1166 ? "\u00EA\u030C"
                                       : nullptr;
  if (pair) {
    out += pair;
    return true;
  }
  if (pointer < kBig5IndexFirstPointer || kBig5Index[pointer - kBig5IndexFirstPointer] == 0) return false;
  appendUtf8(out, kBig5Index[pointer - kBig5IndexFirstPointer]);
  return true;
}

// The one character ICU reads from a whole code; 0 where it reads none, or more.
std::uint32_t icuCharacter(UConverter* c, const char* bytes, int32_t length) {
  UChar units[4];
  UErrorCode ec = U_ZERO_ERROR;
  const int32_t n = ucnv_toUChars(c, units, 4, bytes, length, &ec);
  if (U_FAILURE(ec) || n < 1 || n > 2) return 0;
  if (n == 2)
    return U16_IS_LEAD(units[0]) && U16_IS_TRAIL(units[1])
               ? static_cast<std::uint32_t>(U16_GET_SUPPLEMENTARY(units[0], units[1]))
               : 0;
  return U16_IS_SURROGATE(units[0]) || units[0] == kReplacementCharacter ? 0 : units[0];
}

// The characters of EUC-JP's and EUC-KR's codes as ICU maps them, read once; 0 where the code is
// none. EUC-JP: lead and trail 0xA1-0xFE, two bytes (JIS X 0208) or three after 0x8F (JIS X 0212);
// EUC-KR: lead 0x81-0xFE, trail 0x41-0xFE.
struct EucJpCodes {
  std::uint32_t jis0208[94 * 94] = {}, jis0212[94 * 94] = {};
};
struct EucKrCodes {
  std::uint32_t codes[126 * 190] = {};
};

// ICU's converter of `name`, stopping where it reads no character, so such a code reads as 0.
ConverterPtr stoppingConverter(const char* name) {
  ConverterPtr c = openConverter(name);
  UErrorCode ec = U_ZERO_ERROR;
  if (c) ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &ec);
  return c;
}

const EucJpCodes& eucJpCodes() {
  static const std::unique_ptr<const EucJpCodes> codes = [] {
    auto t = std::make_unique<EucJpCodes>();
    if (ConverterPtr c = stoppingConverter("euc-jp")) {
      for (int lead = 0xA1; lead <= 0xFE; ++lead)
        for (int trail = 0xA1; trail <= 0xFE; ++trail) {
          const char bytes[] = {'\x8F', static_cast<char>(lead), static_cast<char>(trail)};
          const int at = (lead - 0xA1) * 94 + trail - 0xA1;
          t->jis0208[at] = icuCharacter(c.get(), bytes + 1, 2);
          // Browsers' JIS X 0212 ends at lead 0xED; ICU's codes past it are IBM's additions.
          if (lead <= 0xED) t->jis0212[at] = icuCharacter(c.get(), bytes, 3);
        }
    }
    return std::unique_ptr<const EucJpCodes>(std::move(t));
  }();
  return *codes;
}

const EucKrCodes& eucKrCodes() {
  static const std::unique_ptr<const EucKrCodes> codes = [] {
    auto t = std::make_unique<EucKrCodes>();
    if (ConverterPtr c = stoppingConverter("windows-949")) {
      for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x41; trail <= 0xFE; ++trail) {
          const char bytes[] = {static_cast<char>(lead), static_cast<char>(trail)};
          const std::uint32_t code = icuCharacter(c.get(), bytes, 2);
          // Browsers' EUC-KR has no private-use characters: ICU's stand for codes it leaves undefined.
          if (code < 0xE000 || code > 0xF8FF) t->codes[(lead - 0x81) * 190 + trail - 0x41] = code;
        }
    }
    return std::unique_ptr<const EucKrCodes>(std::move(t));
  }();
  return *codes;
}

}  // namespace

std::string encodingForWebLabel(std::string_view label) {
  while (!label.empty() && isAsciiWhitespace(label.front())) label.remove_prefix(1);
  while (!label.empty() && isAsciiWhitespace(label.back())) label.remove_suffix(1);
  if (label.empty() || label.size() > 64) return {};
  const std::string wanted = asciiLowercase(label);
  for (const auto& e : kWebEncodings) {
    std::string_view labels = e.labels;
    for (std::size_t at = 0; at < labels.size();) {
      std::size_t end = labels.find(' ', at);
      if (end == std::string_view::npos) end = labels.size();
      if (labels.substr(at, end - at) == wanted) return e.name;
      at = end + 1;
    }
  }
  return {};
}

struct WebTextDecoder::Converter {
  ConverterPtr converter;  // none where a ByteReader reads the text
  ReplacementRules rules;
  bool gb18030PrivateUse = false;  // kGB18030PrivateUse applies
  char16_t highSurrogate = 0;      // the first half of a pair cut at the end of a piece
  ByteReader reader = ByteReader::None;
  const EucJpCodes* eucJp = nullptr;
  const EucKrCodes* eucKr = nullptr;
  // The lead byte waiting for the next piece (EUC-JP: after 0x8F, the second byte).
  unsigned char lead = 0;
  bool jis0212 = false;  // EUC-JP: the lead follows 0x8F

  void read(std::string_view bytes, std::string& out);
};

void WebTextDecoder::Converter::read(std::string_view bytes, std::string& out) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (lead == 0) {
      ++i;
      if (byte < 0x80)
        out += static_cast<char>(byte);
      else if (reader == ByteReader::EUCJP ? byte == 0x8E || byte == 0x8F || (byte >= 0xA1 && byte <= 0xFE)
                                           : byte >= 0x81 && byte <= 0xFE)
        lead = byte;
      else
        appendUtf8(out, kReplacementCharacter);
      continue;
    }
    if (reader == ByteReader::EUCJP && byte >= 0xA1 && byte <= 0xFE) {
      if (lead == 0x8E && byte <= 0xDF) {  // half-width katakana
        appendUtf8(out, 0xFF61 - 0xA1 + byte);
        lead = 0;
        ++i;
        continue;
      }
      if (lead == 0x8F) {
        jis0212 = true;
        lead = byte;
        ++i;
        continue;
      }
    }
    const int first = std::exchange(lead, 0);
    bool mapped = false;
    if (reader == ByteReader::Big5) {
      mapped = appendBig5(first, byte, out);
    } else {
      std::uint32_t code = 0;
      if (reader == ByteReader::EUCKR && byte >= 0x41 && byte <= 0xFE)
        code = eucKr->codes[(first - 0x81) * 190 + byte - 0x41];
      if (reader == ByteReader::EUCJP && first >= 0xA1 && first <= 0xFE && byte >= 0xA1 && byte <= 0xFE)
        code = (jis0212 ? eucJp->jis0212 : eucJp->jis0208)[(first - 0xA1) * 94 + byte - 0xA1];
      jis0212 = false;
      if (code) appendUtf8(out, code);
      mapped = code != 0;
    }
    if (mapped) {
      ++i;
      continue;
    }
    // A pair that is no character is one U+FFFD; its second byte, if ASCII, is read again.
    appendUtf8(out, kReplacementCharacter);
    if (byte >= 0x80) ++i;
  }
}

WebTextDecoder::WebTextDecoder(std::string_view encoding) {
  const WebEncoding* e = webEncodingNamed(encoding);
  if (!e) return;
  const std::string_view name = e->name;
  if (name == "Big5" || name == "EUC-JP" || name == "EUC-KR") {
    converter_ = std::make_unique<Converter>();
    converter_->reader = name == "Big5" ? ByteReader::Big5 : name == "EUC-JP" ? ByteReader::EUCJP : ByteReader::EUCKR;
    if (name == "EUC-JP") converter_->eucJp = &eucJpCodes();
    if (name == "EUC-KR") converter_->eucKr = &eucKrCodes();
    return;
  }
  replacement_ = name == "replacement";
  if (!e->converter) return;
  // A code page the ICU data lacks is read as the nearest one it has.
  ConverterPtr c = openConverter(e->converter);
  if (!c) c = openConverter("windows-1252");
  if (!c) return;
  converter_ = std::make_unique<Converter>();
  converter_->converter = std::move(c);
  converter_->rules.c1Controls = name.rfind("windows-", 0) == 0 || name == "x-user-defined";
  converter_->rules.euroAt80 = name == "GBK" || name == "gb18030";
  converter_->rules.asciiAfterLeadKept = name == "Shift_JIS";
  converter_->gb18030PrivateUse = name == "GBK" || name == "gb18030";
  UErrorCode ec = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter_->converter.get(), replaceUnreadable, &converter_->rules, nullptr, nullptr, &ec);
}

WebTextDecoder::~WebTextDecoder() = default;

void WebTextDecoder::decodeUtf8(std::string_view bytes, std::string& out) {
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    if (needed_ == 0) {
      // A run of ASCII goes as it is, looked at eight bytes at a time.
      std::size_t j = i;
      for (std::uint64_t word; j + 8 <= n; j += 8) {
        std::memcpy(&word, bytes.data() + j, 8);
        if (word & 0x8080808080808080ull) break;
      }
      while (j < n && static_cast<unsigned char>(bytes[j]) < 0x80) ++j;
      out.append(bytes.data() + i, j - i);
      i = j;
      if (i == n) break;
      const auto b = static_cast<unsigned char>(bytes[i++]);
      if (b >= 0xC2 && b <= 0xDF) {
        needed_ = 1;
        codePoint_ = b & 0x1F;
      } else if (b >= 0xE0 && b <= 0xEF) {
        if (b == 0xE0) lower_ = 0xA0;
        if (b == 0xED) upper_ = 0x9F;
        needed_ = 2;
        codePoint_ = b & 0x0F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        if (b == 0xF0) lower_ = 0x90;
        if (b == 0xF4) upper_ = 0x8F;
        needed_ = 3;
        codePoint_ = b & 0x07;
      } else {
        appendUtf8(out, kReplacementCharacter);
      }
      continue;
    }
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < lower_ || b > upper_) {
      // The sequence ends unfinished; the byte is read again as the start of what follows.
      codePoint_ = 0;
      needed_ = seen_ = 0;
      lower_ = 0x80;
      upper_ = 0xBF;
      appendUtf8(out, kReplacementCharacter);
      continue;
    }
    ++i;
    lower_ = 0x80;
    upper_ = 0xBF;
    codePoint_ = (codePoint_ << 6) | (b & 0x3F);
    if (++seen_ == needed_) {
      appendUtf8(out, codePoint_);
      codePoint_ = 0;
      needed_ = seen_ = 0;
    }
  }
}

void WebTextDecoder::decode(std::string_view bytes, std::string& out) {
  if (replacement_) {
    // The whole text is one replacement character.
    if (!bytes.empty() && !replaced_) appendUtf8(out, kReplacementCharacter);
    replaced_ = replaced_ || !bytes.empty();
    return;
  }
  if (!converter_) {
    decodeUtf8(bytes, out);
    return;
  }
  if (!converter_->converter) {
    converter_->read(bytes, out);
    return;
  }
  const char* source = bytes.data();
  const char* const end = source + bytes.size();
  UChar units[4096];
  UErrorCode ec;
  do {
    ec = U_ZERO_ERROR;
    UChar* target = units;
    ucnv_toUnicode(converter_->converter.get(), &target, units + std::size(units), &source, end, nullptr, false, &ec);
    for (const UChar* u = units; u < target; ++u) {
      const char16_t c = static_cast<char16_t>(*u);
      if (converter_->highSurrogate) {
        const char16_t high = converter_->highSurrogate;
        converter_->highSurrogate = 0;
        if (c >= 0xDC00 && c <= 0xDFFF) {
          appendUtf8(out, 0x10000 + ((static_cast<std::uint32_t>(high) - 0xD800) << 10) + (c - 0xDC00));
          continue;
        }
        appendUtf8(out, kReplacementCharacter);
      }
      if (c < 0x80)
        out += static_cast<char>(c);
      else if (c >= 0xD800 && c <= 0xDBFF)
        converter_->highSurrogate = c;
      else if (c >= 0xDC00 && c <= 0xDFFF)
        appendUtf8(out, kReplacementCharacter);
      else
        appendUtf8(out, converter_->gb18030PrivateUse ? gb18030Character(c) : c);
    }
  } while (ec == U_BUFFER_OVERFLOW_ERROR);
}

void WebTextDecoder::finish(std::string& out) {
  if (converter_ && !converter_->converter) {
    // A lead byte left at the end reads as U+FFFD.
    if (converter_->lead) appendUtf8(out, kReplacementCharacter);
    converter_->lead = 0;
    converter_->jis0212 = false;
  } else if (converter_) {
    // What the converter still holds of a cut sequence is unreadable.
    const char* none = "";
    UChar units[64];
    UChar* target = units;
    UErrorCode ec = U_ZERO_ERROR;
    ucnv_toUnicode(converter_->converter.get(), &target, units + std::size(units), &none, none, nullptr, true, &ec);
    for (const UChar* u = units; u < target; ++u) appendUtf8(out, static_cast<char16_t>(*u));
    if (converter_->highSurrogate) appendUtf8(out, kReplacementCharacter);
    converter_->highSurrogate = 0;
    ucnv_resetToUnicode(converter_->converter.get());
  } else if (needed_) {
    appendUtf8(out, kReplacementCharacter);
    codePoint_ = 0;
    needed_ = seen_ = 0;
    lower_ = 0x80;
    upper_ = 0xBF;
  }
}

}  // namespace kesto::fnd
