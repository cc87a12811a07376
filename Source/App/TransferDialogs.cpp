#include "App/TransferDialogs.h"

#include "App/BookmarksController.h"
#include "App/WebContentUpdater.h"

#include "Model/Config.h"
#include "Model/DateAdditions.h"
#include "Model/Folder.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Store/Predicate.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/FilePanel.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLImport.h"
#include "Synchronize/SharedFolderArchive.h"
#include "Support/AlertPresenter.h"
#include "Views/KestoPanel.h"

#include <algorithm>

namespace kesto {

TransferDialogs::TransferDialogs(DataManager* dataManager, ui::Window* window, BookmarksController* bookmarks)
    : dataManager_(dataManager), window_(window), bookmarks_(bookmarks) {
  KESTO_ASSERT_MAIN_THREAD();
}

TransferDialogs::~TransferDialogs() { lifetime_.end(); }

std::string TransferDialogs::exportFileName(fnd::Date date) {
  return "Kesto Exported Bookmarks [ " + brightwren::formattedDateFromDate(date) + " ].html";
}

std::string TransferDialogs::backupFileName(fnd::Date date) {
  return "Kesto Backup [ " + brightwren::formattedDateFromDate(date) + " ].kestobck";
}

TransferDialogs::ImportKind TransferDialogs::importKindOfPath(const std::string& path) {
  // Extensions in capitals are what some systems write; the panel shows those files, so they
  // are imported like the others rather than silently dropped.
  const std::string extension = fnd::lowercase(fnd::pathExtension(path));
  if (extension == "html" || extension == "htm" || extension.empty()) return ImportKind::HTML;
  if (extension == SharedFolderArchive::kExtension) return ImportKind::SharedFolder;
  return ImportKind::None;
}

HTMLImport& TransferDialogs::htmlImport() {
  if (!htmlImport_) {
    htmlImport_ = std::make_unique<HTMLImport>();
    htmlImport_->setDataManager(dataManager_);
    // The imported bookmarks' pages are fetched next (titles, favicons, thumbnails): the first
    // of them, as the import stored them, rather than a search of the whole library for
    // bookmarks without content, which would hold the window up in a large library.
    htmlImport_->setCompletionHandler(lifetime_.whileAlive([this](bool imported) {
      if (!imported || !bookmarks_) return;
      const auto& ids = htmlImport_->importedBookmarkIDs();
      const auto n = static_cast<std::ptrdiff_t>(std::min(ids.size(), WebContentUpdater::kMissingImagesPerRun));
      std::vector<std::string> first(ids.begin(), ids.begin() + n);
      // In a turn of its own: the import's end has just refreshed the views.
      fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, first = std::move(first)] {
        bookmarks_->webContentUpdater().updateBookmarks(first);
      }));
    }));
  }
  return *htmlImport_;
}

void TransferDialogs::openImportDialog() {
  KESTO_ASSERT_MAIN_THREAD();
  ui::Alert question;
  question.setAlertStyle(ui::AlertStyle::Informational);
  question.setMessageText(kSkipDuplicatesQuestion);
  question.setInformativeText(kSkipDuplicatesInformation);
  question.setWindowTitle("Import Bookmarks");
  question.addButtonWithTitle("Yes");
  question.addButtonWithTitle("No");
  question.addButtonWithTitle("Cancel");
  const int answer = question.runModal();
  if (answer != ui::AlertFirstButtonReturn && answer != ui::AlertSecondButtonReturn) return;
  const bool skipDuplicates = answer == ui::AlertFirstButtonReturn;

  ui::OpenPanel panel;
  panel.setTitle("Import Bookmarks");
  panel.setPrompt("Import");
  panel.setCanChooseFiles(true);
  panel.setCanChooseDirectories(false);
  // A ".kesto" archive is a folder (a package); HTML exports sometimes carry no extension.
  panel.setAllowedFileTypes({"html", "htm", SharedFolderArchive::kExtension});
  panel.setAllowsFilesWithoutExtension(true);
  if (panel.runModal() != ui::ModalResponse::OK) return;
  auto paths = panel.paths();
  if (paths.empty()) return;
  startImport(paths.front(), skipDuplicates);
}

