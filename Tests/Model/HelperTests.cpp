#include "Model/Base64.h"
#include "Model/StringAdditions.h"

#include "Harness/AnswerTable.h"
#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

namespace kesto {
namespace {

fnd::Data bytes(std::string_view s) { return fnd::Data(s.begin(), s.end()); }

TEST(Base64Test, EncodesRfc4648Vectors) {
  EXPECT_FALSE(Base64::encodeBase64WithData({}).has_value());
  test::expectAnswers([](const std::string& s) { return Base64::encodeBase64WithData(bytes(s)); },
                      {{"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                       {"foobar", "Zm9vYmFy"}, {"\xFB\xFF", "+/8="}});
}

TEST(Base64Test, DecodesAndSkipsWhiteSpace) {
  // Unpadded tails ("Zm9vYg") still decode.
  test::expectAnswers<std::string, fnd::Data>(
      [](const std::string& s) { return Base64::decodeBase64WithString(s); },
      {{"YWJj", bytes("abc")}, {"YW\nJj", bytes("abc")}, {" Y W\tJ\rj\f", bytes("abc")}, {"Zm9vYg==", bytes("foob")},
       {"Zm9vYmE=", bytes("fooba")}, {"Zm9vYg", bytes("foob")}, {"+/8=", fnd::Data{0xFB, 0xFF}}});
  auto empty = Base64::decodeBase64WithString("");
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST(Base64Test, RejectsInvalidText) {
  EXPECT_FALSE(Base64::decodeBase64WithString("YW-j").has_value());
  EXPECT_FALSE(Base64::decodeBase64WithString("YW_j").has_value());
  // One character of a group followed by a lone "=".
  EXPECT_FALSE(Base64::decodeBase64WithString("YWJjZ=").has_value());
  EXPECT_EQ(Base64::decodeBase64WithString("YWJjZA=="), bytes("abcd"));
  // Non-ASCII input (a password from a foreign sync file) gives nothing instead of crashing.
  EXPECT_FALSE(Base64::decodeBase64WithString("YW\xC3\xA9Jj").has_value());
  EXPECT_FALSE(Base64::decodeToString("\xE2\x82\xAC").has_value());
}

TEST(Base64Test, PasswordsRoundTrip) {
  for (std::string pw : {"secret", "p\xC3\xA4ss w\xC3\xB6rd", "a", "ab", "\x01\x02\xFF"}) {
    EXPECT_EQ(Base64::decodeToString(Base64::encodeString(pw)), pw);
  }
}

TEST(StringAdditionsTest, ReplacementCascadesFromTheStart) {
  using namespace brightwren;
  EXPECT_EQ(stringByReplacingString("%2525", "%25", "%"), "%");
  std::string t = "a;b;;c";
  std::string there = stringByReplacingString(t, ";", "##semicolon##");
  EXPECT_EQ(there, "a##semicolon##b##semicolon####semicolon##c");
  EXPECT_EQ(stringByReplacingString(there, "##semicolon##", ";"), t);
  EXPECT_EQ(stringByReplacingString("abc", "", "x"), "abc");
  EXPECT_EQ(stringByReplacingString("aaa", "a", ""), "");
  // "aab" with "ab" -> "b": after the first hit "ab" forms again at the start.
  EXPECT_EQ(stringByReplacingString("aabb", "ab", ""), "");
}

TEST(StringAdditionsTest, ReplacementContainingTheTargetEnds) {
  using namespace brightwren;
  EXPECT_EQ(stringByReplacingString("a.b.c", ".", ".."), "a..b..c");
  EXPECT_EQ(stringByReplacingString("xx", "x", "xyx"), "xyxxyx");
  std::string m = "%";
  replaceString(m, "%", "%25");
  EXPECT_EQ(m, "%25");
}

TEST(StringAdditionsTest, SpacesAndTrimming) {
  using namespace brightwren;
  test::expectAnswers(stringByRemovingLeadingAndTrailingSpaces,
                      {{"  word  ", " word "}, {" ", ""}, {"", ""}, {"\tword\n", "\tword\n"}});
  test::expectAnswers(stringByTrimmingString, {{" \t\n word \r\n", "word"}, {"\xE3\x80\x80x\xC2\xA0", "x"}});
}

TEST(StringAdditionsTest, BaseURL) {
  using namespace brightwren;
  test::expectAnswers(stringWithFirstURLComponent,
                      {{"https://user@example.com:8080/a/b?c", "https://user@example.com:8080"},
                       {"http://example.com", "http://example.com"}, {"example.com/path", "example.com/path://"},
                       {"", "://"}, {"://host/x", "://"}});
}

TEST(StringAdditionsTest, SearchReverseAndCounts) {
  using namespace brightwren;
  EXPECT_TRUE(contains("Hello", "ell"));
  EXPECT_FALSE(contains("Hello", "ELL"));
  EXPECT_EQ(occurrencesOfString("a,b,c", ","), 2);
  EXPECT_EQ(occurrencesOfString("abc", ","), 0);
  auto r = lastIndexOf("b", "\xC3\xA9" "b" "ab");
  EXPECT_EQ(r.location, 3);
  EXPECT_EQ(r.length, 1);
  EXPECT_EQ(lastIndexOf("z", "abc").location, kNotFound);
  EXPECT_EQ(stringByReversingString("abc"), "cba");
  EXPECT_EQ(stringByReversingString("a\xC3\xA9"), "\xC3\xA9" "a");
  EXPECT_FALSE(ascii("caf\xC3\xA9").has_value());
  EXPECT_EQ(ascii("cafe"), "cafe");
}

TEST(StringAdditionsTest, LegacyPercentDecodingSet) {
  using namespace brightwren;
  EXPECT_EQ(stringByDecodingPercentEscapesInURL("a%21b%3Ac%2Fd%3F%3De%26%E0"), "a!b:c/d?=e&\xC3\xA0");
  // Codes outside the set stay, and "%25" is decoded after "%21", so "%2521" ends as "%21".
  EXPECT_EQ(stringByDecodingPercentEscapesInURL("%2521%20"), "%21%20");
}

TEST(StringAdditionsTest, DigestsEncodingsAndIdentifiers) {
  using namespace brightwren;
  EXPECT_EQ(md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(stringByURLEncodingString("a b?c=d&e+f/\xC3\xA9"), "a%20b%3Fc%3Dd%26e%2Bf/%C3%A9");
  std::string id = stringWithNewUUID();
  ASSERT_EQ(id.size(), 36u);
  EXPECT_TRUE(matches(id, "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
  EXPECT_NE(id, stringWithNewUUID());
  EXPECT_FALSE(matches("abc", "b"));
  EXPECT_FALSE(matches("abc", "("));
  EXPECT_EQ(stringByCapitalizingFirstCharacter("\xC3\xA9" "cole"), "\xC3\x89" "cole");
  EXPECT_EQ(stringByCapitalizingFirstCharacter(""), "");
  EXPECT_TRUE(equalsIgnoreCase("Stra\xC3\x9F" "e", "STRA\xC3\x9F" "E"));
  EXPECT_FALSE(equalsIgnoreCase("a", "b"));
  EXPECT_EQ(stringByConcatenatingStrings({}), "");
  EXPECT_EQ(stringByConcatenatingStrings({"a", "b", "c"}), "abc");
}

TEST(StringAdditionsTest, ReadsOnlyLocalUtf8Files) {
  using namespace brightwren;
  std::string dir = test::makeTempDir("url");
  test::writeFile(dir + "/ok.txt", "h\xC3\xA9llo");
  test::writeFile(dir + "/bad.txt", "\xFF\xFE");
  EXPECT_EQ(stringFromURL(dir + "/ok.txt"), "h\xC3\xA9llo");
  EXPECT_EQ(stringFromURL("file://" + dir + "/ok.txt"), "h\xC3\xA9llo");
  EXPECT_FALSE(stringFromURL(dir + "/bad.txt").has_value());
  EXPECT_FALSE(stringFromURL(dir + "/missing.txt").has_value());
  EXPECT_FALSE(stringFromURL("http://127.0.0.1:1/").has_value());
}

TEST(ArrayAdditionsTest, SortingStringsDropsOtherElements) {
  using namespace brightwren;
  EXPECT_EQ(arrayBySortingStrings(fnd::Array{"b", 3, "A", "c"}), (fnd::Array{"A", "b", "c"}));
}

TEST(ArrayAdditionsTest, UniqueMembersKeepLastOccurrence) {
  using namespace brightwren;
  fnd::Array a{"A", "B", "A"};
  EXPECT_EQ(uniqueMembers(a), (fnd::Array{"B", "A"}));
  EXPECT_EQ(unionWithArray(a, nullptr), a);
  fnd::Array other{"C", "A"};
  EXPECT_EQ(unionWithArray(a, &other), (fnd::Array{"B", "C", "A"}));
  EXPECT_EQ(intersectionWithArray(fnd::Array{"A", "B", "C", "A"}, fnd::Array{"A", "C"}), (fnd::Array{"C", "A"}));
  EXPECT_EQ(stringValueWithSeparator(fnd::Array{"x", "y"}, ", "), "x, y");
  EXPECT_EQ(stringValue(fnd::Array{"x", "y"}), "x y");
}

}  // namespace
}  // namespace kesto
