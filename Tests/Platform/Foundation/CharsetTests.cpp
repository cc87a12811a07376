#include "Platform/Foundation/Charset.h"

#include "Platform/Foundation/Strings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

using namespace kesto::fnd;

TEST(Charset, NamesAndEncodingValues) {
  EXPECT_EQ(encodingForIANAName("utf-8"), kUTF8StringEncoding);
  EXPECT_EQ(encodingForIANAName("UTF8"), kUTF8StringEncoding);
  EXPECT_EQ(encodingForIANAName("latin1"), kISOLatin1StringEncoding);
  EXPECT_EQ(encodingForIANAName("ISO_8859-1"), kISOLatin1StringEncoding);
  EXPECT_EQ(encodingForIANAName("Windows-1252"), kWindowsCP1252StringEncoding);
  EXPECT_EQ(encodingForIANAName("Shift_JIS"), kShiftJISStringEncoding);
  EXPECT_EQ(encodingForIANAName("utf-16le"), kUTF16LittleEndianStringEncoding);
  EXPECT_EQ(encodingForIANAName("no-such-charset"), kInvalidEncoding);
  EXPECT_EQ(encodingForIANAName(""), kInvalidEncoding);
  EXPECT_EQ(ianaNameForEncoding(kUTF8StringEncoding), "utf-8");
  EXPECT_EQ(ianaNameForEncoding(12345), "");
  EXPECT_TRUE(isKnownCharset("koi8-r"));
  EXPECT_FALSE(isKnownCharset("klingon"));
}

TEST(Charset, DecodesByName) {
  EXPECT_EQ(decodeText("caf\xE9", "iso-8859-1"), "caf\xC3\xA9");
  EXPECT_EQ(decodeText("\x80", "windows-1252"), "\xE2\x82\xAC");
  EXPECT_EQ(decodeText("\x82\xA0", "Shift_JIS"), "\xE3\x81\x82");  // hiragana a
  EXPECT_EQ(decodeText("\xC1\xD2\xCF", "koi8-r"), "\xD0\xB0\xD1\x80\xD0\xBE");
  EXPECT_EQ(decodeText(std::string("a\0b", 3), "utf-8"), std::string("a\0b", 3));
  EXPECT_EQ(decodeText("", "utf-8"), "");
  EXPECT_FALSE(decodeText("\xFF\xFE", "utf-8"));
  EXPECT_FALSE(decodeText("\x80", "us-ascii"));
  EXPECT_FALSE(decodeText("abc", "no-such-charset"));
  EXPECT_EQ(decodeText("caf\xE9", kISOLatin1StringEncoding), "caf\xC3\xA9");
}

TEST(Charset, EncodesByNameStrictOrLossy) {
  EXPECT_EQ(encodeText("caf\xC3\xA9", "iso-8859-1"), "caf\xE9");
  EXPECT_EQ(encodeText("\xE2\x82\xAC", "windows-1252"), "\x80");
  EXPECT_FALSE(encodeText("caf\xC3\xA9", "us-ascii"));
  EXPECT_EQ(encodeText("caf\xC3\xA9 \xE2\x82\xAC", "us-ascii", true), "caf? ?");
  EXPECT_FALSE(encodeText("bad \xFF", "utf-8"));
  EXPECT_FALSE(encodeText("x", "no-such-charset"));
  EXPECT_EQ(encodeText("ab", kUTF16BigEndianStringEncoding), std::string("\0a\0b", 4));
}

TEST(Charset, ByteOrderMarks) {
  EXPECT_EQ(encodeUTF16LEWithBOM("a\xC3\xA9"), std::string("\xFF\xFE" "a\0\xE9\0", 6));
  EXPECT_EQ(decodeTextByBOM(encodeUTF16LEWithBOM("h\xC3\xA9\xF0\x9F\x98\x80")), "h\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(decodeTextByBOM(std::string("\xFE\xFF\0x", 4)), "x");
  EXPECT_EQ(decodeTextByBOM("\xEF\xBB\xBFplain"), "plain");
  EXPECT_EQ(decodeTextByBOM("plain"), "plain");
  EXPECT_EQ(decodeTextByBOM(""), "");
  EXPECT_FALSE(decodeTextByBOM("\xC3"));
  EXPECT_FALSE(decodeTextByBOM(std::string("\xFF\xFE\x00\xD8", 4)));  // lone surrogate
}

namespace {
// `bytes` decoded in pieces of `piece` bytes (0: whole).
std::string webDecoded(std::string_view encoding, std::string_view bytes, std::size_t piece = 0) {
  WebTextDecoder decoder(encoding);
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += piece ? piece : bytes.size())
    decoder.decode(bytes.substr(at, piece ? piece : bytes.size()), out);
  decoder.finish(out);
  return out;
}
}  // namespace

