#pragma once

#include "Platform/Foundation/Value.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Interfaces the library core calls in subsystems above it. The owners register their
// implementations at start-up; until then the defaults below stand in, and tests register fakes.
namespace kesto {

class Bookmark;

// An image view that loads its picture from a URL (the bookmark thumbnail view).
class RemoteImageView {
 public:
  virtual ~RemoteImageView() = default;
  // Cancels the running load and starts one for `url` (nothing: just cancels).
  virtual void setImageURL(const std::optional<std::string>& url) = 0;
  // Shows encoded image data directly (nothing clears the view).
  virtual void setImageData(const std::optional<fnd::Data>& image) = 0;
};

// Makes the thumbnail image views; the default makes views that remember what they were told
// and show nothing.
using RemoteImageViewFactory = std::function<std::shared_ptr<RemoteImageView>(double x, double y, double width, double height)>;
void registerRemoteImageViewFactory(RemoteImageViewFactory factory);
std::shared_ptr<RemoteImageView> makeRemoteImageView(double x, double y, double width, double height);

// The view that stands in until the controls subsystem registers its own.
class RecordingImageView : public RemoteImageView {
 public:
  void setImageURL(const std::optional<std::string>& url) override { imageURL = url; }
  void setImageData(const std::optional<fnd::Data>& image) override { imageData = image; }
  std::optional<std::string> imageURL;
  std::optional<fnd::Data> imageData;
  double x = 0, y = 0, width = 0, height = 0;
};

// The preferences the in-memory library reads on every list computation.
class Preferences {
 public:
  virtual ~Preferences() = default;
  virtual bool sortFoldersByDateAscending() const = 0;
  virtual bool sortFoldersByDateDescending() const = 0;
  virtual bool sortFoldersAlfabetically() const = 0;
  virtual bool sortFoldersByFavorite() const = 0;
  virtual bool sortFoldersByRating() const = 0;
  virtual bool sortFoldersByMostVisited() const = 0;
  virtual bool sortInboxByDateAscending() const = 0;
  virtual bool sortInboxByDateDescending() const = 0;
  virtual bool showBookmarksInSubFolders() const = 0;
  virtual bool showALLTags() const = 0;
};

// Plain values, for tests and for callers that hold their own settings.
struct PreferenceValues : Preferences {
  bool dateAscending = false, dateDescending = true, alphabetically = false, favorite = false, rating = false,
       mostVisited = false, inboxAscending = false, inboxDescending = true, subFolders = false, allTags = false;
  bool sortFoldersByDateAscending() const override { return dateAscending; }
  bool sortFoldersByDateDescending() const override { return dateDescending; }
  bool sortFoldersAlfabetically() const override { return alphabetically; }
  bool sortFoldersByFavorite() const override { return favorite; }
  bool sortFoldersByRating() const override { return rating; }
  bool sortFoldersByMostVisited() const override { return mostVisited; }
  bool sortInboxByDateAscending() const override { return inboxAscending; }
  bool sortInboxByDateDescending() const override { return inboxDescending; }
  bool showBookmarksInSubFolders() const override { return subFolders; }
  bool showALLTags() const override { return allTags; }
};

// Reads the preferences from user defaults with the first-run rules of the preferences panel
// (used until the panel's controller is registered): on first run (no "sortFoldersByRating"
// stored) the rating, most-visited, favourite and alphabetical options are off; without an inbox
// option date-descending is on; without a folder mode date-descending is on. "showALLTags" is
// off until the panel sets it.
PreferenceValues readPreferencesFromUserDefaults();

void registerPreferences(std::shared_ptr<Preferences> preferences);
// The registered preferences, or a fresh read of user defaults.
std::shared_ptr<const Preferences> currentPreferences();

// An online bookmark-service client ("delicious" or "pinboard"). Posting is asynchronous; the
// outcome never comes back to the library core.
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
