#include "Platform/System/URLSchemeRegistration.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/System/Launcher_p.h"

#include <QCoreApplication>

#include <cctype>
#include <climits>
#include <unistd.h>

namespace kesto::sys {

namespace {

std::string runningExecutable() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationFilePath().toStdString();
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("kesto");
}

// A quoted Exec argument: the desktop-entry rules escape '"', '`', '$' and '\' inside quotes,
// and a literal '%' is written twice.
std::string quoteExecArgument(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    if (c == '\n' || c == '\r') continue;
    out += c;
  }
  return out + "\"";
}

bool isSchemeName(const std::string& s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

}  // namespace

std::string urlSchemeDesktopEntryPath(const std::string& desktopName) {
  return fnd::StandardPaths::applicationSupportDirectory() + "/applications/" + desktopName + ".desktop";
}

bool registerURLSchemeHandler(const std::string& scheme, const std::string& executablePath,
                              const std::string& desktopName) {
  if (!isSchemeName(scheme) || desktopName.empty() || desktopName.find('/') != std::string::npos) return false;
  std::string exe = executablePath.empty() ? runningExecutable() : executablePath;
  std::string folder = fnd::StandardPaths::applicationSupportDirectory() + "/applications";
  fnd::FileManager::createDirectory(folder, true);
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Kesto\n"
      "Exec=" + quoteExecArgument(exe) + " %u\n"
      "Terminal=false\n"
      "NoDisplay=true\n"
      "MimeType=x-scheme-handler/" + scheme + ";\n";
  std::string path = urlSchemeDesktopEntryPath(desktopName);
  if (!fnd::FileManager::writeFile(path, entry, true)) return false;
  // Whether the desktop took it is not ours to judge: the entry is in place either way.
  detail::launchDetached("xdg-mime", {"default", desktopName + ".desktop", "x-scheme-handler/" + scheme});
  return true;
}

}  // namespace kesto::sys
