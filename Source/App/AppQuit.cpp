#include "App/AppQuit.h"

#include "Model/Bookmark.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Support/AlertPresenter.h"
#include "Support/LogCenter.h"
#include "Synchronize/HTMLExport.h"
#include "Synchronize/Synchronizer.h"

#include <algorithm>
#include <optional>

namespace kesto {

namespace {

// What the sync engine asks of the application: the set-up wizard, and quitting once a sync
// that held up a quit has ended.
class AppSyncHost : public SyncApplicationHost {
 public:
  void setAppCanQuit(bool canQuit) override { canQuit_ = canQuit; }
  bool appMustQuit() const override { return mustQuit; }
  void terminate() override { ui::Application::shared().replyToApplicationShouldTerminate(true); }
  void openWizard() override {
    if (wizard) wizard();
  }
  bool mustQuit = false;
  std::function<void()> wizard;

 private:
  bool canQuit_ = true;
};

constexpr const char* kSaveFailedTitle = "Kesto cannot save your library";
constexpr const char* kKeptInMemory =
    "What you add or change stays in Kesto while it runs, and saving is tried again with each change. "
    "When you quit, Kesto offers to export what could not be saved.";

std::vector<std::shared_ptr<Bookmark>> unsavedBookmarks() {
  std::vector<std::shared_ptr<Bookmark>> out;
  auto context = WrenEntity::defaultContext();
  if (!context) return out;
  for (const auto& list : {context->insertedObjects(), context->updatedObjects()})
    for (const auto& o : list)
      if (auto b = std::dynamic_pointer_cast<Bookmark>(o); b && !b->isDeleted()) out.push_back(std::move(b));
  return out;
}

bool storeIsReadOnly() {
  auto& data = WrenDataManager::sharedInstance();
  if (data.lastError()) return false;  // a store that did not open is reported where it failed
  auto coordinator = data.persistentStoreCoordinator();
  return coordinator && coordinator->isReadOnly();
}

void tellReadOnly(const std::string& storePath) {
  AlertPresenter::alert(
      "Kesto opened your library read-only",
      "The library at " + storePath + " cannot be written to, so nothing can be saved there.\n\n" + kKeptInMemory);
}

// Keeps the exporter's outcome to itself: the quit tries the next folder before saying anything.
class QuietExport : public HTMLExportDelegate {
 public:
  void exportSucces(const std::string&) override {}
  void exportFailed(const std::string&) override {}
};

// The first of `paths` that takes the file (a full disk, a folder gone or read-only fail alike);
// empty when none does.
std::string exportUnsaved(const std::vector<std::shared_ptr<Bookmark>>& unsaved,
                          const std::vector<std::string>& paths) {
  QuietExport quiet;
  HTMLExport exporter;
  exporter.setDelegate(&quiet);
  for (const auto& path : paths)
    if (exporter.exportBookmarks(unsaved, "Not saved", path)) return path;
  return {};
}

}  // namespace

AppQuit::AppQuit() {
  KESTO_ASSERT_MAIN_THREAD();
  auto alive = lifetime_.watch();
  WrenEntity::setSaveOutcomeHandler([this, alive](const std::optional<SaveFailure>& failure) {
    auto deliver = [this, alive, failure] {
      if (!alive) return;
      if (failure) storeSaveFailed(*failure);
      else toldOfSaveFailure_ = false;  // the store took everything: a new failure is news again
    };
    if (fnd::RunLoop::isMainThread()) deliver();
    else fnd::DispatchQueue::main().async(deliver);
  });
}

AppQuit::~AppQuit() {
  lifetime_.end();
  WrenEntity::setSaveOutcomeHandler(nullptr);
}

std::shared_ptr<SyncApplicationHost> AppQuit::syncHost(std::function<void()> openWizard) {
  if (!syncHost_) syncHost_ = std::make_shared<AppSyncHost>();
  static_cast<AppSyncHost&>(*syncHost_).wizard = std::move(openWizard);
  return syncHost_;
}

ui::TerminateReply AppQuit::applicationShouldTerminate(std::function<void()> openWizard) {
  KESTO_ASSERT_MAIN_THREAD();
  mustQuit_ = true;
  canQuit_ = true;
  // A running sync finishes (or times out) before the process goes, so no merge is cut short.
  auto& sync = Synchronizer::shared();
  if (sync.isRunning()) {
    auto host = std::static_pointer_cast<AppSyncHost>(syncHost(std::move(openWizard)));
    host->mustQuit = true;
    sync.setHost(host);
    if (!sync.requestQuit()) return ui::TerminateReply::Later;
  }
  if (offerToExportUnsavedChanges()) return ui::TerminateReply::Later;
  return mustQuit_ && canQuit_ ? ui::TerminateReply::Now : ui::TerminateReply::Cancel;
}

void AppQuit::applicationWillTerminate() {
  KESTO_ASSERT_MAIN_THREAD();
  if (terminated_) return;
  terminated_ = true;
  save();
}

void AppQuit::save() {
  KESTO_ASSERT_MAIN_THREAD();
  WrenEntity::saveContext();
  fnd::UserDefaults::standard().synchronize();
  LogCenter::flush();
}

void AppQuit::reportReadOnlyStore() {
  if (toldOfSaveFailure_ || !storeIsReadOnly()) return;  // a save made while loading may have said it
  toldOfSaveFailure_ = true;
  saveFailureCause_ = "The library file is read-only";
  tellReadOnly(WrenDataManager::sharedInstance().persistentStorePath());
}

void AppQuit::storeSaveFailed(const SaveFailure& failure) {
  saveFailureCause_ = failure.cause;
  if (toldOfSaveFailure_) return;
  toldOfSaveFailure_ = true;
  // A store that opened read-only is said as such, whichever comes first: this or the start.
  if (storeIsReadOnly()) return tellReadOnly(failure.storePath);
  AlertPresenter::alert(kSaveFailedTitle, failure.cause + ": the library at " + failure.storePath +
                                              " could not be saved.\n\n" + kKeptInMemory);
}

std::vector<std::string> AppQuit::unsavedExportPaths() {
  // No save panel here: a fixed file named by the time of the quit, beside the library, else in
  // the documents folder, else in the home folder. A folder that takes no files goes last.
  const std::string name =
      "Unsaved bookmarks " +
      fnd::DateFormatter::fixed("yyyy-MM-dd-HH-mm-ss", fnd::TimeZone::local()).stringFromDate(fnd::Date::now()) +
      ".html";
  std::vector<std::string> writable, other;
  for (const auto& folder :
       {fnd::FileManager::deletingLastPathComponent(WrenDataManager::sharedInstance().persistentStorePath()),
        fnd::StandardPaths::documentsDirectory(), fnd::StandardPaths::homeDirectory()}) {
    if (folder.empty()) continue;
    const std::string path = folder + "/" + name;
    if (std::find(writable.begin(), writable.end(), path) != writable.end() ||
        std::find(other.begin(), other.end(), path) != other.end())
      continue;
    (fnd::FileManager::isWritable(folder) ? writable : other).push_back(path);
  }
  writable.insert(writable.end(), other.begin(), other.end());
  return writable;
}

bool AppQuit::offerToExportUnsavedChanges() {
  // Saved now if the store takes it, so only what it refuses is asked about.
  if (WrenEntity::saveContext()) return false;
  auto unsaved = unsavedBookmarks();
  if (unsaved.empty()) return false;
  const std::vector<std::string> paths = unsavedExportPaths();
  const std::string cause =
      saveFailureCause_.empty() ? std::string("The library could not be written") : saveFailureCause_;
  // A log-out waits for no question: the answer that keeps the most is taken, and the log tells
  // where the file went.
  if (ui::Application::shared().isEndingSession()) {
    const std::string written = exportUnsaved(unsaved, paths);
    if (written.empty())
      fnd::logError(cause + ": " + std::to_string(unsaved.size()) +
                    " new or changed bookmarks could not be saved nor exported as the session ended");
    else
      fnd::logWarning(cause + ": " + std::to_string(unsaved.size()) + " bookmarks that could not be saved are in \"" +
                      written + "\"; import that file once the library can be written again");
    return false;
  }
  auto alive = lifetime_.watch();
  AlertPresenter::ask(
      "Some changes could not be saved",
      cause + ": " + std::to_string(unsaved.size()) + " new or changed bookmarks are not in the library at " +
          WrenDataManager::sharedInstance().persistentStorePath() + ". Kesto can write them to \"" + paths.front() +
          "\" before it quits, to import later.",
      {"Export and Quit", "Quit Without Exporting", "Cancel"}, [alive, unsaved, paths](int answer) {
        if (!alive) return;
        auto reply = [](bool quit) { ui::Application::shared().replyToApplicationShouldTerminate(quit); };
        if (answer != 0) return reply(answer == 1);
        const std::string written = exportUnsaved(unsaved, paths);
        // Nothing is dropped without the user's word: when no folder took the
        // file, the quit is called off.
        if (written.empty()) {
          AlertPresenter::alert("Export failed",
                                "The unsaved bookmarks could not be written beside the library, to "
                                "the documents folder or to the home folder. Kesto keeps running "
                                "with them.");
          return reply(false);
        }
        AlertPresenter::ask("Unsaved bookmarks exported",
                            std::to_string(unsaved.size()) + " bookmarks that could not be saved are in \"" + written +
                                "\". Import that file once the library can be written again.",
                            {"Quit"}, [reply](int) { reply(true); });
      });
  return true;
}

}  // namespace kesto
