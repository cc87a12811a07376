#include "Model/FileManagerAdditions.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/Strings.h"

#include <algorithm>

#include <unistd.h>

namespace kesto {

using fnd::StandardPaths;

std::string documentsFolderPath() { return StandardPaths::appendingPathComponent(StandardPaths::homeDirectory(), "Documents"); }
std::string libraryFolderPath() { return StandardPaths::appendingPathComponent(StandardPaths::homeDirectory(), "Library"); }
std::string tmpFolderPath() { return StandardPaths::appendingPathComponent(StandardPaths::homeDirectory(), "tmp"); }

std::string bundleFolderPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return fnd::deletingLastPathComponent(std::string(buffer, static_cast<std::size_t>(n)));
}

std::string applicationSupportRootPath() {
  std::string root = StandardPaths::applicationSupportDirectory();
  return root.empty() ? StandardPaths::temporaryDirectory() : root;
}

std::string appSupportFolderPath() {
  return StandardPaths::appendingPathComponent(applicationSupportRootPath(), StandardPaths::applicationName());
}

std::string kesto_cacheFolderPath() { return appSupportFolderPath() + "/Cache"; }

std::string kesto_tempFolderPath() {
  std::string path = appSupportFolderPath() + "/tmp";
  if (!brightwren::checkIfPathExists(path)) fnd::FileManager::createDirectory(path, true, 0700);
  return path;
}

bool isSafeCacheIdentifier(const std::string& id) {
  if (id.empty() || id == "." || id == "..") return false;
  return id.find('/') == std::string::npos && id.find('\0') == std::string::npos;
}

std::optional<std::string> kesto_cacheFilePath(const std::string& identifier) {
  if (!isSafeCacheIdentifier(identifier)) return std::nullopt;
  return StandardPaths::appendingPathComponent(kesto_cacheFolderPath(), identifier);
}

}  // namespace kesto

namespace kesto::brightwren {

namespace {

std::vector<std::string> subpaths(const std::string& folder) {
  return fnd::FileManager::subpathsOfDirectory(folder).value_or(std::vector<std::string>{});
}

bool isFolder(const std::string& path) {
  bool dir = false;
  return fnd::FileManager::fileExists(path, &dir) && dir;
}

void sortCaseInsensitive(std::vector<std::string>& v) {
  std::stable_sort(v.begin(), v.end(), [](const std::string& x, const std::string& y) {
    return fnd::caseInsensitiveCompare(x, y) == fnd::ComparisonResult::Ascending;
  });
}

}  // namespace

bool checkOrCreatePath(const std::string& path) {
  if (checkIfPathExists(path)) return true;
  return fnd::FileManager::createDirectory(path, true);
}

bool checkIfPathExists(const std::string& path) { return fnd::FileManager::fileExists(path); }

std::optional<std::string> pathForItemNamed(const std::string& name, const std::string& folder) {
  for (const auto& rel : subpaths(folder))
    if (fnd::lastPathComponent(rel) == name) return fnd::appendingPathComponent(folder, rel);
  return std::nullopt;
}

std::vector<std::string> filesInFolder(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& rel : subpaths(folder))
    if (!isFolder(fnd::appendingPathComponent(folder, rel))) out.push_back(rel);
  return out;
}

std::vector<std::string> folderPathsInFolder(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& rel : subpaths(folder))
    if (isFolder(fnd::appendingPathComponent(folder, rel))) out.push_back(rel);
  return out;
}

std::vector<std::string> folderPathsInFolder(const std::string& folder, bool sorted) {
  auto out = folderPathsInFolder(folder);
  if (sorted) sortCaseInsensitive(out);
  return out;
}

std::string folderContainingFile(const std::string& path) {
  return isFolder(path) ? path : fnd::deletingLastPathComponent(path);
}

std::vector<std::string> parentFolderPaths(const std::string& path, bool includeCurrentFolder) {
  std::string p = isFolder(path) ? path : folderContainingFile(path);
  if (!includeCurrentFolder) p = fnd::deletingLastPathComponent(p);
  std::vector<std::string> out;
  std::string running;
  for (const auto& part : fnd::split(p, "/")) {
    if (part.empty()) continue;
    running += "/" + part;
    out.push_back(running);
  }
  return out;
}

std::vector<std::string> pathsForItemsMatchingExtension(const std::string& extension, const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& rel : subpaths(folder))
    if (fnd::caseInsensitiveCompare(fnd::pathExtension(rel), extension) == fnd::ComparisonResult::Same)
      out.push_back(fnd::appendingPathComponent(folder, rel));
  return out;
}

std::vector<std::string> folderNamesInCurrentFolderOnly(const std::string& folder, bool sorted) {
  std::vector<std::string> out;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
    if (isFolder(fnd::appendingPathComponent(folder, name))) out.push_back(name);
  if (sorted) sortCaseInsensitive(out);
  return out;
}

}  // namespace kesto::brightwren
