// The one Base64 codec: what it writes, where it breaks lines, and what its strict reader refuses.
// Qt's headers often come first in the platform's own files, and they define `emit` as a macro
// that expands to nothing: it must not change what the codec's inline parts do.
#define emit
#include "Platform/Foundation/Base64.h"
#undef emit

#include <gtest/gtest.h>

namespace kesto::fnd {
namespace {

std::string hex(const std::optional<Data>& d) {
  if (!d) return "ERR";
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (auto b : *d) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

TEST(Base64Codec, EncodesTheStandardVectorsAndBreaksLinesWhenAsked) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},   {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (auto [plain, coded] : vectors) {
    EXPECT_EQ(base64::encode(std::string_view(plain)), coded) << plain;
    EXPECT_EQ(base64::encodedSize(std::string_view(plain).size()), std::string_view(coded).size());
  }
  const Data high{0xff, 0xfe, 0x80, 0x00};
  EXPECT_EQ(base64::encode(high), "//6AAA==");  // octets above 0x7f are not sign-extended

  // 54 octets are 72 characters: exactly one full line, which ends with CR LF too.
  const std::string line(54, 'a');
  const std::string one = base64::encode(line, 72);
  EXPECT_EQ(one.size(), 74u);
  EXPECT_EQ(one.substr(72), "\r\n");
  EXPECT_EQ(base64::encodedSize(54, 72), 74u);
  const std::string more = base64::encode(line + "b", 72);
  EXPECT_EQ(more.substr(72), "\r\nYg==");
  EXPECT_EQ(base64::encodedSize(55, 72), more.size());
}

TEST(Base64Codec, StrictReadingTakesPaddingOnlyAtAWholeGroupsEnd) {
  EXPECT_EQ(hex(base64::decode("QQ==")), "41");
  EXPECT_EQ(hex(base64::decode("QQ")), "41");  // unpadded is fine
  EXPECT_EQ(hex(base64::decode("QUI=")), "4142");
  EXPECT_EQ(hex(base64::decode("QUJDRA")), "41424344");
  EXPECT_EQ(hex(base64::decode("QUJDR")), "414243");  // a lone last sextet holds no octet
  EXPECT_EQ(hex(base64::decode("")), "");
  EXPECT_EQ(hex(base64::decode("Q")), "");
  for (const char* bad : {"QQ=", "QQ===", "=", "QQ==QQ==", "Q=Q=", "Q Q==", "QQ=a", "QQ\n==", "Q\xc3\xa9Q="})
    EXPECT_EQ(hex(base64::decode(bad)), "ERR") << bad;
  // Round trip over every octet value.
  Data all;
  for (int i = 0; i < 256; ++i) all.push_back(std::uint8_t(i));
  EXPECT_EQ(base64::decode(base64::encode(all)), all);
}

TEST(Base64Codec, SextetsGiveOctetsAsSoonAsTheyAreComplete) {
  base64::Base64Sextets s;
  Data out;
  auto emit = [&](std::uint8_t b) { out.push_back(b); };
  s.push(unsigned(base64::sextetOf('Q')), emit);
  EXPECT_TRUE(out.empty());
  s.push(unsigned(base64::sextetOf('U')), emit);
  EXPECT_EQ(out, (Data{0x41}));
  s.push(unsigned(base64::sextetOf('J')), emit);
  s.push(unsigned(base64::sextetOf('D')), emit);
  EXPECT_EQ(out, (Data{0x41, 0x42, 0x43}));
  EXPECT_EQ(s.count(), 4u);
  EXPECT_EQ(base64::sextetOf('='), -1);
  EXPECT_EQ(base64::sextetOf(0xc3), -1);
  EXPECT_EQ(base64::sextetOf('/'), 63);
}

TEST(Base64Codec, SextetsGiveTheirOctetsWhereQtsKeywordsAreDefined) {
  std::vector<std::uint8_t> octets;
  base64::Base64Sextets sextets;
  // "YWJj" is "abc".
  for (unsigned sextet : {24u, 22u, 9u, 35u}) sextets.push(sextet, [&](std::uint8_t o) { octets.push_back(o); });
  EXPECT_EQ(octets, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

}  // namespace
}  // namespace kesto::fnd
