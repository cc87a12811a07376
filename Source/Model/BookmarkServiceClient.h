#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kesto {

class Bookmark;

// An online bookmark-service client ("delicious" or "pinboard"). Posting is asynchronous; the
// outcome never comes back to the library core. The synchronisation subsystem registers the
// real clients at start-up.
class BookmarkServiceClient {
 public:
  virtual ~BookmarkServiceClient() = default;
  virtual void saveBookmark(Bookmark& bookmark) = 0;
  virtual void deleteBookmark(const std::string& url) = 0;
  // Removes the tag from every post of the account; clients without the call ignore it.
  virtual void deleteTag(const std::string& name) {}
};

// Makes a client for a service name; the default gives a client whose posts are logged no-ops.
using BookmarkServiceClientFactory = std::function<std::unique_ptr<BookmarkServiceClient>(const std::string& serviceName)>;
void registerBookmarkServiceClientFactory(BookmarkServiceClientFactory factory);
std::unique_ptr<BookmarkServiceClient> makeBookmarkServiceClient(const std::string& serviceName);

}  // namespace kesto
