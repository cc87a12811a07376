#pragma once

#include "Platform/System/UserNotifications.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Window.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

namespace ui {
class View;
}
class Backup;
class BookmarksController;
class DataManager;
class OverlayController;
class PreferencesController;
class SpinningIndicator;

// The one object that owns the application's life: start-up, the one-time migrations, the
// library window's set-up, logging, bookmark intake, activation and quitting. Main thread only.
class AppDelegate : public ui::ApplicationDelegate,
                    public ui::WindowDelegate,
                    public sys::UserNotificationCenterDelegate {
 public:
  static constexpr const char* kCrashReporterAPIKey = "7f3a9c0e5b21d84f6a0c93e7b2d5148f0e6a7c39";

  AppDelegate();
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Outlets, set by the main interface builder.
  ui::Window* window = nullptr;
  BookmarksController* bookmarksController = nullptr;
  DataManager* kestoData = nullptr;
  PreferencesController* kestoPreferences = nullptr;
  std::shared_ptr<SpinningIndicator> progress;
  std::shared_ptr<ui::View> bottomBar;

  // Start-up and shutdown.
  void applicationDidFinishLaunching() override;
  void applicationDidBecomeActive() override;
  ui::TerminateReply applicationShouldTerminate() override;
  void applicationWillTerminate() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  void initializeKesto();
  void initializeLogging();
  void resetAppId(bool force);
  void setDefaultFindChecks();
  void migrateToModelVersion2();
  void migrateToModelVersion4();
  void migrateToKesto20();
  void showMainKestoWindowAndDock();
  void reopenKestoWindow();
  void autoSync() {}
  // Largest backing scale over the screens (1.0 when none answers), stored as "IsRetina".
  static bool detectRetina(const std::vector<double>& screenScales);

  // Intake.
  void getUrl(const std::string& urlText);
  void addPinUrlFromString(const std::string& text);
  bool openFile(const std::string& path);
  bool openFiles(const std::vector<std::string>& paths);
  void importSharedFolderFromDoubleClick();
  void addUrlFromBrowserExtension();
  // The program's arguments, from this launch or handed over by a later one: "kesto:" URLs,
  // "--add-text TEXT" and archive paths (only the first is imported).
  void handleArguments(const std::vector<std::string>& arguments);
  const std::string& urlToBeAdded() const { return urlToBeAdded_; }
  void setUrlToBeAdded(const std::string& text) { urlToBeAdded_ = text; }
  bool applicationIsActive() const { return applicationIsActive_; }
  bool menuBarMode() const { return menuBarMode_; }

  // Activity and overlay messages.
  void showActivity();
  void hideActivity();
  OverlayController* overlay() const { return overlay_.get(); }

  // Window and notification delegates.
  void windowDidMiniaturize() { autoSync(); }
  bool userNotificationCenterShouldPresentNotification(const sys::UserNotification&) override { return true; }

 private:
  void showOverlayMessage(const std::string& message, double width, double height, double seconds);

  std::string urlToBeAdded_;
  std::string fileToBeImported_;
  bool applicationIsActive_ = false;
  bool menuBarMode_ = false;
  bool appCanQuit_ = false, appMustQuit_ = false;
  bool terminated_ = false;
  std::unique_ptr<OverlayController> overlay_;
  std::unique_ptr<Backup> backup_;
  std::shared_ptr<bool> alive_;
  std::uint64_t overlayGeneration_ = 0;
};

}  // namespace kesto
