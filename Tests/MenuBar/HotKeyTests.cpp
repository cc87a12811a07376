#include "FakeHotKeyBackend.h"

#include "MenuBar/GlobalHotKey.h"
#include "Platform/System/KeyboardLayout.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class HotKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::KeyboardLayout::setLayoutForTesting("us");
    GlobalHotKeyCenter::sharedCenter().setBackend(backend);
  }
  void TearDown() override {
    for (const auto& key : GlobalHotKeyCenter::sharedCenter().allHotKeys()) GlobalHotKeyCenter::sharedCenter().unregisterHotKey(key);
    GlobalHotKeyCenter::sharedCenter().setBackend(nullptr);
    sys::KeyboardLayout::setLayoutForTesting("");
  }
  std::shared_ptr<FakeHotKeyBackend> backend = std::make_shared<FakeHotKeyBackend>();
};

TEST_F(HotKeys, CombinationsFromPropertyListsAndTheirNames) {
  auto clear = GlobalKeyCombo::fromPlistRepresentation(fnd::Value(fnd::Dictionary{{"keyCode", -5}, {"modifiers", 0}}));
  EXPECT_TRUE(clear.isClearCombo());
  EXPECT_EQ(clear.keyCodeString(), "");
  EXPECT_EQ(clear.modifierMask(), 0u);
  EXPECT_EQ(clear.description(), "(None)");
  EXPECT_TRUE(GlobalKeyCombo::fromPlistRepresentation(fnd::Value(fnd::Dictionary{})).isClearCombo());
  EXPECT_TRUE(GlobalKeyCombo::fromPlistRepresentation(fnd::Value()).isClearCombo());

  GlobalKeyCombo p(35, 0x1900);
  EXPECT_TRUE(p.isValidHotKeyCombo());
  EXPECT_EQ(p.modifierMask(), 0x1C0000u);
  EXPECT_EQ(p.description(), "Super+Alt+Ctrl+P");
  EXPECT_EQ(GlobalKeyCombo::fromPlistRepresentation(p.plistRepresentation()), p);
  // Key code 0 is the A key: a valid combination.
  EXPECT_TRUE(GlobalKeyCombo(0, 0x100).isValidHotKeyCombo());
  EXPECT_FALSE(GlobalKeyCombo(35, 0).isValidHotKeyCombo());
}

TEST_F(HotKeys, RegistrationNumbersRefusalsAndPresses) {
  auto& center = GlobalHotKeyCenter::sharedCenter();
  auto key = std::make_shared<GlobalHotKey>("KestoLightSearch", GlobalKeyCombo(35, 0x1900));
  int invoked = 0;
  key->setAction([&](GlobalHotKey& k) {
    EXPECT_EQ(&k, key.get());
    ++invoked;
  });
  const std::uint32_t first = backend->next;
  ASSERT_TRUE(center.registerHotKey(key));
  std::uint32_t id = key->carbonHotKeyID();
  EXPECT_GE(id, 1u);
  EXPECT_EQ(center.hotKeyWithIdentifier("KestoLightSearch"), key);
  // Registering again replaces the old registration under a new number.
  ASSERT_TRUE(center.registerHotKey(key));
  EXPECT_EQ(key->carbonHotKeyID(), id + 1);
  EXPECT_EQ(backend->grabs.size(), 1u);
  EXPECT_GT(backend->next, first);
  EXPECT_TRUE(backend->press(35, 0x1900));
  EXPECT_EQ(invoked, 1);

  // A combination another program holds is refused and leaves the hot key unregistered; the
  // number it drew is used up.
  backend->takenElsewhere.insert({11, 0x300});
  auto other = std::make_shared<GlobalHotKey>("Other", GlobalKeyCombo(11, 0x300));
  EXPECT_FALSE(center.registerHotKey(other));
  EXPECT_EQ(other->carbonHotKeyID(), 0u);
  EXPECT_FALSE(center.hotKeyWithIdentifier("Other"));
  auto third = std::make_shared<GlobalHotKey>("Third", GlobalKeyCombo(12, 0x100));
  ASSERT_TRUE(center.registerHotKey(third));
  EXPECT_EQ(third->carbonHotKeyID(), id + 3);

  // Unregistering stops the presses; doing it twice does nothing.
  center.unregisterHotKey(key);
  center.unregisterHotKey(key);
  EXPECT_FALSE(backend->press(35, 0x1900));
  EXPECT_EQ(invoked, 1);
  EXPECT_EQ(key->carbonHotKeyID(), 0u);
  // An invalid combination registers nothing and says so as success.
  auto empty = std::make_shared<GlobalHotKey>("Empty", GlobalKeyCombo::clearKeyCombo());
  EXPECT_TRUE(center.registerHotKey(empty));
  EXPECT_EQ(empty->carbonHotKeyID(), 0u);
}

}  // namespace
}  // namespace kesto::test
