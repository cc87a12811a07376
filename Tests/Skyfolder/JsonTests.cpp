#include "Skyfolder/SFJSON.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kesto;

namespace {

// Reads `text` and answers the outermost error's code and message, or {0, ""} on success.
std::pair<std::int64_t, std::string> readFailure(std::string_view text, bool fragment = false) {
  SFJsonParser parser;
  auto value = fragment ? parser.fragmentWithString(text) : parser.objectWithString(text);
  if (value) return {0, ""};
  const auto& e = parser.errorTrace().back();
  return {e.code(), e.localizedDescription()};
}

}  // namespace

TEST(SFJsonParser, ReadsCollectionsScalarsAndExactIntegers) {
  SFJsonParser parser;
  auto v = parser.objectWithString(R"({"a":[1, 2.5, -0, 0.5e-3, true, false, null, "x"], "big": 9007199254740993})");
  ASSERT_TRUE(v);
  const auto& a = (*v)["a"].array();
  ASSERT_EQ(a.size(), 8u);
  EXPECT_TRUE(a[0].isInteger());
  EXPECT_DOUBLE_EQ(a[1].doubleValue(), 2.5);
  EXPECT_EQ(a[2].intValue(), 0);
  EXPECT_DOUBLE_EQ(a[3].doubleValue(), 0.0005);
  EXPECT_TRUE(a[4].isBoolean() && a[4].boolValue());
  EXPECT_TRUE(a[5].isBoolean() && !a[5].boolValue());
  EXPECT_TRUE(a[6].isNull());
  EXPECT_EQ(a[7].string(), "x");
  // Sizes above 2^53 must not pass through a double.
  EXPECT_EQ((*v)["big"].intValue(), 9007199254740993LL);
  EXPECT_TRUE(parser.errorTrace().empty());

  auto spaced = parser.objectWithString("[1 2]");
  ASSERT_TRUE(spaced);
  EXPECT_EQ(spaced->array().size(), 2u);
  EXPECT_TRUE(parser.objectWithString("{}")->isDictionary());
  EXPECT_TRUE(parser.objectWithString(" [] \n")->isArray());
  auto dup = parser.objectWithString(R"({"k":1,"k":2})");
  EXPECT_EQ((*dup)["k"].intValue(), 2);
}

TEST(SFJsonParser, ReportsCodesAndMessages) {
  struct Case {
    const char* text;
    std::int64_t code;
    const char* message;
  };
  const Case cases[] = {
      {"[1,]", 9, "Trailing comma disallowed in array"},
      {R"({"a":1,})", 9, "Trailing comma disallowed in object"},
      {"[01]", 3, "Expected value while parsing array"},
      {"[-]", 3, "Expected value while parsing array"},
      {"[1] x", 10, "Garbage after JSON"},
      {"true", 4, "Valid fragment, but not JSON"},
      {R"("s")", 4, "Valid fragment, but not JSON"},
      {"", 11, "Unexpected end of string"},
      {"[1", 11, "End of input while parsing array"},
      {"{", 11, "End of input while parsing object"},
      {R"({"a" 1})", 3, "Expected ':' separating key and value"},
      {"{1:2}", 3, "Object key string expected"},
      {R"({"a":})", 3, "Object value expected for key: a"},
      {"[tru]", 3, "Expected value while parsing array"},
      {"[?]", 3, "Expected value while parsing array"},
  };
  for (const auto& c : cases) {
    const auto [code, message] = readFailure(c.text);
    EXPECT_EQ(code, c.code) << c.text;
    EXPECT_EQ(message, c.message) << c.text;
  }
  // The inner causes stay in the trace beneath the outer failure, chained as underlying errors.
  SFJsonParser parser;
  ASSERT_FALSE(parser.objectWithString("[?]"));
  ASSERT_EQ(parser.errorTrace().size(), 2u);
  EXPECT_EQ(parser.errorTrace()[0].localizedDescription(), "Unrecognised leading character");
  ASSERT_TRUE(parser.errorTrace()[1].underlyingError());
  EXPECT_EQ(parser.errorTrace()[1].underlyingError()->code(), 3);
  // A new operation starts with a clean trace.
  ASSERT_TRUE(parser.objectWithString("[]"));
  EXPECT_TRUE(parser.errorTrace().empty());
}

