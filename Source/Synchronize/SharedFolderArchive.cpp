#include "Synchronize/SharedFolderArchive.h"

#include "Support/AlertPresenter.h"

#include "Model/StoredText.h"
#include "Synchronize/KnownAddresses.h"
#include "Synchronize/SyncMerge.h"
#include "Synchronize/Synchronizer.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/FileManagerAdditions.h"
#include "Model/Folder.h"
#include "Model/FolderDummy.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Predicate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace {

constexpr const char* kArchiveErrorDomain = "KestoSharedFolderErrorDomain";

fnd::Error archiveError(long code, const std::string& text) {
  return fnd::Error::withDescription(kArchiveErrorDomain, code, text);
}

// The job slot is held from the start of a share or import to its end.
struct JobSlot {
  bool held = false;
  bool acquire() { return held = Synchronizer::beginExclusiveJob(); }
  void release() {
    if (held) Synchronizer::endExclusiveJob();
    held = false;
  }
};

}  // namespace

struct SharedFolderArchive::Impl {
  DataManager* dataManager = nullptr;
  std::function<void(bool)> sheet;
  bool skipDuplicates = false;
};

SharedFolderArchive::SharedFolderArchive() : d_(std::make_shared<Impl>()) {}
SharedFolderArchive::~SharedFolderArchive() = default;

void SharedFolderArchive::setDataManager(DataManager* dataManager) { d_->dataManager = dataManager; }
void SharedFolderArchive::setImportFolderSheet(std::function<void(bool)> sheet) { d_->sheet = std::move(sheet); }
void SharedFolderArchive::setSkipDuplicates(bool skip) { d_->skipDuplicates = skip; }
bool SharedFolderArchive::skipDuplicates() const { return d_->skipDuplicates; }

bool SharedFolderArchive::writeToExportFolder(const std::string& xml, const std::string& packagePath,
                                              fnd::Error* error) {
  fnd::Error local;
  fnd::Error* e = error ? error : &local;
  bool isDirectory = false;
  if (fnd::FileManager::fileExists(packagePath, &isDirectory) && !isDirectory) {
    *e = archiveError(1, "Something that is not an archive stands at " + packagePath);
    return false;
  }
  const std::string contents = packagePath + "/Contents";
  if (!fnd::FileManager::createDirectory(packagePath, true, fnd::kPrivateFolderMode, e) ||
      !fnd::FileManager::createDirectory(contents, true, fnd::kPrivateFolderMode, e))
    return false;
  if (!fnd::FileManager::writeFile(contents + "/kesto.xml", fnd::encodeUTF16LEWithBOM(xml), true,
                                   fnd::kPrivateFileMode, e))
    return false;
  if (!fnd::FileManager::createDirectory(contents + "/Resources", true, fnd::kPrivateFolderMode, e)) return false;
  const std::string plist = contents + "/Info.plist";
  if (fnd::FileManager::fileExists(plist) && !fnd::FileManager::removeItem(plist, e)) return false;
  return true;
}

std::optional<std::vector<Bookmark::Ref>> SharedFolderArchive::sharedContents(const std::shared_ptr<Folder>& folder,
                                                                              std::vector<Folder::Ref>& folders) {
  folders = {folder};
  for (const auto& sub : folder->subFolders())
    if (sub && sub != folder) folders.push_back(sub);
  // The shared folder's bookmarks are those its list shows (the list on screen when it is the
  // folder shown); then every bookmark of each subfolder. Each goes in once.
  std::vector<Bookmark::Ref> bookmarks;
  std::unordered_set<const Bookmark*> taken;
  auto take = [&](const Bookmark::List& list) {
    for (const auto& b : list)
      if (b && taken.insert(b.get()).second) bookmarks.push_back(b);
  };
  DataManager* shown = d_->dataManager;
  const bool listShown =
      shown && shown->currentFolder() == folder && !shown->isSearching() && !shown->loadingFromTags();
  if (listShown) take(shown->bookmarks());
  for (const auto& f : folders) {
    if (f == folder && listShown) continue;
    const char* format = f == folder ? "folder == %@ and trashed < 1 and blocked < 1" : "folder == %@";
    auto inFolder = Bookmark::fetchEntitiesWithPredicate(
        store::Predicate::parse(format, fnd::Array{fnd::Value(std::static_pointer_cast<fnd::Object>(f))}));
    if (!inFolder) return std::nullopt;
    take(*inFolder);
  }
  return bookmarks;
}

