#pragma once

#include "Sidebar/SmartListController.h"

namespace kesto {

// The Maintenance list: finds duplicate bookmarks and broken links, moves either kind to the
// trash after asking, and opens the preferences.
class MaintenanceController : public SmartListController {
 public:
  MaintenanceController();
  void updateSelection() override;

  // The clean-ups: each asks first and, confirmed, moves the bookmarks to the trash 0.5 seconds
  // later.
  void cleanupDuplicates();
  void doCleanDuplicates();
  void cleanupBrokenLinks();
  void doCleanupBrokenLinks();
  void showPreferences();

 protected:
  // Badges come only with a search.
  std::optional<std::int64_t> badgeForEntry(const Entry&) override { return std::nullopt; }

 private:
  // The entries, in display order.
  static const std::vector<Entry>& entryTable();
  // After a search for duplicates or broken links: the entry's badge counts what the list now
  // shows. The caller runs the search itself: with a member-function pointer passed in, the
  // compiler's address-sanitizer build read the pointer below this frame's stack.
  void showFound(SourceListItem& item, const char* noneFound);
  bool confirm(const std::string& title, const std::string& button, const std::string& text);
  // Asks; confirmed, `clean` runs 0.5 seconds later (the alert gone), while the list lives.
  void confirmAndClean(const std::string& title, const std::string& button, const std::string& text,
                       std::function<void()> clean);
};

}  // namespace kesto
