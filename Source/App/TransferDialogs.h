#pragma once

#include "Platform/Foundation/Date.h"
#include "Platform/UI/UIForward.h"
#include "Synchronize/HTMLExport.h"
#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

class Backup;
class BookmarksController;
class DataManager;
class KestoPanel;
class HTMLImport;
class SharedFolderArchive;

// The File menu's commands that move the library in and out: import of a browser's bookmark
// file (or a shared-folder archive), export to a bookmark file, backup and restore. Each asks
// for a file on the desktop's file dialog and hands the path to the component doing the work.
// Main thread only.
class TransferDialogs : public HTMLExportDelegate {
 public:
  // Seconds between the open panel closing and the import starting, so the panel is gone first.
  static constexpr double kImportDelay = 0.5;
  // The duplicates question every import asks first; an archive handed to Kesto names itself.
  static constexpr const char* kSkipDuplicatesQuestion =
      "Would you like Kesto to automatically skip duplicates during import from an HTML file?";
  static constexpr const char* kSkipDuplicatesInArchiveQuestion =
      "Would you like Kesto to automatically skip duplicates during import from a Kesto archive?";
  static constexpr const char* kSkipDuplicatesInformation =
      "If you choose YES then all duplicates will be skipped automatically. N.B. Import will be slower if you choose "
      "this option.";

  // `bookmarks` (may be null) fetches the pages of what an import brought.
  TransferDialogs(DataManager* dataManager, ui::Window* window, BookmarksController* bookmarks = nullptr);
  ~TransferDialogs() override;
  TransferDialogs(const TransferDialogs&) = delete;
  TransferDialogs& operator=(const TransferDialogs&) = delete;

  void openImportDialog();
  void openExportDialog();
  void openBackupDialog();
  void openRestoreDialog();
  // Whether an export is still taking the library or writing its file.
  bool isExporting() const;
  // The program is quitting: an export still running writes its file before this returns.
  void finishExportBeforeQuit();

  // The names the save panels suggest, with the day's date in the medium style.
  static std::string exportFileName(fnd::Date date);
  static std::string backupFileName(fnd::Date date);
  // What the import makes of a chosen file: HTML (".html", ".htm" or no extension), a
  // shared-folder archive (".kesto"), or nothing.
  enum class ImportKind { None, HTML, SharedFolder };
  static ImportKind importKindOfPath(const std::string& path);
  // The open panel that chooses a backup to restore.
  static ui::OpenPanel restorePanel();

  void exportSucces(const std::string& message) override;
  void exportFailed(const std::string& message) override;

  HTMLImport& htmlImport();

  // The sheet that asks for the folders' password before an export of a library with locked
  // folders: "Export" with the right password writes them too, "Leave Out" writes the rest,
  // Escape exports nothing. Null until first needed.
  KestoPanel* exportPasswordSheet() const { return passwordSheet_.get(); }
  ui::TextField* exportPasswordField() const { return passwordField_.get(); }
  ui::Label* exportPasswordHint() const { return passwordHint_.get(); }
  void pressExportWithPassword();
  void pressExportLeavingOut();

 private:
  // A save panel as a sheet on the window; `chosen` runs with the path the user chose, if any,
  // while the dialogs are still there.
  void askForSavePath(const std::string& title, const std::string& prompt, const std::string& name,
                      std::function<void(const std::string& path)> chosen);
  void startImport(const std::string& path, bool skipDuplicates);
  void checkBackupThenRestore(const std::string& path);
  void askForLockPasswordThenExport(const std::string& path);
  void buildPasswordSheet();
  void exportTo(const std::string& path, bool includeLocked);

  DataManager* dataManager_;
  ui::Window* window_;
  BookmarksController* bookmarks_;
  std::unique_ptr<HTMLImport> htmlImport_;
  std::unique_ptr<SharedFolderArchive> archive_;
  std::unique_ptr<HTMLExport> htmlExport_;
  std::unique_ptr<Backup> backup_;
  std::shared_ptr<KestoPanel> passwordSheet_;
  std::shared_ptr<ui::TextField> passwordField_;
  std::shared_ptr<ui::Label> passwordHint_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
