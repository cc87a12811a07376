#include "App/WebContentUpdater.h"

#include "App/WebContent.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/BookmarkServiceClient.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Operation.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/SaveNotification.h"
#include "Support/AlertPresenter.h"
#include "Views/DiskCacheManager.h"
#include "Views/WebImageDownloadRequest.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace {

std::atomic<bool> pageFetchingEnabled{true};

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

}  // namespace

void WebContentUpdater::setFetchingEnabled(bool enabled) { pageFetchingEnabled = enabled; }
bool WebContentUpdater::fetchingEnabled() { return pageFetchingEnabled; }

WebContentUpdater::WebContentUpdater(DataManager* data) : data_(data), queue_(std::make_unique<fnd::OperationQueue>()) {
  KESTO_ASSERT_MAIN_THREAD();
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
  lifetime_.end();
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
  KESTO_ASSERT_MAIN_THREAD();
  start({WebContent::initWithBookmarkDictionary(bookmark.bookmarkAsDictionary(false), alsoFetchImage, true)});
}

void WebContentUpdater::updateSingleBookmarks(std::vector<std::shared_ptr<Bookmark>> bookmarks, bool alsoFetchImage) {
  KESTO_ASSERT_MAIN_THREAD();
  const std::size_t slice = std::min(bookmarks.size(), kBatchSize);
  // One deleted before its slice came up is gone from the library (deleted and saved, it has
  // left its context).
  for (std::size_t i = 0; i < slice; ++i)
    if (bookmarks[i] && !bookmarks[i]->isDeleted() && bookmarks[i]->context())
      updateSingleBookmark(*bookmarks[i], alsoFetchImage);
  if (slice == bookmarks.size()) return;
  bookmarks.erase(bookmarks.begin(), bookmarks.begin() + static_cast<std::ptrdiff_t>(slice));
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, rest = std::move(bookmarks), alsoFetchImage] {
    updateSingleBookmarks(rest, alsoFetchImage);
  }));
}

void WebContentUpdater::updateBookmarks(const std::vector<std::string>& uniqueIDs) {
  KESTO_ASSERT_MAIN_THREAD();
  if (uniqueIDs.empty()) return;
  // Found in the library in memory: reading the store here would wait for a batch being written.
  // What was just added or imported stands at the library's end, so the look starts there and
  // stops once everything asked for is found; identifiers are compared where they are kept.
  auto byID = std::make_shared<std::unordered_map<std::string, Bookmark::Ref>>();
  if (data_) {
    std::unordered_set<std::string_view> wanted(uniqueIDs.begin(), uniqueIDs.end());
    const auto& library = data_->allBookmarks();
    for (auto it = library.rbegin(); it != library.rend() && byID->size() < wanted.size(); ++it) {
      if (!*it) continue;
      const fnd::Value& id = (*it)->value(bookmark_attr::uniqueID);
      if (id.isString() && wanted.count(id.string())) byID->emplace(id.string(), *it);
    }
  }
  makeJobs(std::make_shared<std::vector<std::string>>(uniqueIDs), std::move(byID), 0);
}

// A batch of a thousand is made a slice at a time, so the window keeps drawing meanwhile.
void WebContentUpdater::makeJobs(std::shared_ptr<std::vector<std::string>> uniqueIDs, BookmarksByID byID,
                                 std::size_t from) {
  const std::size_t to = std::min(uniqueIDs->size(), from + kBatchSize);
  std::vector<std::shared_ptr<WebContent>> jobs;
  auto& cache = WebImageDownloadRequest::fileCacheManagerInstance();
  for (std::size_t i = from; i < to; ++i) {
    const std::string& id = (*uniqueIDs)[i];
    auto it = byID->find(id);
    auto bookmark = it != byID->end() ? it->second : Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(id));
    if (!bookmark || bookmark->isDeleted()) continue;
    // The list cells load exactly this address: without its cached picture they load it anew.
    const std::string page = fnd::removePercentEscapesOrKeep(bookmark->url().value_or(std::string()));
    const std::string thumbnail = Bookmark::thumbnailRequestURL(page, "l", 120);
    cache.clearCacheForFile(thumbnail);
    // Asked for: a picture that failed before is tried again at once.
    WebImageDownloadRequest::forgetFailures(thumbnail);
    jobs.push_back(WebContent::initWithBookmarkDictionary(bookmark->bookmarkAsDictionary(false), true, false));
  }
  start(jobs);
  if (to >= uniqueIDs->size()) return;
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, uniqueIDs, byID, to] {
    makeJobs(uniqueIDs, byID, to);
  }));
}

