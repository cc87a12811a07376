#include "Platform/System/URLSchemeRegistration.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/System/DesktopEntry_p.h"
#include "Platform/System/Launcher_p.h"

#include <QCoreApplication>

#include <cctype>
#include <string_view>
#include <climits>
#include <unistd.h>

namespace kesto::sys {

namespace detail {

std::string runningExecutable() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationFilePath().toStdString();
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("kesto");
}

// One Exec argument as the desktop-entry rules want it. Quotes only when a reserved character
// needs them: Debian's generic xdg-open runs the Exec line without undoing quotes, so a quoted
// plain path would not start. Inside quotes '"', '`', '$' and the backslash take a backslash;
// a literal '%' is written twice; then the value's own escaping doubles every backslash. Line
// breaks cannot be carried and are dropped.
std::string desktopExecArgument(const std::string& arg) {
  static constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
  bool needsQuotes = arg.empty();
  std::string word;
  for (char c : arg) {
    if (c == '\n' || c == '\r') continue;
    if (kReserved.find(c) != std::string_view::npos) needsQuotes = true;
    if (c == '%') word += '%';
    word += c;
  }
  if (needsQuotes) {
    std::string quoted = "\"";
    for (char c : word) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    word = quoted + "\"";
  }
  std::string value;
  for (char c : word) {
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

}  // namespace detail

namespace {

using detail::desktopExecArgument;
using detail::runningExecutable;

bool isSchemeName(const std::string& s) {
  if (s.empty() || !fnd::isAsciiLetter(s[0])) return false;
  for (char c : s)
    if (!fnd::isAsciiLetterOrDigit(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

// The entry an install put beside the program (<prefix>/share/applications for <prefix>/bin),
// when it handles the scheme; empty otherwise.
std::string installedEntryHandling(const std::string& exe, const std::string& scheme, const std::string& desktopName) {
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string path = exe.substr(0, slash) + "/../share/applications/" + desktopName + ".desktop";
  const auto text = fnd::FileManager::readFile(path, 64 * 1024);
  if (!text || text->find("\nMimeType=x-scheme-handler/" + scheme + ";") == std::string::npos) return {};
  return path;
}

// Whether the entry at `path` is one this program wrote for a run from a build folder.
bool isOwnHiddenEntry(const std::string& path) {
  const auto text = fnd::FileManager::readFile(path, 64 * 1024);
  return text && text->rfind("[Desktop Entry]\nType=Application\nName=Kesto\n", 0) == 0 &&
         text->find("\nNoDisplay=true\n") != std::string::npos;
}

}  // namespace

std::string urlSchemeDesktopEntryPath(const std::string& desktopName) {
  return fnd::StandardPaths::applicationSupportDirectory() + "/applications/" + desktopName + ".desktop";
}

bool registerURLSchemeHandler(const std::string& scheme, const std::string& executablePath,
                              const std::string& desktopName) {
  if (!isSchemeName(scheme) || desktopName.empty() || desktopName.find('/') != std::string::npos) return false;
  std::string exe = executablePath.empty() ? runningExecutable() : executablePath;
  std::string path = urlSchemeDesktopEntryPath(desktopName);
  const auto askXdgMime = [&] {
    // Whether the desktop took it is not ours to judge: the entry is in place either way.
    detail::launchDetached("xdg-mime", {"default", desktopName + ".desktop", "x-scheme-handler/" + scheme});
  };
  // An installed program has its own entry, shown in the desktop's menus: a hidden one of ours
  // under the user's folder (from a run out of a build folder) would stand in front of it.
  if (!installedEntryHandling(exe, scheme, desktopName).empty()) {
    if (isOwnHiddenEntry(path)) fnd::FileManager::removeItem(path);
    askXdgMime();
    return true;
  }
  std::string folder = fnd::StandardPaths::applicationSupportDirectory() + "/applications";
  fnd::FileManager::createDirectory(folder, true);
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Kesto\n"
      "Exec=" + desktopExecArgument(exe) + " %u\n"
      "Terminal=false\n"
      "NoDisplay=true\n"
      "MimeType=x-scheme-handler/" + scheme + ";\n";
  if (!fnd::FileManager::writeFile(path, entry, true)) return false;
  askXdgMime();
  return true;
}

}  // namespace kesto::sys
