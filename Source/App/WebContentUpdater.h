#pragma once

#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/StoreForward.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kesto {

class Bookmark;
class DataManager;
class WebContent;

// Keeps bookmarks' titles, favicons and thumbnails up to date: starts the page fetches (at
// most kMaximumConcurrentFetches at a time, the rest wait in an operation queue) and stores what
// they report. Results are written in batches by a context of their own on its own queue, since
// a store save waits for the disk far longer than a frame; the main context then takes the
// changes in and only the changed rows are drawn again, once per batch. A result for a bookmark deleted meanwhile
// is dropped; a title or address the user changed meanwhile is kept. Main thread only.
class WebContentUpdater {
 public:
  static constexpr int kMaximumConcurrentFetches = 10;
  static constexpr std::size_t kMissingImagesPerRun = 100;
  static constexpr std::size_t kMaximumFolderRun = 1000;
  // Bookmarks made into jobs, and results written, per turn of the event loop or batch.
  static constexpr std::size_t kBatchSize = 50;
  // How long results gather before a batch is written.
  static constexpr double kGatherSeconds = 0.25;

  explicit WebContentUpdater(DataManager* data);
  ~WebContentUpdater();
  WebContentUpdater(const WebContentUpdater&) = delete;
  WebContentUpdater& operator=(const WebContentUpdater&) = delete;

  // Off, nothing is fetched (the interface tests, which must not reach the network).
  static void setFetchingEnabled(bool enabled);
  static bool fetchingEnabled();

  // One bookmark, as a single update (title and favicon).
  void updateSingleBookmark(Bookmark& bookmark, bool alsoFetchImage);
  // Each as a single update, kBatchSize of them per turn of the event loop.
  void updateSingleBookmarks(std::vector<std::shared_ptr<Bookmark>> bookmarks, bool alsoFetchImage);
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

  // At quit, before the store's last save: no page is fetched any more, the batch being written
  // is waited for and what else has arrived is written, so no save of ours is cut off midway.
  // Nothing is written afterwards.
  void finishWriting();

  // Jobs started and not yet ended, and results not yet in the main context.
  std::size_t fetchesRunning() const;
  std::size_t pendingResults() const { return pending_.size() + writing_; }

 private:
  struct Result;
  using BookmarksByID = std::shared_ptr<std::unordered_map<std::string, std::shared_ptr<Bookmark>>>;
  void makeJobs(std::shared_ptr<std::vector<std::string>> uniqueIDs, BookmarksByID byID, std::size_t from);
  void start(const std::vector<std::shared_ptr<WebContent>>& jobs);
  void receive(const std::shared_ptr<WebContent>& job, bool preview);
  void scheduleBatch();
  void writeBatch();
  // The first `n` results waiting, taken out for a batch.
  std::shared_ptr<std::vector<Result>> takeResults(std::size_t n);
  // The bookmarks of a batch that belong to an online service, with the service's name.
  using ServiceMembers = std::vector<std::pair<std::shared_ptr<const store::ObjectID>, std::string>>;
  // On the writing context's queue: writes `results` into the stored bookmarks and saves them;
  // answers what was saved, and notes whether a broken mark changed and which belong to a service.
  static std::shared_ptr<store::SaveNotification> writeResults(store::Context& context, const std::vector<Result>& results,
                                                               bool& brokenChanged, ServiceMembers& inServices);
  void merge(const store::SaveNotification& saved, bool brokenChanged, const ServiceMembers& inServices);
  // Runs `block` on the writing context's queue, counted in writes_ until it ends.
  void performWrite(store::Context& context, std::function<void()> block);
  std::shared_ptr<store::Context> backgroundContext();
  // On the writing context's queue: saves it (a failure is logged and dropped) and forgets its
  // objects; answers what was saved.
  static std::shared_ptr<store::SaveNotification> saveInBackground(store::Context& context);
  // Brings saved changes into the main context, with no step for Undo.
  void takeIn(const store::SaveNotification& saved);

  DataManager* data_;
  std::unique_ptr<fnd::OperationQueue> queue_;
  fnd::ScopedObserver observer_;
  // Results not yet written, each job once, in arrival order (a job reports up to three times;
  // its last word holds).
  std::vector<std::shared_ptr<WebContent>> pending_;
  std::unordered_map<const WebContent*, bool> previews_;
  std::size_t writing_ = 0;
  bool scheduled_ = false;
  bool finished_ = false;
  std::shared_ptr<store::Context> bgContext_;
  // The blocks queued on the writing context and not yet ended, for the quit to wait on.
  struct Writes {
    std::mutex mutex;
    std::condition_variable ended;
    int queued = 0;
  };
  std::shared_ptr<Writes> writes_ = std::make_shared<Writes>();
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
