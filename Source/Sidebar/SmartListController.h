#pragma once

#include "Sidebar/SidebarController.h"
#include "Platform/Foundation/Lifetime.h"
#include "Views/SourceListItemSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class DataManager;
class SourceList;

// The shape the History, Popular, Maintenance and Trash lists share: one group row holding a
// fixed set of entries, rebuilt on the list's refresh notifications; choosing an entry acts on it
// 0.1 seconds later. Main thread only.
class SmartListController : public SidebarTabContent, public SourceListItemSource {
 public:
  static constexpr const char* kContainerID = "containerItem";

  // One entry of a list: its row and, for the counting lists, the DataManager counter giving its
  // badge and the load that shows its bookmarks.
  struct Entry {
    const char* title;
    const char* identifier;
    const char* icon;
    std::int32_t (DataManager::*count)() = nullptr;
    void (DataManager::*load)() = nullptr;
  };

  // A list of `entries`, in display order, rebuilt on the `refreshedBy` notifications while
  // SelectedView names `selectedView` (null: whatever is shown). The entries outlive the list.
  SmartListController(const std::vector<Entry>& entries, std::vector<fnd::NotificationName> refreshedBy,
                      const char* selectedView);
  // The list keeps a reference to its entries: a temporary table would dangle.
  SmartListController(std::vector<Entry>&&, std::vector<fnd::NotificationName>, const char*) = delete;
  ~SmartListController() override;
  SmartListController(const SmartListController&) = delete;
  SmartListController& operator=(const SmartListController&) = delete;

  std::shared_ptr<ui::View> view() override { return view_; }
  void setDataManager(DataManager* dataManager) override { kestoData_ = dataManager; }
  DataManager* dataManager() const { return kestoData_; }
  // Observes the list's refresh notifications and becomes the list's data source and delegate.
  void awakeFromNib() override;

  // Refresh: only while SelectedView names this list (the trash always refreshes).
  virtual void updateView();
  // Rebuilds the group and its entries, with badges where the list counts.
  virtual void loadItems();
  // The entry acted on 0.1 seconds after a selection change.
  virtual void updateSelection() = 0;
  // Ends a library search when `identifier` is not the row shown last; called before the row's
  // list loads.
  void endSearchForNewRow(const std::string& identifier);

  std::shared_ptr<SourceList> sourceList() const { return list_; }
  SourceListItem* containerItem() const { return container_.get(); }
  // The group's children, in row order (row = index + 1).
  const std::vector<SourceListItemRef>& entries() const { return items_; }
  SourceListItem* itemWithIdentifier(const std::string& identifier) const;
  // Selects the entry with that identifier (as a click would) and answers whether it exists.
  bool selectEntry(const std::string& identifier);
  const std::optional<std::string>& lastSelectedIdentifier() const { return lastSelectedIdentifier_; }

  // Source-list answers beside the items' own; entries are never renamed and expand freely.
  unsigned implementedSourceListDelegateMethods() const override;
  bool sourceListIsGroupAlwaysExpanded(SourceList& list, SourceListItemPtr group) override;
  bool sourceListShouldEditItem(SourceList& list, SourceListItemPtr item) override;
  void sourceListSelectionDidChange(const fnd::Notification& notification) override;
  void sourceListWillDisplayCellForItem(SourceList& list, ui::TextCell& cell, SourceListItemPtr item) override;

 protected:
  virtual bool groupIsAlwaysExpanded() const { return false; }
  // The badge an entry gets when the list is built; none by default for counting lists'
  // counters (Maintenance and Trash set theirs otherwise).
  virtual std::optional<std::int64_t> badgeForEntry(const Entry& entry);
  // Run after a rebuild in updateView (History and Popular restore their stored row).
  virtual void didRefresh() {}

  // The item of the first selected row (null when none) and the number of selected rows.
  SourceListItem* firstSelectedItem() const;
  long selectedRowCount() const;
  // Makes `item` the whole selection.
  void selectOnly(SourceListItem* item);
  // Restores the row stored under `key` (0 or a row past the list selects nothing).
  void selectRowFromDefaults(const char* key);
  // Runs the entry's load, then the resetting update when the entry differs from the last one
  // handled and the plain update otherwise.
  void loadEntryAndUpdate(const std::string& identifier);
  void scheduleSelectionUpdate();
  // Runs `action` (which may ask the user in a modal alert) on a later turn of the main loop,
  // while this list lives: selection updates arrive in a timer, where no modal loop may run.
  void performEntryAction(std::function<void()> action);

  const std::vector<Entry>& entryTable_;
  const std::vector<fnd::NotificationName> refreshedBy_;
  const char* const selectedView_;
  DataManager* kestoData_ = nullptr;
  std::shared_ptr<ui::View> view_;
  std::shared_ptr<SourceList> list_;
  std::vector<SourceListItemRef> sourceListItems_;
  const std::vector<SourceListItemRef>& topLevelSourceListItems() const override { return sourceListItems_; }
  SourceListItemRef container_;
  std::vector<SourceListItemRef> items_;
  bool isDifferentFolder_ = false;
  std::optional<std::string> lastSelectedIdentifier_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
  bool observing_ = false;
};

}  // namespace kesto
