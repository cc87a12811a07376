// Alerts, file panels, sheets and panels: answered by the test responder and by the toolkit's
// own dialogs offscreen.
#include "Harness/TestDialogResponder.h"
#include "Harness/TestSupport.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/FilePanel.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

using namespace kesto;
using namespace kesto::ui;
using kesto::test::TestDialogResponder;

namespace {

struct ResponderScope {
  std::shared_ptr<TestDialogResponder> responder = TestDialogResponder::install();
  ~ResponderScope() { TestDialogResponder::uninstall(); }
};

Alert question() {
  Alert alert;
  alert.setMessageText("Delete 3 bookmarks?");
  alert.setInformativeText("They are removed from every synced copy.");
  alert.addButtonWithTitle("Delete");
  alert.addButtonWithTitle("Cancel");
  alert.addButtonWithTitle("Move to Trash");
  alert.setShowsSuppressionButton(true);
  return alert;
}

}  // namespace

TEST(Alert, TheResponderAnswersWithReturnCodesAndSuppressionState) {
  ResponderScope scope;
  scope.responder->alertAnswers.push_back({AlertSecondButtonReturn, true});
  Alert alert = question();
  EXPECT_EQ(alert.runModal(), AlertSecondButtonReturn);
  EXPECT_TRUE(alert.suppressionState());
  ASSERT_EQ(scope.responder->alerts.size(), 1u);
  const auto& seen = scope.responder->alerts.front();
  EXPECT_EQ(seen.message, "Delete 3 bookmarks?");
  EXPECT_EQ(seen.informative, "They are removed from every synced copy.");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"Delete", "Cancel", "Move to Trash"}));
  EXPECT_TRUE(seen.showsSuppression);

  // An alert without buttons has "OK"; Cancel (else the last button) answers Escape.
  Alert plain;
  plain.setMessageText("Saved");
  EXPECT_EQ(plain.buttonTitles(), std::vector<std::string>{"OK"});
  EXPECT_EQ(plain.cancelReturnCode(), AlertFirstButtonReturn);
  EXPECT_EQ(question().cancelReturnCode(), AlertSecondButtonReturn);
  Alert noCancel;
  noCancel.addButtonWithTitle("Replace");
  noCancel.addButtonWithTitle("Keep Both");
  EXPECT_EQ(noCancel.cancelReturnCode(), AlertSecondButtonReturn);
  EXPECT_EQ(plain.runModal(), AlertFirstButtonReturn);  // no answer scripted: the default button
  EXPECT_FALSE(plain.suppressionState());
}

TEST(Alert, ASheetAnswerArrivesAfterTheCallReturnsAsAPersonsWould) {
  ResponderScope scope;
  scope.responder->alertAnswers.push_back({AlertThirdButtonReturn, false});
  Window window(fnd::Rect(100, 100, 400, 300));
  int code = 0;
  question().beginSheetModalForWindow(&window, [&](int c) { code = c; });
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(test::runUntil([&] { return code != 0; }, 2));
  EXPECT_EQ(code, AlertThirdButtonReturn);
}

TEST(Alert, TheDesktopDialogAnswersEachWayOutOnceAndKeepsTheCheckBox) {
  Window window(fnd::Rect(100, 100, 500, 400));
  window.makeKeyAndOrderFront();
  std::vector<int> codes;
  bool suppressed = false;
  {
    Alert alert = question();
    alert.beginSheetModalForWindow(&window, [&codes, &suppressed, alert](int c) {
      codes.push_back(c);
      suppressed = alert.suppressionState();
    });
    ASSERT_TRUE(alert.isShown());
    auto* box = static_cast<QMessageBox*>(alert.nativeHandle());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->parentWidget(), static_cast<QWidget*>(window.nativeHandle()));
    EXPECT_EQ(box->windowTitle().toStdString(), "Delete 3 bookmarks?");
    // Over the window's content, at its top, centred.
    auto* top = static_cast<QWidget*>(window.nativeHandle());
    EXPECT_EQ(box->frameGeometry().top(), top->geometry().top());
    EXPECT_NEAR(box->frameGeometry().center().x(), top->geometry().center().x(), 2.0);
    ASSERT_NE(box->checkBox(), nullptr);
    EXPECT_EQ(box->checkBox()->text().toStdString(), "Do not show this message again");
    box->checkBox()->setChecked(true);
    EXPECT_TRUE(alert.performButton(2));
  }  // the caller's copies are gone before the answer is read: the alert lives on
  ASSERT_TRUE(test::runUntil([&] { return !codes.empty(); }, 2));
  EXPECT_EQ(codes, std::vector<int>{AlertThirdButtonReturn});
  EXPECT_TRUE(suppressed);

  // The close button answers with the cancelling button, once.
  Alert second = question();
  second.beginSheetModalForWindow(nullptr, [&](int c) { codes.push_back(c); });
  auto* box = static_cast<QMessageBox*>(second.nativeHandle());
  EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
  box->close();
  ASSERT_TRUE(test::runUntil([&] { return codes.size() == 2; }, 2));
  EXPECT_EQ(codes.back(), AlertSecondButtonReturn);
  EXPECT_FALSE(second.performButton(0));
  test::spin(0.05);
  EXPECT_EQ(codes.size(), 2u);
}