TEST(SFJsonParser, NumbersFollowTheGrammar) {
  const std::pair<const char*, const char*> cases[] = {
      {"01", "Leading 0 disallowed in number"},     {"-", "No digits after initial minus"},
      {"1.", "No digits after decimal point"},      {"1e", "No digits after exponent"},
      {"+1", "Leading + disallowed in number"},     {"1e999", "Failed creating decimal instance"},
  };
  for (const auto& [text, message] : cases) {
    SFJsonParser parser;
    EXPECT_FALSE(parser.fragmentWithString(text)) << text;
    ASSERT_FALSE(parser.errorTrace().empty());
    EXPECT_EQ(parser.errorTrace().front().localizedDescription(), message) << text;
    EXPECT_EQ(parser.errorTrace().front().code(), 2) << text;
  }
  SFJsonParser parser;
  EXPECT_TRUE(parser.fragmentWithString("true"));
  EXPECT_EQ(parser.fragmentWithString("\"bare\"")->string(), "bare");
  EXPECT_TRUE(parser.fragmentWithString("null")->isNull());
}

TEST(SFJsonParser, StringsEscapesAndSurrogates) {
  SFJsonParser parser;
  auto v = parser.fragmentWithString(R"("a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00")");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->string(), "a\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");

  const std::pair<const char*, const char*> bad[] = {
      {R"(["\ude00"])", "Invalid high character in surrogate pair"},
      {R"(["\ud83dxx"])", "Missing low character in surrogate pair"},
      {R"(["\ud83d\u0041"])", "Invalid low surrogate char"},
      {R"(["\u12g4"])", "Missing hex digit in quad"},
  };
  for (const auto& [text, message] : bad) {
    SFJsonParser p;
    EXPECT_FALSE(p.objectWithString(text)) << text;
    bool found = false;
    for (const auto& e : p.errorTrace()) found = found || e.localizedDescription() == message;
    EXPECT_TRUE(found) << text;
    EXPECT_EQ(p.errorTrace()[0].code(), 6) << text;
  }

  // An unterminated string reports the terminating NUL as a control character.
  EXPECT_EQ(readFailure("[\"abc", false).first, 3);
  SFJsonParser p;
  EXPECT_FALSE(p.objectWithString("[\"abc"));
  EXPECT_EQ(p.errorTrace().front().localizedDescription(), "Unescaped control character '0x0'");
  EXPECT_FALSE(p.objectWithString("[\"a\tb\"]"));
  EXPECT_EQ(p.errorTrace().front().localizedDescription(), "Unescaped control character '0x9'");
  EXPECT_FALSE(p.fragmentWithString("\"abc\\"));
  EXPECT_EQ(p.errorTrace().front().localizedDescription(), "Unexpected EOF while parsing string");
  EXPECT_FALSE(p.fragmentWithString(R"("\q")"));
  EXPECT_EQ(p.errorTrace().front().localizedDescription(), "Illegal escape sequence '0x71'");
  EXPECT_EQ(p.errorTrace().front().code(), 8);
}

TEST(SFJsonParser, NestingLimitAndMissingInput) {
  SFJsonParser parser;
  const std::string ok = std::string(512, '[') + std::string(512, ']');
  EXPECT_TRUE(parser.objectWithString(ok));
  const std::string deep = std::string(513, '[') + std::string(513, ']');
  EXPECT_FALSE(parser.objectWithString(deep));
  EXPECT_EQ(parser.errorTrace().front().localizedDescription(), "Nested too deep");
  EXPECT_EQ(parser.errorTrace().front().code(), 7);
  parser.setMaxDepth(0);
  EXPECT_TRUE(parser.objectWithString(deep));

  EXPECT_FALSE(parser.objectWithString(nullptr));
  EXPECT_EQ(parser.errorTrace().back().code(), 12);
  EXPECT_EQ(parser.errorTrace().back().localizedDescription(), "Input was 'nil'");
  // Bytes that are not UTF-8 are treated as no text at all.
  EXPECT_FALSE(parser.objectWithString(std::string_view("[\"\xff\"]")));
  EXPECT_EQ(parser.errorTrace().back().code(), 12);
}

