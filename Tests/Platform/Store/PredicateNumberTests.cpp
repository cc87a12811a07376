#include "Harness/LocaleGuard.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Store/Predicate.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kesto;
using kesto::store::Predicate;
using kesto::test::LocaleGuard;

// Qt applies the environment's locale to the C library when the program starts; a smart folder's
// predicate must read and write the same in a locale with a decimal comma.
TEST(PredicateNumbers, ReadAndWriteWithAPointInEveryLocale) {
  LocaleGuard comma(LocaleGuard::decimalComma());
  if (!comma.active()) GTEST_SKIP() << comma.missing();
  fnd::Error error;
  auto since = Predicate::parse("addedDate > CAST(0.5, \"NSDate\")", {}, &error);
  ASSERT_TRUE(since) << error.localizedDescription();
  EXPECT_TRUE(since->evaluate(fnd::Dictionary{{"addedDate", fnd::Date(1)}}));
  EXPECT_FALSE(since->evaluate(fnd::Dictionary{{"addedDate", fnd::Date(0.25)}}));

  auto reals = Predicate::parse("rating >= 2.5 AND x > 1.4e3 AND y == -0.125 AND z == 0x1.8p1", {}, &error);
  ASSERT_TRUE(reals) << error.localizedDescription();
  const fnd::Value row = fnd::Dictionary{{"rating", 2.5}, {"x", 1400.5}, {"y", -0.125}, {"z", 3}};
  EXPECT_TRUE(reals->evaluate(row));

  // Written with a point and as many digits as read back exactly.
  auto written = Predicate::parse("addedDate >= %@ AND r == %@ AND big < %@",
                                  {fnd::Date(100.25), 0.1, std::numeric_limits<double>::infinity()});
  ASSERT_TRUE(written);
  EXPECT_EQ(written->format(),
            "addedDate >= CAST(100.25, \"NSDate\") AND r == 0.10000000000000001 AND big < 1e999");
  auto again = Predicate::parse(written->format());
  ASSERT_TRUE(again) << written->format();
  const fnd::Value at = fnd::Dictionary{{"addedDate", fnd::Date(100.25)}, {"r", 0.1}, {"big", 1e308}};
  EXPECT_TRUE(written->evaluate(at));
  EXPECT_TRUE(again->evaluate(at));

  // The comma stays a separator: no number is read across it.
  EXPECT_FALSE(Predicate::parse("addedDate > CAST(100,25.0, \"NSDate\")"));
  EXPECT_FALSE(Predicate::parse("rating > 2,5"));
}
