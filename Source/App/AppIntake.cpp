#include "App/AppIntake.h"

#include "App/BookmarkIntake.h"
#include "App/BookmarksController.h"
#include "App/PreferencesController.h"
#include "App/TransferDialogs.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/StoredText.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Store/Context.h"
#include "Platform/System/UserNotifications.h"
#include "Support/AlertPresenter.h"
#include "Synchronize/SharedFolderArchive.h"

#include <algorithm>
#include <optional>

namespace kesto {

namespace {

constexpr const char* kBookmarkAdded = "Bookmark added";
constexpr const char* kBookmarkSkipped = "Bookmark skipped (already present)";
constexpr const char* kNotAnAddress = "Bookmark skipped (not a valid address)";
// A refused line is shown and logged at most this long.
constexpr std::size_t kToldLineBytes = 200;

}  // namespace

AppIntake::AppIntake() = default;

AppIntake::~AppIntake() { lifetime_.end(); }

void AppIntake::getUrl(const std::string& urlText) {
  KESTO_ASSERT_MAIN_THREAD();
  auto text = intake::textFromSchemeURL(urlText);
  if (!text) return;  // not ours, or the menu-bar payload: nothing to add
  // Split on white space already, before its escapes were decoded.
  urlToBeAdded_ = *text;
  addUrlFromBrowserExtension();
}

void AppIntake::addPinUrlFromString(const std::string& text) {
  urlToBeAdded_ = intake::separatedOnWhiteSpace(text);
  addUrlFromBrowserExtension();
}

bool AppIntake::openFile(const std::string& path) {
  fileToBeImported_ = path;
  importSharedFolderFromDoubleClick();
  return true;
}

bool AppIntake::openFiles(const std::vector<std::string>& paths) {
  KESTO_ASSERT_MAIN_THREAD();
  if (paths.empty()) return false;
  return openFile(paths.front());
}

void AppIntake::importSharedFolderFromDoubleClick() {
  if (fileToBeImported_.empty()) return;
  std::string path = std::move(fileToBeImported_);
  fileToBeImported_.clear();
  if (!archive_) archive_ = std::make_unique<SharedFolderArchive>();
  archive_->setDataManager(wiring_.data);
  auto start = [this, path](bool skipDuplicates) {
    archive_->setSkipDuplicates(skipDuplicates);
    if (!archive_->importSharedFolderFromPath(path)) fnd::logWarning("Could not import the shared folder " + path);
  };
  // Only an archive is asked about (anything else is refused with its reason), as the File
  // menu's import asks: in a turn of its own, for the path may come with another launch's
  // hand-over.
  bool isDirectory = false;
  if (!fnd::FileManager::fileExists(path, &isDirectory) || !isDirectory) return start(false);
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, start] {
    AlertPresenter::ask(TransferDialogs::kSkipDuplicatesInArchiveQuestion, TransferDialogs::kSkipDuplicatesInformation,
                        {"Yes", "No", "Cancel"}, lifetime_.whileAlive([start](int answer) {
                          if (answer == 0 || answer == 1) start(answer == 0);
                        }));
  }));
}