// A dialog opened without a window is transient for the window the user is in (the key window),
// so the window manager minimises and restores it with that window; an alert over it, for the
// dialog.
TEST(Alert, ADialogOpenedWithoutAWindowBelongsToTheWindowTheUserIsIn) {
  Window window(fnd::Rect(100, 100, 500, 400));
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(test::runUntil([&] { return window.isKeyWindow(); }, 5));
  QWindow* main = static_cast<QWidget*>(window.nativeHandle())->windowHandle();
  ASSERT_NE(main, nullptr);
  auto transientParent = [](void* dialog) {
    auto* widget = static_cast<QWidget*>(dialog);
    return widget && widget->windowHandle() ? widget->windowHandle()->transientParent() : nullptr;
  };

  Alert alert = question();
  QWindow* alertParent = nullptr;
  QWindow* innerParent = nullptr;
  QTimer::singleShot(0, [&] {
    alertParent = transientParent(alert.nativeHandle());
    // An alert over the open one belongs to it.
    Alert inner;
    inner.setMessageText("Really?");
    inner.beginSheetModalForWindow(nullptr, nullptr);
    innerParent = transientParent(inner.nativeHandle());
    inner.performButton(0);
    alert.performButton(1);
  });
  EXPECT_EQ(alert.runModal(), AlertSecondButtonReturn);
  EXPECT_EQ(alertParent, main);
  ASSERT_NE(innerParent, nullptr);
  EXPECT_NE(innerParent, main);

  OpenPanel open;
  open.setDirectory(test::makeTempDir("owned-dialog"));
  open.setAllowedFileTypes({"html"});
  QWindow* panelParent = nullptr;
  QTimer::singleShot(0, [&] {
    panelParent = transientParent(open.nativeHandle());
    if (auto* dialog = static_cast<QFileDialog*>(open.nativeHandle())) dialog->reject();
  });
  EXPECT_EQ(open.runModal(), ModalResponse::Cancel);
  EXPECT_EQ(panelParent, main);
  window.orderOut();
}

// What an alert says is shown as written, also where it quotes markup from a file: a tag hides
// nothing after it.
TEST(Alert, TextThatLooksLikeMarkupShowsAsWritten) {
  Alert alert;
  alert.setMessageText("Import incomplete: <TITLE> never-closed-element-in-the-file");
  alert.setInformativeText("<a href=\"https://example.org/\">an-address-quoted-from-the-file</a>");
  alert.beginSheetModalForWindow(nullptr, [](int) {});
  auto* box = static_cast<QMessageBox*>(alert.nativeHandle());
  ASSERT_NE(box, nullptr);
  for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
    auto* label = box->findChild<QLabel*>(QString::fromLatin1(name));
    ASSERT_NE(label, nullptr) << name;
    // On one line, as wide as all its text: read as markup, the tags would hide some of it.
    label->setWordWrap(false);
    EXPECT_GE(label->sizeHint().width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
  }
  EXPECT_TRUE(alert.performButton(0));
}

