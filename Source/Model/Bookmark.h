#pragma once

#include "Model/WrenEntity.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

class Folder;
class RemoteImageView;
class Tag;

// Typed accessors over the attribute slots of DataModel.
#define KESTO_STRING_ATTR(getter, setter)          \
  std::optional<std::string> getter() const;       \
  void setter(const std::optional<std::string>& v);
#define KESTO_INT_ATTR(getter, setter) \
  std::int64_t getter() const;         \
  void setter(std::int64_t v);
#define KESTO_DATE_ATTR(getter, setter)  \
  std::optional<fnd::Date> getter() const; \
  void setter(const std::optional<fnd::Date>& v);

// A bookmark of the library.
class Bookmark : public Entity<Bookmark> {
 public:
  static const char* entityName() { return "Bookmark"; }
  static constexpr const char* kNewTitle = "New bookmark";
  static constexpr const char* kUnknownURL = "http://unknown";
  static constexpr const char* kUnknownDictionaryURL = "http://unknown.url";
  // The page-thumbnail service: its access code, and the user default that overrides its host.
  static constexpr const char* kThumbnailAccessCode = "5d08e3b7a9";
  static constexpr const char* kThumbnailHostDefaultsKey = "KestoThumbnailServiceHost";
  static constexpr const char* kThumbnailDefaultHost = "https://thumbs.kesto.app";

  // The base address a bookmark shows as its site: the scheme in lower case, "://" and what
  // follows it up to the first "/" as written (user, password, host and port). An address
  // without "//" after its scheme gives the scheme alone ("mailto:"), a text naming no scheme
  // nothing.
  static std::string baseURLForAddress(std::string_view url);

  // Factories and finders. Nothing is saved unless said. A new bookmark's address is stored in
  // the form fnd::decodeAddressForStorage gives.
  static Ref newBookmark(const ContextRef& context = nullptr);
  // The bookmark whose url equals the text exactly, else a new one with the address.
  static Ref bookmarkWithURL(const std::string& url, const ContextRef& context = nullptr);
  // The bookmark with that identifier, else a new one with the address.
  static Ref bookmarkWithUniqueID(const std::string& uniqueID, const std::string& url,
                                  const ContextRef& context = nullptr);
  // New bookmarks in the main context, saved with saveBookmark. No folder means the Inbox.
  static Ref addBookmarkWithURL(const std::string& url, const std::shared_ptr<Folder>& folder);
  static void addBookmarkWithURL(const std::string& url, const std::string& folderID);
  // No folder; marked with the service of that name when it is "delicious" or "pinboard" and
  // connected, and the mark is saved too.
  static Ref addBookmarWithURL(const std::string& url, const std::string& serviceName);
  // In the Inbox with those tags (found by name or made); saved through incrementVersionNumber.
  static Ref addBookmarkWithURL(const std::string& url, const std::vector<std::string>& tagNames);

  // The bookmarks of a folder and of all its descendants that are neither trashed nor locked.
  // Identifiers are arguments, never predicate text.
  static store::PredicateRef buildPredicateForFolder(const std::string& folderID);
  // The folder's identifier followed by those of all its descendants.
  static std::vector<std::string> folderIDsForFolder(const std::string& folderID);
  static List fetchBookmarksWithAncestorFolderId(const std::string& folderID,
                                                 const std::vector<store::SortDescriptor>& sorts, std::int64_t limit);
  static void deleteBookmarks(const List& bookmarks, const ContextRef& context = nullptr);
  static void deleteBookmarksFromService(const fnd::Value&) {}

  // Version + 1 and save, updated date, save again, then post to the bookmark's services. True
  // when the store took the change; a failure is reported through WrenEntity, and the change
  // stays in memory for the next save.
  bool saveBookmark();
  void incrementVersionNumber();
  void willSave() override;
  void awakeFromFetch() override;
  void deleteBookmark();
  void deleteBookmarkInContext(const ContextRef& context);
  void deleteFromServices(const std::string& url);
  // Removes the cached image file; ignores every error.
  void deleteChacheItems();
  bool isDelicious() const;
  bool isPinboard() const;
  std::string completePath() const;
  bool hasTag(const Tag& tag) const;
  // Tag names sorted (plain comparison), and those joined with ", ".
  std::vector<std::string> sortedTagNames() const;
  std::string tagsAsString() const;
  // "bookmark_<colour>" for the six colour words; absent otherwise.
  std::optional<std::string> currentColorImage() const;
  void updateColorImage() {}
  void updateFavoriteImage() {}
  void updateBrokenImage() {}
  void updatePinboardImage() {}
  void updateDeliciousImage() {}
  void updatePrivateImage() {}
  // The page fetcher's view of the bookmark. Without the thumbnail, no picture is read from the
  // store (the fetch never needs it).
  fnd::Dictionary bookmarkAsDictionary(bool withThumbnail = true);
  // Fills tmpThumbnail: the stored thumbnail when set by hand, else a request to the service.
  void tempThumbnail();
  // The thumbnail request for a page address: every parameter fully encoded. `wait` <= 0 leaves
  // the wait parameter out. Empty for an address that is not http or https.
  static std::string thumbnailRequestURL(const std::string& pageURL, const std::string& size, int wait);
  std::optional<std::string> previewURL() const;
  // The cache file for this bookmark; absent when the identifier is not a safe file name.
  std::optional<std::string> faviconFilePath() const;
  std::optional<std::string> previewFilePath() const { return faviconFilePath(); }
  std::optional<std::string> previewItemURL() const { return previewURL(); }
  std::optional<std::string> previewItemTitle() const { return title(); }
  std::optional<std::string> previewFolderPath() const { return std::nullopt; }