void AppIntake::addUrlFromBrowserExtension(Saved saved, bool onlyMissing) {
  auto nothingToSave = [&] {
    if (saved) saved(true);
  };
  if (urlToBeAdded_.empty()) return nothingToSave();
  const std::string text = std::move(urlToBeAdded_);
  urlToBeAdded_.clear();
  if (text.size() > intake::kMaximumIntakeBytes) {
    fnd::logWarning("Refused a text of " + std::to_string(text.size()) + " bytes handed in to add bookmarks");
    return nothingToSave();
  }
  // A hand-over is one change however many lines it holds: one save and one refresh of each
  // view. The bookmarks are made in this turn of the event loop (one undoable change), saved in
  // the next, and the list and then the other views catch up in the turns after, so the user
  // waits several times briefly instead of once for all of it.
  auto oneRefresh = std::make_shared<ViewUpdater::Coalescing>();
  std::optional<WrenEntity::SaveBatch> oneSave(std::in_place);
  std::size_t addresses = 0;
  PreferencesController fallback;
  const PreferencesController& prefs = wiring_.preferences ? *wiring_.preferences : fallback;
  DataManager* data = wiring_.data;
  const bool active = wiring_.applicationIsActive && wiring_.applicationIsActive();
  const bool fromDelicious = data && data->loadingFromDelicious();
  const bool fromPinboard = data && data->loadingFromPinboard();
  Folder::Ref target;
  std::vector<std::shared_ptr<Bookmark>> made;
  std::string firstRefused;
  std::size_t refused = 0;
  for (const auto& line : intake::splitLines(text)) {
    ViewUpdater::updateBookmarks();
    auto address = intake::addressFromLine(line);
    if (!address) {
      // Meant as an address but none: the sender hears of it instead of losing it unseen.
      if (intake::looksLikeAddress(line) && refused++ == 0)
        firstRefused = stored::truncated(stored::withoutForbiddenCharacters(line), kToldLineBytes);
      continue;
    }
    if (++addresses > intake::kMaximumAddressesPerIntake) {
      fnd::logWarning("Only the first " + std::to_string(intake::kMaximumAddressesPerIntake) +
                      " addresses of a handed-in text were added");
      break;
    }
    if (!target) {
      target = Folder::inboxFolder();
      if (!prefs.useInboxForBookmarks() && active && data && data->currentFolder()) target = data->currentFolder();
    }
    std::string message = kBookmarkAdded;
    // Addresses are stored decoded, so the comparison uses the decoded form; each check is one
    // indexed look-up by address.
    const std::string stored = intake::storedFormOfAddress(*address);
    auto presentInService = [&](const char* service) {
      for (const auto& b : Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(stored)).value_or(Bookmark::List{})) {
        auto names = b->serviceNames();
        if (std::find(names.begin(), names.end(), service) != names.end()) return true;
      }
      return false;
    };
    std::shared_ptr<Bookmark> bookmark;
    if (prefs.skipDuplicates() || onlyMissing) {
      if (Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(stored))) {
        message = kBookmarkSkipped;
      } else if (fromDelicious) {
        bookmark = Bookmark::addBookmarWithURL(*address, "delicious");
      } else if (fromPinboard) {
        bookmark = Bookmark::addBookmarWithURL(*address, "pinboard");
      } else {
        bookmark = Bookmark::addBookmarkWithURL(*address, target);
      }
    } else if (fromDelicious || fromPinboard) {
      const char* service = fromDelicious ? "delicious" : "pinboard";
      if (presentInService(service)) message = kBookmarkSkipped;
      else bookmark = Bookmark::addBookmarWithURL(*address, service);
    } else {
      bookmark = Bookmark::addBookmarkWithURL(*address, target);
    }
    if (bookmark) made.push_back(std::move(bookmark));
    ViewUpdater::updateSourceLists();
    sys::UserNotificationCenter::defaultCenter().deliverNotification(
        {message, *address, sys::kUserNotificationDefaultSoundName});
  }
  const bool toSave = oneSave->endWithoutSaving();
  oneSave.reset();
  if (refused > 0) {
    const std::string more = refused > 1 ? " and " + std::to_string(refused - 1) + " more" : std::string();
    fnd::logWarning("Skipped a handed-in line that is not a valid address: " +
                    fnd::withoutAddressPasswords(firstRefused) + more);
    sys::UserNotificationCenter::defaultCenter().deliverNotification(
        {kNotAnAddress, firstRefused + more, sys::kUserNotificationDefaultSoundName});
  }
  if (made.empty() && saved) {
    saved(true);
    saved = nullptr;
  }
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().async([this, alive, toSave, hold = std::move(oneRefresh), made = std::move(made),
                                    saved = std::move(saved)]() mutable {
    // Saved whatever became of the intake meanwhile: the bookmarks are in the library.
    if (toSave) WrenEntity::saveContext();
    // What the save could not write is still pending; a save in between (another change) may
    // have written them already.
    if (saved)
      saved(std::none_of(made.begin(), made.end(), [](const std::shared_ptr<Bookmark>& b) { return b->isInserted(); }));
    fnd::DispatchQueue::main().async([this, alive, hold = std::move(hold), made = std::move(made)]() mutable {
      if (alive && wiring_.bookmarksController) wiring_.bookmarksController->updateBookmarks(made);
      fnd::DispatchQueue::main().async([hold = std::move(hold)]() mutable { hold.reset(); });
    });
  });
}

void AppIntake::handleArguments(const std::vector<std::string>& arguments, Saved saved) {
  KESTO_ASSERT_MAIN_THREAD();
  // One launch's texts are one intake, so its bounds hold however many arguments it carries.
  std::string text;
  bool anyText = false;
  auto append = [&](const std::string& piece) {
    if (anyText) text += '\n';
    text += piece;
    anyText = true;
  };
  std::vector<std::string> paths;
  bool onlyMissing = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == intake::kOnlyMissingArgument) {
      onlyMissing = true;
    } else if (arg == "--add-text") {
      if (i + 1 < arguments.size()) append(intake::separatedOnWhiteSpace(arguments[++i]));
    } else if (arg.compare(0, 6, intake::kSchemePrefix) == 0) {
      if (auto decoded = intake::textFromSchemeURL(arg)) append(*decoded);
    } else if (!arg.empty() && arg[0] != '-') {
      paths.push_back(arg);
    }
  }
  if (anyText) {
    // Split on white space already: a scheme URL's escaped spaces stay in their address.
    urlToBeAdded_ = std::move(text);
    addUrlFromBrowserExtension(std::move(saved), onlyMissing);
  } else if (saved) {
    saved(true);
  }
  if (!paths.empty()) openFiles(paths);
}

}  // namespace kesto
