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
