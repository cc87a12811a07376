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

// The stored form: what a reader takes for the same address. Escapes whose removal changes the
// address stay, whatever the scheme; text and spaces inside the address are decoded.
TEST(AddressEscapes, TheStoredFormKeepsWhatTheAddressMeans) {
  EXPECT_EQ(decodeAddressForStorage("http://127.0.0.1:8080/page?q=a%26b&path=%2Fx%2Fy&h=%23frag"),
            "http://127.0.0.1:8080/page?q=a%26b&path=%2Fx%2Fy&h=%23frag");
  EXPECT_EQ(decodeAddressForStorage("data:text/plain,a%26b%20c"), "data:text/plain,a%26b c");
  EXPECT_EQ(decodeAddressForStorage("mailto:a%40b.example?subject=Hi%20there%3F"),
            "mailto:a%40b.example?subject=Hi there%3F");
  EXPECT_EQ(decodeAddressForStorage("https://example.org/caf%C3%A9/%7Euser/a%20b"),
            "https://example.org/café/~user/a b");
  for (const char* kept : {"%25", "%26", "%23", "%2F", "%3F", "%3D", "%2B", "%3B", "%3A", "%40", "%2f", "%2520", "%00",
                           "%0A", "%E2%80%A8", "%E2%80%AE", "%C2%85", "%FF"})
    EXPECT_EQ(decodeAddressForStorage(std::string("https://x.example/a") + kept + "b"),
              std::string("https://x.example/a") + kept + "b")
        << kept;
}

// A reader trims the spaces at either end of an address, so there they stay escaped; spaces
// within it decode, however many.
TEST(AddressEscapes, OnlySpacesInsideTheAddressDecode) {
  EXPECT_EQ(decodeAddressForStorage("https://x.example/a%20%20b"), "https://x.example/a  b");
  EXPECT_EQ(decodeAddressForStorage("https://x.example/a%20"), "https://x.example/a%20");
  EXPECT_EQ(decodeAddressForStorage("https://x.example/a%20%20 %20"), "https://x.example/a%20%20 %20");
  EXPECT_EQ(decodeAddressForStorage("https://x.example/a%20b%20"), "https://x.example/a b%20");
  EXPECT_EQ(decodeAddressForStorage("%20https://x.example/%20"), "%20https://x.example/%20");
  EXPECT_EQ(decodeAddressForStorage("%20%20"), "%20%20");
  EXPECT_EQ(decodeAddressForStorage("a%20%2Fb%20%3F"), "a %2Fb %3F");
}

// Stored once, an address decodes to itself: no door changes what another stored.
TEST(AddressEscapes, TheStoredFormIsStable) {
  for (const char* address :
       {"https://x.example/%2541%20%C3%A9%2F", "https://x.example/%252520%20", "data:,%25%32%30", "a%20%25%20b",
        "https://x.example/%E2%80%AE%20x", "https://x.example/%C3%20%A9", "/%%34%31", "/%5%34%31", "/%%34"}) {
    const std::string once = decodeAddressForStorage(address);
    EXPECT_EQ(decodeAddressForStorage(once), once) << address;
  }
  // "%32%30" spells "20" after a kept "%25": the text "%20", never a space.
  EXPECT_EQ(decodeAddressForStorage("data:,%25%32%30"), "data:,%2520");
  // Nor do digits after a stray "%" make an escape of it.
  EXPECT_EQ(decodeAddressForStorage("/%%34%31"), "/%%341");
}

}  // namespace
}  // namespace kesto::fnd
