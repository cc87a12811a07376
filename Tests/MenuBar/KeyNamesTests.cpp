#include "MenuBar/KeyCodeNames.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/KeyboardLayout.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kesto::test {
namespace {

class KeyNames : public ::testing::Test {
 protected:
  void SetUp() override { sys::KeyboardLayout::setLayoutForTesting("us"); }
  void TearDown() override { sys::KeyboardLayout::setLayoutForTesting(""); }
};

TEST_F(KeyNames, FlagsConvertBothWaysAndDropUnknownBits) {
  EXPECT_EQ(KRCocoaFlagsToCarbon(0x1C0000), 0x1900u);
  EXPECT_EQ(KRCocoaFlagsToCarbon(0x9E0000), 0x801B00u);
  EXPECT_EQ(KRCarbonFlagsToCocoa(0x0300), 0x120000u);
  EXPECT_EQ(KRCocoaFlagsToCarbon(0x10000 | 0x200000), 0u);  // Caps Lock and the keypad bit
  EXPECT_EQ(KRCarbonFlagsToCocoa(KRCocoaFlagsToCarbon(0x9E0000)), 0x9E0000u);
}

TEST_F(KeyNames, ModifiersAreNamedTheDesktopsWayInOneOrder) {
  // Control, option, shift, command: Super, Alt, Shift, Ctrl.
  EXPECT_EQ(KRCarbonFlagsGlyphs(0x1900), "Super+Alt+Ctrl");
  EXPECT_EQ(KRCarbonFlagsGlyphs(0), "");
  EXPECT_EQ(KRCocoaFlagsGlyphs(0x120000), "Shift+Ctrl");
  EXPECT_EQ(KRCarbonShortcutString(0x1900, 35), "Super+Alt+Ctrl+P");
  EXPECT_EQ(KRCarbonShortcutString(0, 122), "F1");
  // The words put command first.
  EXPECT_EQ(KRCarbonShortcutWords(0x1100, 35), "Ctrl + Super + P");
  EXPECT_EQ(KRCocoaShortcutWords(0x120000, 0), "Ctrl + Shift + A");
}

TEST_F(KeyNames, SpecialKeysPadKeysAndCodesWithoutAName) {
  EXPECT_EQ(KRKeyCodeName(49), "Space");
  EXPECT_EQ(KRKeyCodeName(53), "Escape");
  EXPECT_EQ(KRKeyCodeName(122), "F1");
  EXPECT_EQ(KRKeyCodeName(80), "F19");
  EXPECT_EQ(KRKeyCodeName(123), "Left");
  EXPECT_EQ(KRKeyCodeName(83), "Pad 1");
  EXPECT_EQ(KRKeyCodeName(0), "A");  // key code 0 is a key like any other
  EXPECT_EQ(KRKeyCodeName(-1), "");
  EXPECT_EQ(KRKeyCodeName(127), "");  // no physical key
  EXPECT_EQ(KRKeyCodeName(65536), "");
}

TEST_F(KeyNames, CharactersFollowTheLayoutAndTheReverseMapIsRebuilt) {
  EXPECT_EQ(KRKeyCodeName(16), "Y");
  EXPECT_EQ(KRKeyCodeName(6), "Z");
  EXPECT_EQ(KRKeyCodeTransformer::reverseTransformedValue("Z"), 6);
  EXPECT_EQ(KRKeyCharacterForCocoaFlags(18, kr::CocoaShift), "!");

  int changes = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&changes, [&](const fnd::Notification&) { ++changes; },
                                                       sys::KeyboardLayoutDidChangeNotification);
  sys::KeyboardLayout::setLayoutForTesting("de");
  fnd::NotificationCenter::defaultCenter().removeObserver(&changes);
  EXPECT_EQ(changes, 1);
  // The German layout swaps Y and Z and has its own letters.
  EXPECT_EQ(KRKeyCodeName(16), "Z");
  EXPECT_EQ(KRKeyCodeName(6), "Y");
  EXPECT_EQ(KRKeyCodeName(41), "Ö");
  EXPECT_EQ(KRKeyCodeTransformer::reverseTransformedValue("Z"), 16);
  EXPECT_EQ(KRKeyCodeTransformer::reverseTransformedValue("Ö"), 41);
  EXPECT_EQ(KRKeyCharacterForCocoaFlags(12, kr::CocoaOption), "@");  // AltGr+Q
  EXPECT_EQ(KRCarbonShortcutString(0x1900, 16), "Super+Alt+Ctrl+Z");
  EXPECT_FALSE(KRKeyCodeTransformer::reverseTransformedValue("no such key"));
}

// Against a real X server: run by layouts-e2e.sh, which sets KESTO_SERVER_LAYOUT_TESTS.
TEST(ServerLayout, NamesFollowTheServersLayoutAndItsChanges) {
  if (!std::getenv("KESTO_SERVER_LAYOUT_TESTS")) GTEST_SKIP() << "needs an X server (layouts-e2e.sh)";
  ASSERT_EQ(std::system("setxkbmap us"), 0);
  sys::KeyboardLayout::startWatching();
  sys::KeyboardLayout::layoutDidChange();
  EXPECT_EQ(sys::KeyboardLayout::layoutName(), "English (US)");
  EXPECT_EQ(KRKeyCodeName(16), "Y");
  EXPECT_EQ(KRKeyCodeTransformer::reverseTransformedValue("Y"), 16);

  int changes = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&changes, [&](const fnd::Notification&) { ++changes; },
                                                       sys::KeyboardLayoutDidChangeNotification);
  ASSERT_EQ(std::system("setxkbmap de"), 0);
  EXPECT_TRUE(runUntil([&] { return changes > 0; }, 10)) << "the server's layout change was not noticed";
  fnd::NotificationCenter::defaultCenter().removeObserver(&changes);
  EXPECT_EQ(sys::KeyboardLayout::layoutName(), "German");
  EXPECT_EQ(KRKeyCodeName(16), "Z");
  EXPECT_EQ(KRKeyCodeName(41), "Ö");
  EXPECT_EQ(KRKeyCodeTransformer::reverseTransformedValue("Z"), 16);
  std::system("setxkbmap us");
}

}  // namespace
}  // namespace kesto::test