void TransferDialogs::startImport(const std::string& path, bool skipDuplicates) {
  KESTO_ASSERT_MAIN_THREAD();
  const ImportKind kind = importKindOfPath(path);
  if (kind == ImportKind::None) {
    fnd::logInfo("Not an importable file: " + path);
    return;
  }
  fnd::DispatchQueue::main().after(kImportDelay, lifetime_.whileAlive([this, path, kind, skipDuplicates] {
    if (kind == ImportKind::HTML) {
      htmlImport().setSkipDuplicates(skipDuplicates);
      if (!htmlImport().importFromFile(path))
        AlertPresenter::alert("Import Bookmarks", "Another import is still running. Try again when it has finished.");
    } else {
      if (!archive_) archive_ = std::make_unique<SharedFolderArchive>();
      archive_->setDataManager(dataManager_);
      // The answer to the question asked before the file was chosen holds for archives too.
      archive_->setSkipDuplicates(skipDuplicates);
      if (!archive_->importSharedFolderFromPath(path, [](bool imported) {
            if (imported) ViewUpdater::fetchMissingImages();
          }))
        fnd::logWarning("Could not import the shared folder " + path);
    }
  }));
}

void TransferDialogs::askForSavePath(const std::string& title, const std::string& prompt, const std::string& name,
                                     std::function<void(const std::string& path)> chosen) {
  ui::SavePanel panel;
  panel.setTitle(title);
  panel.setPrompt(prompt);
  panel.setNameFieldStringValue(name);
  panel.beginSheetModalForWindow(window_, lifetime_.whileAlive([panel, chosen = std::move(chosen)](int response) {
    if (response != ui::ModalResponse::OK || panel.path().empty()) return;
    chosen(panel.path());
  }));
}

void TransferDialogs::openExportDialog() {
  KESTO_ASSERT_MAIN_THREAD();
  askForSavePath("Export Bookmarks", "Export", exportFileName(fnd::Date::now()), [this](const std::string& path) {
    // Locked folders are shown to no one without the password; the export asks for it too.
    const bool anyLocked = Folder::countWithPredicate(store::Predicate::parse("blocked > 0")) > 0;
    if (anyLocked && window_)
      askForLockPasswordThenExport(path);
    else
      exportTo(path, false);
  });
}

bool TransferDialogs::isExporting() const { return htmlExport_ && htmlExport_->isExporting(); }

void TransferDialogs::finishExportBeforeQuit() {
  if (htmlExport_) htmlExport_->finishBeforeQuit();
}

void TransferDialogs::exportTo(const std::string& path, bool includeLocked) {
  // The last export's file is still being written: it is told when done, by its own exporter.
  if (htmlExport_ && htmlExport_->isExporting()) {
    AlertPresenter::alert("Export Bookmarks", "Another export is still running. Try again when it has finished.");
    return;
  }
  htmlExport_ = std::make_unique<HTMLExport>();
  htmlExport_->setIncludesLockedFolders(includeLocked);
  htmlExport_->setDelegate(this);
  htmlExport_->setDataManager(dataManager_);
  // The library is taken now and written on a thread of its own, so a large one never holds the
  // window up; the message comes when the file is there.
  htmlExport_->exportAllTofileInBackground(path);
}

void TransferDialogs::buildPasswordSheet() {
  constexpr double kWidth = 420, kHeight = 170;
  passwordSheet_ = std::make_shared<KestoPanel>(fnd::Rect(0, 0, kWidth, kHeight));
  passwordSheet_->setTitle("Kesto Password");
  auto content = passwordSheet_->contentView();
  auto message = std::make_shared<ui::Label>(
      fnd::Rect(20, 116, kWidth - 40, 42),
      "Some folders are locked. Enter the password of your folders to export their bookmarks too.");
  message->setWraps(true);
  content->addSubview(message);
  passwordField_ = std::make_shared<ui::TextField>(fnd::Rect(20, 84, kWidth - 40, 24), ui::TextField::Style::Secure);
  content->addSubview(passwordField_);
  passwordHint_ = std::make_shared<ui::Label>(fnd::Rect(20, 56, kWidth - 40, 20), "");
  passwordHint_->setTextColor(ui::Color::rgb(0.75, 0.1, 0.1));
  content->addSubview(passwordHint_);
  ui::addPushButton(*content, fnd::Rect(kWidth - 230, 14, 110, 30), "Leave Out", [this] { pressExportLeavingOut(); });
  ui::addPushButton(*content, fnd::Rect(kWidth - 110, 14, 90, 30), "Export", [this] { pressExportWithPassword(); });
  passwordField_->setAction([this] { pressExportWithPassword(); });
}

