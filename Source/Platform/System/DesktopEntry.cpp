#include "Platform/System/DesktopEntry_p.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"

#include <QCoreApplication>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <set>
#include <sstream>
#include <string_view>
#include <unistd.h>

namespace kesto::sys::detail {

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

std::string execProgram(const std::string& exec) {
  std::string value;
  for (std::size_t i = 0; i < exec.size(); ++i) {  // the value's own escapes
    if (exec[i] == '\\' && i + 1 < exec.size()) {
      char n = exec[++i];
      value += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n;
    } else {
      value += exec[i];
    }
  }
  std::string word;
  if (!value.empty() && value[0] == '"') {
    for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      word += value[i];
    }
  } else {
    word = value.substr(0, value.find_first_of(" \t"));
  }
  return word;
}

std::vector<std::string> searchPath(const char* variable, const std::string& fallback) {
  const char* env = std::getenv(variable);
  std::stringstream ss(env && *env ? env : fallback);
  std::vector<std::string> dirs;
  std::string item;
  while (std::getline(ss, item, ':'))
    if (!item.empty()) dirs.push_back(item);
  return dirs;
}

std::vector<std::string> applicationDirs() {
  std::vector<std::string> dirs{fnd::StandardPaths::appendingPathComponent(fnd::StandardPaths::applicationSupportDirectory(),
                                                                     "applications")};
  for (const auto& dir : searchPath("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) dirs.push_back(dir + "/applications");
  return dirs;
}

std::map<std::string, std::string> keyFileGroup(const std::string& path, const std::string& group) {
  std::map<std::string, std::string> keys;
  auto text = fnd::FileManager::readFile(path, 1 << 20);
  if (!text) return keys;
  std::stringstream ss(*text);
  std::string line;
  const std::string header = "[" + group + "]";
  bool inGroup = false;
  while (std::getline(ss, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inGroup = line == header;
      continue;
    }
    if (!inGroup || line.empty() || line[0] == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    keys.emplace(key, value);
  }
  return keys;
}

std::map<std::string, std::string> mainGroup(const std::string& path) { return keyFileGroup(path, "Desktop Entry"); }

bool listsValue(const std::string& list, const std::string& value) {
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ';'))
    if (item == value) return true;
  return false;
}

std::vector<std::pair<std::string, std::string>> desktopEntries() {
  std::vector<std::pair<std::string, std::string>> entries;
  std::set<std::string> seen;
  for (const auto& dir : applicationDirs()) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) continue;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 8 && name[0] != '.' && name.compare(name.size() - 8, 8, ".desktop") == 0) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      // The first folder that has an id decides about it.
      if (seen.insert(name).second) entries.emplace_back(name, dir + "/" + name);
    }
  }
  return entries;
}

}  // namespace kesto::sys::detail
