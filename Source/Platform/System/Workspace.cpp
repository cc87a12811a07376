#include "Platform/System/Workspace.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/System/DesktopEntry_p.h"
#include "Platform/System/Launcher_p.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <algorithm>
#include <map>
#include <optional>
#include <mutex>

namespace kesto::sys {

namespace {

using detail::applicationDirs;
using detail::listsValue;
using detail::mainGroup;

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

// Starts the first of `programs` that can be started with the message, and tells `taken` whether
// it took it: the desktop's mail helpers end in failure (xdg-email's "no method available", 3)
// when no mail program can be started, and hand the message on otherwise. The process is watched,
// never stopped: one that runs the mail program itself outlives Kesto.
void startMailProgram(std::vector<std::string> programs, const std::string& mailtoURL,
                      std::function<void(bool)> taken) {
  if (programs.empty()) {
    fnd::logWarning("No mail program could be started: neither xdg-email nor xdg-open is there");
    return taken(false);
  }
  const std::string program = programs.front();
  programs.erase(programs.begin());
  auto* process = new QProcess();
  process->setProgram(QString::fromStdString(program));
  process->setArguments({QString::fromStdString(mailtoURL)});
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, programs, mailtoURL, taken](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     process->deleteLater();
                     startMailProgram(programs, mailtoURL, taken);
                   });
  QObject::connect(process, &QProcess::finished, process,
                   [process, program, taken](int status, QProcess::ExitStatus how) {
                     process->deleteLater();
                     // A mail program that ran and was stopped had the message.
                     const bool ok = how == QProcess::CrashExit || status == 0;
                     if (!ok)
                       fnd::logWarning("No mail program could be started: " + program + " ended with status " +
                                       std::to_string(status));
                     taken(ok);
                   });
  process->start();
  process->closeWriteChannel();
}

// An absolute URL: a scheme, a colon, no control characters, and nothing a program could take
// for an option.
bool isOpenableURL(const std::string& url) {
  if (url.empty() || url.size() > 65536 || url[0] == '-') return false;
  std::size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    char c = url[i];
    bool ok = fnd::isAsciiLetter(c) || (i > 0 && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}


// The local file a "file:" address names, read as the desktop opener reads it: the query and
// the fragment cut off first, then the escapes decoded. Absent when it names no local file:
// another host, a relative path, a malformed escape, or a control character once decoded.
std::optional<std::string> localPathOf(const std::string& url) {
  std::string rest = url.substr(url.find(':') + 1);
  if (auto cut = rest.find_first_of("?#"); cut != std::string::npos) rest.erase(cut);
  // file://host/path names another machine's file (or a trick of the opener's parser).
  if (rest.rfind("//", 0) == 0) {
    std::size_t slash = rest.find('/', 2);
    std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    if (!host.empty() && fnd::asciiLowercase(host) != "localhost") return std::nullopt;
    rest = slash == std::string::npos ? std::string("/") : rest.substr(slash);
  }
  auto path = fnd::removePercentEscapes(rest);
  if (!path || path->empty() || (*path)[0] != '/') return std::nullopt;
  for (unsigned char c : *path)
    if (c < 0x20 || c == 0x7f) return std::nullopt;
  return path;
}

// The file the opener ends up with: links followed.
std::string resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string trimmed(const std::string& line) {
  std::size_t b = line.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0, e = line.size();
  while (b < e && std::isspace(static_cast<unsigned char>(line[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(line[e - 1]))) --e;
  return line.substr(b, e - b);
}

// A script ("#!") or a desktop entry: a "[Desktop Entry]" line anywhere, since comments and blank
// lines may put the header past any fixed look-ahead. Read in pieces so a large file costs no memory.
bool hasProgramContent(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
  std::string line;
  char buffer[1 << 16];
  bool first = true;
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) {
    if (first && n >= 2 && buffer[0] == '#' && buffer[1] == '!') return true;
    first = false;
    for (std::size_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n' || buffer[i] == '\r') {
        if (trimmed(line) == "[Desktop Entry]") return true;
        line.clear();
      } else if (line.size() < 64) {
        line += buffer[i];
      } else {
        line = "-";  // longer than any header: not one
      }
    }
  }
  return trimmed(line) == "[Desktop Entry]";
}

// Files the desktop opener would run rather than show: desktop entries, programs and scripts
// (by extension, by any execute bit, or by their content whatever the name).
bool isLocalProgram(const std::string& path) {
  const std::string target = resolvedPath(path);
  static const char* const kLaunchers[] = {"desktop", "exe", "com", "bat", "cmd", "msi", "jar", "appimage",
                                           "run", "sh", "bash", "zsh", "csh", "py", "pl", "rb", "bin", "flatpakref"};
  for (const auto& candidate : {path, target}) {
    const std::string extension = fnd::asciiLowercase(fnd::FileManager::pathExtension(candidate));
    for (const char* launcher : kLaunchers)
      if (extension == launcher) return true;
  }
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;
    return hasProgramContent(target);
  }
  return false;
}

bool isFileURL(const std::string& url) { return fnd::asciiLowercase(url.substr(0, url.find(':'))) == "file"; }

// What the opener is handed for an address: a "file:" address becomes the local path it was
// checked as, so the opener cannot read it another way. Absent when it may not be opened.
std::optional<std::string> argumentFor(const std::string& url) {
  if (!isFileURL(url)) return url;
  auto path = localPathOf(url);
  if (!path || isLocalProgram(*path)) return std::nullopt;
  return resolvedPath(*path);
}

