// The main window's menu bar: what it holds, which items the responder chain enables, and the
// mode items' key equivalents and check marks.
#include "AppFixture.h"

#include "App/AppCommands.h"
#include "App/MenuBarActions.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Window.h"

#include <algorithm>
#include <functional>
#include <map>

namespace kesto::test {
namespace {

class MenuBarTest : public AppTest {
 protected:
  Found<std::shared_ptr<ui::MenuItem>> item(const std::string& menu, const std::string& title) {
    auto top = ui->mainMenu()->itemWithTitle(menu);
    return {top && top->submenu() ? top->submenu()->itemWithTitle(title) : nullptr, menu + " > " + title};
  }
  // As launching does: the list controller joins the chain behind the window.
  void launch(std::size_t expected) {
    build(expected);
    app().initializeKesto();
  }
};

TEST_F(MenuBarTest, HoldsOnlyItemsThatSomethingAnswers) {
  launch(0);
  ASSERT_EQ(ui::Application::shared().mainMenu(), ui->mainMenu());
  EXPECT_TRUE(ui->window().showsMainMenu());
  std::vector<std::string> titles;
  for (const auto& top : ui->mainMenu()->items()) {
    titles.push_back(top->title());
    ASSERT_TRUE(top->submenu());
    top->submenu()->update();
    // Every item of the bar has a receiver somewhere, or it is one of the Edit commands that a
    // focused field or list takes.
    for (const auto& i : top->submenu()->items()) {
      if (i->isSeparatorItem()) continue;
      bool edit = top->title() == "Edit";
      // Quick Look acts on the selected bookmarks, of which an empty library has none: the list
      // answers it, and enables it once something is selected.
      if (i->action() == cmd::togglePreviewPanel) {
        EXPECT_TRUE(controller().respondsToAction(i->action()));
        continue;
      }
      if (!edit) {
        EXPECT_TRUE(i->isEnabled()) << i->title();
      }
    }
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"File", "Edit", "View", "Window", "Help"}));
  EXPECT_EQ(item("File", "Quit Kesto")->keyEquivalentText(), "Ctrl+Q");
  EXPECT_EQ(item("File", "Close Window")->keyEquivalentText(), "Ctrl+W");
  // The list has the focus: Select All is its; nothing is there to undo, copy or paste yet.
  item("Edit", "Undo")->menu()->update();
  EXPECT_TRUE(item("Edit", "Select All")->isEnabled());
  EXPECT_FALSE(item("Edit", "Undo")->isEnabled());
  EXPECT_FALSE(item("Edit", "Paste")->isEnabled());
}

TEST_F(MenuBarTest, NoTwoItemsShareAKeyEquivalent) {
  launch(0);
  // Every item of the bar and its submenus, as the desktop writes its shortcut.
  std::map<std::string, std::string> owner;
  std::function<void(const ui::Menu&, const std::string&)> walk = [&](const ui::Menu& menu, const std::string& path) {
    for (const auto& i : menu.items()) {
      if (i->isSeparatorItem()) continue;
      const std::string here = path + " > " + i->title();
      if (i->submenu()) walk(*i->submenu(), here);
      const std::string key = i->keyEquivalentText();
      if (key.empty()) continue;
      auto [it, fresh] = owner.emplace(key, here);
      EXPECT_TRUE(fresh) << key << " is both" << it->second << " and" << here;
    }
  };
  walk(*ui->mainMenu(), "");
  EXPECT_GT(owner.size(), 10u);
  EXPECT_EQ(item("View", "Search in List")->keyEquivalentText(), "Ctrl+Shift+F");
  EXPECT_EQ(item("File", "Find Folder")->keyEquivalentText(), "Ctrl+Alt+F");
}

