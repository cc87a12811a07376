#include "Platform/Foundation/PercentEncoding.h"

#include <gtest/gtest.h>

namespace kesto::fnd {
namespace {

TEST(AddressEscapes, EscapesThatChangeWhatTheAddressMeansStay) {
  // Reserved delimiters: decoding them would cut the query or the fragment differently.
  EXPECT_EQ(decodeHarmlessPercentEscapes("https://x.example/?q=a%26b#x%23y"), "https://x.example/?q=a%26b#x%23y");
  for (const char* kept : {"%2F", "%3F", "%23", "%5B", "%40", "%21", "%24", "%27", "%28", "%2A", "%2B", "%2C",
                           "%3B", "%3D", "%3A", "%20", "%22", "%3C", "%25", "%00", "%0A", "%7F"})
    EXPECT_EQ(decodeHarmlessPercentEscapes(std::string("a") + kept + "b"), std::string("a") + kept + "b") << kept;
  // "%2541" is the text "%41", never "A", however often it is read.
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%2541"), "/%2541");
  EXPECT_EQ(decodeHarmlessPercentEscapes(decodeHarmlessPercentEscapes("/%2541")), "/%2541");
}

TEST(AddressEscapes, UnreservedCharactersAndUtf8TextAreDecoded) {
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%7Euser/%41%62%2d%2E%5F"), "/~user/Ab-._");
  EXPECT_EQ(decodeHarmlessPercentEscapes("https://example.org/caf%C3%A9"), "https://example.org/café");
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%E6%97%A5%F0%9F%98%80"), "/日😀");
  // Lower-case hexadecimal digits too.
  EXPECT_EQ(decodeHarmlessPercentEscapes("/caf%c3%a9"), "/café");
}

TEST(AddressEscapes, BrokenOrDangerousSequencesStayEscaped) {
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%C3"), "/%C3");           // cut short
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%C3%28"), "/%C3%28");     // bad continuation
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%C0%AF"), "/%C0%AF");     // overlong "/"
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%ED%A0%80"), "/%ED%A0%80");  // surrogate
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%C2%85"), "/%C2%85");     // C1 control
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%E2%80%AEgpj.exe"), "/%E2%80%AEgpj.exe");  // right-to-left override
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%ZZ%4"), "/%ZZ%4");
  EXPECT_EQ(decodeHarmlessPercentEscapes("%"), "%");
  // A valid character after a broken one still decodes.
  EXPECT_EQ(decodeHarmlessPercentEscapes("/%C3%C3%A9"), "/%C3é");
}

}  // namespace
}  // namespace kesto::fnd