std::vector<std::string> candidatesFor(const std::string& identifier) {
  // A desktop entry id stands for itself; no path may come with it.
  if (identifier.size() > 8 && identifier.compare(identifier.size() - 8, 8, ".desktop") == 0 &&
      identifier.find('/') == std::string::npos && identifier[0] != '.')
    return {identifier};
  if (identifier == "com.google.Chrome")
    return {"google-chrome.desktop", "com.google.Chrome.desktop", "chromium.desktop", "chromium-browser.desktop",
            "org.chromium.Chromium.desktop"};
  if (identifier == "org.mozilla.firefox")
    return {"firefox.desktop", "org.mozilla.firefox.desktop", "firefox-esr.desktop"};
  if (identifier == "com.operasoftware.Opera") return {"opera.desktop", "com.opera.Opera.desktop"};
  return {};
}

// The Exec line of a desktop entry's main group.
std::optional<std::string> execLine(const std::string& path) {
  auto keys = mainGroup(path);
  auto it = keys.find("Exec");
  if (it == keys.end()) return std::nullopt;
  return it->second;
}

// The browser a desktop entry file describes, when it is one that can be started.
std::optional<Workspace::Browser> browserOfEntry(const std::string& path, const std::string& identifier) {
  auto keys = mainGroup(path);
  auto value = [&](const char* key) {
    auto it = keys.find(key);
    return it == keys.end() ? std::string() : it->second;
  };
  if (value("Exec").empty() || value("Hidden") == "true" || !listsValue(value("MimeType"), "x-scheme-handler/http"))
    return std::nullopt;
  if (!value("Type").empty() && value("Type") != "Application") return std::nullopt;
  std::string name = value("Name");
  if (name.empty()) name = identifier.substr(0, identifier.size() - 8);
  return Workspace::Browser{identifier, name, value("Icon")};
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

std::string Workspace::schemeOf(const std::string& url) {
  std::size_t colon = url.find(':');
  if (colon == std::string::npos || !isOpenableURL(url)) return {};
  return fnd::asciiLowercase(url.substr(0, colon));
}

Workspace::OpenPolicy Workspace::policyForURL(const std::string& url) {
  const std::string scheme = schemeOf(url);
  if (scheme.empty()) return OpenPolicy::Refused;
  if (scheme == "http" || scheme == "https") return OpenPolicy::Browser;
  if (scheme == "file" && !argumentFor(url)) return OpenPolicy::Refused;
  return OpenPolicy::AskFirst;
}

bool Workspace::openURL(const std::string& url) {
  if (!isOpenableURL(url)) {
    fnd::logWarning("Refused to open an address that is not a URL");
    return false;
  }
  auto argument = policyForURL(url) == OpenPolicy::Refused ? std::nullopt : argumentFor(url);
  if (!argument) {
    fnd::logWarning("Refused to open a local program or a file of another host");
    return false;
  }
  return detail::launchDetached("xdg-open", {*argument});
}

bool Workspace::composeEmail(const std::string& mailtoURL, std::function<void(bool taken)> outcome) {
  // Only a message: no other scheme reaches the mail program's command line, and nothing in the
  // address can be read as an option or split into a second argument.
  if (fnd::asciiLowercase(mailtoURL.substr(0, 7)) != "mailto:" || mailtoURL.find_first_of(" \t\r\n") != std::string::npos) {
    fnd::logWarning("Refused to compose a message from an address that is not a mailto address");
    return false;
  }
  Launcher launcher;
  {
    std::lock_guard lock(launcherMutex);
    launcher = installedLauncher();
  }
  auto tell = [outcome = std::move(outcome)](bool taken) {
    if (outcome) fnd::DispatchQueue::main().async([outcome, taken] { outcome(taken); });
  };
  if (launcher) {
    const bool started = launcher("xdg-email", {mailtoURL}) || launcher("xdg-open", {mailtoURL});
    tell(started);
    return started;
  }
  startMailProgram({"xdg-email", "xdg-open"}, mailtoURL, std::move(tell));
  return true;
}

bool Workspace::canComposeEmail() {
  {
    std::lock_guard lock(launcherMutex);
    if (installedLauncher()) return true;
  }
  return !QStandardPaths::findExecutable("xdg-email").isEmpty() || !QStandardPaths::findExecutable("xdg-open").isEmpty();
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

std::vector<Workspace::Browser> Workspace::installedBrowsers() {
  std::vector<Browser> browsers;
  for (const auto& [id, path] : detail::desktopEntries())
    if (auto browser = browserOfEntry(path, id)) browsers.push_back(*browser);
  std::stable_sort(browsers.begin(), browsers.end(), [](const Browser& a, const Browser& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(), [](char x, char y) {
      return fnd::asciiLowercase(x) < fnd::asciiLowercase(y);
    });
  });
  return browsers;
}

std::optional<Workspace::Browser> Workspace::browserForIdentifier(const std::string& browserIdentifier) {
  auto path = desktopEntryForBrowser(browserIdentifier);
  if (!path) return std::nullopt;
  std::string id = fnd::FileManager::lastPathComponent(*path);
  if (auto browser = browserOfEntry(*path, id)) return browser;
  // An entry found by bundle identifier that does not list the scheme still opens pages.
  return Browser{id, id.substr(0, id.size() - 8), ""};
}

bool Workspace::openURLs(const std::vector<std::string>& urls, const std::string& browserIdentifier) {
  std::vector<std::string> valid;
  for (const auto& u : urls)
    if (isOpenableURL(u) && policyForURL(u) != OpenPolicy::Refused)
      if (auto argument = argumentFor(u)) valid.push_back(*argument);
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
