// The fields a search looks in, as the search field's menu and the user defaults keep them.
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/SearchField.h"
#include "Views/SearchMenuOptions.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

struct SearchMenuOptionsTest : ::testing::Test {
  SearchMenuOptions options{{{"OptionsTestTitle", 1, "Title", true},
                             {"OptionsTestNotes", 3, "Notes", true},
                             {"OptionsTestContent", 4, "Page Content", false}},
                            "OptionsTestSet"};
  fnd::UserDefaults& defaults = fnd::UserDefaults::standard();
  ui::SearchField field;
  std::vector<int> chosen;

  void SetUp() override {
    for (const char* key : {"OptionsTestTitle", "OptionsTestNotes", "OptionsTestContent", "OptionsTestSet"})
      defaults.removeObject(key);
  }
  std::vector<bool> menuStates() const {
    std::vector<bool> states;
    for (const auto& item : field.searchMenuItems()) states.push_back(item.on);
    return states;
  }
};

TEST_F(SearchMenuOptionsTest, TheFirstRunWritesTheFirstValuesOnceAndTheMenuShowsThem) {
  options.prepare(&field, [this](int tag) { chosen.push_back(tag); });
  EXPECT_EQ(defaults.stringForKey("OptionsTestSet").value_or(""), "Yes");
  EXPECT_TRUE(defaults.boolForKey("OptionsTestTitle"));
  EXPECT_FALSE(defaults.boolForKey("OptionsTestContent"));
  ASSERT_EQ(field.searchMenuItems().size(), 3u);
  EXPECT_EQ(field.searchMenuItems()[2].title, "Page Content");
  EXPECT_TRUE(field.searchMenuItems()[2].checkable);
  EXPECT_EQ(menuStates(), (std::vector<bool>{true, true, false}));

  // A later start keeps the user's choice.
  defaults.setBool(false, "OptionsTestNotes");
  defaults.setBool(true, "OptionsTestContent");
  ui::SearchField again;
  options.prepare(&again, nullptr);
  EXPECT_FALSE(defaults.boolForKey("OptionsTestNotes"));
  EXPECT_TRUE(defaults.boolForKey("OptionsTestContent"));
  EXPECT_FALSE(again.searchMenuItems()[1].on);
  EXPECT_TRUE(again.searchMenuItems()[2].on);

  // Without a field only the defaults are prepared.
  options.prepare(nullptr, nullptr);
  EXPECT_TRUE(defaults.boolForKey("OptionsTestTitle"));
}

TEST_F(SearchMenuOptionsTest, TogglingFlipsOneOptionAndTheLastOneOffBringsTheFirstBack) {
  options.prepare(&field, nullptr);
  options.toggle(4, &field);
  EXPECT_TRUE(defaults.boolForKey("OptionsTestContent"));
  EXPECT_EQ(menuStates(), (std::vector<bool>{true, true, true}));
  options.toggle(99, &field);  // no such tag
  EXPECT_EQ(menuStates(), (std::vector<bool>{true, true, true}));

  for (int tag : {1, 3, 4}) options.toggle(tag, &field);
  EXPECT_EQ(menuStates(), (std::vector<bool>{false, false, false}));
  options.validate(&field);
  EXPECT_TRUE(defaults.boolForKey("OptionsTestTitle"));
  EXPECT_EQ(menuStates(), (std::vector<bool>{true, false, false}));
  // One on already: nothing changes.
  options.validate(nullptr);
  EXPECT_FALSE(defaults.boolForKey("OptionsTestNotes"));

  // No options at all: nothing to bring back.
  SearchMenuOptions none({}, "OptionsTestSet");
  none.validate(&field);
  none.toggle(1, &field);
  EXPECT_EQ(menuStates(), (std::vector<bool>{true, false, false}));
}

}  // namespace
}  // namespace kesto::test