TEST(FilePanel, ASaveAlwaysEndsInAnAllowedExtension) {
  ResponderScope scope;
  const std::string dir = test::makeTempDir("save");
  SavePanel panel;
  panel.setTitle("Export");
  panel.setNameFieldStringValue("Kesto Bookmarks.html");
  panel.setAllowedFileTypes({".html", "htm"});
  scope.responder->saveAnswers = {dir + "/export", dir + "/Page.HTM", dir + "/x.txt", std::nullopt, dir + "/"};
  EXPECT_EQ(panel.runModal(), ModalResponse::OK);
  EXPECT_EQ(panel.path(), dir + "/export.html");
  EXPECT_EQ(panel.runModal(), ModalResponse::OK);
  EXPECT_EQ(panel.path(), dir + "/Page.HTM");
  EXPECT_EQ(panel.runModal(), ModalResponse::OK);
  EXPECT_EQ(panel.path(), dir + "/x.txt.html");
  EXPECT_EQ(panel.runModal(), ModalResponse::Cancel);
  EXPECT_EQ(panel.path(), "");
  EXPECT_EQ(panel.runModal(), ModalResponse::Cancel);  // a folder is no file name
  ASSERT_EQ(scope.responder->panels.size(), 5u);
  EXPECT_FALSE(scope.responder->panels[0].open);
  EXPECT_EQ(scope.responder->panels[0].name, "Kesto Bookmarks.html");
  EXPECT_EQ(scope.responder->panels[0].types, (std::vector<std::string>{"html", "htm"}));
  // Other types allowed: the name stays as given; a relative name becomes absolute.
  panel.setAllowsOtherFileTypes(true);
  scope.responder->saveAnswers = {"notes.txt"};
  EXPECT_EQ(panel.runModal(), ModalResponse::OK);
  EXPECT_EQ(panel.path(), (std::filesystem::current_path() / "notes.txt").string());
}

TEST(FilePanel, AnOpenTakesOnlyWhatItsSettingsAllow) {
  ResponderScope scope;
  const std::string dir = test::makeTempDir("open");
  test::writeFile(dir + "/a.kesto", "x");
  test::writeFile(dir + "/b.KESTO", "x");
  test::writeFile(dir + "/c.txt", "x");
  std::filesystem::create_directory(dir + "/folder");
  OpenPanel panel;
  panel.setAllowedFileTypes({"kesto"});
  scope.responder->openAnswers = {
      std::vector<std::string>{dir + "/c.txt", dir + "/missing.kesto", dir + "/folder", dir + "/b.KESTO", dir + "/a.kesto"},
      std::vector<std::string>{dir + "/c.txt"},
      std::nullopt,
  };
  EXPECT_EQ(panel.runModal(), ModalResponse::OK);
  EXPECT_EQ(panel.paths(), std::vector<std::string>{dir + "/b.KESTO"});  // one, as no multiple selection
  EXPECT_EQ(panel.runModal(), ModalResponse::Cancel);  // nothing acceptable is a Cancel
  EXPECT_TRUE(panel.paths().empty());
  EXPECT_EQ(panel.runModal(), ModalResponse::Cancel);
  ASSERT_FALSE(scope.responder->panels.empty());
  EXPECT_TRUE(scope.responder->panels[0].open);

  panel.setAllowsMultipleSelection(true);
  panel.setCanChooseDirectories(true);
  panel.setCanChooseFiles(false);
  EXPECT_EQ(panel.acceptablePaths({dir + "/a.kesto", dir + "/folder", dir + "/folder/"}),
            std::vector<std::string>{dir + "/folder"});
  panel.setCanChooseFiles(true);
  EXPECT_EQ(panel.acceptablePaths({dir + "/a.kesto", dir + "/folder", dir + "/b.KESTO"}),
            (std::vector<std::string>{dir + "/a.kesto", dir + "/folder", dir + "/b.KESTO"}));
}

TEST(FilePanel, AFolderNamedWithAnAllowedExtensionIsChosenLikeAFile) {
  ResponderScope scope;
  const std::string dir = test::makeTempDir("packages");
  std::filesystem::create_directories(dir + "/shared.kesto/Contents");
  std::filesystem::create_directory(dir + "/plain");
  test::writeFile(dir + "/bookmarks", "<html>");
  test::writeFile(dir + "/notes.txt", "x");
  OpenPanel panel;
  panel.setAllowedFileTypes({"html", "kesto"});
  panel.setAllowsMultipleSelection(true);
  EXPECT_EQ(panel.acceptablePaths({dir + "/shared.kesto", dir + "/plain", dir + "/bookmarks", dir + "/notes.txt"}),
            std::vector<std::string>{dir + "/shared.kesto"});
  panel.setAllowsFilesWithoutExtension(true);
  EXPECT_EQ(panel.acceptablePaths({dir + "/shared.kesto/", dir + "/bookmarks", dir + "/notes.txt"}),
            (std::vector<std::string>{dir + "/shared.kesto", dir + "/bookmarks"}));
  // A panel for files only takes no package when packages are not among its types.
  panel.setAllowedFileTypes({"html"});
  EXPECT_TRUE(panel.acceptablePaths({dir + "/shared.kesto"}).empty());
}

