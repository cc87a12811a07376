#include "App/ShellPanels.h"
#include "Views/SpinningIndicator.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"
#include "Model/ModelNotifications.h"
#include "Views/ImageBox.h"
#include "Views/KestoPanel.h"

namespace kesto {

namespace {

// Exposure -1.2 darkens to 2^-1.2 of the brightness: a black veil of the remaining share.
constexpr double kBackdropAlpha = 0.56;

std::shared_ptr<ui::Label> addLabel(ui::View& parent, const fnd::Rect& frame, const std::string& text,
                                    double size = 10, bool bold = false) {
  auto label = std::make_shared<ui::Label>(frame, text);
  label->setWraps(true);
  ui::Font font;
  font.pointSize = size;
  font.bold = bold;
  label->setFont(font);
  parent.addSubview(label);
  return label;
}

std::unique_ptr<KestoPanel> makePanel(const std::string& title, double width, double height) {
  auto panel = std::make_unique<KestoPanel>(fnd::Rect(0, 0, width, height),
                                            ui::WindowStyle::Titled | ui::WindowStyle::Closable);
  panel->setTitle(title);
  return panel;
}

}  // namespace

ShellPanels::ShellPanels(ui::Window* window) : window_(window) {
  KESTO_ASSERT_MAIN_THREAD();
  // The first-run panel floats above the window: a dialog opened while it shows would open under
  // it, its buttons out of reach. It gives way, and comes back once the dialogs are answered.
  fnd::NotificationCenter::defaultCenter().addObserver(
      this, [this](const fnd::Notification&) { giveWayToDialog(); }, ui::DialogWillOpenNotification);
}

ShellPanels::~ShellPanels() {
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  lifetime_.end();
  if (sheetAlert_) sheetAlert_->close();
  removeBackdrop();
}

void ShellPanels::openHelpLink(const std::string& url) { sys::Workspace::openURL(url); }

// ---- sheets ----

void ShellPanels::showBackdrop() {
  if (!window_ || !window_->contentView() || blankingView_) return;
  auto content = window_->contentView();
  blankingView_ = std::make_shared<ui::View>(content->bounds());
  blankingView_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  // A translucent colour of its own, shown at once: a fade would paint the window's content
  // through an opacity pass while the work behind the sheet (an import) redraws the list. It goes
  // at once too, so a sheet that follows never finds the last one's veil.
  blankingView_->setBackgroundColor(ui::Color::rgb(0.0, 0.0, 0.0, kBackdropAlpha));
  content->addSubview(blankingView_);
}

void ShellPanels::removeBackdrop() {
  if (!blankingView_) return;
  blankingView_->removeFromSuperview();
  blankingView_.reset();
}

void ShellPanels::presentSheetWithWindow(ui::Window& sheet, std::function<void(int)> didEnd) {
  KESTO_ASSERT_MAIN_THREAD();
  if (sheetWindow_) dismissSheetForWindow(*sheetWindow_);
  if (sheetAlert_) {
    sheetAlert_->close();
    sheetAlert_.reset();
    removeBackdrop();
  }
  sheetWindow_ = &sheet;
  ++sheetGeneration_;
  showBackdrop();
  if (window_) window_->beginSheet(sheet, std::move(didEnd));
  else sheet.makeKeyAndOrderFront();
}

void ShellPanels::presentAlert(const ui::Alert& alert, std::function<void(int)> didEnd) {
  KESTO_ASSERT_MAIN_THREAD();
  if (sheetWindow_) dismissSheetForWindow(*sheetWindow_);
  if (sheetAlert_) sheetAlert_->close();
  sheetAlert_ = std::make_unique<ui::Alert>(alert);
  const std::uint64_t generation = ++sheetGeneration_;
  showBackdrop();
  auto alive = lifetime_.watch();
  sheetAlert_->beginSheetModalForWindow(window_, [this, alive, generation, didEnd = std::move(didEnd)](int code) {
    if (alive && generation == sheetGeneration_) {
      sheetAlert_.reset();
      removeBackdrop();
    }
    if (didEnd) didEnd(code);
  });
}

void ShellPanels::dismissSheetForWindow(ui::Window& sheet) {
  KESTO_ASSERT_MAIN_THREAD();
  if (sheet.sheetParent()) sheet.sheetParent()->endSheet(sheet);
  sheet.orderOut();
  if (&sheet != sheetWindow_) return;
  sheetWindow_ = nullptr;
  removeBackdrop();
}

// ---- first-run panel ----

KestoPanel& ShellPanels::initialPanel() {
  if (initialPanel_) return *initialPanel_;
  initialPanel_ = makePanel("Welcome to Kesto", 480, 180);
  initialPanel_->setShouldBeCentered(true);
  initialPanel_->setFloatingPanel(true);
  initialPanel_->setHidesOnDeactivate(true);
  auto& content = *initialPanel_->contentView();
  auto icon = std::make_shared<ImageBox>(fnd::Rect(36, 112, 48, 48));
  icon->setImageNamed("library_empty");
  content.addSubview(icon);
  addLabel(content, fnd::Rect(100, 134, 360, 24), "Your library is empty", 12, true);
  addLabel(content, fnd::Rect(100, 66, 360, 64),
           "Import the bookmarks of your browser, or start with a few sample bookmarks that show what Kesto "
           "keeps for each page.");
  ui::addPushButton(content, fnd::Rect(20, 16, 90, 30), "Close", [this] { hideInitialPopup(); });
  ui::addPushButton(content, fnd::Rect(142, 16, 170, 30), "Add Sample Bookmarks", [this] {
    hideInitialPopup();
    if (onCreateDefaultLibrary) onCreateDefaultLibrary();
  });
  ui::addPushButton(content, fnd::Rect(320, 16, 140, 30), "Import Bookmarks…", [this] {
    hideInitialPopup();
    showImportMessageSheet();
  });
  return *initialPanel_;
}

void ShellPanels::showInitialPopupAfterDelay() {
  // A request still waiting is replaced, so at most one try is ever scheduled.
  popupPending_ = true;
  schedulePopupTry(++popupGeneration_);
}

void ShellPanels::schedulePopupTry(std::uint64_t generation) {
  fnd::DispatchQueue::main().after(kInitialPopupInterval, lifetime_.whileAlive([this, generation] {
    if (generation != popupGeneration_ || !popupPending_) return;
    if (libraryIsEmpty && !libraryIsEmpty()) {
      popupPending_ = false;
      return;
    }
    if (dialogInTheWay()) {
      schedulePopupTry(generation);
      return;
    }
    // What this turn has queued goes first: a dialog asked for just now (a menu command, a
    // question posted to the main loop) opens before the panel, which then waits for it.
    fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, generation] {
      if (generation != popupGeneration_ || !popupPending_) return;
      if (dialogInTheWay()) {
        schedulePopupTry(generation);
        return;
      }
      showInitialPopup();
    }));
  }));
}

