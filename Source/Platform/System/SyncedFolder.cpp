#include "Platform/System/SyncedFolder.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kesto::sys {

namespace {

constexpr const char* kDomain = "KestoSyncedFolderErrorDomain";

// Sets the error, if asked for; answers false for the caller to return.
bool fail(fnd::Error* error, long code, const std::string& text) {
  if (error) *error = fnd::Error::withDescription(kDomain, code, text);
  return false;
}

bool folderMissing(fnd::Error* error, const std::string& root) {
  return fail(error, 1, "The synced folder " + root + " is not available");
}

bool lockedByAnother(fnd::Error* error) {
  return fail(error, 2, "The synced folder is locked by another copy of the application");
}

std::string folderOf(const std::string& path) { return fnd::FileManager::deletingLastPathComponent(path); }

bool isDirectory(const std::string& path) {
  bool dir = false;
  return fnd::FileManager::fileExists(path, &dir) && dir;
}

// The errno of a failed write of a copy; 0 when the copy failed on the side it reads.
struct CopyFailure {
  int writeErrno = 0;
};

// Copies with a final fsync so the rename publishes complete data. Only a regular file of at
// most `maxBytes` is read; a pipe is opened without blocking and refused. A failure to write
// the copy (a full disk) is told apart from one of the file read.
bool copyDurably(const std::string& from, const std::string& to, CopyFailure& failure,
                 std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max()) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return false;
  struct stat info {};
  if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode) || std::uint64_t(info.st_size) > maxBytes) {
    ::close(in);
    return false;
  }
  int out = fnd::FileManager::createPrivateFile(to);
  if (out < 0) {
    failure.writeErrno = errno ? errno : EIO;
    ::close(in);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  std::uint64_t copied = 0;
  while (true) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    // The file may grow while it is read.
    copied += std::uint64_t(n);
    if (copied > maxBytes) {
      ok = false;
      break;
    }
    if (!fnd::FileManager::writeAll(out, buffer, static_cast<std::size_t>(n))) {
      failure.writeErrno = errno ? errno : EIO;
      ok = false;
      break;
    }
  }
  if (ok && ::fsync(out) != 0) {
    failure.writeErrno = errno;
    ok = false;
  }
  if (::close(out) != 0 && ok) {
    failure.writeErrno = errno;
    ok = false;
  }
  ::close(in);
  if (!ok) ::unlink(to.c_str());
  return ok;
}

// Whether two regular files hold the same bytes.
bool sameContents(const std::string& a, const std::string& b) {
  int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  bool same = fa >= 0 && fb >= 0;
  struct stat sa {}, sb {};
  if (same) same = ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 && S_ISREG(sa.st_mode) && S_ISREG(sb.st_mode) &&
                   sa.st_size == sb.st_size;
  char ba[65536], bb[65536];
  while (same) {
    ssize_t na = ::read(fa, ba, sizeof ba);
    if (na < 0 && errno == EINTR) continue;
    if (na <= 0) {
      same = na == 0;
      break;
    }
    ssize_t got = 0;
    while (got < na) {
      ssize_t nb = ::read(fb, bb + got, static_cast<size_t>(na - got));
      if (nb < 0 && errno == EINTR) continue;
      if (nb <= 0) break;
      got += nb;
    }
    same = got == na && std::memcmp(ba, bb, static_cast<size_t>(na)) == 0;
  }
  if (fa >= 0) ::close(fa);
  if (fb >= 0) ::close(fb);
  return same;
}

}  // namespace

FolderLock::FolderLock(const std::string& path, double timeoutSeconds) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (true) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::close(fd);
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
}

