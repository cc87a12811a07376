#pragma once

#include "Model/BookmarkDummy.h"
#include "Model/FolderDummy.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/FoundationForward.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

class Bookmark;
class Folder;

// Root element names of the two roles of the document.
inline constexpr const char* kSyncFileRoot = "kesto-sync-file";
inline constexpr const char* kSharedFolderFileRoot = "kesto-file";
// What a transport hands over when the remote side holds no payload yet.
// The identifier's attribute naming the upload that wrote a sync file: a copy of a library shares
// its identifier, never its uploads.
inline constexpr const char* kUploadAttribute = "upload";
inline constexpr const char* kEmptyLibraryMarker =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kesto-sync-file>missing.png</kesto-sync-file>";

// One online-service account as the document carries it.
struct SyncServiceRecord {
  std::string name, login, password;
};

// A deleted bookmark ("b") or folder ("f") with the version it had when deleted.
struct SyncTombstone {
  std::string objectID;
  std::int64_t version = 0;
  std::string type;
  bool operator==(const SyncTombstone&) const = default;
};

// The parsed content of a sync file or a shared-folder file. Values of the records are the
// entity values (strings, integers, dates); a null Value is "not in the document".
struct SyncDocument {
  std::string rootName;
  std::optional<std::string> kestoID;
  // The mark of the upload that wrote the file (the identifier's attribute), when it has one.
  std::optional<std::string> uploadID;
  // Absent when the document has no kesto-password element.
  std::optional<std::string> password;
  std::vector<FolderDummy> folders;
  std::vector<BookmarkDummy> bookmarks;
  std::vector<SyncServiceRecord> services;
  std::vector<SyncTombstone> deletions;
};

// Writes and reads the XML document that carries the library (a sync file) or one folder tree
// (a shared-folder file). Everything written is well-formed whatever the data: text is escaped,
// CDATA is split at "]]>" and characters XML forbids are dropped.
class SyncFile {
 public:
  // The sync file of the records in `context` (bookmarks that have a folder, folders that have a
  // name, every service, the folder-lock password), with `deletions` when non-empty and the mark
  // `uploadID` when given. Runs on the caller's thread; call it on the context's queue.
  static std::string writeSyncFile(const ContextRef& context, const std::string& kestoID,
                                   const std::vector<SyncTombstone>& deletions, const std::string& uploadID = {});

  // The shared-folder file of `folders` (the shared folder first, then its descendants) and
  // `bookmarks`. Folder and bookmark identifiers are replaced by fresh ones consistently, the top
  // folder's parent becomes "_imported", times visited 0, last visited empty, imported-from
  // `sharerName`. Credentials (login, password) are written only when `includeCredentials`.
  static std::string writeSharedFolderFile(const std::vector<std::shared_ptr<Folder>>& folders,
                                           const std::vector<std::shared_ptr<Bookmark>>& bookmarks,
                                           const std::string& kestoID, const std::string& sharerName,
                                           bool includeCredentials);

  // Parses a document of either role. Null (with `error`) when the text is shorter than 10
  // characters or not well-formed. Records are read leniently: a missing optional child takes
  // its default, and the older unescaped forms are accepted. In a sync (`isSync`) bookmarks keep
  // the document's identifiers; otherwise each gets a fresh one.
  // Texts are cleaned and bounded as the store keeps them; a bookmark whose address is longer
  // than the bound is dropped.
  static std::optional<SyncDocument> read(std::string_view text, bool isSync, fnd::Error* error = nullptr);
  // Drops the folders nested deeper than the bound, moving their bookmarks to the deepest folder
  // kept above them (a parent cycle counts from where it is entered). Answers how many went. For
  // imported archives: a sync keeps its peers' trees as they are.
  static std::size_t flattenDeepFolders(SyncDocument& document);

  // A bookmark or folder of this library as a peer reads it from the sync file this library
  // writes (dates in whole seconds, text as escaped and read back): what a merge compares an
  // incoming record with. Absent when the record cannot be written.
  static std::optional<BookmarkDummy> syncedRecord(const Bookmark& bookmark);
  static std::optional<FolderDummy> syncedRecord(const Folder& folder);

  // Only the library identifier ("//kesto-id"), ignoring the `nil="true"` placeholder; absent
  // when the document cannot be parsed or has none.
  static std::optional<std::string> readKestoID(std::string_view text);

  // Text helpers of the writer, exposed for the other writers of this library.
  // "&", "<", ">" and quotes escaped; characters XML forbids dropped.
  static std::string escapeText(std::string_view text);
  // A CDATA section (or several, split at "]]>"), forbidden characters dropped.
  static std::string cdata(std::string_view text);
  // Drops code points XML 1.0 forbids and invalid UTF-8 bytes.
  static std::string stripInvalidXmlChars(std::string_view text);
  // The description form of a date ("2015-03-07 18:04:59 +0000"); empty for none.
  static std::string dateText(const std::optional<fnd::Date>& date);
};

}  // namespace kesto