  // In-memory state.
  const std::string& folderID() const { return folderID_; }
  void setFolderID(const std::string& v) { folderID_ = v; }
  bool isSelected() const { return isSelected_; }
  void setIsSelected(bool v) { isSelected_ = v; }
  const std::shared_ptr<RemoteImageView>& tmpThumbnail() const { return tmpThumbnail_; }
  void setTmpThumbnail(std::shared_ptr<RemoteImageView> v) { tmpThumbnail_ = std::move(v); }

  KESTO_STRING_ATTR(uniqueIDValue, setUniqueID)
  KESTO_STRING_ATTR(url, setUrl)
  KESTO_STRING_ATTR(baseURL, setBaseURL)
  KESTO_STRING_ATTR(title, setTitle)
  KESTO_STRING_ATTR(notes, setNotes)
  KESTO_STRING_ATTR(content, setContent)
  KESTO_STRING_ATTR(importedFrom, setImportedFrom)
  KESTO_STRING_ATTR(color, setColor)
  KESTO_STRING_ATTR(login, setLogin)
  KESTO_STRING_ATTR(password, setPassword)
  KESTO_STRING_ATTR(serviceHash, setServiceHash)
  KESTO_DATE_ATTR(addedDate, setAddedDate)
  KESTO_DATE_ATTR(updatedDate, setUpdatedDate)
  KESTO_DATE_ATTR(importDate, setImportDate)
  KESTO_DATE_ATTR(lastOpened, setLastOpened)
  KESTO_INT_ATTR(timesOpened, setTimesOpened)
  KESTO_INT_ATTR(isFavorite, setIsFavorite)
  KESTO_INT_ATTR(trashed, setTrashed)
  KESTO_INT_ATTR(blocked, setBlocked)
  KESTO_INT_ATTR(broken, setBroken)
  KESTO_INT_ATTR(needsUpdate, setNeedsUpdate)
  KESTO_INT_ATTR(titleUpdated, setTitleUpdated)
  // A title the user typed (in any editor): settled, so no later page fetch replaces it.
  void setTitleFromUser(const std::string& title) {
    setTitle(title);
    setTitleUpdated(1);
  }
  KESTO_INT_ATTR(imageUpdated, setImageUpdated)
  KESTO_INT_ATTR(thumbnailManuallySet, setThumbnailManuallySet)
  KESTO_INT_ATTR(showImported, setShowImported)
  KESTO_INT_ATTR(version, setVersion)
  std::optional<double> rating() const;
  void setRating(const std::optional<double>& v);
  std::optional<fnd::Data> thumbnail() const;
  void setThumbnail(const std::optional<fnd::Data>& v);
  std::optional<fnd::Data> favicon() const;
  void setFavicon(const std::optional<fnd::Data>& v);

  std::shared_ptr<Folder> folder() const;
  void setFolder(const std::shared_ptr<Folder>& folder);
  std::vector<std::shared_ptr<Tag>> tags() const;
  // Reads the tags and services (what a list's cell shows of them) of those of `bookmarks` not
  // read yet, in one go for the rows a list is about to show, so that asking each one afterwards
  // reads nothing.
  static void loadTagsAndServices(const List& bookmarks);
  void addTag(const std::shared_ptr<Tag>& tag);
  void removeTag(const std::shared_ptr<Tag>& tag);
  // Names of the services the bookmark is mirrored to.
  std::vector<std::string> serviceNames() const;
  void addService(const store::ManagedObjectRef& service);

 private:
  bool belongsToService(const char* name) const;
  static Ref addCommon(const std::string& url);

  std::string folderID_;
  bool isSelected_ = false;
  std::shared_ptr<RemoteImageView> tmpThumbnail_;
};

#undef KESTO_STRING_ATTR
#undef KESTO_INT_ATTR
#undef KESTO_DATE_ATTR

}  // namespace kesto
