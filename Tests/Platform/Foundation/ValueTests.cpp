#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <gtest/gtest.h>

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