bool SharedFolderArchive::holdsCredentials(const std::shared_ptr<Folder>& folder) {
  if (!folder) return false;
  std::vector<Folder::Ref> folders;
  // A folder whose bookmarks cannot be read is asked about: its archive may carry them.
  auto bookmarks = sharedContents(folder, folders);
  if (!bookmarks) return true;
  for (const auto& b : *bookmarks)
    if (!b->login().value_or("").empty() || !b->password().value_or("").empty()) return true;
  return false;
}

std::optional<std::string> SharedFolderArchive::shareBookmarksToPath(const std::shared_ptr<Folder>& folder,
                                                                     const std::string& savePath, fnd::Error* error,
                                                                     bool includeCredentials) {
  fnd::Error local;
  fnd::Error* e = error ? error : &local;
  JobSlot slot;
  // Only failures are told here: the archive is saved once the caller has copied it to
  // `savePath`, and the caller says so then (a full disk can still stop the copy).
  auto finish = [&](bool ok) -> bool {
    slot.release();
    ViewUpdater::stopActivity();
    if (!ok) AlertPresenter::alert("Share", "Your Kesto archive could not be saved: " + e->localizedDescription(), "OK");
    return ok;
  };
  if (!folder) {
    *e = archiveError(2, "No folder to share");
    finish(false);
    return std::nullopt;
  }
  if (!slot.acquire()) {
    *e = archiveError(3, "A sync or another archive is in progress");
    finish(false);
    return std::nullopt;
  }

  std::vector<Folder::Ref> folders;
  auto bookmarks = sharedContents(folder, folders);
  if (!bookmarks) {
    *e = archiveError(4, "The folder's bookmarks could not be read");
    finish(false);
    return std::nullopt;
  }
  const std::string kestoID = fnd::UserDefaults::standard().stringForKey(Synchronizer::kKestoIDKey).value_or("");
  const std::string xml = SyncFile::writeSharedFolderFile(folders, *bookmarks, kestoID, fnd::StandardPaths::userName(),
                                                          includeCredentials);

  const std::string packagePath =
      kesto_tempFolderPath() + "/" + fnd::crypto::md5Hex(savePath, true) + "." + kExtension;
  // A package left by an earlier share to the same place is replaced, not merged into.
  if (fnd::FileManager::fileExists(packagePath)) fnd::FileManager::removeItem(packagePath);
  if (!writeToExportFolder(xml, packagePath, e)) {
    fnd::FileManager::removeItem(packagePath);
    finish(false);
    return std::nullopt;
  }
  finish(true);
  return packagePath;
}

namespace {

// Closes a descriptor when it goes.
struct Descriptor {
  int fd = -1;
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string archiveName(const std::string& path) {
  std::string name = fnd::FileManager::lastPathComponent(path);
  const std::string suffix = std::string(".") + SharedFolderArchive::kExtension;
  if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
    name.resize(name.size() - suffix.size());
  return name;
}

// Why something that was opened as an archive is none, in the user's words.
std::string notAnArchive(const std::string& path) {
  const std::string shown = "“" + fnd::FileManager::lastPathComponent(path) + "”";
  char head[2] = {};
  Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd >= 0 && ::read(file.fd, head, sizeof head) == 2 && head[0] == 'P' && head[1] == 'K')
    return shown + " is a zip file, not a Kesto archive. A Kesto archive is a folder; if the zip holds one, "
                   "unpack it and open that folder.";
  return shown + " is not a Kesto archive. A Kesto archive is a folder holding Contents/kesto.xml.";
}

}  // namespace

