#include "App/WebContentUpdater.h"

#include "App/WebContent.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Operation.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Store/Predicate.h"
#include "Views/AlertPresenter.h"
#include "Views/DiskCacheManager.h"
#include "Views/WebImageDownloadRequest.h"

#include <atomic>
#include <chrono>

namespace kesto {

namespace {

std::atomic<bool> fetching{true};

// One job in the queue: running from download() until the job's last notification.
class WebContentOperation final : public fnd::Operation {
 public:
  explicit WebContentOperation(std::shared_ptr<WebContent> job) : job_(std::move(job)) {}
  bool isAsynchronous() const override { return true; }
  bool isExecuting() const override { return state_.load() == 1; }
  bool isFinished() const override { return state_.load() == 2; }
  void start() override {
    if (isCancelled()) return moveTo(2);
    moveTo(1);
    auto self = std::static_pointer_cast<WebContentOperation>(shared_from_this());
    auto job = std::move(job_);
    job->download([self] { self->moveTo(2); });
  }

 private:
  void moveTo(int state) {
    const int old = state_.load();
    if (old == state) return;
    const char* oldKey = old == 1 ? "isExecuting" : "isFinished";
    const char* newKey = state == 1 ? "isExecuting" : "isFinished";
    willChangeValueForKey(newKey);
    if (old) willChangeValueForKey(oldKey);
    state_ = state;
    if (old) didChangeValueForKey(oldKey);
    didChangeValueForKey(newKey);
  }
  std::shared_ptr<WebContent> job_;
  std::atomic<int> state_{0};
};

std::shared_ptr<WebContent> jobFrom(const fnd::Notification& n) {
  auto it = n.userInfo.find(kWebContentKey);
  if (it == n.userInfo.end() || !it->second.isObject()) return nullptr;
  return std::dynamic_pointer_cast<WebContent>(it->second.object());
}

std::int64_t flag(const fnd::Dictionary& d, const char* key) {
  auto it = d.find(key);
  return it != d.end() && it->second.isNumber() ? it->second.intValue() : 0;
}

}  // namespace

void WebContentUpdater::setFetchingEnabled(bool enabled) { fetching = enabled; }
bool WebContentUpdater::fetchingEnabled() { return fetching; }

WebContentUpdater::WebContentUpdater(DataManager* data) : data_(data), queue_(std::make_unique<fnd::OperationQueue>()) {
  queue_->setName("WebContent");
  queue_->setMaxConcurrentOperationCount(kMaximumConcurrentFetches);
  observer_.observe(BRWWebContentRetrievedNotification, [this](const fnd::Notification& n) {
    if (auto job = jobFrom(n)) updateWebContentForSingleBookmark(job);
  });
  observer_.observe(BRWWebPreviewRetrievedNotification, [this](const fnd::Notification& n) {
    if (auto job = jobFrom(n)) updateWebContentForBookmark(job);
  });
  observer_.observe(BRWFetchMissingImagesNotification,
                    [this](const fnd::Notification&) { updateWebContentForAllMissingBookmarks(); });
  observer_.observe(FetchMissingImagesInFolderNotification,
                    [this](const fnd::Notification&) { updateWebContentForMissingBookmarksInFolder(); });
}

WebContentUpdater::~WebContentUpdater() {
  *alive_ = false;
  // Jobs not started are dropped; running ones end on their own and find no one to tell.
  queue_->cancelAllOperations();
}

std::size_t WebContentUpdater::fetchesRunning() const { return queue_->operationCount(); }

// ---- starting ----

void WebContentUpdater::start(const std::vector<std::shared_ptr<WebContent>>& jobs) {
  if (!fetchingEnabled()) return;
  for (const auto& job : jobs) queue_->addOperation(std::make_shared<WebContentOperation>(job));
}

void WebContentUpdater::updateSingleBookmark(Bookmark& bookmark, bool alsoFetchImage) {
  start({WebContent::initWithBookmarkDictionary(bookmark.bookmarkAsDictionary(), alsoFetchImage, true)});
}

void WebContentUpdater::updateBookmarks(const std::vector<std::string>& uniqueIDs) {
  std::vector<std::shared_ptr<WebContent>> jobs;
  auto& cache = WebImageDownloadRequest::fileCacheManagerInstance();
  for (const auto& id : uniqueIDs) {
    auto bookmark = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(id));
    if (!bookmark) continue;
    // The list cells load exactly this address: without its cached picture they load it anew.
    const std::string page = fnd::removePercentEscapesOrKeep(bookmark->url().value_or(std::string()));
    cache.clearCacheForFile(Bookmark::thumbnailRequestURL(page, "l", 120));
    jobs.push_back(WebContent::initWithBookmarkDictionary(bookmark->bookmarkAsDictionary(), true, false));
  }
  start(jobs);
}

void WebContentUpdater::updateWebContentForSelectedBookmarks() {
  if (!data_ || data_->selectedBookmarks().empty()) return;
  std::vector<std::string> ids;
  for (const auto& b : data_->selectedBookmarks()) {
    if (!b) continue;
    b->setValueForKey("isUpdating", fnd::Value(true));
    if (auto id = b->uniqueIDValue()) ids.push_back(*id);
  }
  WrenEntity::saveContext();
  updateBookmarks(ids);
}

