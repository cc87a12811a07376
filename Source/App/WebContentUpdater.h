#pragma once

#include "Platform/Foundation/NotificationCenter.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kesto {

class Bookmark;
class DataManager;
class WebContent;
namespace fnd {
class OperationQueue;
}

// Keeps bookmarks' titles, favicons and thumbnails up to date: starts the page fetches (at
// most kMaximumConcurrentFetches at a time, the rest wait in an operation queue) and writes
// what they report into the store on the main thread, a short slice at a time. A result for a
// bookmark deleted meanwhile is dropped; a title or address the user changed meanwhile is kept.
// Main thread only.
class WebContentUpdater {
 public:
  static constexpr int kMaximumConcurrentFetches = 10;
  static constexpr std::size_t kMissingImagesPerRun = 100;
  static constexpr std::size_t kMaximumFolderRun = 1000;
  // Work on results stops after this long and goes on at the next turn of the event loop.
  static constexpr double kSliceSeconds = 0.006;

  explicit WebContentUpdater(DataManager* data);
  ~WebContentUpdater();
  WebContentUpdater(const WebContentUpdater&) = delete;
  WebContentUpdater& operator=(const WebContentUpdater&) = delete;

  // Off, nothing is fetched (the interface tests, which must not reach the network).
  static void setFetchingEnabled(bool enabled);
  static bool fetchingEnabled();

  // One bookmark, as a single update (title and favicon).
  void updateSingleBookmark(Bookmark& bookmark, bool alsoFetchImage);
  // The batch: each bookmark's thumbnail leaves the image cache, then every job starts.
  void updateBookmarks(const std::vector<std::string>& uniqueIDs);
  void updateWebContentForSelectedBookmarks();
  // At most kMissingImagesPerRun bookmarks without a settled image, in the list's order.
  void updateWebContentForAllMissingBookmarks();
  // The shown folder and its subfolders; more than kMaximumFolderRun is refused with an alert.
  void updateWebContentForMissingBookmarksInFolder();

  // The result handlers (content and preview).
  void updateWebContentForSingleBookmark(const std::shared_ptr<WebContent>& job);
  void updateWebContentForBookmark(const std::shared_ptr<WebContent>& job);

  // Jobs started and not yet ended, and results not yet written.
  std::size_t fetchesRunning() const;
  std::size_t pendingResults() const { return pending_.size(); }

 private:
  struct Pending {
    std::shared_ptr<WebContent> job;
    bool preview = false;
  };
  void start(const std::vector<std::shared_ptr<WebContent>>& jobs);
  void receive(const std::shared_ptr<WebContent>& job, bool preview);
  void writeSlice();
  bool apply(const Pending& result, std::vector<std::shared_ptr<Bookmark>>& touched);

  DataManager* data_;
  std::unique_ptr<fnd::OperationQueue> queue_;
  fnd::ScopedObserver observer_;
  // Deque elements stay put as results come and go, so the index can point at them.
  std::deque<Pending> pending_;
  std::unordered_map<const WebContent*, Pending*> pendingIndex_;
  bool sliceScheduled_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kesto