// Labels as browsers know them, and their decoders: the same text however it is cut, U+FFFD for
// what cannot be read (once per broken sequence, never swallowing the ASCII after it).
TEST(Charset, WebLabelsAndDecodersReadAsBrowsersDo) {
  EXPECT_EQ(encodingForWebLabel(" \tLATIN1\n"), "windows-1252");
  EXPECT_EQ(encodingForWebLabel("iso_8859-1:1987"), "windows-1252");
  EXPECT_EQ(encodingForWebLabel("x-sjis"), "Shift_JIS");
  EXPECT_EQ(encodingForWebLabel("gb2312"), "GBK");
  EXPECT_EQ(encodingForWebLabel("utf8"), "UTF-8");
  EXPECT_EQ(encodingForWebLabel("iso-2022-kr"), "replacement");
  EXPECT_EQ(encodingForWebLabel("latin 1"), "");
  EXPECT_EQ(encodingForWebLabel(""), "");
  const struct {
    const char* encoding;
    std::string bytes, text;
  } cases[] = {
      {"UTF-8", "a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80", "aéあ😀"},
      {"UTF-8", "\xC3<\xE3\x81<\xED\xA0\x80<\xC0\xAF\xF5", "\uFFFD<\uFFFD<\uFFFD\uFFFD\uFFFD<\uFFFD\uFFFD\uFFFD"},
      {"UTF-8", "end\xF0\x9F\x98", "end\uFFFD"},
      {"windows-1252", "\x80\x81\x8D\x8F\x90\x9D\x9F\xFF", "€\u0081\u008D\u008F\u0090\u009D\u0178ÿ"},
      {"windows-1250", "\x81\x8A", "\u0081Š"},
      {"Shift_JIS", "\x82\xA0\x81<\xFF\xB1", "あ\uFFFD<\uFFFDｱ"},
      {"EUC-JP", "\xA4\xA2\x8E<", "あ\uFFFD<"},
      {"GBK", "\x80\xC4\xE3\x81<", "€你\uFFFD<"},
      {"Big5", "\xA4\x40\x87\x40\xFF", "一\u43F0\uFFFD"},
      {"EUC-KR", "\xB0\xA1", "가"},
      {"UTF-16LE", std::string("a\0=\xD8\0\xDE\0\xD8!\0", 10), "a😀\uFFFD!"},
      {"replacement", "anything", "\uFFFD"},
      {"no such encoding", "caf\xC3\xA9", "café"},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {0, 1, 2, 3})
      EXPECT_EQ(webDecoded(c.encoding, c.bytes, piece), c.text) << c.encoding << " " << piece;
}

namespace {
// A byte string from its values.
std::string bytesOf(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// The text of every two-byte code (leads 0x81-0xFE, trails 0x40-0xFE) read alone.
std::vector<std::pair<std::string, std::string>> twoByteCodes(std::string_view encoding) {
  WebTextDecoder decoder(encoding);
  std::vector<std::pair<std::string, std::string>> codes;
  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      std::string bytes = bytesOf({lead, trail}), text;
      decoder.decode(bytes, text);
      decoder.finish(text);
      codes.emplace_back(bytes, text);
    }
  return codes;
}

bool holdsPrivateUse(std::string_view utf8) {
  // U+E000-F8FF is EE 80 80 - EF A3 BF in UTF-8.
  for (std::size_t i = 0; i + 2 < utf8.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(utf8[i]), b1 = static_cast<unsigned char>(utf8[i + 1]);
    if (b0 == 0xEE || (b0 == 0xEF && b1 <= 0xA3)) return true;
  }
  return false;
}
}  // namespace

