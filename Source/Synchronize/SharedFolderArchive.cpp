#include "Synchronize/SharedFolderArchive.h"

#include "Views/AlertPresenter.h"
#include "Synchronize/SyncMerge.h"
#include "Synchronize/Synchronizer.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/FileManagerAdditions.h"
#include "Model/Folder.h"
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

#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace {

constexpr const char* kErrorDomain = "KestoSharedFolderErrorDomain";

fnd::Error archiveError(long code, const std::string& text) {
  return fnd::Error::withDescription(kErrorDomain, code, text);
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
};

SharedFolderArchive::SharedFolderArchive() : d_(std::make_shared<Impl>()) {}
SharedFolderArchive::~SharedFolderArchive() = default;

void SharedFolderArchive::setDataManager(DataManager* dataManager) { d_->dataManager = dataManager; }
void SharedFolderArchive::setImportFolderSheet(std::function<void(bool)> sheet) { d_->sheet = std::move(sheet); }

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
  if (!fnd::FileManager::createDirectory(packagePath, true, 0755, e) ||
      !fnd::FileManager::createDirectory(contents, true, 0755, e))
    return false;
  if (!fnd::FileManager::writeFile(contents + "/kesto.xml", fnd::encodeUTF16LEWithBOM(xml), true, 0644, e)) return false;
  if (!fnd::FileManager::createDirectory(contents + "/Resources", true, 0755, e)) return false;
  const std::string plist = contents + "/Info.plist";
  if (fnd::FileManager::fileExists(plist) && !fnd::FileManager::removeItem(plist, e)) return false;
  return true;
}

std::optional<std::string> SharedFolderArchive::shareBookmarksToPath(const std::shared_ptr<Folder>& folder,
                                                                     const std::string& savePath, fnd::Error* error) {
  fnd::Error local;
  fnd::Error* e = error ? error : &local;
  JobSlot slot;
  auto finish = [&](bool ok) -> bool {
    slot.release();
    ViewUpdater::stopActivity();
    if (ok)
      AlertPresenter::alert("Share", "Your kesto archive has been saved", "OK");
    else
      AlertPresenter::alert("Share", "Your kesto archive could not be saved: " + e->localizedDescription(), "OK");
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

  std::vector<Folder::Ref> folders{folder};
  for (const auto& sub : folder->subFolders())
    if (sub && sub != folder) folders.push_back(sub);
  std::vector<Bookmark::Ref> bookmarks;
  for (const auto& f : folders) {
    auto inFolder = Bookmark::fetchEntitiesWithPredicate(
        store::Predicate::parse("folder == %@", fnd::Array{fnd::Value(std::static_pointer_cast<fnd::Object>(f))}));
    if (!inFolder) {
      *e = archiveError(4, "The folder's bookmarks could not be read");
      finish(false);
      return std::nullopt;
    }
    bookmarks.insert(bookmarks.end(), inFolder->begin(), inFolder->end());
  }
  const std::string kestoID = fnd::UserDefaults::standard().stringForKey(Synchronizer::kKestoIDKey).value_or("");
  const std::string xml =
      SyncFile::writeSharedFolderFile(folders, bookmarks, kestoID, fnd::StandardPaths::userName(), true);

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

std::optional<std::string> SharedFolderArchive::readArchiveDocument(const std::string& packagePath) {
  auto bytes = fnd::FileManager::readFile(packagePath + "/Contents/kesto.xml", kMaxDocumentBytes);
  if (!bytes) return std::nullopt;
  return fnd::decodeTextByBOM(*bytes);
}

void SharedFolderArchive::rekeyFolders(SyncDocument& document) {
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
    if (auto it = newIDs.find(old); it != newIDs.end())
      bookmark.folderID = it->second;
    else if (!topID.empty())
      bookmark.folderID = topID;
  }
}

bool SharedFolderArchive::importSharedFolderFromPath(const std::string& path, std::function<void(bool)> completion) {
  bool isDirectory = false;
  if (path.empty() || !fnd::FileManager::fileExists(path, &isDirectory) || !isDirectory) return false;
  if (!Synchronizer::beginExclusiveJob()) {
    AlertPresenter::alert("Import", "A sync or another archive is in progress. Try again when it has ended.");
    return false;
  }
  if (d_->sheet) d_->sheet(true);
  ViewUpdater::showMessage("Importing...");

  auto impl = d_;
  auto done = [impl, completion](bool imported) {
    // Main thread.
    if (imported) {
      if (impl->dataManager) impl->dataManager->fetchAllBookmarksFromCoreData();
      ViewUpdater::updateFoldersCompletely();
    } else {
      AlertPresenter::alert("Import", "The archive could not be read. Nothing was imported.");
    }
    if (impl->sheet) impl->sheet(false);
    Synchronizer::endExclusiveJob();
    if (completion) completion(imported);
  };

  std::thread([path, done] {
    std::optional<SyncDocument> document;
    if (auto text = readArchiveDocument(path)) document = SyncFile::read(*text, false);
    if (!document) {
      fnd::DispatchQueue::main().async([done] { done(false); });
      return;
    }
    // An archive carries folders and bookmarks only: never the folder-lock password, accounts
    // or deletions, whatever a crafted file holds.
    document->password.reset();
    document->services.clear();
    document->deletions.clear();
    rekeyFolders(*document);
    auto context = WrenDataManager::sharedInstance().secondaryObjectContext();
    if (!context) {
      fnd::DispatchQueue::main().async([done] { done(false); });
      return;
    }
    auto shared = std::make_shared<SyncDocument>(std::move(*document));
    context->perform([context, shared, done] {
      SyncMerge::Options options;
      options.isSync = false;
      options.cycleParent = Folder::kImportedID;
      SyncMerge::Result result = SyncMerge::processImport(*shared, context, options);
      if (!result.saved) fnd::logError("Sync: Error saving temporary context");
      fnd::DispatchQueue::main().async([done, saved = result.saved] {
        fnd::Error error;
        auto main = WrenDataManager::sharedInstance().managedObjectContext();
        bool ok = saved && main && main->save(&error);
        if (saved && !ok) fnd::logError("Sync: Error saving main context:" + error.localizedDescription());
        done(ok);
      });
    });
  }).detach();
  return true;
}

}  // namespace kesto
