#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kesto::sys {

// Opening addresses in the desktop's applications. Programs are started detached with their
// arguments passed directly (never through a shell).
class Workspace {
 public:
  // How an address from the library may be opened: http and https go to the browser; any other
  // scheme ("javascript:", "file:", "mailto:", a scheme some program registered) is opened only
  // once the user said so; a local program is never started (Refused).
  enum class OpenPolicy { Browser, AskFirst, Refused };
  static OpenPolicy policyForURL(const std::string& url);
  // The scheme, lower-cased; empty when the text has none.
  static std::string schemeOf(const std::string& url);

  // Opens one address with the desktop default (xdg-open). Refuses text that is not an
  // absolute URL with a scheme, that could be read as an option, or that names a local program:
  // a "file:" address of a desktop entry, an executable or a script, or of another host, or
  // with a malformed escape. A "file:" address is read as the opener reads it (query and
  // fragment cut off, then the escapes decoded) and handed over as the local path it names.
  static bool openURL(const std::string& url);

  // Opens a new message in the user's mail program from a "mailto:" address (xdg-email, else the
  // desktop default). Anything but a mailto address is refused (false). `outcome`, when given,
  // hears later, on the main queue, whether a mail program took the message: false when none
  // could be started (the helper was missing or ended in failure, which is logged).
  static bool composeEmail(const std::string& mailtoURL, std::function<void(bool taken)> outcome = {});
  // Whether this desktop has a way to hand a message to a mail program.
  static bool canComposeEmail();

  // Opens the addresses in the browser named by its desktop entry id ("firefox-esr.desktop") or
  // by a bundle identifier ("com.google.Chrome", "org.mozilla.firefox", "com.operasoftware.Opera";
  // "com.apple.Safari" never resolves), all in one launch. False when the browser is not installed or nothing valid was given.
  static bool openURLs(const std::vector<std::string>& urls, const std::string& browserIdentifier);

  // A web browser installed here: a desktop entry that handles "x-scheme-handler/http".
  struct Browser {
    std::string identifier;  // the desktop entry id, as "firefox-esr.desktop"
    std::string name;        // its Name
    std::string icon;        // its Icon: a theme icon name or an absolute path; may be empty
  };
  // Every installed browser once (a user's entry hides the system's of the same id), by name.
  // Entries that are hidden or have no Exec line are left out.
  static std::vector<Browser> installedBrowsers();
  // The installed browser a stored identifier stands for (a desktop entry id or one of the
  // bundle identifiers above), when there is one.
  static std::optional<Browser> browserForIdentifier(const std::string& browserIdentifier);

  // The desktop entry file that stands for a browser identifier (a desktop entry id or one of
  // the bundle identifiers above), when one is installed.
  static std::optional<std::string> desktopEntryForBrowser(const std::string& browserIdentifier);
  static bool isBrowserInstalled(const std::string& browserIdentifier) {
    return desktopEntryForBrowser(browserIdentifier).has_value();
  }

  // Replaces the program starter (tests record launches instead). Null restores the real one.
  using Launcher = std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;
  static void setLauncher(Launcher launcher);
};

}  // namespace kesto::sys
