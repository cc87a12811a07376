#include "Platform/Foundation/PercentEncoding.h"

#include "Harness/AnswerTable.h"

#include <gtest/gtest.h>

using namespace kesto::fnd;

namespace {
// Every printable ASCII character, in order, after letters and digits are dropped.
const std::string kMarks = " !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
}  // namespace

TEST(PercentEncoding, LegacyAddEscapesSet) {
  EXPECT_EQ(addPercentEscapes(kMarks), "%20!%22%23$%25&'()*+,-./:;%3C=%3E?@%5B%5C%5D%5E_%60%7B%7C%7D~");
  EXPECT_EQ(addPercentEscapes("http://ex.com/a b?q=1&r=é#frag"), "http://ex.com/a%20b?q=1&r=%C3%A9%23frag");
  // An existing escape is escaped again: callers that want it back undo "%25".
  EXPECT_EQ(addPercentEscapes("50%25"), "50%2525");
  EXPECT_EQ(addPercentEscapes(std::string("a\0b\x7f", 4)), "a%00b%7F");
  EXPECT_EQ(addPercentEscapes("AZaz09"), "AZaz09");
}

TEST(PercentEncoding, UrlEncodeStringAlsoEscapesQuerySeparators) {
  EXPECT_EQ(urlEncodeString(kMarks), "%20!%22%23$%25%26'()*%2B,-./:;%3C%3D%3E%3F@%5B%5C%5D%5E_%60%7B%7C%7D~");
  EXPECT_EQ(urlEncodeString("me+you@ex.com"), "me%2Byou@ex.com");
}

TEST(PercentEncoding, UnreservedAndQueryFieldSets) {
  kesto::test::expectAnswers([](const std::string& s) { return percentEncodeUnreserved(s); },
                             {{kMarks,
                               "%20%21%22%23%24%25%26%27%28%29%2A%2B%2C-.%2F%3A%3B%3C%3D%3E%3F%40%5B%5C%5D%5E_%60%7B%7C%7D~"},
                              {"a b&c", "a%20b%26c"},
                              {"é", "%C3%A9"},
                              {"\xF0\x9F\x98\x80", "%F0%9F%98%80"},
                              {"[x]", "%5Bx%5D"}});
  kesto::test::expectAnswers(percentEncodeQueryField, {{"user[email]", "user[email]"}, {"a b[]=", "a%20b[]%3D"}});
}

TEST(PercentEncoding, PathAndHostSets) {
  EXPECT_EQ(escapePath(kMarks),
            "%20%21%22%23%24%25%26%27%28%29%2A%2B%2C-./%3A%3B%3C%3D%3E%3F%40%5B%5C%5D%5E_%60%7B%7C%7D%7E");
  EXPECT_EQ(escapePath("/Photos/2024 trip/~a.jpg"), "/Photos/2024%20trip/%7Ea.jpg");
  EXPECT_EQ(percentEncodeHostAllowed(kMarks),
            "%20!%22%23$%25&'()*+,-.%2F:;%3C=%3E%3F%40[%5C]%5E_%60%7B%7C%7D~");
  EXPECT_EQ(percentEncodeHostAllowed("p@ss/w:rd"), "p%40ss%2Fw:rd");
}

// A quoted header parameter can be ended neither by a quote nor by a line break; all else,
// "%" and non-ASCII included, stays as it is.
TEST(PercentEncoding, QuotedHeaderParameterSet) {
  EXPECT_EQ(escapeQuotedHeaderParameter("a\"b\r\nc; name=x%20\xc3\xa9"), "a%22b%0D%0Ac; name=x%20\xc3\xa9");
  EXPECT_EQ(escapeQuotedHeaderParameter(""), "");
}

