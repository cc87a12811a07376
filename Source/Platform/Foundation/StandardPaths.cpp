#include "Platform/Foundation/StandardPaths.h"

#include "Platform/Foundation/FileManager.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace kesto::fnd {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string trimTrailingSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// An XDG variable counts only when it holds an absolute path, as the base-directory rules say.
std::string xdg(const char* name, const char* fallbackBelowHome) {
  std::string v = env(name);
  if (!v.empty() && v[0] == '/') return trimTrailingSlashes(v);
  return StandardPaths::appendingPathComponent(StandardPaths::homeDirectory(), fallbackBelowHome);
}

// Made when missing, and closed to others (0700) when it was made open before, by an older
// version or another program: only Kesto's own folders come here, never the XDG folders above.
std::string ensured(const std::string& path) {
  return FileManager::createPrivateDirectory(path) ? path : std::string();
}

}  // namespace

std::string StandardPaths::applicationName() { return "kesto"; }

std::string StandardPaths::homeDirectory() {
  std::string home = env("HOME");
  if (!home.empty()) return trimTrailingSlashes(home);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return trimTrailingSlashes(pw->pw_dir);
  return "/";
}

std::string StandardPaths::userName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  std::string user = env("USER");
  return user.empty() ? env("LOGNAME") : user;
}

std::string StandardPaths::applicationSupportDirectory() { return xdg("XDG_DATA_HOME", ".local/share"); }

std::string StandardPaths::applicationDirectory() {
  return ensured(appendingPathComponent(applicationSupportDirectory(), applicationName()));
}

std::string StandardPaths::configDirectory() { return xdg("XDG_CONFIG_HOME", ".config"); }

std::string StandardPaths::applicationConfigDirectory() {
  return ensured(appendingPathComponent(configDirectory(), applicationName()));
}

std::string StandardPaths::cachesDirectory() { return xdg("XDG_CACHE_HOME", ".cache"); }

std::string StandardPaths::applicationCachesDirectory() {
  return ensured(appendingPathComponent(cachesDirectory(), applicationName()));
}

std::string StandardPaths::logsDirectory() {
  const std::string own = ensured(appendingPathComponent(xdg("XDG_STATE_HOME", ".local/state"), applicationName()));
  return own.empty() ? own : ensured(appendingPathComponent(own, "logs"));
}

std::string StandardPaths::documentsDirectory() {
  std::string v = env("XDG_DOCUMENTS_DIR");
  if (!v.empty() && v[0] == '/') return trimTrailingSlashes(v);
  // user-dirs.dirs holds lines like XDG_DOCUMENTS_DIR="$HOME/Documents".
  std::ifstream in(appendingPathComponent(configDirectory(), "user-dirs.dirs"));
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = homeDirectory() + value.substr(5);
    if (!value.empty() && value[0] == '/') return trimTrailingSlashes(value);
  }
  return appendingPathComponent(homeDirectory(), "Documents");
}

std::string StandardPaths::temporaryDirectory() {
  std::string t = env("TMPDIR");
  if (t.empty() || t[0] != '/') t = "/tmp";
  return trimTrailingSlashes(t);
}

std::string StandardPaths::appendingPathComponent(const std::string& base, const std::string& component) {
  if (base.empty()) return component;
  if (component.empty()) return base;
  std::string c = component;
  while (!c.empty() && c.front() == '/') c.erase(c.begin());
  if (base.back() == '/') return base + c;
  return base + "/" + c;
}

}  // namespace kesto::fnd
