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

  // Opens the addresses in the browser named by its bundle identifier ("com.google.Chrome",
  // "org.mozilla.firefox", "com.operasoftware.Opera"; "com.apple.Safari" never resolves), all in
  // one launch. False when the browser is not installed or nothing valid was given.
  static bool openURLs(const std::vector<std::string>& urls, const std::string& browserIdentifier);

  // The desktop entry file that stands for a browser identifier, when one is installed.
  static std::optional<std::string> desktopEntryForBrowser(const std::string& browserIdentifier);
  static bool isBrowserInstalled(const std::string& browserIdentifier) {
    return desktopEntryForBrowser(browserIdentifier).has_value();
  }

  // Replaces the program starter (tests record launches instead). Null restores the real one.
  using Launcher = std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;
  static void setLauncher(Launcher launcher);
};

}  // namespace kesto::sys