TEST_F(MenuBarTest, EveryCommandOfTheBarWithItsKey) {
  launch(0);
  // The whole bar, command by command: a key moved, lost, doubled or given to a second command
  // shows here.
  const std::vector<std::pair<ui::Command, std::string>> expected{
      {cmd::newFolder, "Ctrl+Shift+N"},
      {cmd::addSmartFolder, ""},
      {cmd::findFolder, "Ctrl+Alt+F"},
      {cmd::add, "Ctrl+N"},
      {cmd::syncFromButton, "Ctrl+Shift+S"},
      {cmd::openWizard, ""},
      {cmd::openImportDialog, "Ctrl+Shift+I"},
      {cmd::openExportDialog, "Ctrl+Shift+E"},
      {cmd::openBackupDialog, "Ctrl+Shift+B"},
      {cmd::openRestoreDialog, ""},
      {cmd::performClose, "Ctrl+W"},
      {cmd::terminate, "Ctrl+Q"},
      {cmd::undo, "Ctrl+Z"},
      {cmd::redo, "Ctrl+Shift+Z"},
      {cmd::cut, "Ctrl+X"},
      {cmd::copy, "Ctrl+C"},
      {cmd::paste, "Ctrl+V"},
      {cmd::selectAll, "Ctrl+A"},
      {cmd::copyBookmarkAddress, ""},
      {cmd::deleteBookmarks, ""},
      {cmd::putBackFromTrash, ""},
      {cmd::addToPinboard, ""},
      {cmd::removeFromPinboard, ""},
      {cmd::addToDelicious, ""},
      {cmd::removeFromDelicious, ""},
      {cmd::showPreferences, "Ctrl+,"},
      {cmd::selectThumbnailView, "Ctrl+1"},
      {cmd::selectExtendedView, "Ctrl+2"},
      {cmd::selectListView, "Ctrl+3"},
      {cmd::find, "Ctrl+F"},
      {cmd::findInScope, "Ctrl+Shift+F"},
      {cmd::togglePreviewPanel, "Ctrl+Y"},
      {cmd::toggleInspector, "Ctrl+Alt+I"},
      {cmd::performMiniaturize, "Ctrl+M"},
      {cmd::showHelp, ""},
      {cmd::showImportMessageSheet, ""},
      {cmd::showExtensions, ""},
      {cmd::showYoutube, ""},
      {cmd::showForum, ""},
      {cmd::showEULA, ""},
      {cmd::turnOnTutorialPopups, ""},
      {cmd::checkForUpdates, ""},
      {cmd::orderFrontStandardAboutPanel, ""},
  };
  std::vector<std::pair<ui::Command, std::string>> found;
  std::function<void(const ui::Menu&)> walk = [&](const ui::Menu& menu) {
    for (const auto& i : menu.items()) {
      if (i->submenu()) walk(*i->submenu());
      else if (!i->isSeparatorItem()) found.emplace_back(i->action(), i->keyEquivalentText());
    }
  };
  walk(*ui->mainMenu());
  EXPECT_EQ(found, expected);
  // The bar's catalogue holds what the bar shows (the folder list brings its own three).
  EXPECT_EQ(menuBarActions().size() + 3, expected.size());
  for (const auto& action : menuBarActions()) {
    auto at = std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.first == action.command; });
    EXPECT_NE(at, found.end()) << action.command;
  }
}

TEST_F(MenuBarTest, ModeKeyEquivalentsSwitchTheListAndTheMenuShowsWhichIsOn) {
  launch(0);
  auto& window = ui->window();
  window.sendEvent(ui::Event::key(20, ui::ModifierFlag::Command, "3"));
  EXPECT_TRUE(controller().isListView());
  window.sendEvent(ui::Event::key(18, ui::ModifierFlag::Command, "1"));
  EXPECT_TRUE(controller().isThumbnailView());
  auto view = ui->mainMenu()->itemWithTitle("View")->submenu();
  view->update();
  EXPECT_EQ(item("View", "Thumbnails")->state(), ui::ControlState::On);
  EXPECT_EQ(item("View", "Extended List")->state(), ui::ControlState::Off);
  EXPECT_EQ(item("View", "Compact List")->state(), ui::ControlState::Off);
  ASSERT_TRUE(view->performActionForItemAtIndex(1));
  EXPECT_TRUE(controller().isExtendedView());
  EXPECT_TRUE(defaults().hasValueForKey("BoomarksListView"));
}

TEST_F(MenuBarTest, CloseWindowHidesTheLibraryWindowAndTheApplicationRuns) {
  launch(0);
  auto& window = ui->window();
  ASSERT_TRUE(window.isVisible());
  window.sendEvent(ui::Event::key(ui::KeyCode::W, ui::ModifierFlag::Command, "w"));
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace kesto::test
