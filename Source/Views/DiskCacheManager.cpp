#include "Views/DiskCacheManager.h"

#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"

#include <vector>

namespace kesto {

using fnd::FileManager;

namespace {

struct Candidate {
  std::string path;
  fnd::FileAttributes attributes;
};

std::string join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::optional<std::string> DiskCacheManager::defaultCachePath() {
  std::string caches = fnd::StandardPaths::cachesDirectory();
  if (caches.empty()) return std::nullopt;
  return join(caches, "DiskCache");
}

DiskCacheManager::DiskCacheManager() : DiskCacheManager(defaultCachePath().value_or(std::string())) {}

DiskCacheManager::DiskCacheManager(std::string cachePath)
    : DiskCacheManager(std::move(cachePath), kDefaultMaxCacheBytes, kDefaultCacheExpireDuration) {}

DiskCacheManager::DiskCacheManager(std::string cachePath, std::int64_t maxCacheBytes, double cacheExpireDuration)
    : cachePath_(std::move(cachePath)) {
  if (!cachePath_.empty()) FileManager::createDirectory(cachePath_, true);
  setMaxCacheBytes(maxCacheBytes);
  setCacheExpireDuration(cacheExpireDuration);
}

DiskCacheManager::~DiskCacheManager() = default;

std::int64_t DiskCacheManager::maxCacheBytes() const {
  std::lock_guard lock(mutex_);
  return maxCacheBytes_;
}

void DiskCacheManager::setMaxCacheBytes(std::int64_t bytes) {
  std::lock_guard lock(mutex_);
  maxCacheBytes_ = bytes;
  clearCacheToMaxBytesLocked();
}

double DiskCacheManager::cacheExpireDuration() const {
  std::lock_guard lock(mutex_);
  return cacheExpireDuration_;
}

void DiskCacheManager::setCacheExpireDuration(double seconds) {
  std::lock_guard lock(mutex_);
  cacheExpireDuration_ = seconds;
  clearExpiredCacheLocked();
}

std::string DiskCacheManager::md5(const std::string& key) { return fnd::crypto::md5Hex(key, true); }

std::string DiskCacheManager::pathForKey(const std::string& key) const { return join(cachePath_, md5(key)); }

bool DiskCacheManager::storeData(const fnd::Data& data, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (cachePath_.empty()) return false;
  bool ok = FileManager::writeFile(pathForKey(key), data, true);
  clearCacheToMaxBytesLocked();
  return ok;
}

std::optional<fnd::Data> DiskCacheManager::dataForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (cachePath_.empty()) return std::nullopt;
  return FileManager::contentsAtPath(pathForKey(key));
}

bool DiskCacheManager::cacheDataExistForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  return !cachePath_.empty() && FileManager::fileExists(pathForKey(key));
}

void DiskCacheManager::clearCacheForFile(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (!cachePath_.empty()) removeEntry(pathForKey(key));
}

void DiskCacheManager::clearAllCache() {
  std::lock_guard lock(mutex_);
  if (cachePath_.empty()) return;
  auto names = FileManager::contentsOfDirectory(cachePath_);
  if (!names) return;
  for (const auto& name : *names) removeEntry(join(cachePath_, name));
}

void DiskCacheManager::clearExpiredCache() {
  std::lock_guard lock(mutex_);
  clearExpiredCacheLocked();
}

void DiskCacheManager::clearExpiredCacheLocked() {
  if (cachePath_.empty()) return;
  fnd::Date now = fnd::Date::now();
  auto names = FileManager::contentsOfDirectory(cachePath_);
  if (!names) return;
  for (const auto& name : *names) {
    if (name == ".DS_Store") continue;
    std::string path = join(cachePath_, name);
    auto attributes = FileManager::attributesOfItem(path);
    if (!attributes) continue;
    if (now.timeIntervalSinceDate(attributes->creationDate) > cacheExpireDuration_) removeEntry(path);
  }
}

void DiskCacheManager::clearCacheToMaxBytes() {
  std::lock_guard lock(mutex_);
  clearCacheToMaxBytesLocked();
}

void DiskCacheManager::clearCacheToMaxBytesLocked() {
  if (cachePath_.empty()) return;
  // The limit is compared as an unsigned number, so a negative limit empties the folder.
  std::uint64_t limit = static_cast<std::uint64_t>(maxCacheBytes_);
  std::uint64_t size = folderSizeOfPath(cachePath_);
  while (size > limit) {
    std::uint64_t left = evictionPassLocked(size, limit);
    // A pass that could delete nothing will never do better: stop rather than spin.
    if (left >= size) break;
    size = left;
  }
}

std::uint64_t DiskCacheManager::removeLastFileInCacheFolderWithCurrentCacheSize(std::uint64_t currentCacheSize,
                                                                                std::uint64_t maxCacheSize) {
  std::lock_guard lock(mutex_);
  return evictionPassLocked(currentCacheSize, maxCacheSize);
}

std::uint64_t DiskCacheManager::evictionPassLocked(std::uint64_t size, std::uint64_t limit) {
  auto names = FileManager::contentsOfDirectory(cachePath_);
  if (!names) return size;
  // At most five candidates; each later entry takes every position whose file is younger, so
  // the oldest file of the folder is always among them.
  std::vector<Candidate> candidates;
  for (const auto& name : *names) {
    std::string path = join(cachePath_, name);
    auto attributes = FileManager::attributesOfItem(path);
    if (!attributes) continue;
    Candidate entry{path, *attributes};
    if (candidates.size() < 5) {
      candidates.push_back(std::move(entry));
      continue;
    }
    for (auto& c : candidates)
      if (entry.attributes.creationDate < c.attributes.creationDate) c = entry;
  }
  while (size > limit && !candidates.empty()) {
    Candidate first = candidates.front();
    std::erase_if(candidates, [&](const Candidate& c) { return c.path == first.path; });
    std::uint64_t entrySize = first.attributes.isDirectory ? folderSizeOfPath(first.path) : first.attributes.size;
    if (removeEntry(first.path)) size = entrySize >= size ? 0 : size - entrySize;
  }
  return size;
}

std::int64_t DiskCacheManager::currentCacheSize() {
  std::lock_guard lock(mutex_);
  return static_cast<std::int64_t>(folderSizeOfPath(cachePath_));
}

std::uint64_t DiskCacheManager::folderSizeOfPath(const std::string& path) {
  if (path.empty()) return 0;
  return FileManager::sizeOfItem(path);
}

bool DiskCacheManager::removeEntry(const std::string& path) { return FileManager::removeItem(path); }

}  // namespace kesto