SyncedFolder::SyncedFolder(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::optional<SyncedFolder> SyncedFolder::configured() {
  auto path = fnd::UserDefaults::standard().stringForKey(kDefaultsKey);
  if (!path || path->empty()) return std::nullopt;
  return SyncedFolder(*path);
}

std::string SyncedFolder::payloadPath() const { return root_ + "/" + kPayloadRelativePath; }
std::string SyncedFolder::lockPath() const { return root_ + "/" + kLockName; }

SyncedFolder::PayloadState SyncedFolder::payloadState() const {
  if (!isDirectory(root_)) return PayloadState::NoFolder;
  bool dir = false;
  if (!fnd::FileManager::fileExists(payloadPath(), &dir) || dir) return PayloadState::Missing;
  return PayloadState::Present;
}

bool SyncedFolder::copyPayloadTo(const std::string& destination, fnd::Error* error, double lockTimeout,
                                 std::uint64_t maxBytes) const {
  if (!isDirectory(root_)) return folderMissing(error, root_);
  FolderLock lock(lockPath(), lockTimeout);
  if (!lock.isLocked()) return lockedByAnother(error);
  fnd::FileManager::removeItem(destination);
  CopyFailure failure;
  if (copyDurably(payloadPath(), destination, failure, maxBytes)) return true;
  // The payload is blamed only when it is what could not be read; the caller, which knows what
  // the destination is to the user, reads the cause from the underlying POSIX error.
  if (failure.writeErrno) {
    fail(error, kCopyNotWrittenError,
         "The sync payload could not be copied to " + folderOf(destination) + ": " + std::strerror(failure.writeErrno));
    if (error) error->setUnderlyingError(fnd::Error(fnd::kPOSIXErrorDomain, failure.writeErrno));
    return false;
  }
  return fail(error, 3, "The sync payload could not be copied from " + payloadPath() +
                            " (it must be a regular file of at most " + std::to_string(maxBytes) + " bytes)");
}

bool SyncedFolder::putPayload(const std::string& source, fnd::Error* error, double lockTimeout) const {
  if (!isDirectory(root_)) return folderMissing(error, root_);
  const std::string documents = root_ + "/Documents";
  if (!isDirectory(documents) && !fnd::FileManager::createDirectory(documents, true, 0700))
    return fail(error, 4, "The folder " + documents + " could not be created");
  FolderLock lock(lockPath(), lockTimeout);
  if (!lock.isLocked()) return lockedByAnother(error);
  const std::string temp = documents + "/.kesto_sync.zip." + fnd::FileManager::uniqueName();
  CopyFailure failure;
  if (!copyDurably(source, temp, failure))
    return fail(error, 5, "The sync payload could not be written into " + documents +
                              (failure.writeErrno ? ": " + fnd::FileManager::writeFailureReason(failure.writeErrno, documents)
                                                  : std::string()));
  if (::rename(temp.c_str(), payloadPath().c_str()) != 0) {
    std::string why = std::strerror(errno);
    ::unlink(temp.c_str());
    return fail(error, 6, "The sync payload could not be replaced: " + why);
  }
  // Make the rename itself durable.
  int dirfd = ::open(documents.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd >= 0) {
    ::fsync(dirfd);
    ::close(dirfd);
  }
  fnd::FileManager::removeItem(source);
  return true;
}

std::optional<std::string> SyncedFolder::setAsidePayload(const std::string& readCopy, const std::string& newName,
                                                         fnd::Error* error, double lockTimeout) const {
  if (newName.empty() || newName.find('/') != std::string::npos || newName == "." || newName == "..") {
    fail(error, 7, "Not a file name: " + newName);
    return std::nullopt;
  }
  FolderLock lock(lockPath(), lockTimeout);
  if (!lock.isLocked()) {
    lockedByAnother(error);
    return std::nullopt;
  }
  if (!sameContents(payloadPath(), readCopy)) {
    fail(error, 8, "The sync payload changed since it was read");
    return std::nullopt;
  }
  const std::string target = fnd::FileManager::deletingLastPathComponent(payloadPath()) + "/" + newName;
  // An existing file of that name is never replaced (some file systems cannot say so atomically).
  int rc = ::renameat2(AT_FDCWD, payloadPath().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL) {
    errno = EEXIST;
    rc = fnd::FileManager::fileExists(target) ? -1 : ::rename(payloadPath().c_str(), target.c_str());
  }
  if (rc != 0) {
    fail(error, 9, "The sync payload could not be kept as " + target + ": " + std::strerror(errno));
    return std::nullopt;
  }
  return target;
}

}  // namespace kesto::sys
