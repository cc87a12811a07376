#pragma once

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

// Opaque blobs in files under one folder, keyed by a string: one file per key, named by the
// upper-case hexadecimal MD5 of the key, holding the bytes exactly. A size limit trims the
// folder (oldest candidates first) after every store; an age limit sweeps it when an instance
// is made or the limit changes. Reads never look at the age. Every public operation is locked,
// so one instance may be used from several threads. An instance keeps a running total of the
// folder's size, so a store walks the folder only when the total says it is over the limit;
// other processes writing into the same folder are not accounted for until then.
class DiskCacheManager {
 public:
  static constexpr std::int64_t kDefaultMaxCacheBytes = 200000000;
  static constexpr double kDefaultCacheExpireDuration = 86400000.0;

  // The user's Caches folder with "DiskCache" appended; nothing when there is no Caches folder.
  static std::optional<std::string> defaultCachePath();

  DiskCacheManager();
  explicit DiskCacheManager(std::string cachePath);
  // Creates the folder (with its parents), trims it to the size limit, then sweeps out entries
  // older than the age limit.
  DiskCacheManager(std::string cachePath, std::int64_t maxCacheBytes, double cacheExpireDuration);
  virtual ~DiskCacheManager();
  DiskCacheManager(const DiskCacheManager&) = delete;
  DiskCacheManager& operator=(const DiskCacheManager&) = delete;

  const std::string& cachePath() const { return cachePath_; }
  std::int64_t maxCacheBytes() const;
  void setMaxCacheBytes(std::int64_t bytes);  // then trims
  double cacheExpireDuration() const;
  void setCacheExpireDuration(double seconds);  // then sweeps

  // Writes the key's file atomically, then trims; answers whether the write succeeded.
  bool storeData(const fnd::Data& data, const std::string& key);
  std::optional<fnd::Data> dataForKey(const std::string& key);
  bool cacheDataExistForKey(const std::string& key);
  void clearCacheForFile(const std::string& key);
  // Deletes every entry of the folder, whatever its name.
  void clearAllCache();
  // Deletes entries whose age (now minus creation date) is strictly greater than the limit;
  // ".DS_Store" is kept.
  void clearExpiredCache();
  // Evicts until the folder is within the size limit, or until a pass can delete nothing.
  void clearCacheToMaxBytes();
  // One eviction pass over at most five candidates; answers the size left.
  std::uint64_t removeLastFileInCacheFolderWithCurrentCacheSize(std::uint64_t currentCacheSize,
                                                                std::uint64_t maxCacheSize);
  std::int64_t currentCacheSize();
  static std::uint64_t folderSizeOfPath(const std::string& path);

  // The file name of a key: 32 upper-case hexadecimal characters.
  static std::string md5(const std::string& key);
  std::string pathForKey(const std::string& key) const;

 protected:
  // Deletes one entry (file or folder); tests override it to make deletions fail.
  virtual bool removeEntry(const std::string& path);

 private:
  struct Candidate {
    std::string path;
    fnd::FileAttributes attributes;
  };
  void clearCacheToMaxBytesLocked();
  void clearExpiredCacheLocked();
  std::vector<Candidate> listEntriesLocked();
  // One pass over what is left of a listing; deleted entries leave the list.
  std::uint64_t evictionPass(std::vector<Candidate>& entries, std::uint64_t size, std::uint64_t limit);
  static std::uint64_t entrySize(const std::string& path, const fnd::FileAttributes& attributes);

  std::string cachePath_;
  std::int64_t maxCacheBytes_ = kDefaultMaxCacheBytes;
  double cacheExpireDuration_ = kDefaultCacheExpireDuration;
  std::optional<std::uint64_t> knownSize_;
  mutable std::recursive_mutex mutex_;
};

}  // namespace kesto
