#include "Platform/Foundation/Uuid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace kesto::fnd;

TEST(Uuid, NewIdentifiersAreCanonicalUpperCaseVersion4) {
  const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
  std::set<std::string> seen;
  for (int i = 0; i < 500; ++i) {
    const std::string s = Uuid::newString();
    ASSERT_TRUE(std::regex_match(s, form)) << s;
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 500u);
}

TEST(Uuid, ParsesEitherCaseAndWritesUpperCase) {
  auto u = Uuid::fromString("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->string(), "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
  EXPECT_EQ(u->bytes()[0], 0x6B);
  EXPECT_EQ(u->bytes()[15], 0xC8);
  const Uuid fresh;
  EXPECT_EQ(Uuid::fromString(fresh.string()), fresh);
}

TEST(Uuid, RejectsMalformedText) {
  for (const char* bad : {"", "6BA7B810-9DAD-11D1-80B4-00C04FD430C", "6BA7B810-9DAD-11D1-80B4-00C04FD430C88",
                          "6BA7B8109DAD-11D1-80B4-00C04FD430C8-", "6BA7B810-9DAD-11D1-80B4_00C04FD430C8",
                          "6BA7B810-9DAD-11D1-80B4-00C04FD430CG", "{BA7B810-9DAD-11D1-80B4-00C04FD430C8}"})
    EXPECT_FALSE(Uuid::fromString(bad)) << bad;
}

namespace kesto::fnd {
namespace {

TEST(UuidGenerator, IdentifiersInQuantityAreRandomVersion4AndDistinct) {
  UuidGenerator generator;
  std::set<std::string> seen;
  // Several blocks' worth, so refills are crossed.
  for (int i = 0; i < 2000; ++i) {
    const Uuid id = generator.next();
    EXPECT_EQ(id.bytes()[6] >> 4, 4);
    EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
    const std::string text = id.string();
    EXPECT_EQ(Uuid::fromString(text), id);
    EXPECT_TRUE(seen.insert(text).second);
  }
  // Two generators draw different bytes.
  UuidGenerator other;
  EXPECT_FALSE(seen.count(other.nextString()));
}

}  // namespace
}  // namespace kesto::fnd