TEST(FilePanel, TheToolkitDialogTakesAChosenPackageInsteadOfEnteringIt) {
  const std::string dir = test::makeTempDir("package-dialog");
  std::filesystem::create_directories(dir + "/shared.kesto/Contents");
  OpenPanel open;
  open.setDirectory(dir);
  open.setAllowedFileTypes({"html", "kesto"});
  int code = -1;
  open.beginSheetModalForWindow(nullptr, [&](int c) { code = c; });
  auto* dialog = static_cast<QFileDialog*>(open.nativeHandle());
  ASSERT_NE(dialog, nullptr);
  dialog->selectFile(QString::fromStdString(dir + "/shared.kesto"));
  static_cast<QDialog*>(dialog)->accept();
  ASSERT_TRUE(test::runUntil([&] { return code != -1; }, 2));
  EXPECT_EQ(code, ModalResponse::OK);
  EXPECT_EQ(open.paths(), std::vector<std::string>{dir + "/shared.kesto"});
}

TEST(FilePanel, TheToolkitDialogIsSetUpFromThePanelAndAnswersItsCompletion) {
  const std::string dir = test::makeTempDir("dialog");
  Window window(fnd::Rect(100, 100, 500, 400));
  window.makeKeyAndOrderFront();
  SavePanel panel;
  panel.setTitle("Back up the library");
  panel.setDirectory(dir);
  panel.setNameFieldStringValue("backup");
  panel.setAllowedFileTypes({"kestobackup"});
  panel.setPrompt("Back Up");
  int code = -1;
  panel.beginSheetModalForWindow(&window, [&](int c) { code = c; });
  auto* dialog = static_cast<QFileDialog*>(panel.nativeHandle());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_EQ(dialog->windowTitle().toStdString(), "Back up the library");
  EXPECT_EQ(dialog->directory().absolutePath().toStdString(), std::filesystem::canonical(dir).string());
  EXPECT_EQ(dialog->labelText(QFileDialog::Accept).toStdString(), "Back Up");
  EXPECT_TRUE(dialog->nameFilters().join(";").contains("*.kestobackup"));
  dialog->selectFile(QString::fromStdString(dir + "/mine"));
  static_cast<QDialog*>(dialog)->accept();
  ASSERT_TRUE(test::runUntil([&] { return code != -1; }, 2));
  EXPECT_EQ(code, ModalResponse::OK);
  EXPECT_EQ(panel.path(), dir + "/mine.kestobackup");

  OpenPanel open;
  open.setCanChooseDirectories(true);
  open.setCanChooseFiles(false);
  code = -1;
  open.beginSheetModalForWindow(nullptr, [&](int c) { code = c; });
  dialog = static_cast<QFileDialog*>(open.nativeHandle());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
  dialog->reject();
  ASSERT_TRUE(test::runUntil([&] { return code != -1; }, 2));
  EXPECT_EQ(code, ModalResponse::Cancel);
}

// The toolkit's dialog writes the folders it visited to its own settings file when it goes;
// that file is the user's alone, also when an older one was readable to others.
TEST(FilePanel, TheToolkitDialogLeavesItsSettingsFilePrivate) {
  const std::string settings = QSettings(QSettings::UserScope, "QtProject").fileName().toStdString();
  ASSERT_FALSE(settings.empty());
  std::filesystem::create_directories(std::filesystem::path(settings).parent_path());
  { std::ofstream(settings, std::ios::app) << ""; }
  ::chmod(settings.c_str(), 0644);
  const std::string dir = test::makeTempDir("settings-dialog");
  for (bool sheet : {false, true}) {
    ::chmod(settings.c_str(), 0644);
    SavePanel panel;
    panel.setDirectory(dir);
    int code = -1;
    if (sheet) {
      panel.beginSheetModalForWindow(nullptr, [&](int c) { code = c; });
      ASSERT_NE(panel.nativeHandle(), nullptr);
      static_cast<QFileDialog*>(panel.nativeHandle())->reject();
    } else {
      QTimer::singleShot(0, [&] {
        if (auto* dialog = static_cast<QFileDialog*>(panel.nativeHandle())) dialog->reject();
      });
      code = panel.runModal();
    }
    // A dialog let go later goes when the loop it was let go in turns again: deliver that here.
    EXPECT_TRUE(test::runUntil(
        [&] {
          QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
          return code != -1 && panel.nativeHandle() == nullptr;
        },
        5))
        << sheet;
    struct stat st {};
    ASSERT_EQ(::stat(settings.c_str(), &st), 0) << sheet;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << sheet;
  }
}