std::optional<std::string> SharedFolderArchive::readArchiveDocument(const std::string& packagePath,
                                                                    std::string* refusal) {
  const std::string shown = "“" + fnd::FileManager::lastPathComponent(packagePath) + "”";
  auto refuse = [&](const std::string& why) -> std::optional<std::string> {
    if (refusal) *refusal = why;
    return std::nullopt;
  };
  // Each step below the package is opened without following links, so a link planted in an
  // archive cannot make it read a file of the receiver's.
  Descriptor package(::open(packagePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (package.fd < 0) return refuse(notAnArchive(packagePath));
  Descriptor contents(::openat(package.fd, "Contents", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (contents.fd < 0)
    return refuse(errno == ELOOP || errno == ENOTDIR ? shown + " was refused: its Contents folder is a link or no folder."
                                                     : shown + " holds no Contents/kesto.xml.");
  Descriptor file(::openat(contents.fd, "kesto.xml", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0)
    return refuse(errno == ELOOP ? shown + " was refused: its Contents/kesto.xml is a link, which could point at any "
                                           "file outside the archive."
                                 : shown + " holds no Contents/kesto.xml.");
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse(shown + " holds no readable Contents/kesto.xml.");
  if (static_cast<std::uint64_t>(st.st_size) > kMaxDocumentBytes) return refuse(shown + " is too large to import.");
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refuse(shown + " could not be read.");
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxDocumentBytes) return refuse(shown + " is too large to import.");
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return fnd::decodeTextByBOM(bytes);
}

void SharedFolderArchive::rekeyFolders(SyncDocument& document, const std::string& topName) {
  std::unordered_map<std::string, std::string> newIDs;
  for (auto& folder : document.folders) {
    const std::string old = folder.folderID.isString() ? folder.folderID.string() : std::string();
    auto [it, inserted] = newIDs.emplace(old, WrenEntity::uniqueID());
    // A second folder with the same identifier is a separate copy, not a merge into the first.
    folder.folderID = inserted ? it->second : WrenEntity::uniqueID();
  }
  std::string topID;
  for (auto& folder : document.folders) {
    const std::string parent = folder.parentFolderID.isString() ? folder.parentFolderID.string() : std::string();
    auto it = newIDs.find(parent);
    if (it != newIDs.end())
      folder.parentFolderID = it->second;
    else
      folder.parentFolderID = std::string(Folder::kImportedID);
    if (topID.empty() && folder.parentFolderID.string() == Folder::kImportedID) topID = folder.folderID.string();
  }
  for (auto& bookmark : document.bookmarks) {
    const std::string old = bookmark.folderID.isString() ? bookmark.folderID.string() : std::string();
    if (auto it = newIDs.find(old); it != newIDs.end()) {
      bookmark.folderID = it->second;
      continue;
    }
    // A bookmark the archive puts in no folder at all goes to the Inbox.
    if (old == Folder::kInboxID) continue;
    // No folder of the archive holds it: never a folder with an identifier the sender chose.
    if (topID.empty()) {
      FolderDummy top;
      topID = WrenEntity::uniqueID();
      top.folderID = topID;
      top.parentFolderID = std::string(Folder::kImportedID);
      top.name = topName.empty() ? std::string("Untitled") : topName;
      top.orderIndex = 0;
      top.version = 0;
      top.isExpanded = 0;
      document.folders.push_back(std::move(top));
    }
    bookmark.folderID = topID;
  }
}

bool SharedFolderArchive::importSharedFolderFromPath(const std::string& path, std::function<void(bool)> completion) {
  bool isDirectory = false;
  if (path.empty() || !fnd::FileManager::fileExists(path, &isDirectory)) return false;
  if (!isDirectory) {
    // Opened as an archive, so the user expects one: say why nothing happens.
    AlertPresenter::alert("Import", notAnArchive(path));
    return false;
  }
  if (!Synchronizer::beginExclusiveJob()) {
    AlertPresenter::alert("Import", "A sync or another archive is in progress. Try again when it has ended.");
    return false;
  }
  if (d_->sheet) d_->sheet(true);
  ViewUpdater::showMessage("Importing...", 300, 100, 2);

  // How the import went, told at its end: every bookmark of the archive is accounted for.
  using Outcome = stored::ImportTally;
  auto impl = d_;
  auto done = [impl, completion, path](bool imported, const std::string& refusal = std::string(),
                                      Outcome outcome = {}) {
    // Main thread.
    if (imported) {
      if (impl->dataManager) impl->dataManager->fetchAllBookmarksFromCoreData();
      ViewUpdater::updateFoldersCompletely();
      // Every import ends saying how many bookmarks came in; what was skipped or left out is
      // told in a box, a plain end in a message that goes by itself.
      const std::string file = fnd::FileManager::lastPathComponent(path);
      const std::size_t n = outcome.imported;
      if (outcome.hasNews())
        AlertPresenter::inform("Import complete", stored::importMessage(file, outcome));
      else
        ViewUpdater::showMessage(std::to_string(n) + (n == 1 ? " bookmark imported" : " bookmarks imported"), 300, 100,
                                 2);
    } else {
      AlertPresenter::alert("Import", (refusal.empty() ? std::string("The archive could not be read.") : refusal) +
                                          " Nothing was imported.");
    }
    if (impl->sheet) impl->sheet(false);
    Synchronizer::endExclusiveJob();
    if (completion) completion(imported);
  };

  std::thread([path, done, skip = d_->skipDuplicates] {
    std::optional<SyncDocument> document;
    std::string refusal;
    // A character XML forbids (an older writer left one in a title) costs that character, not the
    // whole archive.
    if (auto text = readArchiveDocument(path, &refusal))
      document = SyncFile::read(SyncFile::stripInvalidXmlChars(*text), false);
    if (!document) {
      fnd::DispatchQueue::main().async([done, refusal] { done(false, refusal); });
      return;
    }
    // An archive carries folders and bookmarks only: never the folder-lock password, accounts
    // or deletions, whatever a crafted file holds.
    document->password.reset();
    document->services.clear();
    document->deletions.clear();
    Outcome outcome;
    // What comes from other people brings no script, and only what a library may hold (what the
    // add sheet would store): another library's folder keeps its browser-internal addresses.
    const bool heldBookmarks = !document->bookmarks.empty();
    std::erase_if(document->bookmarks, [&](const BookmarkDummy& b) {
      const auto why = b.url.isString() ? stored::whyImportLeavesOut(b.url.string(), stored::ImportedFrom::Archive)
                                        : stored::LeftOut::NoAddress;
      outcome.leftOut.count(why);
      return why != stored::LeftOut::None;
    });
    outcome.flattenedFolders = SyncFile::flattenDeepFolders(*document);
    rekeyFolders(*document, archiveName(path));
    auto context = WrenDataManager::sharedInstance().secondaryObjectContext();
    if (!context) {
      fnd::DispatchQueue::main().async([done] { done(false); });
      return;
    }
    auto shared = std::make_shared<SyncDocument>(std::move(*document));
    context->perform([context, shared, done, outcome, skip, path, heldBookmarks]() mutable {
      if (skip) {
        // The library's addresses and the archive's own apart: an address the archive repeats is
        // not one the library held.
        const KnownAddresses held = KnownAddresses::read(context);
        KnownAddresses taken;
        std::erase_if(shared->bookmarks, [&](const BookmarkDummy& b) {
          std::size_t* skipped = held.contains(b.url.string())   ? &outcome.alreadyHeld
                                 : !taken.insert(b.url.string()) ? &outcome.repeated
                                                                 : nullptr;
          if (skipped) ++*skipped;
          return skipped != nullptr;
        });
      }
      if (outcome.leftOut.total() || outcome.alreadyHeld || outcome.repeated)
        fnd::logInfo("Archive '" + path + "': " + std::to_string(outcome.leftOut.total()) + " left out, " +
                     std::to_string(outcome.alreadyHeld + outcome.repeated) + " duplicates skipped");
      // An archive whose every bookmark stays out adds nothing, not even its (then empty) folders.
      if (heldBookmarks && shared->bookmarks.empty()) {
        fnd::DispatchQueue::main().async([done, outcome] { done(true, std::string(), outcome); });
        return;
      }
      SyncMerge::Options options;
      options.isSync = false;
      options.cycleParent = Folder::kImportedID;
      SyncMerge::Result result = SyncMerge::processImport(*shared, context, options);
      if (!result.saved) fnd::logError("Sync: Error saving temporary context");
      outcome.imported = static_cast<std::size_t>(std::max(result.bookmarksCreated, 0));
      fnd::DispatchQueue::main().async([done, saved = result.saved, outcome] {
        // Through the entity layer, so a store that refuses it is told to the user like any save.
        auto main = WrenDataManager::sharedInstance().managedObjectContext();
        bool ok = saved && main && WrenEntity::saveContext(main);
        if (saved && !ok) fnd::logError("Sync: Error saving main context");
        done(ok, std::string(), outcome);
      });
    });
  }).detach();
  return true;
}

}  // namespace kesto
