// The JSON reader and pieces both platform and client share: their results must stay alike for all.
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/JsonReader.h"
#include "Platform/Foundation/JsonText.h"
#include "Platform/Foundation/JsonWriter.h"
#include "Platform/Foundation/Strings.h"

#include <gtest/gtest.h>

#include <cmath>

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


namespace kesto::fnd {
namespace {

struct Faults {
  std::vector<std::pair<json::Fault, std::string>> seen;
  json::Reader::FaultSink sink() {
    return [this](json::Fault f, const std::string& m) { seen.emplace_back(f, m); };
  }
};

std::optional<Value> readWith(json::Reader::Options options, std::string_view text, Faults* faults = nullptr) {
  Faults local;
  json::Reader reader(options, (faults ? faults : &local)->sink());
  return reader.read(text.data(), text.data() + text.size());
}

TEST(JsonReader, StrictAndLenientDifferOnlyInSeparatorsAndSpace) {
  const json::Reader::Options strict{512, false}, lenient{512, true};
  for (const char* both : {"[1,2]", "{\"a\":1,\"b\":[true,null]}", " [ ] ", "\"s\"", "-0.5e2"}) {
    EXPECT_TRUE(readWith(strict, both)) << both;
    EXPECT_TRUE(readWith(lenient, both)) << both;
  }
  for (const char* lenientOnly : {"[1 2]", "{\"a\":1 \"b\":2}", "\v[1]\f"}) {
    EXPECT_FALSE(readWith(strict, lenientOnly)) << lenientOnly;
    EXPECT_TRUE(readWith(lenient, lenientOnly)) << lenientOnly;
  }
  for (const char* neither : {"[1,]", "[01]", "{\"a\" 1}", "[1] x", "\"abc", "[\"\\x\"]", ""}) {
    EXPECT_FALSE(readWith(strict, neither)) << neither;
    EXPECT_FALSE(readWith(lenient, neither)) << neither;
  }
  // The platform reader is the strict one.
  EXPECT_FALSE(Json::parse("[1 2]"));
  EXPECT_TRUE(Json::parse("[1,2]"));
}

TEST(JsonReader, FaultsComeInnermostFirstAndDepthIsCounted) {
  Faults faults;
  EXPECT_FALSE(readWith({512, false}, "[[\"\\u12\"]]", &faults));
  ASSERT_GE(faults.seen.size(), 4u);
  EXPECT_EQ(faults.seen[0].second, "Missing hex digit in quad");
  EXPECT_EQ(faults.seen[0].first, json::Fault::Unicode);
  EXPECT_EQ(faults.seen.back().second, "Expected value while parsing array");

  const std::string deep3 = "[[[1]]]";
  EXPECT_TRUE(readWith({3, false}, deep3));
  Faults tooDeep;
  EXPECT_FALSE(readWith({2, false}, deep3, &tooDeep));
  EXPECT_EQ(tooDeep.seen.front().first, json::Fault::Depth);
  EXPECT_TRUE(readWith({0, false}, std::string(2000, '[') + std::string(2000, ']')));  // 0: no limit
  // Leaving a container gives its depth back: siblings do not add up.
  EXPECT_TRUE(readWith({2, false}, "[[1],[2],[3]]"));

  Error error;
  EXPECT_FALSE(Json::parse("[1,]", 0, &error));
  EXPECT_EQ(error.code(), Json::kReadCorruptError);
  EXPECT_NE(error.localizedDescription().find("Trailing comma"), std::string::npos);
}

}  // namespace
}  // namespace kesto::fnd


namespace kesto::fnd {
namespace {

TEST(JsonWriter, CompactPrettyAndFaultsUnderTheirKeys) {
  const Value v(Dictionary{{"a", Value(Array{Value(1), Value(2.5)})}, {"b", Value(Dictionary{})}, {"c", Value(Array{})}});
  json::Writer compact({false, 512, false}, nullptr);
  EXPECT_EQ(compact.write(v), "{\"a\":[1,2.5],\"b\":{},\"c\":[]}");
  json::Writer pretty({true, 512, false}, nullptr);
  EXPECT_EQ(pretty.write(v), "{\n  \"a\" : [\n    1,\n    2.5\n  ],\n  \"b\" : {},\n  \"c\" : []\n}");

  std::vector<std::string> seen;
  json::Writer checked({false, 512, true}, [&](json::Writer::Fault f, const Value*, const std::string* key) {
    seen.push_back(f == json::Writer::Fault::UnderKey ? "under " + *key : std::to_string(int(f)));
  });
  const Value bad(Dictionary{{"outer", Value(Dictionary{{"inner", Value(Data{1})}})}});
  EXPECT_FALSE(checked.write(bad));
  EXPECT_EQ(seen, (std::vector<std::string>{std::to_string(int(json::Writer::Fault::Unsupported)), "under inner",
                                            "under outer"}));
  seen.clear();
  EXPECT_FALSE(checked.write(Value(Array{Value(std::string("\xff"))})));  // not UTF-8
  EXPECT_EQ(seen, (std::vector<std::string>{std::to_string(int(json::Writer::Fault::InvalidUtf8))}));
  json::Writer unchecked({false, 512, false}, nullptr);
  EXPECT_TRUE(unchecked.write(Value(std::string("\xff"))));
  EXPECT_FALSE(unchecked.write(Value(std::nan(""))));

  // Depth counts containers; the same writer is reusable after a failure.
  Value nested(Array{});
  for (int i = 0; i < 3; ++i) nested = Value(Array{nested});
  json::Writer shallow({false, 3, false}, nullptr);
  EXPECT_FALSE(shallow.write(nested));  // four levels
  EXPECT_EQ(shallow.write(Value(Array{Value(Array{})})), "[[]]");
}

}  // namespace
}  // namespace kesto::fnd
