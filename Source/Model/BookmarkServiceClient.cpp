#include "Model/BookmarkServiceClient.h"

#include "Platform/Foundation/Log.h"

#include <mutex>

namespace kesto {

namespace {

std::mutex gClientFactoryMutex;
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

void registerBookmarkServiceClientFactory(BookmarkServiceClientFactory factory) {
  std::lock_guard lock(gClientFactoryMutex);
  serviceClientFactory() = std::move(factory);
}

std::unique_ptr<BookmarkServiceClient> makeBookmarkServiceClient(const std::string& serviceName) {
  BookmarkServiceClientFactory factory;
  {
    std::lock_guard lock(gClientFactoryMutex);
    factory = serviceClientFactory();
  }
  if (factory) return factory(serviceName);
  return std::make_unique<LoggingServiceClient>(serviceName);
}

}  // namespace kesto