TEST(Sheet, ASheetHangsTopCentreOverTheContentFollowsItsWindowAndQueuesTheNext) {
  Window window(fnd::Rect(200, 150, 600, 400));
  window.makeKeyAndOrderFront();
  Panel first(fnd::Rect(0, 0, 300, 120));
  Panel second(fnd::Rect(0, 0, 200, 100));
  std::vector<int> codes;
  window.beginSheet(first, [&](int c) { codes.push_back(c); });
  window.beginSheet(second, [&](int c) { codes.push_back(c + 100); });
  EXPECT_EQ(window.attachedSheet(), &first);
  EXPECT_TRUE(first.isVisible());
  EXPECT_FALSE(second.isVisible());  // waits for the first
  EXPECT_EQ(first.sheetParent(), &window);
  auto placed = [&](Window& sheet) {
    fnd::Rect w = window.frame(), s = sheet.frame();
    EXPECT_DOUBLE_EQ(s.origin.x, w.origin.x + (w.size.width - s.size.width) / 2);
    EXPECT_DOUBLE_EQ(s.maxY(), w.origin.y + window.contentLayoutRect().size.height);
  };
  placed(first);
  EXPECT_EQ(static_cast<QWidget*>(first.nativeHandle())->windowModality(), Qt::WindowModal);
  // Ctrl+W in a sheet closes neither the sheet (it would stay attached) nor its window.
  EXPECT_FALSE(first.respondsToAction(ui::cmd::performClose));
  EXPECT_FALSE(Application::shared().sendAction(ui::cmd::performClose, &first, nullptr));
  EXPECT_TRUE(first.isVisible());
  window.setFrame(fnd::Rect(260, 100, 700, 420));
  placed(first);

  first.keyDown(Event::key(KeyCode::Escape, 0, "\x1b"));  // a panel sheet cancels on Escape
  EXPECT_EQ(codes, std::vector<int>{ModalResponse::Cancel});
  EXPECT_FALSE(first.isVisible());
  EXPECT_FALSE(first.isSheet());
  EXPECT_EQ(window.attachedSheet(), &second);
  EXPECT_TRUE(second.isVisible());
  placed(second);
  window.endSheet(second, ModalResponse::OK);
  EXPECT_EQ(codes, (std::vector<int>{ModalResponse::Cancel, 100 + ModalResponse::OK}));
  EXPECT_EQ(window.attachedSheet(), nullptr);
  window.endSheet(second, ModalResponse::OK);  // ended twice: answered once
  EXPECT_EQ(codes.size(), 2u);
  // The sheet is an ordinary window again.
  EXPECT_EQ(static_cast<QWidget*>(first.nativeHandle())->parentWidget(), nullptr);
}

TEST(Sheet, EitherWindowMayGoFirst) {
  auto window = std::make_unique<Window>(fnd::Rect(200, 150, 600, 400));
  auto sheet = std::make_unique<Panel>(fnd::Rect(0, 0, 300, 120));
  auto waiting = std::make_unique<Panel>(fnd::Rect(0, 0, 300, 120));
  window->makeKeyAndOrderFront();
  window->beginSheet(*sheet);
  window->beginSheet(*waiting);
  sheet.reset();
  EXPECT_EQ(window->attachedSheet(), nullptr);
  waiting.reset();
  window->beginSheet(*(sheet = std::make_unique<Panel>(fnd::Rect(0, 0, 300, 120))));
  window.reset();  // the sheet outlives its window and is a window of its own
  EXPECT_FALSE(sheet->isSheet());
  sheet->makeKeyAndOrderFront();
  test::spin(0.05);
  EXPECT_TRUE(sheet->isVisible());
}