// gb18030 and GBK read the eighteen two-byte codes GB18030-2022 took out of private use as
// browsers do, however the text is cut; their four-byte codes and the user-defined areas stay.
TEST(Charset, GB18030ReadsTheVerticalFormsAndIdeographsOfItsTwoByteCodes) {
  const std::pair<int, char32_t> codes[] = {
      {0xA6D9, 0xFE10}, {0xA6DA, 0xFE12}, {0xA6DB, 0xFE11}, {0xA6DC, 0xFE13}, {0xA6DD, 0xFE14}, {0xA6DE, 0xFE15},
      {0xA6DF, 0xFE16}, {0xA6EC, 0xFE17}, {0xA6ED, 0xFE18}, {0xA6F3, 0xFE19}, {0xFE59, 0x9FB4}, {0xFE61, 0x9FB5},
      {0xFE66, 0x9FB6}, {0xFE67, 0x9FB7}, {0xFE6D, 0x9FB8}, {0xFE7E, 0x9FB9}, {0xFE90, 0x9FBA}, {0xFEA0, 0x9FBB}};
  for (const char* encoding : {"gb18030", "GBK"})
    for (std::size_t piece : {0, 1, 3}) {
      EXPECT_EQ(webDecoded(encoding, "\xA6\xD9 \xFE\x59", piece), "︐ 龴") << encoding << " " << piece;
      for (const auto& [code, character] : codes) {
        std::string text;
        appendUtf8(text, character);
        EXPECT_EQ(webDecoded(encoding, "<" + bytesOf({code >> 8, code & 0xFF}) + ">", piece), "<" + text + ">")
            << encoding << " " << std::hex << code;
      }
      // The four-byte codes of the same characters, a user-defined code and ordinary text.
      EXPECT_EQ(webDecoded(encoding, "\x84\x31\x82\x36\x84\x31\x83\x35\x82\x35\x90\x37\x82\x35\x91\x34", piece),
                "\uFE10\uFE19\u9FB4\u9FBB")
          << encoding;
      EXPECT_EQ(webDecoded(encoding, "\xAA\xA1\xFE\xFE\xA1\x40\xC4\xE3", piece), "\uE000\uE4C5\uE4C6你") << encoding;
    }
}

// Shift_JIS, EUC-KR and Big5: a lead byte that forms nothing with the ASCII byte after it gives
// U+FFFD and the ASCII byte is kept, however the text is cut; a pair whose second byte is not
// ASCII stays one U+FFFD.
TEST(Charset, AnAsciiByteAfterALeadByteThatPairsWithNothingIsKept) {
  // The lead bytes that pair with no ASCII byte there (Big5's 0x81 a user-defined area in ICU).
  const struct {
    const char* encoding;
    int leads[2];
  } cases[] = {{"Shift_JIS", {0x85, 0xEF}}, {"EUC-KR", {0xC9, 0xFE}}, {"Big5", {0x85, 0x81}}};
  for (const auto& c : cases)
    for (std::size_t piece : {0, 1, 2}) {
      EXPECT_EQ(webDecoded(c.encoding, "c\x82]d", piece), "c\uFFFD]d") << c.encoding << " " << piece;
      for (int lead : c.leads)
        for (int ascii = 0x40; ascii <= 0x7E; ++ascii)
          EXPECT_EQ(webDecoded(c.encoding, bytesOf({'a', lead, ascii, 'b'}), piece),
                    "a\uFFFD" + std::string(1, static_cast<char>(ascii)) + "b")
              << c.encoding << " " << std::hex << lead << " " << ascii << " " << piece;
      EXPECT_EQ(webDecoded(c.encoding, "a\x85\x80" "b", piece), "a\uFFFDb") << c.encoding << " " << piece;
    }
  // A Big5 pair inside the index's range that the index leaves unmapped is no character either.
  for (std::size_t piece : {0, 1, 2}) {
    EXPECT_EQ(webDecoded("Big5", "a\x87\x66" "b", piece), "a\uFFFD" "fb") << piece;
    EXPECT_EQ(webDecoded("Big5", "a\x87\xE0" "b", piece), "a\uFFFD" "b") << piece;
  }
  EXPECT_EQ(webDecoded("Shift_JIS", "a\x85" "Ab"), "a\uFFFDAb");
  EXPECT_EQ(webDecoded("Shift_JIS", "a\x85\xA1" "b"), "a\uFFFDb");
  EXPECT_EQ(webDecoded("EUC-KR", "a\xC9\xA1" "b"), "a\uFFFDb");
  EXPECT_EQ(webDecoded("Big5", "a\x85\xA1" "b\x81\xA1" "c"), "a\uFFFDb\uFFFDc");
}

