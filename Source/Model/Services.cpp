#include "Model/Services.h"

#include "Model/Bookmark.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/UserDefaults.h"

#include <mutex>

namespace kesto {

namespace {

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}

RemoteImageViewFactory& imageViewFactory() {
  static RemoteImageViewFactory f;
  return f;
}

std::shared_ptr<Preferences>& registeredPreferences() {
  static std::shared_ptr<Preferences> p;
  return p;
}

BookmarkServiceClientFactory& serviceClientFactory() {
  static BookmarkServiceClientFactory f;
  return f;
}

// Stands in until the synchronisation subsystem registers the real clients.
class LoggingServiceClient : public BookmarkServiceClient {
 public:
  explicit LoggingServiceClient(std::string name) : name_(std::move(name)) {}
  void saveBookmark(Bookmark&) override {
    fnd::logFormat(fnd::LogFlag::Info, "No %s client registered: bookmark not posted", name_.c_str());
  }
  void deleteBookmark(const std::string&) override {
    fnd::logFormat(fnd::LogFlag::Info, "No %s client registered: deletion not posted", name_.c_str());
  }
  void deleteTag(const std::string&) override {
    fnd::logFormat(fnd::LogFlag::Info, "No %s client registered: tag deletion not posted", name_.c_str());
  }

 private:
  std::string name_;
};

}  // namespace

void registerRemoteImageViewFactory(RemoteImageViewFactory factory) {
  std::lock_guard lock(registryMutex());
  imageViewFactory() = std::move(factory);
}

std::shared_ptr<RemoteImageView> makeRemoteImageView(double x, double y, double width, double height) {
  RemoteImageViewFactory factory;
  {
    std::lock_guard lock(registryMutex());
    factory = imageViewFactory();
  }
  if (factory) return factory(x, y, width, height);
  auto view = std::make_shared<RecordingImageView>();
  view->x = x;
  view->y = y;
  view->width = width;
  view->height = height;
  return view;
}

PreferenceValues readPreferencesFromUserDefaults() {
  auto& d = fnd::UserDefaults::standard();
  PreferenceValues p;
  p.dateAscending = d.boolForKey("sortFoldersByDateAscending");
  p.dateDescending = d.boolForKey("sortFoldersByDateDescending");
  p.alphabetically = d.boolForKey("sortFoldersAlfabetically");
  p.favorite = d.boolForKey("sortFoldersByFavorite");
  p.rating = d.boolForKey("sortFoldersByRating");
  p.mostVisited = d.boolForKey("sortFoldersByMostVisited");
  p.inboxAscending = d.boolForKey("sortInboxByDateAscending");
  p.inboxDescending = d.boolForKey("sortInboxByDateDescending");
  p.subFolders = d.boolForKey("showBookmarksInSubFolders");
  // Set only from the preferences panel.
  p.allTags = false;
  if (!d.hasValueForKey("sortFoldersByRating")) {
    p.rating = p.mostVisited = p.favorite = p.alphabetically = false;
  }
  if (!p.inboxAscending && !p.inboxDescending) p.inboxDescending = true;
  if (!p.dateAscending && !p.dateDescending && !p.alphabetically) p.dateDescending = true;
  return p;
}

void registerPreferences(std::shared_ptr<Preferences> preferences) {
  std::lock_guard lock(registryMutex());
  registeredPreferences() = std::move(preferences);
}

std::shared_ptr<const Preferences> currentPreferences() {
  {
    std::lock_guard lock(registryMutex());
    if (registeredPreferences()) return registeredPreferences();
  }
  return std::make_shared<PreferenceValues>(readPreferencesFromUserDefaults());
}

void registerBookmarkServiceClientFactory(BookmarkServiceClientFactory factory) {
  std::lock_guard lock(registryMutex());
  serviceClientFactory() = std::move(factory);
}

std::unique_ptr<BookmarkServiceClient> makeBookmarkServiceClient(const std::string& serviceName) {
  BookmarkServiceClientFactory factory;
  {
    std::lock_guard lock(registryMutex());
    factory = serviceClientFactory();
  }
  if (factory) return factory(serviceName);
  return std::make_unique<LoggingServiceClient>(serviceName);
}

}  // namespace kesto
