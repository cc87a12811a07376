#include "Views/DiskCacheManager.h"

#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"

#include <algorithm>
#include <vector>

namespace kesto {

using fnd::FileManager;

namespace {

std::string join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::optional<std::string> DiskCacheManager::defaultCachePath() {
  std::string caches = fnd::StandardPaths::cachesDirectory();
  if (caches.empty()) return std::nullopt;
  // Below the application's own folder: the shared cache folder belongs to every program.
  return join(join(caches, fnd::StandardPaths::applicationName()), "DiskCache");
}

DiskCacheManager::DiskCacheManager() : DiskCacheManager(defaultCachePath().value_or(std::string())) {}

DiskCacheManager::DiskCacheManager(std::string cachePath)
    : DiskCacheManager(std::move(cachePath), kDefaultMaxCacheBytes, kDefaultCacheExpireDuration) {}

DiskCacheManager::DiskCacheManager(std::string cachePath, std::int64_t maxCacheBytes, double cacheExpireDuration)
    : cachePath_(std::move(cachePath)) {
  if (!cachePath_.empty()) {
    // Cached images show what the user keeps; a folder made open by an earlier version is
    // closed again.
    FileManager::createPrivateDirectory(cachePath_);
  }
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

std::uint64_t DiskCacheManager::entrySize(const std::string& path, const fnd::FileAttributes& attributes) {
  return attributes.isDirectory ? folderSizeOfPath(path) : attributes.size;
}

bool DiskCacheManager::storeData(const fnd::Data& data, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (cachePath_.empty()) return false;
  std::string path = pathForKey(key);
  auto old = FileManager::attributesOfItem(path);
  bool ok = FileManager::writeFile(path, data, true);
  if (ok && knownSize_) {
    std::uint64_t previous = old ? entrySize(path, *old) : 0;
    *knownSize_ = (*knownSize_ >= previous ? *knownSize_ - previous : 0) + data.size();
  }
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
  if (cachePath_.empty()) return;
  std::string path = pathForKey(key);
  auto attributes = FileManager::attributesOfItem(path);
  if (removeEntry(path) && knownSize_ && attributes) {
    std::uint64_t size = entrySize(path, *attributes);
    *knownSize_ = *knownSize_ >= size ? *knownSize_ - size : 0;
  }
}

void DiskCacheManager::clearAllCache() {
  std::lock_guard lock(mutex_);
  if (cachePath_.empty()) return;
  knownSize_.reset();
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
  knownSize_.reset();
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
  // The running total spares a walk of the whole folder on every store. Only when it says the
  // folder is over the limit is the folder walked, which also corrects any drift.
  if (knownSize_ && *knownSize_ <= limit) return;
  std::uint64_t size = folderSizeOfPath(cachePath_);
  knownSize_ = size;
  if (size <= limit) return;
  // One listing for the whole trim; each pass works on what is left of it.
  std::vector<Candidate> entries = listEntriesLocked();
  while (size > limit) {
    std::uint64_t left = evictionPass(entries, size, limit);
    // A pass that could delete nothing will never do better: stop rather than spin.
    if (left >= size) break;
    size = left;
  }
  knownSize_ = size;
}

std::vector<DiskCacheManager::Candidate> DiskCacheManager::listEntriesLocked() {
  std::vector<Candidate> entries;
  auto names = FileManager::contentsOfDirectory(cachePath_);
  if (!names) return entries;
  for (const auto& name : *names) {
    std::string path = join(cachePath_, name);
    if (auto attributes = FileManager::attributesOfItem(path)) entries.push_back({path, *attributes});
  }
  return entries;
}

std::uint64_t DiskCacheManager::removeLastFileInCacheFolderWithCurrentCacheSize(std::uint64_t currentCacheSize,
                                                                                std::uint64_t maxCacheSize) {
  std::lock_guard lock(mutex_);
  knownSize_.reset();
  std::vector<Candidate> entries = listEntriesLocked();
  return evictionPass(entries, currentCacheSize, maxCacheSize);
}

std::uint64_t DiskCacheManager::evictionPass(std::vector<Candidate>& entries, std::uint64_t size,
                                             std::uint64_t limit) {
  // At most five candidates; each later entry takes every position whose file is younger, so
  // the oldest file of the folder is always among them.
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (candidates.size() < 5) {
      candidates.push_back(i);
      continue;
    }
    for (auto& c : candidates)
      if (entries[i].attributes.creationDate < entries[c].attributes.creationDate) c = i;
  }
  std::vector<std::size_t> deleted;
  while (size > limit && !candidates.empty()) {
    std::size_t first = candidates.front();
    std::erase(candidates, first);
    const Candidate& entry = entries[first];
    std::uint64_t bytes = entrySize(entry.path, entry.attributes);
    if (removeEntry(entry.path)) {
      size = bytes >= size ? 0 : size - bytes;
      deleted.push_back(first);
    }
  }
  std::sort(deleted.rbegin(), deleted.rend());
  for (std::size_t i : deleted) entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
  return size;
}

std::int64_t DiskCacheManager::currentCacheSize() {
  std::lock_guard lock(mutex_);
  std::uint64_t size = folderSizeOfPath(cachePath_);
  knownSize_ = size;
  return static_cast<std::int64_t>(size);
}

std::uint64_t DiskCacheManager::folderSizeOfPath(const std::string& path) {
  if (path.empty()) return 0;
  return FileManager::sizeOfItem(path);
}

bool DiskCacheManager::removeEntry(const std::string& path) { return FileManager::removeItem(path); }

}  // namespace kesto