void TransferDialogs::askForLockPasswordThenExport(const std::string& path) {
  if (!passwordSheet_) buildPasswordSheet();
  if (passwordSheet_->isSheet()) return;
  passwordField_->setStringValue("");
  passwordHint_->setStringValue("");
  window_->beginSheet(*passwordSheet_, lifetime_.whileAlive([this, path](int response) {
    // The sheet has gone by now; the export's own alert comes after it.
    if (response == ui::ModalResponse::OK) exportTo(path, true);
    else if (response == ui::ModalResponse::Continue) exportTo(path, false);
  }));
  passwordSheet_->makeFirstResponder(passwordField_.get());
}

void TransferDialogs::pressExportWithPassword() {
  if (!passwordSheet_ || !passwordSheet_->isSheet()) return;
  const bool right = Config::isFolderPassword(passwordField_->stringValue());
  // The text is never kept, right or wrong.
  passwordField_->setStringValue("");
  if (!right) {
    passwordHint_->setStringValue("Wrong password.");
    return;
  }
  window_->endSheet(*passwordSheet_, ui::ModalResponse::OK);
}

void TransferDialogs::pressExportLeavingOut() {
  if (!passwordSheet_ || !passwordSheet_->isSheet()) return;
  passwordField_->setStringValue("");
  window_->endSheet(*passwordSheet_, ui::ModalResponse::Continue);
}

void TransferDialogs::openBackupDialog() {
  KESTO_ASSERT_MAIN_THREAD();
  askForSavePath("Back Up Library", "Back Up", backupFileName(fnd::Date::now()), [this](const std::string& path) {
    backup_ = std::make_unique<Backup>();
    backup_->backupToFile(path);
  });
}

ui::OpenPanel TransferDialogs::restorePanel() {
  ui::OpenPanel panel;
  panel.setTitle("Restore Library");
  panel.setPrompt("Restore");
  panel.setCanChooseFiles(true);
  panel.setCanChooseDirectories(false);
  panel.setAllowedFileTypes({Backup::kExtension});
  return panel;
}

void TransferDialogs::openRestoreDialog() {
  KESTO_ASSERT_MAIN_THREAD();
  ui::OpenPanel panel = restorePanel();
  panel.beginSheetModalForWindow(window_, lifetime_.whileAlive([this, panel](int response) {
    if (response != ui::ModalResponse::OK) return;
    auto paths = panel.paths();
    if (paths.empty()) return;
    checkBackupThenRestore(paths.front());
  }));
}

void TransferDialogs::checkBackupThenRestore(const std::string& path) {
  // A wrong file is turned away before the question that leads to replacing the library. The
  // check reads the whole file, and the question compares both libraries, so they are made off
  // the main thread; the answer comes back to it.
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::global(fnd::DispatchQueue::Priority::High).async([this, alive, path] {
    fnd::Error error;
    const bool valid =
        fnd::lowercase(fnd::pathExtension(path)) == Backup::kExtension && Backup::isValidBackupFile(path, &error);
    const std::string question = valid ? Backup::restoreQuestionMessage(path) : std::string();
    fnd::DispatchQueue::main().async([this, alive, path, valid, error, question] {
      if (!alive) return;
      if (!valid) {
        std::string reason = error.localizedDescription();
        if (reason.empty()) reason = "The file is not a Kesto backup";
        AlertPresenter::alert("Kesto Restore", "\"" + fnd::FileManager::lastPathComponent(path) +
                                                   "\" cannot be restored. " + reason + ". Nothing was changed.");
        return;
      }
      backup_ = std::make_unique<Backup>();
      backup_->restoreFromFile(path, question);
    });
  });
}

void TransferDialogs::exportSucces(const std::string& message) {
  const std::size_t leftOut = htmlExport_ ? htmlExport_->lockedFoldersLeftOut() : 0;
  if (leftOut == 0) return AlertPresenter::inform("Success", message, "OK");
  AlertPresenter::inform("Success", message + "\n\n" +
                                        (leftOut == 1 ? std::string("1 locked folder was")
                                                      : std::to_string(leftOut) + " locked folders were") +
                                        " left out: export again with the password of your folders to include them.",
                         "OK");
}

void TransferDialogs::exportFailed(const std::string& message) { AlertPresenter::alert("Fail", message, "OK"); }

}  // namespace kesto