// Big5's four Hong Kong codes of a letter with a combining mark, and EUC-KR's undefined codes,
// read as browsers read them where ICU gives private-use characters.
TEST(Charset, Big5HongKongLettersAndEucKrUndefinedCodesReadAsBrowsersDo) {
  for (std::size_t piece : {0, 1}) {
    EXPECT_EQ(webDecoded("Big5", "\x88\x62\x88\x64\x88\xA3\x88\xA5|\x88\x66\x88\xA7", piece),
              "\u00CA\u0304\u00CA\u030C\u00EA\u0304\u00EA\u030C|\u00CA\u00EA")
        << piece;
    EXPECT_EQ(webDecoded("EUC-KR", "\xC9\xA1\xC9\xFE\xFE\xA1\xFE\xFE\xFF|\xB0\xA1", piece),
              "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD|가")
        << piece;
  }
}

// Every two-byte code ICU reads as a character reads the same but for the codes mended above
// (and Big5's Hong Kong codes ICU reads as private-use characters), and those give no
// private-use character; Shift_JIS's private-use characters are its user-defined area, as in
// browsers (U+E000 on from lead 0xF0).
TEST(Charset, EveryOtherTwoByteCodeReadsAsICUReadsIt) {
  const struct {
    const char* encoding;
    const char* icuName;
    int mended;
  } encodings[] = {{"gb18030", "gb18030", 19}, {"GBK", "gb18030", 19}, {"Big5", "ibm-1375_P100-2008", 4 * 157 + 4 + 32},
                   {"EUC-KR", "windows-949", 2 * 94}, {"Shift_JIS", "windows-31j", 0}};
  for (const auto& e : encodings) {
    int mended = 0, read = 0;
    for (const auto& [bytes, text] : twoByteCodes(e.encoding)) {
      const auto icu = decodeText(bytes, e.icuName);
      if (!icu) continue;
      ++read;
      if (*icu == text) continue;
      ++mended;
      EXPECT_TRUE(holdsPrivateUse(*icu)) << e.encoding << " " << text;
      EXPECT_FALSE(holdsPrivateUse(text)) << e.encoding << " " << text;
    }
    EXPECT_EQ(mended, e.mended) << e.encoding;
    EXPECT_GT(read, 17000) << e.encoding;
  }
  for (const auto& [bytes, text] : twoByteCodes("Shift_JIS")) {
    const int lead = static_cast<unsigned char>(bytes[0]), trail = static_cast<unsigned char>(bytes[1]);
    const bool userDefined = lead >= 0xF0 && lead <= 0xF9 && trail != 0x7F && trail <= 0xFC;
    EXPECT_EQ(holdsPrivateUse(text), userDefined) << std::hex << lead << trail;
    if (userDefined) {
      std::string expected;
      appendUtf8(expected, 0xE000 + (lead - 0xF0) * 188 + trail - (trail < 0x7F ? 0x40 : 0x41));
      EXPECT_EQ(text, expected) << std::hex << lead << trail;
    }
  }
}

// Big5 under every label reads the Hong Kong codes (ideographs, strokes, control pictures) as
// browsers do, however the text is cut, and keeps no stray second byte after them.
TEST(Charset, Big5ReadsTheHongKongCodesUnderEveryLabel) {
  const struct {
    std::string bytes, text;
  } cases[] = {
      {"\x61\x8E\x69\x62", "a箸b"},
      {"\x63\x87\xA4\x64", "c龗d"},
      {"\xFE\x52\xFE\x6F\xA4\x40\xF9\xFE\x87\x45", "猪瑜一\uFFED\U00027267"},
      {"\xA3\xC0\xA3\xE0\xA3\xE1", "\u2400\u2421€"},
      {"\x88\x40\x88\x44\x88\x46\x88\x55\xC8\x79", "\u31C0\u31C4\u31C5\u31CE\u31CF"},
      {"\x88\x62\x88\x64\x88\xA3\x88\xA5", "\u00CA\u0304\u00CA\u030C\u00EA\u0304\u00EA\u030C"},
  };
  for (const char* label : {"big5", "Big5-HKSCS", "cn-big5", "csbig5", "x-x-big5"}) {
    const std::string encoding = encodingForWebLabel(label);
    EXPECT_EQ(encoding, "Big5") << label;
    for (const auto& c : cases)
      for (std::size_t piece : {0, 1, 2, 3})
        EXPECT_EQ(webDecoded(encoding, c.bytes, piece), c.text) << label << " " << c.text << " " << piece;
  }
}