TEST(Panel, EscapeAndCtrlPeriodCancelUnlessAViewBeforeThePanelTakesTheCancel) {
  class Canceller : public View {
   public:
    using View::View;
    bool take = true;
    int cancels = 0;
    bool acceptsFirstResponder() override { return true; }
    bool respondsToAction(Command s) const override { return take && s == ui::cmd::cancelOperation; }
    bool performAction(Command s, Responder*) override {
      if (!respondsToAction(s)) return false;
      ++cancels;
      return true;
    }
  };
  Panel panel(fnd::Rect(100, 100, 300, 200));
  auto view = std::make_shared<Canceller>(fnd::Rect(10, 10, 100, 30));
  panel.contentView()->addSubview(view);
  panel.makeKeyAndOrderFront();
  panel.makeFirstResponder(view.get());
  panel.sendEvent(Event::key(KeyCode::Escape, 0, "\x1b"));
  EXPECT_EQ(view->cancels, 1);
  EXPECT_TRUE(panel.isVisible());
  view->take = false;
  panel.sendEvent(Event::key(47, ModifierFlag::Command, "."));
  EXPECT_FALSE(panel.isVisible());  // not a sheet: it closes
  EXPECT_TRUE(Panel::isCancelKey(Event::key(KeyCode::Escape, 0, "\x1b")));
  EXPECT_FALSE(Panel::isCancelKey(Event::key(KeyCode::Escape, ModifierFlag::Shift, "\x1b")));
  EXPECT_FALSE(Panel::isCancelKey(Event::key(47, 0, ".")));

  panel.setFloatingPanel(true);
  EXPECT_EQ(panel.level(), WindowLevel::Floating);
  EXPECT_TRUE(static_cast<QWidget*>(panel.nativeHandle())->windowFlags() & Qt::WindowStaysOnTopHint);

  // A non-activating panel shows without taking the desktop's focus, yet takes the keys.
  Panel quiet(fnd::Rect(100, 100, 200, 100), WindowStyle::Titled | WindowStyle::NonactivatingPanel);
  EXPECT_TRUE(static_cast<QWidget*>(quiet.nativeHandle())->testAttribute(Qt::WA_ShowWithoutActivating));
  quiet.makeKeyAndOrderFront();
  EXPECT_TRUE(quiet.isKeyWindow());
  // Not closable: Escape orders it out.
  quiet.sendEvent(Event::key(KeyCode::Escape, 0, "\x1b"));
  EXPECT_FALSE(quiet.isVisible());
}

TEST(Window, ShownWindowsKeepTheirTopEdgeOnTheVisibleScreen) {
  Screen screen = Screen::primary();
  ASSERT_TRUE(screen.isValid());
  fnd::Rect visible = screen.visibleFrame();
  Window window(fnd::Rect(100, visible.maxY() - 50, 300, 200));
  window.makeKeyAndOrderFront();
  EXPECT_DOUBLE_EQ(window.frame().maxY(), visible.maxY());
  EXPECT_DOUBLE_EQ(window.frame().origin.x, 100);
  fnd::Rect below(10, 10, 100, 100);
  EXPECT_EQ(window.constrainFrameRect(below, screen), below);
  EXPECT_EQ(window.constrainFrameRect(below, Screen(-1)), below);
}

TEST(AboutPanel, OneFloatingPanelShowsTheApplicationsNameAndVersion) {
  auto& app = Application::shared();
  AboutPanelOptions options;
  options.applicationName = "Kesto";
  options.version = "1.0.0";
  options.copyright = "Copyright the Kesto authors";
  app.setAboutPanelOptions(options);
  EXPECT_TRUE(app.respondsToAction(ui::cmd::orderFrontStandardAboutPanel));
  ASSERT_TRUE(app.sendAction(ui::cmd::orderFrontStandardAboutPanel, nullptr, nullptr));
  Window* panel = app.aboutPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->title(), "About Kesto");
  EXPECT_EQ(panel->level(), WindowLevel::Floating);
  auto* widget = static_cast<QWidget*>(panel->nativeHandle());
  auto* name = widget->findChild<QLabel*>("name");
  auto* version = widget->findChild<QLabel*>("version");
  ASSERT_TRUE(name && version);
  EXPECT_EQ(name->text().toStdString(), "Kesto");
  EXPECT_EQ(version->text().toStdString(), "Version 1.0.0");
  app.orderFrontStandardAboutPanel();
  EXPECT_EQ(app.aboutPanel(), panel);  // brought forward, not made again
}
