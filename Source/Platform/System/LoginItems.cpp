#include "Platform/System/LoginItems.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/System/DesktopEntry_p.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

namespace kesto::sys {

namespace {

constexpr const char* kEntryName = "kesto.desktop";
constexpr std::uint64_t kMaxEntrySize = 64 * 1024;

std::string canonical(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

using detail::execProgram;

struct Entry {
  std::string program;
  bool hidden = false;
};

std::optional<Entry> readEntry(const std::string& path) {
  auto text = fnd::FileManager::readFile(path, kMaxEntrySize);
  if (!text) return std::nullopt;
  Entry entry;
  bool inMain = false;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] == '[') {
      inMain = line == "[Desktop Entry]";
      continue;
    }
    if (!inMain) continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    if (key == "Exec") entry.program = execProgram(value);
    else if (key == "Hidden") entry.hidden = value == "true";
  }
  return entry;
}

std::vector<std::string> systemEntryPaths() {
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::string list = dirs && *dirs ? dirs : "/etc/xdg";
  std::vector<std::string> paths;
  std::istringstream parts(list);
  for (std::string dir; std::getline(parts, dir, ':');)
    if (!dir.empty()) paths.push_back(dir + "/autostart/" + kEntryName);
  return paths;
}

bool names(const std::optional<Entry>& entry, const std::string& executable) {
  return entry && !entry->program.empty() && canonical(entry->program) == canonical(executable);
}

}  // namespace

std::string LoginItems::currentExecutable() { return canonical(detail::runningExecutable()); }

std::string LoginItems::autostartEntryPath() {
  return fnd::StandardPaths::configDirectory() + "/autostart/" + kEntryName;
}

bool LoginItems::willLaunchAtLogin(const std::string& executable) {
  // The user's entry decides alone when there is one: it hides or replaces the system's.
  if (auto user = readEntry(autostartEntryPath())) return !user->hidden && names(user, executable);
  for (const auto& path : systemEntryPaths())
    if (auto entry = readEntry(path)) return !entry->hidden && names(entry, executable);
  return false;
}

bool LoginItems::setLaunchAtLogin(const std::string& executable, bool enabled) {
  if (willLaunchAtLogin(executable) == enabled) return true;
  const std::string path = autostartEntryPath();
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Kesto\n"
      "Comment=Bookmark manager\n"
      "Exec=" + detail::desktopExecArgument(canonical(executable)) + "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  if (!enabled) {
    fnd::FileManager::removeItem(path);
    if (!willLaunchAtLogin(executable)) return true;
    // A system-wide entry stays: the user's hidden copy turns it off.
    entry += "Hidden=true\n";
  }
  fnd::FileManager::createDirectory(fnd::FileManager::deletingLastPathComponent(path), true);
  // Private like every file Kesto writes: the session that starts it runs as the user.
  if (!fnd::FileManager::writeFileAtomically(path, entry, 0600)) return false;
  return willLaunchAtLogin(executable) == enabled;
}

}  // namespace kesto::sys
