#include "Platform/System/Workspace.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/System/Launcher_p.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <mutex>
#include <sstream>

namespace kesto::sys {

namespace {

std::mutex launcherMutex;
Workspace::Launcher& installedLauncher() {
  static Workspace::Launcher launcher;
  return launcher;
}

bool realLaunch(const std::string& program, const std::vector<std::string>& arguments) {
  QStringList args;
  for (const auto& a : arguments) args << QString::fromStdString(a);
  return QProcess::startDetached(QString::fromStdString(program), args);
}

// An absolute URL: a scheme, a colon, no control characters, and nothing a program could take
// for an option.
bool isOpenableURL(const std::string& url) {
  if (url.empty() || url.size() > 65536 || url[0] == '-') return false;
  std::size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    char c = url[i];
    bool ok = std::isalpha(static_cast<unsigned char>(c)) || (i > 0 && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

std::vector<std::string> candidatesFor(const std::string& identifier) {
  if (identifier == "com.google.Chrome")
    return {"google-chrome.desktop", "com.google.Chrome.desktop", "chromium.desktop", "chromium-browser.desktop",
            "org.chromium.Chromium.desktop"};
  if (identifier == "org.mozilla.firefox")
    return {"firefox.desktop", "org.mozilla.firefox.desktop", "firefox-esr.desktop"};
  if (identifier == "com.operasoftware.Opera") return {"opera.desktop", "com.opera.Opera.desktop"};
  return {};
}

std::vector<std::string> applicationDirs() {
  std::vector<std::string> dirs{fnd::StandardPaths::appendingPathComponent(fnd::StandardPaths::applicationSupportDirectory(),
                                                                     "applications")};
  const char* env = std::getenv("XDG_DATA_DIRS");
  std::string list = env && *env ? env : "/usr/local/share:/usr/share";
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ':'))
    if (!item.empty()) dirs.push_back(item + "/applications");
  return dirs;
}

// The Exec line of a desktop entry's main group.
std::optional<std::string> execLine(const std::string& path) {
  auto text = fnd::FileManager::readFile(path, 1 << 20);
  if (!text) return std::nullopt;
  std::stringstream ss(*text);
  std::string line;
  bool inMain = false;
  while (std::getline(ss, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inMain = line == "[Desktop Entry]";
      continue;
    }
    if (inMain && line.rfind("Exec=", 0) == 0) return line.substr(5);
  }
  return std::nullopt;
}

// Splits an Exec value into words (double quotes group, backslash escapes inside them) and
// puts the URLs in place of the field codes.
std::vector<std::string> expandExec(const std::string& exec, const std::vector<std::string>& urls) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, have = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) words.push_back(word);
      word.clear();
      have = false;
    } else {
      word += c;
      have = true;
    }
  }
  if (have) words.push_back(word);

  std::vector<std::string> out;
  bool placed = false;
  for (const auto& w : words) {
    if (w == "%u" || w == "%U" || w == "%f" || w == "%F") {
      if (!placed) out.insert(out.end(), urls.begin(), urls.end());
      placed = true;
      continue;
    }
    if (w == "%i" || w == "%c" || w == "%k") continue;
    std::string r;
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (w[i] == '%' && i + 1 < w.size()) {
        if (w[i + 1] == '%') r += '%';
        ++i;  // other field codes inside a word are dropped
      } else {
        r += w[i];
      }
    }
    out.push_back(r);
  }
  if (!placed) out.insert(out.end(), urls.begin(), urls.end());
  return out;
}

}  // namespace

namespace detail {
bool launchDetached(const std::string& program, const std::vector<std::string>& arguments) {
  Workspace::Launcher launcher;
  {
    std::lock_guard lock(launcherMutex);
    launcher = installedLauncher();
  }
  if (launcher) return launcher(program, arguments);
  return realLaunch(program, arguments);
}
}  // namespace detail

void Workspace::setLauncher(Launcher launcher) {
  std::lock_guard lock(launcherMutex);
  installedLauncher() = std::move(launcher);
}

bool Workspace::openURL(const std::string& url) {
  if (!isOpenableURL(url)) {
    fnd::logWarning("Refused to open an address that is not a URL");
    return false;
  }
  return detail::launchDetached("xdg-open", {url});
}

std::optional<std::string> Workspace::desktopEntryForBrowser(const std::string& browserIdentifier) {
  for (const auto& name : candidatesFor(browserIdentifier)) {
    for (const auto& dir : applicationDirs()) {
      std::string path = dir + "/" + name;
      if (fnd::FileManager::fileExists(path) && execLine(path)) return path;
    }
  }
  return std::nullopt;
}

bool Workspace::openURLs(const std::vector<std::string>& urls, const std::string& browserIdentifier) {
  std::vector<std::string> valid;
  for (const auto& u : urls)
    if (isOpenableURL(u)) valid.push_back(u);
  if (valid.empty()) return false;
  auto entry = desktopEntryForBrowser(browserIdentifier);
  if (!entry) return false;
  auto exec = execLine(*entry);
  if (!exec) return false;
  auto words = expandExec(*exec, valid);
  if (words.empty()) return false;
  std::string program = words.front();
  words.erase(words.begin());
  return detail::launchDetached(program, words);
}

}  // namespace kesto::sys
