#include "Platform/Foundation/Charset.h"

#include <gtest/gtest.h>

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
