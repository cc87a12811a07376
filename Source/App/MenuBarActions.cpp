#include "App/MenuBarActions.h"

#include "App/AppCommands.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/UI/Menu.h"

namespace kesto {

namespace {

ui::Action entry(ui::Command command, std::string title, std::string key = {},
                 std::uint64_t mask = ui::ModifierFlag::Command) {
  return ui::Action{command, std::move(title), std::move(key), mask, nullptr, nullptr};
}

}  // namespace

const std::vector<ui::Action>& menuBarActions() {
  static const std::vector<ui::Action> actions{
      // File
      entry(cmd::add, "New Bookmark…", "n"),
      entry(cmd::syncFromButton, "Sync Now", "S"),
      entry(cmd::openWizard, "Set Up Sync…"),
      entry(cmd::openImportDialog, "Import Bookmarks…", "I"),
      entry(cmd::openExportDialog, "Export Bookmarks…", "E"),
      entry(cmd::openBackupDialog, "Back Up Library…", "B"),
      // No key: it replaces the whole library.
      entry(cmd::openRestoreDialog, "Restore Library…"),
      entry(cmd::performClose, "Close Window", "w"),
      entry(cmd::terminate, "Quit Kesto", "q"),
      // Edit
      entry(cmd::undo, "Undo", "z"),
      entry(cmd::redo, "Redo", "Z"),
      entry(cmd::cut, "Cut", "x"),
      entry(cmd::copy, "Copy", "c"),
      entry(cmd::paste, "Paste", "v"),
      entry(cmd::selectAll, "Select All", "a"),
      entry(cmd::copyBookmarkAddress, "Copy Link"),
      entry(cmd::deleteBookmarks, "Delete"),
      entry(cmd::putBackFromTrash, "Put Back from Trash"),
      entry(cmd::addToPinboard, "Add to Pinboard"),
      entry(cmd::removeFromPinboard, "Remove from Pinboard"),
      entry(cmd::addToDelicious, "Add to Delicious"),
      entry(cmd::removeFromDelicious, "Remove from Delicious"),
      entry(cmd::showPreferences, "Preferences…", ","),
      // View
      entry(cmd::selectThumbnailView, "Thumbnails", "1"),
      entry(cmd::selectExtendedView, "Extended List", "2"),
      entry(cmd::selectListView, "Compact List", "3"),
      entry(cmd::find, "Search Library", "f"),
      entry(cmd::findInScope, "Search in List", "F"),
      entry(cmd::togglePreviewPanel, "Quick Look", "y"),
      entry(cmd::toggleInspector, "Hide Inspector", "i", ui::ModifierFlag::Command | ui::ModifierFlag::Option),
      // Window
      entry(cmd::performMiniaturize, "Minimize", "m"),
      // Help
      entry(cmd::showHelp, "Kesto Help"),
      entry(cmd::showImportMessageSheet, "Exporting Bookmarks from a Browser…"),
      entry(cmd::showExtensions, "Browser Extensions"),
      entry(cmd::showYoutube, "Video Tutorials"),
      entry(cmd::showForum, "Feedback Forum"),
      entry(cmd::showEULA, "License Agreement"),
      entry(cmd::turnOnTutorialPopups, "Show Tutorials Again"),
      entry(cmd::checkForUpdates, "Check for Updates…"),
      entry(cmd::orderFrontStandardAboutPanel, "About Kesto"),
  };
  return actions;
}

const ui::Action& menuBarAction(ui::Command command) {
  for (const auto& action : menuBarActions())
    if (action.command == command) return action;
  fnd::assertionFailed("the menu bar has no command " + std::string(command.text()));
  static const ui::Action none;
  return none;
}

std::shared_ptr<ui::MenuItem> addMenuBarItem(ui::Menu& menu, ui::Command command) {
  auto item = menuBarAction(command).makeMenuItem();
  menu.addItem(item);
  return item;
}

}  // namespace kesto
