#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kesto {

class KestoPanel;
class SpinningIndicator;

// Where the help links go. The maker's site is fixed in its paths; the browsers' pages explain
// their "export bookmarks to HTML" commands.
namespace helplinks {
// The product's own web address, named in shared links and e-mails.
inline constexpr const char* kWebSite = "https://kesto.app";
inline constexpr const char* kHelp = "https://kesto.app/help";
inline constexpr const char* kEULA = "https://kesto.app/help/eula";
inline constexpr const char* kExtensions = "https://kesto.app/#extensions";
inline constexpr const char* kForum = "https://kesto.app/forum";
inline constexpr const char* kVideos = "https://www.youtube.com/@kestoapp/videos";
inline constexpr const char* kSafariExport = "https://support.apple.com/kb/PH17154?viewlocale=en_US&locale=en_US";
inline constexpr const char* kChromeExport = "https://support.google.com/chrome/answer/96816?hl=en";
inline constexpr const char* kFirefoxExport =
    "https://support.mozilla.org/en-US/kb/export-firefox-bookmarks-to-backup-or-transfer";
}  // namespace helplinks

// The library window's sheets and small panels: the one place that shows a window or an alert
// as a sheet on it (behind a darkened backdrop, one sheet at a time), the first-run panel
// offered when the library is empty, and the import sheet with the browsers' export help.
// Main thread only.
class ShellPanels {
 public:
  // Seconds between tries to show the first-run panel while a sheet is in the way.
  static constexpr double kInitialPopupInterval = 5.0;

  explicit ShellPanels(ui::Window* window);
  ~ShellPanels();
  ShellPanels(const ShellPanels&) = delete;
  ShellPanels& operator=(const ShellPanels&) = delete;

  ui::Window* window() const { return window_; }

  // Shows `sheet` on the library window; a sheet shown before is dismissed first. `didEnd`
  // runs with the code the sheet ends with.
  void presentSheetWithWindow(ui::Window& sheet, std::function<void(int)> didEnd = {});
  // The same for an alert; the backdrop goes when it is answered, before `didEnd` runs.
  void presentAlert(const ui::Alert& alert, std::function<void(int)> didEnd = {});
  // Ends `sheet`; the backdrop goes only when it is the sheet shown through here.
  void dismissSheetForWindow(ui::Window& sheet);
  bool hasSheet() const { return sheetWindow_ != nullptr || sheetAlert_ != nullptr; }
  // The darkened view over the window's content while a sheet is shown (null otherwise).
  const std::shared_ptr<ui::View>& backdrop() const { return blankingView_; }

  // Shows the first-run panel when no sheet is in the way, trying again every few seconds
  // until it has been shown; a second request replaces a pending one.
  void showInitialPopupAfterDelay();
  bool initialPopupPending() const { return popupGeneration_ != 0 && popupPending_; }
  void showInitialPopup();
  void hideInitialPopup();
  KestoPanel& initialPanel();

  // The loading sheet: "Loading…" beside a spinning indicator, over the library window while it
  // shows. Nothing in the program shows it today; it is there for work that makes the user wait.
  void showLoadingSheet();
  void closeLoadingSheet();
  KestoPanel& loadingSheet();

  // The import sheet: how to export from a browser, and the way to the import dialog.
  void showImportMessageSheet();
  void closeImportFolderSheet();
  KestoPanel& importFolderSheet();

  // The first-run panel's and the import sheet's commands go to the application.
  std::function<void()> onImport;             // opens the import dialog
  std::function<void()> onCreateDefaultLibrary;
  // Whether the library still holds nothing; a library filled while the offer waited is not
  // offered sample bookmarks.
  std::function<bool()> libraryIsEmpty;

  // Opens an address in the default browser; replaceable for tests.
  static void openHelpLink(const std::string& url);

 private:
  void showBackdrop();
  void removeBackdrop();
  void schedulePopupTry(std::uint64_t generation);
  // An alert, a file dialog or a sheet is open, or queued behind the sheet shown.
  bool dialogInTheWay() const;
  // Orders the first-run panel out for a dialog that opens, to be offered again after it.
  void giveWayToDialog();

  ui::Window* window_;
  ui::Window* sheetWindow_ = nullptr;
  std::unique_ptr<ui::Alert> sheetAlert_;
  std::uint64_t sheetGeneration_ = 0;
  std::shared_ptr<ui::View> blankingView_;
  std::unique_ptr<KestoPanel> initialPanel_;
  std::unique_ptr<KestoPanel> importSheet_;
  std::unique_ptr<KestoPanel> loadingSheet_;
  std::shared_ptr<SpinningIndicator> loadingIndicator_;
  std::uint64_t popupGeneration_ = 0;
  bool popupPending_ = false;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
