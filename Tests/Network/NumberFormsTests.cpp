#include "Harness/LocaleGuard.h"
#include "Network/NetQueryString.h"
#include "Network/NetURLRequestSerialization.h"

#include <gtest/gtest.h>

using namespace kesto;
using kesto::test::LocaleGuard;

// Qt applies the environment's locale to the C library when the program starts; what the services
// receive must not change with it.
TEST(QueryStringTest, RealsAndQualityValuesAreSentWithAPointInEveryLocale) {
  LocaleGuard comma(LocaleGuard::decimalComma());
  if (!comma.active()) GTEST_SKIP() << comma.missing();
  // The shortest text that reads back the same, as the value describes itself.
  EXPECT_EQ(NetQueryValueDescription(fnd::Value(1.5)), "1.5");
  EXPECT_EQ(NetQueryValueDescription(fnd::Value(0.1)), "0.1");
  EXPECT_EQ(NetQueryValueDescription(fnd::Value(100.0)), "100");
  EXPECT_EQ(NetQueryValueDescription(fnd::Value(0.1 + 0.2)), "0.30000000000000004");
  EXPECT_EQ(NetQueryValueDescription(fnd::Value(-2.5e-7)), "-2.5e-07");
  EXPECT_EQ(*NetQueryStringFromParameters(fnd::Value(fnd::Dictionary{{"pi", 3.25}}), fnd::kUTF8StringEncoding),
            "pi=3.25");
  EXPECT_EQ(NetAcceptLanguageHeader({"de", "en", "fr"}), "de;q=1, en;q=0.9, fr;q=0.8");
}
