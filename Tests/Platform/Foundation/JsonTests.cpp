#include "Harness/LocaleGuard.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

using namespace kesto::fnd;

TEST(Json, ReadsEveryKindWithIntegersKeptExact) {
  auto v = Json::parse(R"({"s":"x","i":9007199254740993,"neg":-9223372036854775808,"r":1.5,"e":1e3,
                           "t":true,"f":false,"n":null,"a":[1,"2",[]],"o":{}})");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["s"].string(), "x");
  // Past 2^53 a double would round; byte counts and revisions must not.
  EXPECT_TRUE((*v)["i"].isInteger());
  EXPECT_EQ((*v)["i"].intValue(), 9007199254740993LL);
  EXPECT_EQ((*v)["neg"].intValue(), std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE((*v)["r"].isReal());
  EXPECT_TRUE((*v)["e"].isReal());
  EXPECT_DOUBLE_EQ((*v)["e"].doubleValue(), 1000);
  EXPECT_TRUE((*v)["t"].isBoolean());
  EXPECT_TRUE((*v)["t"].boolValue());
  EXPECT_TRUE((*v)["f"].isBoolean());
  // A null member is present, unlike a missing one.
  EXPECT_TRUE(v->dictionary().count("n"));
  EXPECT_TRUE((*v)["n"].isNull());
  EXPECT_EQ((*v)["a"].size(), 3u);
  EXPECT_TRUE((*v)["a"].at(1).isString());
  EXPECT_TRUE((*v)["o"].isDictionary());
}

TEST(Json, ReadsEscapesAndUnicode) {
  auto v = Json::parse(R"(["a\"b\\c\/d\n\t", "\u00e9", "\ud83d\ude00", "caf\u00e9 ☕"])");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->at(0).string(), "a\"b\\c/d\n\t");
  EXPECT_EQ(v->at(1).string(), "\xC3\xA9");
  EXPECT_EQ(v->at(2).string(), "\xF0\x9F\x98\x80");
  EXPECT_EQ(v->at(3).string(), "caf\xC3\xA9 \xE2\x98\x95");
  // A UTF-8 byte-order mark is not part of the text.
  EXPECT_EQ(Json::parse("\xEF\xBB\xBF [7]")->at(0).intValue(), 7);
}

TEST(Json, RoundTripsThroughCompactAndPrettyText) {
  const Value original(Dictionary{
      {"list", Value(Array{Value(1), Value(-2), Value(0.25), Value(true), Value(), Value("q\"uote\n\x01")})},
      {"nested", Value(Dictionary{{"empty", Value(Array{})}, {"obj", Value(Dictionary{})}})},
      {"big", Value(static_cast<long long>(std::numeric_limits<std::int64_t>::max()))},
      {"small", Value(1e-300)},
  });
  for (unsigned options : {0u, unsigned(Json::PrettyPrinted)}) {
    auto text = Json::write(original, options);
    ASSERT_TRUE(text);
    auto back = Json::parse(*text);
    ASSERT_TRUE(back) << *text;
    EXPECT_EQ(*back, original) << *text;
    EXPECT_TRUE((*back)["list"].at(3).isBoolean());
    EXPECT_TRUE((*back)["big"].isInteger());
  }
  EXPECT_EQ(*Json::write(Value(Dictionary{{"b", Value(1)}, {"a", Value(Array{Value(true)})}})),
            R"({"a":[true],"b":1})");
  EXPECT_EQ(*Json::write(Value(Array{Value("\x1f")})), "[\"\\u001f\"]");
}

TEST(Json, FragmentsNeedTheOption) {
  Error error;
  EXPECT_FALSE(Json::parse("3", 0, &error));
  EXPECT_EQ(error.code(), Json::kReadCorruptError);
  EXPECT_EQ(Json::parse("3", Json::AllowFragments)->intValue(), 3);
  EXPECT_EQ(Json::parse(" \"s\" ", Json::AllowFragments)->string(), "s");
  EXPECT_TRUE(Json::parse("null", Json::AllowFragments)->isNull());
  // The wrapping used for fragments must not let two values through.
  EXPECT_FALSE(Json::parse("1],[2", Json::AllowFragments));
  EXPECT_FALSE(Json::parse("1 2", Json::AllowFragments));

  EXPECT_FALSE(Json::write(Value(3)));
  EXPECT_EQ(*Json::write(Value(3), Json::FragmentsAllowed), "3");
  EXPECT_EQ(*Json::write(Value("x"), Json::FragmentsAllowed), "\"x\"");
}

TEST(Json, MalformedTextFailsWithAnError) {
  for (const char* bad : {"", "   ", "{", "[1,]", "{\"a\" 1}", "[1] x", "{'a':1}", "[01x]", "[\"\\x\"]", "[tru]",
                          "[\"\\ud800\"]", "[\"\\udc00x\"]", "[\"a\x01\"]", "[1e]", "[-]", "[.5]", "[1e999]"}) {
    Error error;
    EXPECT_FALSE(Json::parse(bad, Json::AllowFragments, &error)) << bad;
    EXPECT_EQ(error.domain(), Json::kErrorDomain) << bad;
    EXPECT_EQ(error.code(), Json::kReadCorruptError) << bad;
    EXPECT_FALSE(error.localizedDescription().empty());
  }
  Error error;
  EXPECT_FALSE(Json::parse("[\"\xC3\x28\"]", 0, &error));  // invalid UTF-8
  EXPECT_EQ(error.code(), Json::kReadCorruptError);
  std::string deep(5000, '[');
  deep += std::string(5000, ']');
  EXPECT_FALSE(Json::parse(deep));
}

TEST(Json, RefusesValuesJsonCannotCarry) {
  for (const Value& bad : {Value(Array{Value(Date(0))}), Value(Array{Value(Data{1})}),
                           Value(Array{Value(std::nan(""))}),
                           Value(Array{Value(std::numeric_limits<double>::infinity())}),
                           Value(Array{Value(std::string("\xFF"))})}) {
    Error error;
    EXPECT_FALSE(Json::write(bad, 0, &error)) << bad.description();
    EXPECT_EQ(error.code(), Json::kWriteInvalidError);
    EXPECT_FALSE(Json::isValidJSONObject(bad));
  }
  EXPECT_TRUE(Json::isValidJSONObject(Value(Dictionary{{"a", Value()}})));
  EXPECT_FALSE(Json::isValidJSONObject(Value("x")));
}

TEST(Json, NumbersIgnoreTheCLocaleDecimalSeparator) {
  // Puts back the locale the program had, not "C": the rest of the run keeps its own.
  kesto::test::LocaleGuard comma(kesto::test::LocaleGuard::decimalComma());
  if (!comma.active()) GTEST_SKIP() << comma.missing();
  EXPECT_DOUBLE_EQ(Json::parse("[1.5]")->at(0).doubleValue(), 1.5);
  EXPECT_EQ(*Json::write(Value(Array{Value(0.25)})), "[0.25]");
}
