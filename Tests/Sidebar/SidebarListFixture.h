#pragma once

#include "Model/LibraryFixture.h"
#include "SidebarDelays.h"

#include "Harness/TestDialogResponder.h"
#include "Model/DateAdditions.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/SmartListController.h"
#include "Sidebar/ViewManager.h"
#include "Views/SourceList.h"

#include <map>
#include <memory>

namespace kesto::test {

// A library with a loaded DataManager, the clock at 14 March 2026 10:00 in Paris, and every
// dialog answered by the test.
class SidebarListTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    stopClockInParisAt("2026-03-14 10:00:00 +0100");
    responder = TestDialogResponder::install();
    for (auto name : {BRWUpdateBookmarksViewNotification, BRWUpdateBookmarksAndResetViewNotification,
                             ShowOverlayWithMessage, SelectCurrentSidebarViewNotification})
      fnd::NotificationCenter::defaultCenter().addObserver(
          this,
          [this](const fnd::Notification& n) {
            ++posted[n.name];
            if (n.name == ShowOverlayWithMessage) messages.push_back(n.userInfo.at(kOverlayMessageKey).string());
          },
          name);
  }
  // The lists' views hand their widgets to the event loop for deletion; let it run once they
  // are gone (a test's own list, or a derived fixture's member destroyed before this runs).
  ~SidebarListTest() override { spin(0); }

  void TearDown() override {
    fnd::NotificationCenter::defaultCenter().removeObserver(this);
    TestDialogResponder::uninstall();
    LibraryTest::TearDown();
  }

  fnd::Date at(const char* text) const { return *present(brightwren::dateFromString(text), std::string("the date ") + text); }

  void loadLibrary() {
    dm.setPreferences(prefs);
    load(dm, true);
  }

  // The switcher's part: the list shown, as the tab buttons set it.
  static void show(const char* selectedView, std::int64_t index) {
    fnd::UserDefaults::standard().setString(selectedView, SelectedView);
    ViewManager::sharedInstance().setCurrentView(index);
  }

  // Saves what the test made, loads the library and shows a list, as its tab button does.
  void saveLoadAndShow(const char* selectedView, std::int64_t index) {
    save();
    loadLibrary();
    show(selectedView, index);
  }

  // Chooses an entry as a click does and waits for the list to act on it, after its selection
  // delay.
  void choose(SmartListController& list, const std::string& id) {
    ASSERT_TRUE(list.selectEntry(id)) << id;
    ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  }
  // Past a delay the code just scheduled, as the harness's wait has it, failing the test when
  // the main loop never gets there.
  static void waitPast(double seconds) { ASSERT_TRUE(test::waitPast(seconds)); }

  static std::optional<std::int64_t> badge(const SmartListController& list, const std::string& id) {
    auto* item = list.itemWithIdentifier(id);
    return item ? item->badgeValue() : std::nullopt;
  }

  // Each entry's badge, by identifier; no value where the entry shows none.
  static void expectBadges(const SmartListController& list,
                           std::initializer_list<std::pair<std::string, std::optional<std::int64_t>>> badges) {
    for (const auto& [id, value] : badges) EXPECT_EQ(badge(list, id), value) << id;
  }

  std::vector<std::string> listed() const { return sorted(titles(const_cast<DataManager&>(dm).bookmarks())); }

  DataManager dm;
  std::shared_ptr<TestDialogResponder> responder;
  std::map<fnd::NotificationName, int> posted;
  std::vector<std::string> messages;
};

}  // namespace kesto::test
