#include "Platform/System/URLSchemeRegistration.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/System/DesktopEntry_p.h"
#include "Platform/System/Launcher_p.h"

#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

namespace kesto::sys {

namespace {

bool isSchemeName(const std::string& s) {
  if (s.empty() || !fnd::isAsciiLetter(s[0])) return false;
  for (char c : s)
    if (!fnd::isAsciiLetterOrDigit(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

std::string applicationsFolder() { return fnd::StandardPaths::applicationSupportDirectory() + "/applications"; }

// The hidden handler entry has an id of its own, so that it never stands in front of an installed
// entry (the menu entry an install writes is "<name>.desktop").
std::string hiddenEntryId(const std::string& desktopName) { return desktopName + "-handler.desktop"; }

// The hidden handler entry for a program, given as its Exec argument: these lines and no others.
std::string hiddenEntryText(const std::string& execArgument, const std::string& scheme) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Kesto\n"
         "Exec=" + execArgument + " %u\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "MimeType=x-scheme-handler/" + scheme + ";\n";
}

// The program of the file at `path` when it is a hidden handler entry as a start writes it (and as
// every older Kesto wrote it); empty when it is anything else.
std::string hiddenEntryProgram(const std::string& path, const std::string& scheme) {
  const auto text = fnd::FileManager::readFile(path, 64 * 1024);
  static const std::string before = "\nExec=";
  const auto at = text ? text->find(before) : std::string::npos;
  const auto end = at == std::string::npos ? at : text->find(" %u\n", at);
  if (end == std::string::npos) return {};
  const std::string argument = text->substr(at + before.size(), end - at - before.size());
  return *text == hiddenEntryText(argument, scheme) ? detail::execProgram(argument) : std::string();
}

// Whether a program path is the one a build folder holds (<build>/Source/App/kesto), not an
// installed one.
bool isBuildFolderProgram(const std::string& program) { return fnd::hasSuffix(program, "/Source/App/kesto"); }

// The entries the desktop finds that handle the scheme, by id in the desktop's order, leaving out
// `hiddenId`: entries it passes over (deleted with Hidden=true, or whose program it cannot find)
// handle nothing.
std::vector<std::string> installedHandlers(const std::vector<std::pair<std::string, std::string>>& entries,
                                           const std::string& scheme, const std::string& hiddenId) {
  std::vector<std::string> handlers;
  const auto found = [](const std::string& program) {
    return !program.empty() && !QStandardPaths::findExecutable(QString::fromStdString(program)).isEmpty();
  };
  const std::string type = "x-scheme-handler/" + scheme;
  for (const auto& [id, path] : entries) {
    if (id == hiddenId) continue;
    // Parsed only where the type is named at all: a start looks through every entry there is.
    const auto text = fnd::FileManager::readFile(path, 1 << 20);
    if (!text || text->find(type) == std::string::npos) continue;
    const auto keys = detail::mainGroup(path);
    const auto value = [&](const char* key) {
      const auto it = keys.find(key);
      return it == keys.end() ? std::string() : it->second;
    };
    if (value("Hidden") == "true" || (!value("Type").empty() && value("Type") != "Application")) continue;
    if (!detail::listsValue(value("MimeType"), type)) continue;
    if (!found(detail::execProgram(value("Exec"))) || (!value("TryExec").empty() && !found(value("TryExec")))) continue;
    handlers.push_back(id);
  }
  return handlers;
}

// The mimeapps.list files the desktop takes default applications from, the most important first:
// in $XDG_CONFIG_HOME, each $XDG_CONFIG_DIRS folder and then each applications folder, the current
// desktops' own ("<desktop>-mimeapps.list") before the shared one.
std::vector<std::string> mimeAppsLists() {
  std::vector<std::string> folders{fnd::StandardPaths::configDirectory()};
  for (const auto& folder : detail::searchPath("XDG_CONFIG_DIRS", "/etc/xdg")) folders.push_back(folder);
  for (const auto& folder : detail::applicationDirs()) folders.push_back(folder);
  std::vector<std::string> names;
  for (const auto& desktop : detail::searchPath("XDG_CURRENT_DESKTOP", ""))
    names.push_back(fnd::asciiLowercase(desktop) + "-mimeapps.list");
  names.emplace_back("mimeapps.list");
  std::vector<std::string> lists;
  for (const auto& folder : folders)
    for (const auto& name : names) lists.push_back(folder + "/" + name);
  return lists;
}

// Whether the desktop's default application for `type` is already `id`: the first of those files
// whose "Default Applications" name the type decides, with the first entry it names that is
// installed (`id` is, being the one about to be asked for); one naming none installed is passed over.
bool isDesktopDefault(const std::vector<std::pair<std::string, std::string>>& entries, const std::string& type,
                      const std::string& id) {
  const auto installed = [&](const std::string& named) {
    if (named == id) return true;
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.first == named; });
    return it != entries.end() && detail::mainGroup(it->second)["Hidden"] != "true";
  };
  for (const auto& list : mimeAppsLists()) {
    const auto defaults = detail::keyFileGroup(list, "Default Applications");
    const auto it = defaults.find(type);
    if (it == defaults.end()) continue;
    std::stringstream named(it->second);
    for (std::string candidate; std::getline(named, candidate, ';');)
      if (!candidate.empty() && installed(candidate)) return candidate == id;
  }
  return false;
}

}  // namespace

std::string urlSchemeDesktopEntryPath(const std::string& desktopName) {
  return applicationsFolder() + "/" + hiddenEntryId(desktopName);
}

bool registerURLSchemeHandler(const std::string& scheme, const std::string& executablePath,
                              const std::string& desktopName) {
  if (!isSchemeName(scheme) || desktopName.empty() || desktopName.find('/') != std::string::npos) return false;
  const std::string exe = executablePath.empty() ? detail::runningExecutable() : executablePath;
  const std::string path = urlSchemeDesktopEntryPath(desktopName);
  // Older starts from a build folder wrote their hidden entry under the installed entry's id, where
  // it hides an install's menu entry. Only such a file goes: an installed or hand-written one stays.
  const std::string olderPath = applicationsFolder() + "/" + desktopName + ".desktop";
  if (isBuildFolderProgram(hiddenEntryProgram(olderPath, scheme))) fnd::FileManager::removeItem(olderPath);

  const auto entries = detail::desktopEntries();
  const std::string type = "x-scheme-handler/" + scheme;
  const auto askXdgMime = [&](const std::string& id) {
    // xdg-mime writes the settings file anew (a new file, the program's mode, a link replaced by a
    // file): only a change is worth that. Whether the desktop took it is not ours to judge.
    if (!isDesktopDefault(entries, type, id)) detail::launchDetached("xdg-mime", {"default", id, type});
  };

  // An installed entry handles the links and shows in the menus: ours is not needed beside it.
  const auto installed = installedHandlers(entries, scheme, hiddenEntryId(desktopName));
  if (!installed.empty()) {
    if (!hiddenEntryProgram(path, scheme).empty()) fnd::FileManager::removeItem(path);
    const std::string own = desktopName + ".desktop";
    askXdgMime(std::find(installed.begin(), installed.end(), own) != installed.end() ? own : installed.front());
    return true;
  }
  fnd::FileManager::createDirectory(applicationsFolder(), true);
  if (!fnd::FileManager::writeFile(path, hiddenEntryText(detail::desktopExecArgument(exe), scheme), true)) return false;
  askXdgMime(hiddenEntryId(desktopName));
  return true;
}

}  // namespace kesto::sys