void WebContentUpdater::updateWebContentForSelectedBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!data_ || data_->selectedBookmarks().empty()) return;
  auto ids = std::make_shared<std::vector<std::string>>();
  for (const auto& b : data_->selectedBookmarks())
    if (auto id = b ? b->uniqueIDValue() : std::nullopt) ids->push_back(*id);
  // Marked as updating by the writing context, ahead of their results: a thousand rows saved
  // from here would hold the window up.
  if (auto context = backgroundContext()) {
    auto alive = lifetime_.watch();
    performWrite(*context, [this, alive, context, ids] {
      context->reset();
      fnd::Array values;
      for (const auto& id : *ids) values.push_back(fnd::Value(id));
      fnd::Error error;
      auto predicate = store::Predicate::parse("uniqueID IN %@", {fnd::Value(values)}, &error);
      for (const auto& b : Bookmark::fetchEntitiesWithPredicate(predicate, nullptr, 0, 0, context).value_or(Bookmark::List{}))
        b->setValueForKey("isUpdating", fnd::Value(true));
      auto saved = saveInBackground(*context);
      fnd::DispatchQueue::main().async([this, alive, saved] {
        if (alive) takeIn(*saved);
      });
    });
  }
  updateBookmarks(*ids);
}

void WebContentUpdater::updateWebContentForAllMissingBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
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
  KESTO_ASSERT_MAIN_THREAD();
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

// What one job reported, copied on the main thread for the writing context's queue. Not its
// address: a job fetches the page at the bookmark's own address, escaped for the request, and
// follows redirects without taking them, so the address it reports is the stored one spelt for
// the request. Stored back decoded, it would be another address ("%26" made "&", "%2F" made "/",
// "%2541" made "A"), so the address stays as the library holds it.
struct WebContentUpdater::Result {
  std::string uniqueID;
  std::optional<std::string> oldTitle, title;
  std::int64_t titleUpdated = 0, needsUpdate = 0, imageUpdated = 0;
  std::optional<fnd::Data> favicon;
  bool broken = false, preview = false;

  Result(const WebContent& job, bool isPreview)
      : uniqueID(job.uniqueID()), oldTitle(job.oldTitle()), title(job.title()), titleUpdated(job.titleUpdated()),
        needsUpdate(job.needsUpdate()), imageUpdated(job.imageUpdated()), favicon(job.favicon()),
        broken(job.broken()), preview(isPreview) {}

  // On the writing context's queue, over the stored bookmark as it is now. Answers whether the
  // broken mark changed.
  bool writeInto(Bookmark& b) const {
    const bool brokenChanged = (b.broken() >= 1) != broken;
    // The user's own changes since the job started win over what the page says.
    if (sameTitle(b.title(), oldTitle)) {
      b.setTitle(title);
      b.setTitleUpdated(titleUpdated);
    }
    if (favicon) b.setFavicon(favicon);
    b.setNeedsUpdate(needsUpdate);
    b.setImageUpdated(imageUpdated);
    b.setBroken(broken ? 1 : 0);
    b.setContent(std::string());
    b.setUpdatedDate(fnd::Date::now());
    b.updateBrokenImage();
    // A thumbnail the user set from a file stays until the user removes it.
    if (preview) b.setValueForKey("isUpdating", fnd::Value(false));
    return brokenChanged;
  }
  // A stored bookmark without a title reads as one blank.
  static bool sameTitle(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    auto blank = [](const std::optional<std::string>& t) { return !t || *t == " "; };
    return blank(a) ? blank(b) : a == b;
  }
};

void WebContentUpdater::receive(const std::shared_ptr<WebContent>& job, bool preview) {
  KESTO_ASSERT_MAIN_THREAD();
  if (finished_) return;
  if (auto it = previews_.find(job.get()); it != previews_.end()) {
    it->second = it->second || preview;
  } else {
    previews_.emplace(job.get(), preview);
    pending_.push_back(job);
  }
  if (scheduled_ || writing_) return;
  scheduleBatch();
}

void WebContentUpdater::scheduleBatch() {
  // Results arrive a few at a time: gathered for a moment, they cost the lists one update
  // instead of one per result.
  scheduled_ = true;
  fnd::DispatchQueue::main().after(kGatherSeconds, lifetime_.whileAlive([this] { writeBatch(); }));
}

std::shared_ptr<std::vector<WebContentUpdater::Result>> WebContentUpdater::takeResults(std::size_t n) {
  n = std::min(n, pending_.size());
  auto results = std::make_shared<std::vector<Result>>();
  for (std::size_t i = 0; i < n; ++i) {
    results->emplace_back(*pending_[i], previews_[pending_[i].get()]);
    previews_.erase(pending_[i].get());
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
  return results;
}

void WebContentUpdater::writeBatch() {
  scheduled_ = false;
  if (writing_ || pending_.empty() || finished_) return;
  auto context = backgroundContext();
  if (!context) return;
  auto results = takeResults(kBatchSize);
  writing_ = results->size();
  auto alive = lifetime_.watch();
  performWrite(*context, [this, alive, context, results] {
    auto inServices = std::make_shared<ServiceMembers>();
    bool brokenChanged = false;
    auto saved = writeResults(*context, *results, brokenChanged, *inServices);
    fnd::DispatchQueue::main().async([this, alive, saved, brokenChanged, inServices] {
      if (alive) merge(*saved, brokenChanged, *inServices);
    });
  });
}

std::shared_ptr<store::SaveNotification> WebContentUpdater::writeResults(store::Context& context,
                                                                         const std::vector<Result>& results,
                                                                         bool& brokenChanged, ServiceMembers& inServices) {
  // Read afresh: what the user saved since the last batch is what the guards compare with.
  context.reset();
  auto self = context.shared_from_this();
  for (const auto& r : results) {
    if (r.uniqueID.empty()) continue;
    // Looked up, never made: a bookmark deleted while its page was fetched stays deleted.
    auto b = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(r.uniqueID), self);
    if (!b || b->isDeleted()) continue;
    if (r.writeInto(*b)) brokenChanged = true;
    // Asked here, off the main thread: the main context would read every bookmark's set of
    // services from the store to find the few that have one.
    for (const auto& name : b->serviceNames())
      if (name == Service::kDelicious || name == Service::kPinboard) inServices.emplace_back(b->objectID(), name);
  }
  return saveInBackground(context);
}