TEST(SFJsonWriter, WritesCompactSortedAndHumanReadable) {
  SFJsonWriter writer;
  fnd::Dictionary d{{"b", fnd::Value(true)}, {"a", fnd::Value(fnd::Array{fnd::Value(1), fnd::Value(nullptr)})}};
  EXPECT_EQ(*writer.stringWithObject(fnd::Value(d)), R"({"a":[1,null],"b":true})");
  writer.setSortKeys(true);
  EXPECT_EQ(*writer.stringWithObject(fnd::Value(d)), R"({"a":[1,null],"b":true})");

  writer.setHumanReadable(true);
  EXPECT_EQ(*writer.stringWithObject(fnd::Value(fnd::Dictionary{{"k", fnd::Value("v")}})), "{\n  \"k\" : \"v\"\n}");
  EXPECT_EQ(*writer.stringWithObject(fnd::Value(fnd::Array{fnd::Value(1), fnd::Value(fnd::Array{})})),
            "[\n  1,\n  []\n]");

  SFJsonWriter plain;
  EXPECT_EQ(*plain.stringWithFragment(fnd::Value("a\tb\x01\"\\/\xC3\xA9")), "\"a\\tb\\u0001\\\"\\\\/\xC3\xA9\"");
  EXPECT_EQ(*plain.stringWithFragment(fnd::Value(false)), "false");
  EXPECT_EQ(*plain.stringWithFragment(fnd::Value(2.5)), "2.5");
  EXPECT_FALSE(plain.stringWithObject(fnd::Value("scalar")));
  EXPECT_EQ(plain.errorTrace().back().localizedDescription(), "Not valid type for JSON");
}

TEST(SFJsonWriter, RefusesValuesWithoutJsonForm) {
  SFJsonWriter writer;
  // NaN and infinity would produce text no reader accepts.
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(writer.stringWithObject(fnd::Value(fnd::Array{fnd::Value(bad)})));
    EXPECT_EQ(writer.errorTrace().front().code(), 1);
  }
  EXPECT_FALSE(writer.stringWithObject(fnd::Value(fnd::Dictionary{{"d", fnd::Value(fnd::Data{1})}})));
  EXPECT_EQ(writer.errorTrace().back().localizedDescription(), "Unsupported value for key d in object");

  fnd::Value nested = fnd::Value(fnd::Array{});
  for (int i = 0; i < 600; ++i) nested = fnd::Value(fnd::Array{nested});
  EXPECT_FALSE(writer.stringWithObject(nested));
  EXPECT_EQ(writer.errorTrace().front().localizedDescription(), "Nested too deep");
}

TEST(SFJSON, FacadeRoundTripAndErrors) {
  SFJSON json;
  fnd::Error error;
  auto v = json.objectWithString(R"({"x":[1,"two"]})", &error);
  ASSERT_TRUE(v);
  EXPECT_EQ(*json.stringWithObject(*v), R"({"x":[1,"two"]})");
  EXPECT_FALSE(json.objectWithString("7", &error));
  EXPECT_EQ(error.code(), 4);
  EXPECT_EQ(json.errorTrace().back().code(), 4);
  EXPECT_TRUE(json.fragmentWithString("7", &error));
  EXPECT_EQ(*json.stringWithFragment(fnd::Value(7), &error), "7");
  json.setMaxDepth(1);
  EXPECT_FALSE(json.objectWithString("[[1]]"));
  EXPECT_TRUE(nsstring_dbjson::JSONValue("[]"));
  EXPECT_FALSE(nsstring_dbjson::JSONValue("nope"));
  EXPECT_EQ(*nsobject_dbjson::JSONRepresentation(fnd::Value(fnd::Array{})), "[]");
}
