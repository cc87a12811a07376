#include "Harness/LocaleGuard.h"
#include "Platform/Foundation/Geometry.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StringFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace kesto::fnd;
using kesto::test::LocaleGuard;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Qt applies the environment's locale to the C library when a program starts; these run the
// writers and readers in a locale with a decimal comma, where strtod and printf use ",".
#define KESTO_IN_A_COMMA_LOCALE()                  \
  LocaleGuard comma(LocaleGuard::decimalComma());  \
  if (!comma.active()) GTEST_SKIP() << comma.missing()

TEST(NumberText, WritesPointsAndTheSameDigitsInEveryLocale) {
  KESTO_IN_A_COMMA_LOCALE();
  EXPECT_EQ(shortestNumberText(0.1), "0.1");
  EXPECT_EQ(shortestNumberText(100.0), "100");
  EXPECT_EQ(shortestNumberText(-2.5e-7), "-2.5e-07");
  EXPECT_EQ(shortestNumberText(1e21), "1e+21");
  EXPECT_EQ(shortestNumberText(kInf), "inf");
  // The "%.Ng" forms, digit for digit.
  EXPECT_EQ(numberText(0.1, 17), "0.10000000000000001");
  EXPECT_EQ(numberText(100.25, 17), "100.25");
  EXPECT_EQ(numberText(1234567.0, 6), "1.23457e+06");
  EXPECT_EQ(numberText(0.0001, 6), "0.0001");
  EXPECT_EQ(numberText(0.9f, 1), "0.9");
  EXPECT_EQ(numberText(-kInf, 6), "-inf");
}

TEST(NumberText, ReadsDecimalNumbersOnlyAndSaysHowMuchItRead) {
  KESTO_IN_A_COMMA_LOCALE();
  double v = -1;
  EXPECT_EQ(readNumber("0.5, 2", v), 3u);
  EXPECT_DOUBLE_EQ(v, 0.5);
  EXPECT_EQ(readNumber("+1.5e3x", v), 6u);
  EXPECT_DOUBLE_EQ(v, 1500);
  EXPECT_EQ(readNumber("7.e", v), 2u);  // an exponent without digits is not read
  EXPECT_DOUBLE_EQ(v, 7);
  // Nothing read leaves the value alone.
  v = 42;
  for (const char* none : {"", "-", ".", "e5", " 1", "inf", "nan", ",5"}) EXPECT_EQ(readNumber(none, v), 0u) << none;
  EXPECT_EQ(v, 42);
  // Whole texts only; the comma of the process locale is no decimal separator.
  EXPECT_EQ(numberFromText("-.25"), -0.25);
  for (const char* bad : {"2,5", "0x10", "1.5 ", ""}) EXPECT_FALSE(numberFromText(bad)) << bad;
  // Out of range as strtod answers it: overflows are infinite, underflows zero, by the size of
  // the whole number rather than the sign of its exponent.
  EXPECT_EQ(numberFromText("-1e999"), -kInf);
  EXPECT_EQ(numberFromText("1e-999"), 0.0);
  EXPECT_EQ(numberFromText("1" + std::string(400, '0') + "e-50"), kInf);
  EXPECT_EQ(numberFromText("0." + std::string(400, '0') + "1e50"), 0.0);
  EXPECT_EQ(numberFromText("4.9e-324"), 4.9e-324);
  // What is written reads back as the same number.
  for (double d : {0.1, 1.0 / 3, 123456789.125, 5e-324, 1.7976931348623157e308, -0.0})
    EXPECT_EQ(numberFromText(shortestNumberText(d)), d) << shortestNumberText(d);
}

TEST(NumberText, GeometryFormatsAndPropertyListRealsIgnoreTheProcessLocale) {
  KESTO_IN_A_COMMA_LOCALE();
  EXPECT_EQ(toString(Rect(0.5, -1.25, 240, 180.5)), "{{0.5, -1.25}, {240, 180.5}}");
  EXPECT_EQ(toString(Point{1.0 / 3, 1e7}), "{0.333333, 1e+07}");  // "%g", as stored before
  EXPECT_EQ(rectFromString("{{0.5, -1.25}, {240, 180.5}}"), Rect(0.5, -1.25, 240, 180.5));
  EXPECT_EQ(pointFromString("{+1.5e1, 2}"), (Point{15, 2}));
  EXPECT_FALSE(pointFromString("{0,5, 1}"));
  // printf-style reals keep their flags, widths and precisions, with a point.
  EXPECT_EQ(format("%f|%.2e|%g|%+08.3f|%-6.1f|%#.0f", 1.5, 1234.5, 0.25, 1.5, 2.0, 3.0),
            "1.500000|1.23e+03|0.25|+001.500|2.0   |3.");
  // Property list reals: numbers and the words for the values numbers cannot write.
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
      "<real> 2.5 </real><real>1e999</real><real>Infinity</real><real>-INF</real><real>NaN</real>"
      "</array></plist>";
  auto v = PropertyList::read(std::string_view(plist));
  ASSERT_TRUE(v && v->isArray() && v->array().size() == 5u);
  EXPECT_EQ(v->array()[0].doubleValue(), 2.5);
  EXPECT_EQ(v->array()[1].doubleValue(), kInf);
  EXPECT_EQ(v->array()[2].doubleValue(), kInf);
  EXPECT_EQ(v->array()[3].doubleValue(), -kInf);
  EXPECT_TRUE(std::isnan(v->array()[4].doubleValue()));
  const std::string bad = "<plist version=\"1.0\"><real>2,5</real></plist>";
  EXPECT_FALSE(PropertyList::read(std::string_view(bad)));
}

}  // namespace
