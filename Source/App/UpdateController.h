#pragma once

#include "Platform/UI/UIForward.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kesto {

// The update check the user asks for from the Help menu: compares this version with the text
// file on the update host and announces a newer version in a panel, or says that this one is
// current. The file is loaded in the background, with a time-out and a size cap, so the window
// stays live; a reply that cannot be read is reported as a failed check, never as "up to date".
class UpdateController {
 public:
  enum class Result { UpdateAvailable, UpToDate, Failed };

  // The file's address, overridable through user defaults.
  static constexpr const char* kUpdateURLDefaultsKey = "KestoUpdateURL";
  static constexpr const char* kDefaultUpdateURL = "https://www.kestoapp.com/update/update.txt";
  static constexpr const char* kSiteURL = "https://www.kestoapp.com/";
  static constexpr const char* kSupportAddress = "support@kestoapp.com";
  static constexpr const char* kAlertTitle = "Kesto Updater";
  static constexpr const char* kUpToDateMessage = "Your version of Kesto is up to date";
  // Why a check failed, told to the user in the failure alert.
  enum class Failure { NoConnection, TimedOut, Untrusted, ErrorStatus, Unreadable, BadAddress };
  // "Update check failed." with the cause (the HTTP status for an error answer), then the
  // request to write with the support address.
  static std::string failureMessage(Failure cause, int status = 0);
  static std::string updateURL();

  // The whole number at the start of a text, as a 32-bit signed integer (0 when none).
  static int leadingNumber(std::string_view text);
  // "2.1" gives 210 and "2.1.1" gives 211: the dots removed, a "0" added below three digits.
  static int versionNumber(std::string_view version);
  // The system family code the file's second field is compared with. Every supported desktop
  // counts as the current family.
  static int systemCode() { return 1010; }
  // The verdict for the file's text: "newest#lowest-system[#...]".
  static Result evaluate(std::string_view text, int localVersion, int systemCode);

  explicit UpdateController(std::string localVersion);
  ~UpdateController();
  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  // Starts a check; while one runs, asking again does nothing. The outcome is shown when the
  // reply arrives, on the main thread.
  void checkForUpdates();
  bool isChecking() const { return static_cast<bool>(running_); }
  void showUpdatesPanel();
  void closeUpdatePanel();
  void gotoKestoappSite();

  // The window the panel is centred on.
  ui::Window* mainWindow = nullptr;
  ui::Panel* updatesAvailablePanel() const { return panel_.get(); }
  // The last outcome shown (tests).
  Result lastResult() const { return lastResult_; }
  // The whole check, from connecting to the reply's last byte, a reply that trickles in
  // included; short of 15 s so the answer shows within the 15 s the user is told.
  double timeoutSeconds = 14.0;
  std::size_t maximumBytes = 16 * 1024;
  // Runs the check's deadline `seconds` after it started, on the main queue; tests replace it.
  std::function<void(double seconds, std::function<void()> work)> scheduleDeadline;

 private:
  struct Check;
  void finish(Result result, Failure cause = Failure::Unreadable, int status = 0);

  std::string localVersion_;
  std::shared_ptr<Check> running_;
  std::unique_ptr<ui::Panel> panel_;
  Result lastResult_ = Result::Failed;
};

}  // namespace kesto
