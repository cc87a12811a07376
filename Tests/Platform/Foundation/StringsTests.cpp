#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/Strings.h"

#include "Harness/AnswerTable.h"
#include "Harness/LocaleGuard.h"

#include <gtest/gtest.h>

using namespace kesto::fnd;

TEST(Strings, LengthsAndRangesCountUtf16Units) {
  EXPECT_EQ(utf16Length(""), 0);
  EXPECT_EQ(utf16Length("abc"), 3);
  EXPECT_EQ(utf16Length("é"), 1);            // two UTF-8 bytes
  EXPECT_EQ(utf16Length("e\xCC\x81"), 2);    // e + combining acute
  EXPECT_EQ(utf16Length("a\xF0\x9F\x98\x80"), 3);  // emoji is a surrogate pair
  EXPECT_EQ(substring("h\xC3\xA9llo", Range{1, 3}), "\xC3\xA9ll");
  EXPECT_EQ(substring("abc", Range{2, 100}), "c");
  EXPECT_EQ(substring("abc", Range{5, 1}), "");
  EXPECT_EQ(substringFrom("a\xF0\x9F\x98\x80z", 3), "z");
  EXPECT_EQ(substringTo("a\xF0\x9F\x98\x80z", 3), "a\xF0\x9F\x98\x80");
  // Cutting a surrogate pair leaves a replacement character, never broken UTF-8.
  EXPECT_TRUE(isValidUtf8(substringTo("a\xF0\x9F\x98\x80", 2)));
  EXPECT_EQ(reversed("ab\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80" "ba");
}

TEST(Strings, Utf8ValidationRejectsMalformedInput) {
  EXPECT_TRUE(isValidUtf8("plain \xE2\x82\xAC"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // truncated
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_EQ(makeValidUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(fromUtf16(toUtf16("x\xF0\x9F\x98\x80")), "x\xF0\x9F\x98\x80");
}

TEST(Strings, SearchWithCaseAndDiacriticFolding) {
  EXPECT_TRUE(contains("Hello World", "lo W"));
  EXPECT_FALSE(contains("Hello World", "WORLD"));
  EXPECT_TRUE(contains("Hello World", "WORLD", CaseInsensitiveSearch));
  EXPECT_FALSE(contains("Crème brûlée", "creme", CaseInsensitiveSearch));
  EXPECT_TRUE(contains("Crème brûlée", "CREME BRULEE", CaseInsensitiveSearch | DiacriticInsensitiveSearch));
  // Decomposed text in the haystack matches a plain needle under [d].
  EXPECT_TRUE(contains("cafe\xCC\x81!", "café", DiacriticInsensitiveSearch));
  EXPECT_TRUE(contains("STRASSE", "straße", CaseInsensitiveSearch));
  // An empty needle is never found: CONTAINS '' is false.
  EXPECT_FALSE(contains("abc", ""));
  EXPECT_FALSE(contains("abc", "", CaseInsensitiveSearch));
  EXPECT_FALSE(contains("", "a"));
}

TEST(Strings, RangesMapBackToTheOriginalText) {
  EXPECT_EQ(rangeOf("aXbxc", "x"), (Range{3, 1}));
  EXPECT_EQ(rangeOf("aXbxc", "x", CaseInsensitiveSearch), (Range{1, 1}));
  EXPECT_EQ(rangeOf("aXbxc", "x", CaseInsensitiveSearch | BackwardsSearch), (Range{3, 1}));
  EXPECT_TRUE(rangeOf("aXbxc", "b", AnchoredSearch).isNotFound());
  EXPECT_EQ(rangeOf("abc", "a", AnchoredSearch), (Range{0, 1}));
  EXPECT_EQ(rangeOf("\xF0\x9F\x98\x80" "Étude", "etude", CaseInsensitiveSearch | DiacriticInsensitiveSearch),
            (Range{2, 5}));
  // "ß" folds to "ss": a match covering only half of it is not a match.
  EXPECT_TRUE(rangeOf("aßb", "as", CaseInsensitiveSearch).isNotFound());
  EXPECT_EQ(rangeOf("aßb", "ss", CaseInsensitiveSearch), (Range{1, 1}));
  EXPECT_TRUE(rangeOf("ßb", "sb", CaseInsensitiveSearch).isNotFound());
  // A split match is skipped and the search goes on to a whole one, in either direction.
  EXPECT_EQ(rangeOf("ßb sb", "sb", CaseInsensitiveSearch), (Range{3, 2}));
  EXPECT_EQ(rangeOf("sb ßb", "sb", CaseInsensitiveSearch | BackwardsSearch), (Range{0, 2}));
  EXPECT_EQ(rangeOf("x ñ y ñ", "N", CaseInsensitiveSearch | DiacriticInsensitiveSearch | BackwardsSearch),
            (Range{6, 1}));
  EXPECT_EQ(rangeOf("abcab", "AB", CaseInsensitiveSearch | AnchoredSearch | BackwardsSearch), (Range{3, 2}));
  EXPECT_TRUE(rangeOf("a", "abc", AnchoredSearch | BackwardsSearch).isNotFound());
}

TEST(Strings, PrefixesAndSuffixes) {
  EXPECT_TRUE(hasPrefix("http://x", "http"));
  EXPECT_FALSE(hasPrefix("http://x", ""));
  EXPECT_FALSE(hasPrefix("ht", "http"));
  EXPECT_TRUE(hasSuffix("a.kesto", ".kesto"));
  EXPECT_TRUE(beginsWith("Éclair", "ecl", CaseInsensitiveSearch | DiacriticInsensitiveSearch));
  EXPECT_FALSE(beginsWith("Éclair", "ecl", CaseInsensitiveSearch));
  EXPECT_TRUE(endsWith("ABC", "bc", CaseInsensitiveSearch));
}

TEST(Strings, Comparison) {
  EXPECT_EQ(compare("a", "b"), ComparisonResult::Ascending);
  EXPECT_EQ(compare("B", "a"), ComparisonResult::Ascending);  // code units: upper case first
  EXPECT_EQ(caseInsensitiveCompare("B", "a"), ComparisonResult::Descending);
  EXPECT_EQ(caseInsensitiveCompare("ABC", "abc"), ComparisonResult::Same);
  EXPECT_EQ(compare("file10", "file9"), ComparisonResult::Ascending);
  EXPECT_EQ(compare("file10", "file9", NumericSearch), ComparisonResult::Descending);
  EXPECT_EQ(compare("file010", "file10", NumericSearch), ComparisonResult::Same);
  // Canonically equivalent forms compare equal unless the search is literal.
  EXPECT_EQ(compare("caf\xC3\xA9", "cafe\xCC\x81"), ComparisonResult::Same);
  EXPECT_NE(compare("caf\xC3\xA9", "cafe\xCC\x81", LiteralSearch), ComparisonResult::Same);
  EXPECT_TRUE(equals("Résumé", "RESUME", CaseInsensitiveSearch | DiacriticInsensitiveSearch));
  EXPECT_FALSE(equals("Résumé", "RESUME", CaseInsensitiveSearch));
}

TEST(Strings, LocalizedComparisonFollowsTheLocale) {
  // Collation puts "é" next to "e", code units put it after "z".
  EXPECT_EQ(compare("é", "z"), ComparisonResult::Descending);
  EXPECT_EQ(localizedCompare("é", "z", "fr_FR"), ComparisonResult::Ascending);
  // Swedish sorts "ö" after "z"; German sorts it with "o".
  EXPECT_EQ(localizedCompare("ö", "z", "sv_SE"), ComparisonResult::Descending);
  EXPECT_EQ(localizedCompare("ö", "z", "de_DE"), ComparisonResult::Ascending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "APPLE", "en_US"), ComparisonResult::Same);
  EXPECT_NE(localizedCompare("apple", "APPLE", "en_US"), ComparisonResult::Same);
  Locale::setCurrent("sv_SE");
  EXPECT_EQ(localizedCompare("ö", "z"), ComparisonResult::Descending);
  Locale::setCurrent("");
}

TEST(Strings, CaseMappingAndFolding) {
  EXPECT_EQ(foldCase("Straße"), "strasse");
  EXPECT_EQ(foldDiacritics("Crème Brûlée"), "Creme Brulee");
  EXPECT_EQ(fold("ÀÉÎ", CaseInsensitiveSearch | DiacriticInsensitiveSearch), "aei");
  EXPECT_EQ(uppercase("straße"), "STRASSE");
  EXPECT_EQ(lowercase("İ", "tr_TR"), "i");
  EXPECT_EQ(uppercase("i", "tr_TR"), "İ");
  EXPECT_EQ(capitalized("hello wORLD", "en_US"), "Hello World");
  EXPECT_EQ(uppercaseFirst("élan vital"), "Élan vital");
  EXPECT_EQ(uppercaseFirst(""), "");
  EXPECT_EQ(normalizeNFC("e\xCC\x81"), "\xC3\xA9");
  EXPECT_EQ(normalizeNFD("\xC3\xA9"), "e\xCC\x81");
  EXPECT_EQ(transliterate("Ελληνικά Ж", "Any-Latin; Latin-ASCII; [:^ASCII:] Remove"), "Ellenika Z");
  EXPECT_EQ(transliterate("abc", "No-Such-Transform"), "abc");
}

// Protocol words keep ASCII case under a C library that does not pair "i" with "I" (Turkish);
// a user's text folds by Unicode, whatever the locale.
TEST(Strings, AsciiCaseAndFoldingAreTheSameInTurkish) {
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  EXPECT_EQ(asciiLowercase("JAVASCRIPT:If-Range ISO-8859-1"), "javascript:if-range iso-8859-1");
  EXPECT_EQ(asciiUppercase("self contains[cd] nil in min"), "SELF CONTAINS[CD] NIL IN MIN");
  EXPECT_EQ(asciiLowercase('I'), 'i');
  EXPECT_EQ(asciiUppercase('i'), 'I');
  // Bytes outside ASCII pass untouched ("İı").
  EXPECT_EQ(asciiLowercase("\xC4\xB0\xC4\xB1"), "\xC4\xB0\xC4\xB1");
  EXPECT_TRUE(asciiEqualsIgnoringCase("if-range", "IF-RANGE"));
  EXPECT_FALSE(asciiEqualsIgnoringCase("if-range", "IF-RANG"));
  EXPECT_FALSE(asciiEqualsIgnoringCase("i", "\xC4\xB0"));
  EXPECT_TRUE(asciiHasPrefixIgnoringCase("JAVASCRIPT:alert(1)", "javascript:"));
  EXPECT_FALSE(asciiHasPrefixIgnoringCase("java", "javascript:"));
  EXPECT_TRUE(isAsciiLetter('I') && isAsciiLetterOrDigit('9') && !isAsciiLetter('\xC4') && !isAsciiLetterOrDigit('_'));
  EXPECT_TRUE(contains("\xC4\xB0STANBUL", "istanbul", CaseInsensitiveSearch | DiacriticInsensitiveSearch));
  EXPECT_TRUE(contains("Bookmarks IN the INBOX", "in the inbox", CaseInsensitiveSearch));
  EXPECT_EQ(fold("TITLE", CaseInsensitiveSearch), "title");
}

TEST(Strings, TrimmingSplittingJoiningReplacing) {
  kesto::test::expectAnswers(trimWhitespace, {{"  \t a b \xC2\xA0", "a b"}, {"\n a \n", "\n a \n"}});
  kesto::test::expectAnswers(trimWhitespaceAndNewlines, {{"\r\n a b \n\xE2\x80\xA8", "a b"}, {"   ", ""}});
  EXPECT_EQ(trimCharacters("--é--", "-"), "é");
  EXPECT_EQ(trimCharacters("«quote»", "«»"), "quote");

  EXPECT_EQ(split("a,,b,", ","), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split("abc", ""), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(splitAny("a b\nc", " \n"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(splitAny("x·y", "·"), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(join({"a", "b", "c"}, "/"), "a/b/c");
  EXPECT_EQ(join({}, "/"), "");

  EXPECT_EQ(replaceAll("aaa", "a", "b"), "bbb");
  EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
  // Replacement text containing the target is not searched again.
  EXPECT_EQ(replaceAll("x", "x", "xx"), "xx");
  EXPECT_EQ(replaceAll("abc", "", "z"), "abc");

  // CR LF is one line end; a CR before it is a line end of its own.
  EXPECT_EQ(normalizeLineEnds("a\r\nb\rc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(normalizeLineEnds("\r\r\n\n\r"), "\n\n\n\n");
  EXPECT_EQ(normalizeLineEnds("\n\r"), "\n\n");
  EXPECT_EQ(normalizeLineEnds(""), "");
}

TEST(Strings, LeadingNumbers) {
  // Out of range saturates.
  kesto::test::expectAnswers<std::string, std::int64_t>(
      leadingInteger, {{"42abc", 42}, {"  -17 apples", -17}, {"+5", 5}, {"abc", 0}, {"", 0}, {"- 5", 0},
                       {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
                       {"99999999999999999999", INT64_MAX}, {"-99999999999999999999", INT64_MIN}});
  EXPECT_EQ(leadingInt32("3000000000"), INT32_MAX);
  EXPECT_EQ(leadingInt32("-12/4"), -12);

  EXPECT_DOUBLE_EQ(leadingDouble(" 2.5kg"), 2.5);
  EXPECT_DOUBLE_EQ(leadingDouble("-.5"), -0.5);
  EXPECT_DOUBLE_EQ(leadingDouble("1e3x"), 1000);
  EXPECT_DOUBLE_EQ(leadingDouble("7e"), 7);
  EXPECT_DOUBLE_EQ(leadingDouble("."), 0);
  EXPECT_DOUBLE_EQ(leadingDouble("nan"), 0);

  EXPECT_EQ(parseInteger("123"), 123);
  EXPECT_EQ(parseInteger("-4"), -4);
  EXPECT_EQ(parseInteger("+4"), 4);
  EXPECT_FALSE(parseInteger("12a"));
  EXPECT_FALSE(parseInteger(""));
  EXPECT_FALSE(parseInteger("-"));
  EXPECT_FALSE(parseInteger("99999999999999999999"));
}

TEST(Strings, RegexMatchesWholeText) {
  EXPECT_TRUE(matchesRegex("abc123", "[a-z]+[0-9]+"));
  EXPECT_FALSE(matchesRegex("abc123!", "[a-z]+[0-9]+"));  // must cover everything
  EXPECT_FALSE(matchesRegex("xabc", "abc"));
  EXPECT_TRUE(matchesRegex("Ünïcödé", "\\p{L}+"));
  bool valid = true;
  EXPECT_FALSE(matchesRegex("abc", "([a-z", &valid));
  EXPECT_FALSE(valid);
  EXPECT_TRUE(matchesRegex("a", "a", &valid));
  EXPECT_TRUE(valid);
  // A pathological pattern gives up instead of hanging.
  EXPECT_FALSE(matchesRegex(std::string(40, 'a') + "!", "(a+)+b"));
}

TEST(Strings, PathComponents) {
  using kesto::test::expectAnswers;
  expectAnswers(lastPathComponent, {{"/a/b.txt", "b.txt"}, {"/a/b/", "b"}, {"/", "/"}, {"name", "name"}});
  expectAnswers(deletingLastPathComponent, {{"/a/b", "/a"}, {"/a", "/"}, {"a", ""}});
  expectAnswers(pathExtension, {{"/x/lib.kesto", "kesto"}, {"/x/archive.tar.GZ", "GZ"}, {"/x.d/noext", ""},
                                {".hidden", ""}, {"trailing.", ""}});
  EXPECT_EQ(deletingPathExtension("/x/lib.kesto"), "/x/lib");

  using Parts = std::pair<std::string, std::string>;
  expectAnswers<Parts>([](const Parts& p) { return appendingPathComponent(p.first, p.second); },
                       {{{"/a/", "/b"}, "/a/b"}, {{"", "b"}, "b"}, {{"/", "b"}, "/b"}});
  expectAnswers<Parts>([](const Parts& p) { return appendingPathExtension(p.first, p.second); },
                       {{{"backup", "kestobck"}, "backup.kestobck"}, {{"dir/", "x"}, "dir.x"}});
}
