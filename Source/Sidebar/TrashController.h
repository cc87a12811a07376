#pragma once

#include "Sidebar/SmartListController.h"

namespace kesto {

// Deletes every trashed bookmark for good (blocked ones too). A tombstone for each is stored and
// flushed before anything is deleted, so the deletion reaches the other machines even when the
// save fails. Answers whether the store kept the deletion; nothing is shown.
bool emptyTrashRecordingTombstones(DataManager* dataManager);

// The Trash list: its badge follows every refresh, and while it is shown it lists the trashed
// bookmarks; its one entry, Empty Trash, deletes them for good after asking.
class TrashController : public SmartListController {
 public:
  static constexpr const char* kEmptyTrashID = "EmptyTrash";

  TrashController();
  void updateView() override;
  void updateSelection() override;
  // Asks, then empties the trash and shows the list again. Answers whether it was emptied.
  bool emptyTrash();
  bool doEmptyTrash();

 protected:
  // The entries, in display order.
  static const std::vector<Entry>& entryTable();
  bool groupIsAlwaysExpanded() const override { return true; }
  std::optional<std::int64_t> badgeForEntry(const Entry& entry) override;
};

}  // namespace kesto