void WebContentUpdater::performWrite(store::Context& context, std::function<void()> block) {
  {
    std::lock_guard lock(writes_->mutex);
    ++writes_->queued;
  }
  context.perform([writes = writes_, block = std::move(block)] {
    block();
    std::lock_guard lock(writes->mutex);
    if (--writes->queued == 0) writes->ended.notify_all();
  });
}

void WebContentUpdater::finishWriting() {
  KESTO_ASSERT_MAIN_THREAD();
  if (finished_) return;
  finished_ = true;
  // Pages not fetched yet are left for another time; what has arrived is written.
  queue_->cancelAllOperations();
  // The writes queued end first (they need nothing of the main thread: the writing context
  // saves straight to the store), then what has arrived since goes in one last one.
  {
    std::unique_lock lock(writes_->mutex);
    writes_->ended.wait(lock, [&] { return writes_->queued == 0; });
  }
  if (pending_.empty()) return;
  auto context = backgroundContext();
  if (!context) return;
  auto results = takeResults(pending_.size());
  context->performAndWait([context, results] {
    bool brokenChanged = false;
    ServiceMembers inServices;
    writeResults(*context, *results, brokenChanged, inServices);
  });
}

std::shared_ptr<store::Context> WebContentUpdater::backgroundContext() {
  if (bgContext_) return bgContext_;
  auto main = WrenDataManager::sharedInstance().managedObjectContext();
  if (!main) return nullptr;
  bgContext_ = store::Context::make(store::ConcurrencyType::PrivateQueue);
  bgContext_->setCoordinator(main->coordinator());
  bgContext_->setMergePolicy(store::MergePolicy::PropertyObjectTrump);
  bgContext_->setName("WebContent");
  return bgContext_;
}

std::shared_ptr<store::SaveNotification> WebContentUpdater::saveInBackground(store::Context& context) {
  auto saved = std::make_shared<store::SaveNotification>();
  if (context.hasChanges()) {
    const int token = context.addSaveObserver([saved](const store::SaveNotification& n) {
      saved->updatedIDs = n.updatedIDs;
      saved->relationshipsChanged = n.relationshipsChanged;
    });
    fnd::Error error;
    if (!context.save(&error)) {
      fnd::logError("Sync: Error saving temporary context:" + error.localizedDescription());
      context.rollback();
    }
    context.removeSaveObserver(token);
  }
  context.reset();
  return saved;
}

void WebContentUpdater::takeIn(const store::SaveNotification& saved) {
  auto main = WrenDataManager::sharedInstance().managedObjectContext();
  if (!main || saved.updatedIDs.empty()) return;
  // What a page says is no step of the user's: Undo must not take a fetched title back.
  fnd::UndoManager* undo = main->undoManager();
  if (undo) undo->disableUndoRegistration();
  main->mergeChangesFromSave(saved);
  if (undo) undo->enableUndoRegistration();
}

void WebContentUpdater::merge(const store::SaveNotification& saved, bool brokenChanged, const ServiceMembers& inServices) {
  writing_ = 0;
  auto main = WrenDataManager::sharedInstance().managedObjectContext();
  if (main && !saved.updatedIDs.empty()) {
    takeIn(saved);
    std::vector<std::shared_ptr<Bookmark>> touched;
    for (const auto& id : saved.updatedIDs)
      if (auto b = std::dynamic_pointer_cast<Bookmark>(main->objectRegisteredForID(id))) touched.push_back(b);
    // The online services hold the new title too.
    for (const auto& [id, service] : inServices)
      if (auto b = std::dynamic_pointer_cast<Bookmark>(main->objectRegisteredForID(id)))
        if (auto client = makeBookmarkServiceClient(service)) client->saveBookmark(*b);
    // The bookmarks are in the library already: only their rows are drawn again. A broken mark
    // changes only what the maintenance view finds.
    if (data_ && !touched.empty()) {
      ViewUpdater::updateBookmarkRows(touched);
      if (brokenChanged) ViewUpdater::updateMaintenance();
      // A fetched page dates the bookmark's change now: the History list counts it anew (only
      // while it is the list shown).
      ViewUpdater::updateHistory();
    }
  }
  if (!pending_.empty() && !scheduled_) scheduleBatch();
}

}  // namespace kesto
