#pragma once

#include <cstdint>

namespace kesto {

// Which sidebar list is shown: 0 folders, 1 tags, 2 history, 3 popular, 4 maintenance, 5 trash.
// One instance for the run; main thread.
class ViewManager {
 public:
  enum : std::int64_t { Folders = 0, Tags, History, Popular, Maintenance, Trash };

  static ViewManager& sharedInstance();
  std::int64_t currentView() const { return currentView_; }
  void setCurrentView(std::int64_t view) { currentView_ = view; }

 private:
  ViewManager() = default;
  std::int64_t currentView_ = Folders;
};

}  // namespace kesto
