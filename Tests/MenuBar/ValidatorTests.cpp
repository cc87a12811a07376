#include "FakeHotKeyBackend.h"

#include "App/AppCommands.h"
#include "MenuBar/KRValidator.h"
#include "Platform/System/KeyboardLayout.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Menu.h"
#include "Sidebar/SidebarCommands.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class Vetoing : public KRValidatorDelegate {
 public:
  bool shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator&, long code, std::uint64_t flags, std::string& why) override {
    asked = {code, flags};
    why = reason;
    return veto;
  }
  bool veto = false;
  std::string reason;
  std::pair<long, std::uint64_t> asked{-1, 0};
};

class Validation : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::KeyboardLayout::setLayoutForTesting("us");
    GlobalHotKeyCenter::sharedCenter().setBackend(backend);
    auto file = std::make_shared<ui::Menu>("File");
    file->addItemWithTitle("Quit Kesto", ui::cmd::terminate, "q");
    file->addItemWithTitle("Find Folder", cmd::findFolder, "F");  // upper case: with Shift
    file->addItemWithTitle("No Key", ui::Command{"none:"}, "");
    auto item = std::make_shared<ui::MenuItem>("File");
    item->setSubmenu(file);
    menu.addItem(item);
  }
  void TearDown() override {
    GlobalHotKeyCenter::sharedCenter().setBackend(nullptr);
    sys::KeyboardLayout::setLayoutForTesting("");
  }
  std::shared_ptr<FakeHotKeyBackend> backend = std::make_shared<FakeHotKeyBackend>();
  ui::Menu menu;
};

TEST_F(Validation, TheDelegateDecidesFirstWithItsReason) {
  Vetoing delegate;
  KRValidator validator(&delegate);
  delegate.veto = true;
  delegate.reason = "it's the other recorder's";
  std::optional<KRError> error;
  EXPECT_TRUE(validator.isKeyCodeAndFlagsTaken(35, 0x1900, &error));
  EXPECT_EQ(delegate.asked, (std::pair<long, std::uint64_t>{35, 0x1C0000}));  // asked in Cocoa flags
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description, "The key combination Super+Alt+Ctrl+P can't be used!");
  EXPECT_EQ(error->recoverySuggestion,
            "The key combination \"Ctrl + Alt + Super + P\" can't be used because it's the other recorder's.");
  delegate.reason.clear();
  EXPECT_TRUE(validator.isKeyCodeAndFlagsTaken(35, 0x1900, &error));
  EXPECT_EQ(error->recoverySuggestion,
            "The key combination \"Ctrl + Alt + Super + P\" can't be used because it's already used.");
}

TEST_F(Validation, ACombinationAnotherProgramHoldsIsTaken) {
  KRValidator validator;
  std::optional<KRError> error;
  EXPECT_FALSE(validator.isKeyCodeAndFlagsTaken(40, 0x1800, &error));
  backend->takenElsewhere.insert({40, 0x1800});
  EXPECT_TRUE(validator.isKeyCodeAndFlagsTaken(40, 0x1800, &error));
  ASSERT_TRUE(error);
  EXPECT_NE(error->recoverySuggestion.find("already used by a system-wide keyboard shortcut"), std::string::npos);
  EXPECT_EQ(error->recoveryOptions, std::vector<std::string>{"OK"});
}

TEST_F(Validation, MenuKeyEquivalentsInSubmenusWithTheirModifiers) {
  KRValidator validator;
  std::optional<KRError> error;
  EXPECT_TRUE(validator.isKeyCodeAndFlagsTakenInMenu(12, 0x100, &menu, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->recoverySuggestion,
            "The key combination \"Ctrl + Q\" can't be used because it's already used by the menu item \"Quit Kesto\".");
  EXPECT_FALSE(validator.isKeyCodeAndFlagsTakenInMenu(12, 0x300, &menu, nullptr));
  // An upper-case key equivalent is taken with Shift only.
  EXPECT_TRUE(validator.isKeyCodeAndFlagsTakenInMenu(3, 0x300, &menu, nullptr));
  EXPECT_FALSE(validator.isKeyCodeAndFlagsTakenInMenu(3, 0x100, &menu, nullptr));
  EXPECT_FALSE(validator.isKeyCodeAndFlagsTakenInMenu(45, 0x100, &menu, nullptr));
}

TEST(ValidationAlert, TheErrorBecomesTheAlertsTexts) {
  KRError error{"The key combination Ctrl+Q can't be used!", "Because.", {"OK"}};
  ui::Alert alert = alertWithNonRecoverableError(error);
  EXPECT_EQ(alert.messageText(), error.description);
  EXPECT_EQ(alert.informativeText(), "Because.");
  EXPECT_EQ(alert.buttonTitles(), std::vector<std::string>{"OK"});
  ui::Alert empty = alertWithNonRecoverableError(std::nullopt);
  EXPECT_EQ(empty.messageText(), "");
  EXPECT_EQ(empty.informativeText(), "");
}

}  // namespace
}  // namespace kesto::test