// A Big5 lead byte and the byte after it that form no code give one U+FFFD: the second byte is
// read again only when it is ASCII; a lead byte at the end is U+FFFD too.
TEST(Charset, Big5ReadsAgainOnlyTheAsciiByteOfAnUnmappedPair) {
  const struct {
    std::string bytes, text;
  } cases[] = {
      {"a\x8E\x69" "b\xA4\x40" "c", "a箸b一c"},       // mapped pairs with an ASCII second byte
      {"a\x86\x69" "b\xA3\x7F" "c", "a\uFFFDib\uFFFD\x7F" "c"},  // unmapped: the ASCII byte stays
      {"a\xA4\x80" "b\xA4\xA0" "c\xA4\xFF" "d", "a\uFFFDb\uFFFDc\uFFFDd"},  // no second byte: taken
      {"\xA4\x87\x40", "\uFFFD@"},                      // 0x87 is taken, not read as a lead
      {"\x80\xFF\xA4\xA4", "\uFFFD\uFFFD中"},
      {"a\xA4", "a\uFFFD"},
      {"\xA4\xA4\xA4", "中\uFFFD"},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {0, 1, 2, 3})
      EXPECT_EQ(webDecoded("Big5", c.bytes, piece), c.text) << c.text << " " << piece;
  // A decoder goes on after finish as a new one.
  WebTextDecoder decoder("Big5");
  std::string out;
  decoder.decode("\x8E", out);
  decoder.finish(out);
  decoder.decode("\x69", out);
  decoder.decode("\x8E", out);
  decoder.decode("\x69", out);
  decoder.finish(out);
  EXPECT_EQ(out, "\uFFFDi箸");
}

// EUC-KR and EUC-JP read the bytes outside their codes as browsers do (one U+FFFD a pair that is
// no code, its ASCII byte read again), gb18030's A3A0 is the ideographic space, and every other
// EUC-JP code reads as ICU reads it.
TEST(Charset, EucAndGb18030ReadTheirLastCornersAsBrowsersDo) {
  const struct {
    const char* encoding;
    std::string bytes, text;
  } cases[] = {
      {"EUC-KR", "a\x80" "b\xB0\xA1", "a\uFFFDb가"},
      {"EUC-KR", "a\xB0\xFF" "b\xB0\x80" "c\xB0", "a\uFFFDb\uFFFDc\uFFFD"},
      {"EUC-JP", "a\x80" "b\x81" "c\xA0" "d", "a\uFFFDb\uFFFDc\uFFFDd"},
      {"EUC-JP", "\x8F\xA1z\x8F\xB0\xA1\x8F\xA2\xB7\x8F", "\uFFFDz丂\uFF5E\uFFFD"},
      {"EUC-JP", "\x8E\xE0\x8E\xE1\x8E\xE2\x8E\xE3\x8E\xE4|\x8E\xFE|", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD|"},
      {"EUC-JP", "\x8E\xA1\x8E\xDF\x8E" "A\xA4\xA2", "｡ﾟ\uFFFDAあ"},
      {"EUC-JP", "\x8F\xF3\xA1", "\uFFFD"},
      {"gb18030", "\xA3\xA0|\xA1\xA1", "\u3000|\u3000"},
      {"GBK", "\xA3\xA0", "\u3000"},
  };
  for (const auto& c : cases)
    for (std::size_t piece : {0, 1, 2})
      EXPECT_EQ(webDecoded(c.encoding, c.bytes, piece), c.text) << c.encoding << " " << c.text << " " << piece;
  int read = 0;
  for (int lead = 0xA1; lead <= 0xFE; ++lead)
    for (int trail = 0xA1; trail <= 0xFE; ++trail)
      for (const std::string& bytes : {bytesOf({lead, trail}), bytesOf({0x8F, lead, trail})}) {
        const auto icu = decodeText(bytes, "euc-jp");
        if (!icu || (bytes.size() == 3 && lead > 0xED)) continue;
        ++read;
        EXPECT_EQ(webDecoded("EUC-JP", bytes), *icu) << std::hex << lead << trail;
      }
  EXPECT_GT(read, 12000);
}
