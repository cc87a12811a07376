// The JSON pieces both readers and both writers share: their results must stay alike for all.
#include "Platform/Foundation/JsonText.h"
#include "Platform/Foundation/Strings.h"

#include <gtest/gtest.h>

namespace kesto::fnd {
namespace {

TEST(JsonText, QuotesEscapesAndKeepsUtf8AsItIs) {
  std::string out;
  // The 16th character is the literal's NUL: it is escaped, not an end.
  json::appendQuoted(out, std::string("a\"b\\c\n\r\t\b\f\x01\x1f/\xc3\xa9", 16));
  EXPECT_EQ(out, "\"a\\\"b\\\\c\\n\\r\\t\\b\\f\\u0001\\u001f/\xc3\xa9\\u0000\"");
  out.clear();
  json::appendQuoted(out, "");
  EXPECT_EQ(out, "\"\"");
}

TEST(JsonText, UnicodeEscapesAndTheirFaults) {
  auto read = [](std::string_view digits, std::string* out = nullptr) {
    std::string sink;
    const char* p = digits.data();
    auto e = json::readUnicodeEscape(p, digits.data() + digits.size(), out ? *out : sink);
    return e;
  };
  std::string s;
  EXPECT_EQ(read("00e9", &s), json::UnicodeEscapeError::None);
  EXPECT_EQ(s, "\xc3\xa9");
  s.clear();
  EXPECT_EQ(read("D83D\\uDE00", &s), json::UnicodeEscapeError::None);
  EXPECT_EQ(s, "\xf0\x9f\x98\x80");
  EXPECT_EQ(read("00g9"), json::UnicodeEscapeError::HighDigits);
  EXPECT_EQ(read("00"), json::UnicodeEscapeError::HighDigits);  // the text ends first
  EXPECT_EQ(read("DE00"), json::UnicodeEscapeError::LoneLowSurrogate);
  EXPECT_EQ(read("D83D"), json::UnicodeEscapeError::NoLowEscape);
  EXPECT_EQ(read("D83Dx\\uDE00"), json::UnicodeEscapeError::NoLowEscape);
  EXPECT_EQ(read("D83D\\uDE"), json::UnicodeEscapeError::LowDigits);
  EXPECT_EQ(read("D83D\\u0041"), json::UnicodeEscapeError::NotALowSurrogate);
  EXPECT_EQ(json::simpleEscape('n'), '\n');
  EXPECT_EQ(json::simpleEscape('/'), '/');
  EXPECT_EQ(json::simpleEscape('u'), std::nullopt);
  EXPECT_EQ(json::simpleEscape('x'), std::nullopt);
}

TEST(JsonText, NumbersStayExactWhenWholeAndFailOutOfRange) {
  auto num = [](std::string_view t, bool integral) { return json::numberValue(t.data(), t.data() + t.size(), integral); };
  auto big = num("9223372036854775807", true);
  ASSERT_TRUE(big && big->isInteger());
  EXPECT_EQ(big->intValue(), INT64_MAX);
  auto over = num("9223372036854775808", true);  // one past: a real, not a wrapped integer
  ASSERT_TRUE(over);
  EXPECT_FALSE(over->isInteger());
  auto real = num("-2.5e3", false);
  ASSERT_TRUE(real);
  EXPECT_DOUBLE_EQ(real->doubleValue(), -2500.0);
  EXPECT_FALSE(num("1e999", false));
}

}  // namespace
}  // namespace kesto::fnd

namespace kesto::fnd {
namespace {

TEST(Utf8Encoding, EachLengthAtItsBoundsAndNonCharactersReplaced) {
  std::string out;
  for (std::uint32_t c : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) appendUtf8(out, c);
  EXPECT_EQ(out, "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
  EXPECT_TRUE(isValidUtf8(out));
  out.clear();
  appendUtf8(out, 0xD800);    // a lone surrogate
  appendUtf8(out, 0x110000);  // past the last code point
  EXPECT_EQ(out, "\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
}  // namespace kesto::fnd
