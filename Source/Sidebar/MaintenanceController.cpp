#include "Sidebar/MaintenanceController.h"

#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Sidebar/SidebarCommands.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/SourceList.h"

namespace kesto {

namespace {
constexpr const char* kDuplicates = "Duplicates";
constexpr const char* kBroken = "Broken";
constexpr const char* kCleanDuplicates = "CleanDuplicates";
constexpr const char* kCleanBroken = "CleanBroken";
constexpr const char* kPreferences = "Preferences";
}  // namespace

const std::vector<SmartListController::Entry>& MaintenanceController::entryTable() {
  static const std::vector<Entry> entries{
      {"Find duplicates", kDuplicates, "sourcelist_duplicates"},
      {"Find broken links", kBroken, "sourcelist_broken"},
      {"", kSeparatorID, nullptr},
      {"Remove duplicates", kCleanDuplicates, "sourcelist_duplicates"},
      {"Remove broken links", kCleanBroken, "sourcelist_broken"},
      {"", kSeparatorID, nullptr},
      {"Open Preferences", kPreferences, "sourcelist_top25"},
  };
  return entries;
}

MaintenanceController::MaintenanceController()
    : SmartListController(entryTable(), {UpdateMaintenanceViewNotification, BRWUpdateFoldersViewNotification},
                          SelectedMaintenanceView) {}

void MaintenanceController::updateSelection() {
  auto* item = firstSelectedItem();
  if (!item) return;
  selectOnly(item);
  isDifferentFolder_ = false;
  if (selectedRowCount() != 1) return;
  const std::string id = item->identifier();
  endSearchForNewRow(id);
  if (kestoData_) kestoData_->setCurrentFolder(nullptr);
  if (id == kDuplicates) {
    if (kestoData_) kestoData_->loadDuplicatedBookmarks();
    showFound(*item, "No duplicates found");
  } else if (id == kBroken) {
    if (kestoData_) kestoData_->loadBrokenBookmarks();
    showFound(*item, "No broken links found");
  } else if (id == kCleanDuplicates) {
    performEntryAction([this] { cleanupDuplicates(); });
  } else if (id == kCleanBroken) {
    performEntryAction([this] { cleanupBrokenLinks(); });
  } else if (id == kPreferences) {
    performEntryAction([this] { showPreferences(); });
  }
  // The entries have no load of their own: this only updates the list shown.
  loadEntryAndUpdate(id);
}

void MaintenanceController::showFound(SourceListItem& item, const char* noneFound) {
  if (!kestoData_) return;
  const auto found = static_cast<std::int64_t>(kestoData_->bookmarks().size());
  item.setBadgeValue(found);
  list_->reloadItem(&item);
  if (found == 0) ViewUpdater::showMessage(noneFound);
}

bool MaintenanceController::confirm(const std::string& title, const std::string& button, const std::string& text) {
  ui::Alert alert;
  alert.setMessageText(title);
  alert.setInformativeText(text);
  alert.addButtonWithTitle(button);
  alert.addButtonWithTitle("Cancel");
  return alert.runModal() == ui::AlertFirstButtonReturn;
}

void MaintenanceController::confirmAndClean(const std::string& title, const std::string& button,
                                            const std::string& text, std::function<void()> clean) {
  if (!confirm(title, button, text)) return;
  fnd::RunLoop::main().performAfterDelay(0.5, lifetime_.whileAlive(std::move(clean)), this);
}

void MaintenanceController::cleanupDuplicates() {
  confirmAndClean("Remove Duplicates?", "Remove Duplicates",
                  "Do you really want to remove all duplicates? All duplicate bookmarks will be moved to the Trash.",
                  [this] { doCleanDuplicates(); });
}

void MaintenanceController::doCleanDuplicates() {
  if (kestoData_) kestoData_->removeDuplicates();
  ViewUpdater::updateSidebar();
}

void MaintenanceController::cleanupBrokenLinks() {
  confirmAndClean("Remove Broken Links?", "Remove Broken Links",
                  "Do you really want to remove all broken links? All bookmarks with a broken link will be moved to "
                  "the Trash.",
                  [this] { doCleanupBrokenLinks(); });
}

void MaintenanceController::doCleanupBrokenLinks() {
  if (kestoData_) kestoData_->removeBrokenLinks();
  ViewUpdater::updateSidebar();
}

void MaintenanceController::showPreferences() {
  if (ui::Application::shared().sendAction(cmd::showPreferences, nullptr, nullptr)) return;
  ui::Alert alert;
  alert.setMessageText("Preferences are not available");
  alert.setInformativeText("This version of Kesto has no preferences window yet.");
  alert.addButtonWithTitle("OK");
  alert.runModal();
}

}  // namespace kesto