TEST(PercentEncoding, DecodingReportsFailure) {
  EXPECT_EQ(removePercentEscapes("a%20b%C3%A9"), "a b\xC3\xA9");
  EXPECT_EQ(removePercentEscapes("%e2%82%ac"), "\xE2\x82\xAC");  // lower-case hex
  EXPECT_EQ(removePercentEscapes("a+b"), "a+b");
  EXPECT_EQ(removePercentEscapes(""), "");
  EXPECT_EQ(removePercentEscapes("%2525"), "%25");  // one level only
  EXPECT_FALSE(removePercentEscapes("%FF"));        // not UTF-8
  EXPECT_FALSE(removePercentEscapes("%E0%A4"));     // truncated sequence
  EXPECT_FALSE(removePercentEscapes("100%"));
  EXPECT_FALSE(removePercentEscapes("%4"));
  EXPECT_FALSE(removePercentEscapes("%zz"));
  EXPECT_EQ(removePercentEscapesOrKeep("%FF%20"), "%FF%20");
  EXPECT_EQ(removePercentEscapesOrKeep("http%3A%2F%2Fx.org%2Fa%20b"), "http://x.org/a b");
  // Thai text escaped as UTF-8 survives (its lead byte is E0).
  EXPECT_EQ(removePercentEscapesOrKeep("%E0%B8%81"), "\xE0\xB8\x81");
}

// Each escape decodes on its own, as a browser reads an address: one that does not decode, or a
// stray "%", spoils none of the others.
TEST(PercentEncoding, EachEscapeDecodesOnItsOwn) {
  EXPECT_EQ(decodeEachPercentEscape("text/ht%6Dl;x=%FF,a"), "text/html;x=\xFF,a");
  EXPECT_EQ(decodeEachPercentEscape("ht%6dl;%,%C0%4"), "html;%,\xC0%4");
  EXPECT_EQ(decodeEachPercentEscape("%%41%2525%"), "%A%25%");
  EXPECT_EQ(decodeEachPercentEscape("plain"), "plain");
}

TEST(PercentEncoding, EncodersRoundTripThroughDecoding) {
  const std::string samples[] = {kMarks, "héllo wörld", "\xF0\x9F\x98\x80 & = + ?", ""};
  for (const auto& s : samples) {
    EXPECT_EQ(removePercentEscapes(addPercentEscapes(s)), s);
    EXPECT_EQ(removePercentEscapes(urlEncodeString(s)), s);
    EXPECT_EQ(removePercentEscapes(percentEncodeUnreserved(s)), s);
    EXPECT_EQ(removePercentEscapes(escapePath(s)), s);
    EXPECT_EQ(removePercentEscapes(percentEncodeHostAllowed(s)), s);
  }
}

TEST(PercentEncoding, OtherCharsets) {
  EXPECT_EQ(percentEncodeUnreserved("caf\xC3\xA9 au lait", "iso-8859-1"), "caf%E9%20au%20lait");
  EXPECT_EQ(percentEncodeUnreserved("\xE3\x81\x82", "Shift_JIS"), "%82%A0");
  EXPECT_FALSE(percentEncodeUnreserved("\xE2\x82\xAC", "iso-8859-1"));  // no euro sign in Latin-1
  EXPECT_FALSE(percentEncodeUnreserved("x", "no-such-charset"));
  EXPECT_EQ(removePercentEscapes("caf%E9+%26", "iso-8859-1"), "caf\xC3\xA9+&");
  EXPECT_EQ(removePercentEscapes("%82%A0!", "Shift_JIS"), "\xE3\x81\x82!");
  EXPECT_EQ(removePercentEscapes("a%C3%A9", "utf-8"), "a\xC3\xA9");
  EXPECT_FALSE(removePercentEscapes("%C3", "utf-8"));
  EXPECT_FALSE(removePercentEscapes("%C3x", "utf-8"));  // a broken run ends before plain text
  EXPECT_FALSE(removePercentEscapes("a%4", "iso-8859-1"));
  EXPECT_FALSE(removePercentEscapes("%G1", "iso-8859-1"));
  EXPECT_FALSE(removePercentEscapes("abc", "no-such-charset"));
}
