#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace kesto::fnd;

TEST(Value, NumbersCompareByValueAcrossKinds) {
  EXPECT_EQ(Value(true), Value(1));
  EXPECT_EQ(Value(1), Value(1.0));
  EXPECT_NE(Value(1), Value(1.5));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_EQ(Value(), Value(nullptr));
  EXPECT_NE(Value(), Value(0));
}

TEST(Value, CollectionsAreSharedAndCompareDeeply) {
  Value a(Array{Value(1), Value("x"), Value(Dictionary{{"k", Value(Data{1, 2})}})});
  Value b = a;
  EXPECT_EQ(&a.array(), &b.array());
  Value c(Array{Value(1.0), Value("x"), Value(Dictionary{{"k", Value(Data{1, 2})}})});
  EXPECT_EQ(a, c);
  EXPECT_EQ(a.at(2)["k"].data().size(), 2u);
  EXPECT_TRUE(a.at(7).isNull());
  EXPECT_TRUE(a["missing"].isNull());
}

TEST(Value, StringsAreSharedByCopiesAndAValueStaysSmall) {
  // A library keeps dozens of values per bookmark: a copy shares the text, and a value is no
  // bigger than a shared pointer and its kind.
  static_assert(sizeof(Value) <= 24);
  Value a(std::string(200, 'u'));
  Value b = a;
  EXPECT_EQ(&a.string(), &b.string());
  EXPECT_EQ(b.string().size(), 200u);
  // Each kind of string makes its own text, empty ones included.
  EXPECT_EQ(Value("").string(), "");
  EXPECT_TRUE(Value("").isString());
  EXPECT_EQ(Value(std::string_view("view")).string(), "view");
  EXPECT_EQ(Value(static_cast<const char*>(nullptr)).string(), "");
  Value moved = std::move(a);
  EXPECT_EQ(moved.string(), std::string(200, 'u'));
  EXPECT_EQ(Value(42).string(), "");
  EXPECT_EQ(Value(" 12x").intValue(), 12);
  EXPECT_TRUE(Value("yes").boolValue());
  EXPECT_EQ(Value("abc"), Value(std::string("abc")));
}

TEST(Value, ForgivingConversions) {
  EXPECT_EQ(Value("42abc").intValue(), 42);
  EXPECT_DOUBLE_EQ(Value(" 2.5").doubleValue(), 2.5);
  EXPECT_TRUE(Value("YES").boolValue());
  EXPECT_FALSE(Value("0").boolValue());
  EXPECT_TRUE(Value(Array{}).boolValue(true));
  EXPECT_EQ(Value(1e300).intValue(), INT64_MAX);
}

TEST(Value, DescriptionOfDatesIsUtc) {
  Value d(Date::withTimeIntervalSince1970(1393669230));  // 2014-03-01 10:20:30 UTC
  EXPECT_EQ(d.description(), "2014-03-01 10:20:30 +0000");
}

TEST(Error, NestsUnderlyingAndDetailedErrors) {
  Error e("Domain", 7);
  EXPECT_EQ(e.localizedDescription(), "The operation couldn\u2019t be completed. (Domain error 7.)");
  e.setUnderlyingError(Error::withDescription("Inner", 1, "disk full"));
  e.setDetailedErrors({Error("A", 1), Error("B", 2)});
  ASSERT_TRUE(e.underlyingError());
  EXPECT_EQ(e.underlyingError()->localizedDescription(), "disk full");
  ASSERT_EQ(e.detailedErrors().size(), 2u);
  EXPECT_EQ(e.detailedErrors()[1].domain(), "B");
}

TEST(Date, InjectedClock) {
  setClock([] { return Date(100); });
  EXPECT_EQ(Date::now(), Date(100));
  setClock(nullptr);
  EXPECT_GT(Date::now().timeIntervalSinceReferenceDate(), 7e8);
}

TEST(Value, StringsReadAsNumbersIndependentlyOfTheProcessLocale) {
  // Qt applies the environment's locale to the C library; a comma-decimal locale must not
  // change how stored text reads.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr;
  EXPECT_DOUBLE_EQ(Value("2.5").doubleValue(), 2.5);
  EXPECT_DOUBLE_EQ(Value("1,5").doubleValue(), 1.0);
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!switched) GTEST_LOG_(INFO) << "no comma-decimal locale installed; checked under C only";
  // Hexadecimal and special words are not numbers in stored text.
  EXPECT_DOUBLE_EQ(Value("0x10").doubleValue(), 0.0);
  EXPECT_DOUBLE_EQ(Value("inf").doubleValue(), 0.0);
  EXPECT_DOUBLE_EQ(Value("nan").doubleValue(), 0.0);
  EXPECT_EQ(Value("  -12px").intValue(), -12);
  EXPECT_EQ(Value("99999999999999999999").intValue(), INT64_MAX);
}

TEST(Value, RealsDescribeWithTheShortestExactText) {
  EXPECT_EQ(Value(0.1).description(), "0.1");
  EXPECT_EQ(Value(2.0).description(), "2");
  EXPECT_EQ(Value(1.0 / 3).description(), "0.3333333333333333");
}