void WebContentUpdater::updateWebContentForAllMissingBookmarks() {
  fnd::Error error;
  auto predicate = store::Predicate::parse("imageUpdated < 1 and trashed < 1 and (url != nil) and broken < 1", {}, &error);
  std::vector<store::SortDescriptor> sorts;
  if (data_) sorts = data_->currentSortDescriptors();
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate, sorts.empty() ? nullptr : &sorts,
                                                    static_cast<std::int64_t>(kMissingImagesPerRun))
                   .value_or(Bookmark::List{});
  std::vector<std::string> ids;
  for (const auto& b : found)
    if (auto id = b->uniqueIDValue()) ids.push_back(*id);
  if (!ids.empty()) updateBookmarks(ids);
}

void WebContentUpdater::updateWebContentForMissingBookmarksInFolder() {
  if (!data_ || !data_->currentFolder()) return;
  fnd::Array folderIDs;
  for (const auto& id : Bookmark::folderIDsForFolder(data_->currentFolder()->folderID())) folderIDs.push_back(fnd::Value(id));
  fnd::Error error;
  auto predicate = store::Predicate::parse(
      "( folder.folderID IN %@ or folder.parentFolderID IN %@ ) and imageUpdated < 1",
      {fnd::Value(folderIDs), fnd::Value(folderIDs)}, &error);
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate).value_or(Bookmark::List{});
  if (found.empty()) return;
  if (found.size() > kMaximumFolderRun) {
    AlertPresenter::alert("Kesto", "There are more than " + std::to_string(kMaximumFolderRun) +
                                       " bookmarks with missing images in this folder and its subfolders. Fetching this "
                                       "amount of images all at once could make the application hang or become "
                                       "unresponsive. Please select a subfolder and start fetching images from there.");
    return;
  }
  std::vector<std::string> ids;
  for (const auto& b : found)
    if (auto id = b->uniqueIDValue()) ids.push_back(*id);
  updateBookmarks(ids);
}

// ---- results ----

void WebContentUpdater::updateWebContentForSingleBookmark(const std::shared_ptr<WebContent>& job) { receive(job, false); }
void WebContentUpdater::updateWebContentForBookmark(const std::shared_ptr<WebContent>& job) { receive(job, true); }

void WebContentUpdater::receive(const std::shared_ptr<WebContent>& job, bool preview) {
  // A job reports up to three times; what it says last holds, so one write serves them all.
  if (auto it = pendingIndex_.find(job.get()); it != pendingIndex_.end()) {
    it->second->preview = it->second->preview || preview;
  } else {
    pending_.push_back({job, preview});
    pendingIndex_[job.get()] = &pending_.back();
  }
  if (sliceScheduled_) return;
  sliceScheduled_ = true;
  std::weak_ptr<bool> alive = alive_;
  fnd::DispatchQueue::main().async([this, alive] {
    if (auto a = alive.lock(); a && *a) writeSlice();
  });
}

void WebContentUpdater::writeSlice() {
  sliceScheduled_ = false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration<double>(kSliceSeconds);
  std::vector<std::shared_ptr<Bookmark>> touched;
  // What a page says is no step of the user's: Undo must not take a fetched title back.
  auto context = WrenDataManager::sharedInstance().managedObjectContext();
  fnd::UndoManager* undo = context ? context->undoManager() : nullptr;
  if (undo) undo->disableUndoRegistration();
  while (!pending_.empty() && Clock::now() < deadline) {
    Pending next = std::move(pending_.front());
    pendingIndex_.erase(next.job.get());
    pending_.pop_front();
    apply(next, touched);
  }
  if (!touched.empty()) WrenEntity::saveContext();
  if (undo) undo->enableUndoRegistration();
  if (!touched.empty() && data_) data_->addBookmarks(touched);
  if (pending_.empty() || sliceScheduled_) return;
  sliceScheduled_ = true;
  std::weak_ptr<bool> alive = alive_;
  fnd::DispatchQueue::main().async([this, alive] {
    if (auto a = alive.lock(); a && *a) writeSlice();
  });
}

bool WebContentUpdater::apply(const Pending& result, std::vector<std::shared_ptr<Bookmark>>& touched) {
  const WebContent& job = *result.job;
  if (job.uniqueID().empty()) return false;
  // Looked up, never made: a bookmark deleted while its page was fetched stays deleted.
  auto b = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(job.uniqueID()));
  if (!b || b->isDeleted()) return false;
  // The user's own changes since the job started win over what the page says.
  if (job.url() && b->url().value_or(std::string()) == job.startURL())
    b->setUrl(fnd::removePercentEscapesOrKeep(*job.url()));
  if (b->title() == job.oldTitle()) {
    b->setTitle(job.title());
    b->setTitleUpdated(job.titleUpdated());
  }
  if (job.favicon()) b->setFavicon(job.favicon());
  b->setNeedsUpdate(job.needsUpdate());
  b->setImageUpdated(job.imageUpdated());
  b->setBroken(job.broken() ? 1 : 0);
  b->setContent(std::string());
  b->setUpdatedDate(fnd::Date::now());
  b->updateBrokenImage();
  if (result.preview) {
    b->setValueForKey("isUpdating", fnd::Value(false));
    if (b->thumbnailManuallySet() == flag(job.pin(), "thumbnailManuallySet")) b->setThumbnailManuallySet(0);
  }
  touched.push_back(b);
  return true;
}

}  // namespace kesto