bool ShellPanels::dialogInTheWay() const {
  // Any dialog of ours counts as a sheet, open or queued behind the one shown: the panel would
  // cover it, its buttons dead.
  return hasSheet() || (window_ && window_->attachedSheet()) || ui::Application::shared().isModalDialogShown();
}

void ShellPanels::giveWayToDialog() {
  if (!initialPanel_ || !initialPanel_->isVisible()) return;
  initialPanel_->orderOut();
  popupPending_ = true;
  schedulePopupTry(++popupGeneration_);
}

void ShellPanels::showInitialPopup() {
  KESTO_ASSERT_MAIN_THREAD();
  popupPending_ = false;
  auto& panel = initialPanel();
  panel.setShouldBeCentered(true);
  panel.makeKeyAndOrderFront();
}

void ShellPanels::hideInitialPopup() {
  popupPending_ = false;
  if (initialPanel_) initialPanel_->orderOut();
}

// ---- import sheet ----

KestoPanel& ShellPanels::importFolderSheet() {
  if (importSheet_) return *importSheet_;
  // The browsers people use on Linux first, each with where its export command is; Safari,
  // whose file comes from another machine, last.
  struct Row {
    const char* browser;
    const char* how;
    const char* help;
  };
  static const Row rows[] = {
      {"Firefox", "Bookmarks > Manage Bookmarks > Import and Backup > Export Bookmarks to HTML…",
       helplinks::kFirefoxExport},
      {"Chromium, Chrome, Brave, Vivaldi", "Bookmark manager (Ctrl+Shift+O) > ⋮ menu > Export bookmarks",
       helplinks::kChromeExport},
      {"Microsoft Edge", "edge://favorites > ⋯ menu > Export favorites", nullptr},
      {"Opera", "opera://bookmarks > Import / Export… > Export Bookmarks", nullptr},
      {"GNOME Web", "Main menu > Export Bookmarks…, in the HTML format", nullptr},
      {"Safari (on a Mac)", "File > Export > Bookmarks…", helplinks::kSafariExport},
  };
  constexpr double kRowHeight = 50, kTop = 100;
  const double height = kTop + kRowHeight * double(std::size(rows)) + 60;
  importSheet_ = makePanel("Import from a Browser", 520, height);
  auto& content = *importSheet_->contentView();
  addLabel(content, fnd::Rect(20, height - 40, 480, 24), "Import bookmarks from your browser", 12, true);
  addLabel(content, fnd::Rect(20, height - 92, 480, 48),
           "First save your bookmarks from your browser as an HTML file, then choose that file here. "
           "This is where each browser keeps that command:");
  double y = height - kTop;
  for (const auto& row : rows) {
    y -= kRowHeight;
    // Two lines for where the command is: some menus lie deep.
    addLabel(content, fnd::Rect(20, y + 30, 380, 18), row.browser, 11, true);
    addLabel(content, fnd::Rect(20, y, 390, 32), row.how, 10);
    if (row.help) {
      const std::string address = row.help;
      ui::addPushButton(content, fnd::Rect(420, y + 14, 80, 26), "Help", [address] { openHelpLink(address); })
          ->setToolTip(std::string("How ") + row.browser + " exports its bookmarks");
    }
  }
  ui::addPushButton(content, fnd::Rect(290, 16, 100, 30), "Cancel", [this] { closeImportFolderSheet(); });
  ui::addPushButton(content, fnd::Rect(400, 16, 100, 30), "Import…", [this] {
    // The sheet goes first, so the file dialog opens over the window alone.
    closeImportFolderSheet();
    fnd::NotificationCenter::defaultCenter().postNotificationName(HideInitialPopup);
    if (onImport) onImport();
  });
  return *importSheet_;
}

