#pragma once

#include "Platform/Foundation/FoundationForward.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kesto::sys {

// A folder the user chooses (typically one a file-sync client replicates between machines) that
// holds the sync payload at "<folder>/Documents/kesto_sync.zip". Writers and readers coordinate
// with an advisory lock on "<folder>/.kesto.lock"; a new payload is written under a temporary
// name inside the folder and renamed over the old one, so a reader sees the old or the new file,
// never a missing or half-written one.
class SyncedFolder {
 public:
  // The user default that holds the folder; unset or empty means there is none.
  static constexpr const char* kDefaultsKey = "SyncedFolderPath";
  static constexpr const char* kPayloadRelativePath = "Documents/kesto_sync.zip";
  static constexpr const char* kLockName = ".kesto.lock";
  static constexpr double kDefaultLockTimeout = 10.0;
  static constexpr std::uint64_t kDefaultMaxPayloadBytes = 1024ull * 1024 * 1024;

  enum class PayloadState { NoFolder, Missing, Present };
  // The error code of copyPayloadTo when the copy could not be written (the destination's disk
  // is full, say), as against a payload that could not be read; errno is the underlying error.
  static constexpr long kCopyNotWrittenError = 10;

  explicit SyncedFolder(std::string root);
  // The configured folder, or none.
  static std::optional<SyncedFolder> configured();

  const std::string& root() const { return root_; }
  std::string payloadPath() const;
  std::string lockPath() const;

  // NoFolder when the folder itself is gone (not mounted, removed).
  PayloadState payloadState() const;
  // Copies the payload to `destination` while holding the lock. Only a regular file (a link to
  // one included) of at most `maxBytes` is copied: what another machine put there is not trusted.
  bool copyPayloadTo(const std::string& destination, fnd::Error* error = nullptr,
                     double lockTimeout = kDefaultLockTimeout, std::uint64_t maxBytes = kDefaultMaxPayloadBytes) const;
  // Puts `source` in as the new payload: copy to a temporary name in the folder, flush to disk,
  // rename over the payload, all while holding the lock; then removes `source`. On failure the
  // old payload is untouched.
  bool putPayload(const std::string& source, fnd::Error* error = nullptr,
                  double lockTimeout = kDefaultLockTimeout) const;
  // Renames the payload to `newName` (a file name beside it, never replacing a file) while
  // holding the lock, but only while it still holds exactly the bytes of `readCopy`: a payload
  // another machine put there since it was read is left alone. Answers the new path.
  std::optional<std::string> setAsidePayload(const std::string& readCopy, const std::string& newName,
                                             fnd::Error* error = nullptr,
                                             double lockTimeout = kDefaultLockTimeout) const;

 private:
  std::string root_;
};

// An exclusive advisory lock on a file, released on destruction.
class FolderLock {
 public:
  FolderLock(const std::string& path, double timeoutSeconds);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool isLocked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace kesto::sys