KestoPanel& ShellPanels::loadingSheet() {
  if (loadingSheet_) return *loadingSheet_;
  loadingSheet_ = makePanel("Loading", 260, 80);
  auto& content = *loadingSheet_->contentView();
  loadingIndicator_ = std::make_shared<SpinningIndicator>(fnd::Rect(24, 24, 32, 32));
  loadingIndicator_->setIndeterminate(true);
  content.addSubview(loadingIndicator_);
  addLabel(content, fnd::Rect(72, 30, 170, 20), "Loading…", 13, true);
  return *loadingSheet_;
}

void ShellPanels::showLoadingSheet() {
  auto& sheet = loadingSheet();
  loadingIndicator_->setAnimates(true);
  presentSheetWithWindow(sheet, [this](int) {
    if (loadingIndicator_) loadingIndicator_->setAnimates(false);
    if (loadingSheet_) loadingSheet_->orderOut();
  });
}

void ShellPanels::closeLoadingSheet() {
  if (loadingSheet_) dismissSheetForWindow(*loadingSheet_);
}

void ShellPanels::showImportMessageSheet() {
  auto& sheet = importFolderSheet();
  presentSheetWithWindow(sheet);
}

void ShellPanels::closeImportFolderSheet() {
  if (importSheet_) dismissSheetForWindow(*importSheet_);
}

}  // namespace kesto
