#include "Platform/Foundation/FileManager.h"

#include "Platform/Foundation/StandardPaths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kesto::fnd {

namespace {

enum class Access { Read, Write };

std::int64_t codeForErrno(int err, Access access) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return access == Access::Read ? kFileReadNoSuchFileError : kFileNoSuchFileError;
    case EEXIST:
      return kFileWriteFileExistsError;
    case EACCES:
    case EPERM:
    case EROFS:
      return access == Access::Read ? 257 : kFileWriteNoPermissionError;
    case ENOSPC:
    case EDQUOT:
      return kFileWriteOutOfSpaceError;
    default:
      return access == Access::Read ? kFileReadUnknownError : kFileWriteUnknownError;
  }
}

bool fail(Error* error, std::int64_t code, const std::string& path, int err, const char* what) {
  if (!error) return false;
  Dictionary info;
  info[kFilePathErrorKey] = path;
  std::string text = std::string(what) + " \"" + path + "\"";
  if (err) text += ": " + std::string(std::strerror(err));
  info[kLocalizedDescriptionKey] = text;
  *error = Error(kCocoaErrorDomain, code, std::move(info));
  if (err) error->setUnderlyingError(Error(kPOSIXErrorDomain, err));
  return false;
}

bool failErrno(Error* error, const std::string& path, Access access, const char* what) {
  int err = errno;
  return fail(error, codeForErrno(err, access), path, err, what);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

Date dateFromTimespec(const timespec& ts) {
  return Date::withTimeIntervalSince1970(static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9);
}

// Opens a file that came from outside for reading. The open never waits (a FIFO or a device
// named like a file would otherwise block the reading thread for good) and only regular files
// are accepted; the descriptor is then switched back to blocking reads. Answers -1 on failure.
int openRegularFileForReading(const std::string& path, struct stat& st, Error* error, const char* what) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failErrno(error, path, Access::Read, what);
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    fail(error, codeForErrno(err, Access::Read), path, err, what);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    fail(error, kFileReadUnknownError, path, err, S_ISDIR(st.st_mode) ? what : "Not a regular file");
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int err = errno;
    ::close(fd);
    fail(error, kFileReadUnknownError, path, err, what);
    return -1;
  }
  return fd;
}

void syncDirectoryOf(const std::string& path) {
  int dfd = ::open(FileManager::deletingLastPathComponent(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

std::string folderOf(const std::string& path) {
  std::string dir = FileManager::deletingLastPathComponent(path);
  return dir.empty() ? std::string(".") : dir;
}

// Copies one item and everything below it. On failure the caller removes what was made.
bool copyTree(const std::string& source, const std::string& destination, Error* error) {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) return failErrno(error, source, Access::Read, "Cannot copy");
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
    if (n < 0) return failErrno(error, source, Access::Read, "Cannot read link");
    target.resize(static_cast<std::size_t>(n));
    if (::symlink(target.c_str(), destination.c_str()) != 0)
      return failErrno(error, destination, Access::Write, "Cannot create link");
    return true;
  }
  if (S_ISDIR(st.st_mode)) {
    if (::mkdir(destination.c_str(), 0700) != 0) return failErrno(error, destination, Access::Write, "Cannot create folder");
    std::error_code ec;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (!copyTree(source + "/" + name, destination + "/" + name, error)) return false;
    }
    if (ec) return fail(error, codeForErrno(ec.value(), Access::Read), source, ec.value(), "Cannot read folder");
    ::chmod(destination.c_str(), st.st_mode & 07777);
  } else if (S_ISREG(st.st_mode)) {
    // The item may have been swapped for a FIFO since the lstat above.
    struct stat opened;
    int in = openRegularFileForReading(source, opened, error, "Cannot open");
    if (in < 0) return false;
    int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
      ::close(in);
      return failErrno(error, destination, Access::Write, "Cannot create");
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
      ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ok = failErrno(error, source, Access::Read, "Cannot read");
        break;
      }
      if (n == 0) break;
      if (!FileManager::writeAll(out, buffer, static_cast<std::size_t>(n))) {
        ok = failErrno(error, destination, Access::Write, "Cannot write");
        break;
      }
    }
    ::close(in);
    if (::close(out) != 0 && ok) ok = failErrno(error, destination, Access::Write, "Cannot write");
    if (!ok) return false;
    ::fchmodat(AT_FDCWD, destination.c_str(), st.st_mode & 07777, 0);
  } else {
    return fail(error, kFileWriteUnknownError, source, 0, "Cannot copy special file");
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return true;
}

}  // namespace

bool FileManager::fileExists(const std::string& path, bool* isDirectory) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    if (isDirectory) *isDirectory = false;
    return false;
  }
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

bool FileManager::isReadable(const std::string& path) { return !path.empty() && ::access(path.c_str(), R_OK) == 0; }

bool FileManager::isWritable(const std::string& path) { return !path.empty() && ::access(path.c_str(), W_OK) == 0; }

bool FileManager::createDirectory(const std::string& path, bool withIntermediates, std::uint32_t mode, Error* error) {
  if (path.empty()) return fail(error, kFileNoSuchFileError, path, ENOENT, "Cannot create folder");
  if (!withIntermediates) {
    if (::mkdir(path.c_str(), mode) != 0) return failErrno(error, path, Access::Write, "Cannot create folder");
    ::chmod(path.c_str(), mode);  // the umask must not widen or narrow what was asked
    return true;
  }
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (part.empty() || part == "/") continue;
    struct stat st;
    if (::stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return fail(error, kFileWriteFileExistsError, part, ENOTDIR, "Cannot create folder");
      continue;
    }
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
      return failErrno(error, part, Access::Write, "Cannot create folder");
    ::chmod(part.c_str(), mode);
  }
  return true;
}

bool FileManager::createPrivateDirectory(const std::string& path, Error* error) {
  if (!createDirectory(path, true, kPrivateFolderMode, error)) return false;
  struct stat st;
  // One that is not the user's cannot be changed, and is used as it is.
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 07777) != kPrivateFolderMode)
    ::chmod(path.c_str(), kPrivateFolderMode);
  return true;
}

int FileManager::createPrivateFile(const std::string& path, int extraFlags, Error* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | extraFlags, kPrivateFileMode);
  if (fd < 0) {
    const int err = errno;
    failErrno(error, path, Access::Write, "Cannot create");
    errno = err;  // callers may look at why
    return -1;
  }
  // The umask can only take bits away; this puts back read and write for the user.
  ::fchmod(fd, kPrivateFileMode);
  return fd;
}

std::string FileManager::writeFailureReason(int err, const std::string& folder) {
  switch (err) {
    case ENOSPC: return "there is no space left on the disk that holds " + folder;
    case EDQUOT: return "there is no space left for you on the disk that holds " + folder + " (your quota is used up)";
    case EROFS: return "the disk that holds " + folder + " is read-only";
    case EACCES:
    case EPERM: return "Kesto may not write in " + folder;
    default: return folder + " could not be written" + (err ? ": " + std::string(std::strerror(err)) : std::string());
  }
}

bool FileManager::writeAll(int fd, const void* bytes, std::size_t size) {
  const auto* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t n = ::write(fd, next, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {  // no progress and no error: stop rather than spin
      errno = EIO;
      return false;
    }
    next += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileManager::writeFile(const std::string& path, std::string_view contents, bool atomically, std::uint32_t mode,
                            Error* error) {
  if (path.empty()) return fail(error, kFileNoSuchFileError, path, ENOENT, "Cannot write");
  if (!atomically) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return failErrno(error, path, Access::Write, "Cannot write");
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, contents.data(), contents.size());
    int err = errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (!ok) return fail(error, codeForErrno(err, Access::Write), path, err, "Cannot write");
    return true;
  }
  AtomicFileWriter writer(path, mode);
  writer.append(contents);
  return writer.commit(error);
}

// ---- AtomicFileWriter

namespace {
constexpr std::size_t kWriterBuffer = 256 * 1024;
}

AtomicFileWriter::AtomicFileWriter(std::string path, std::uint32_t mode) : path_(std::move(path)) {
  if (path_.empty()) {
    errno_ = ENOENT;
    return;
  }
  // The temporary file sits in the target's folder so the rename stays on one file system.
  temporaryPath_ = folderOf(path_) + "/." + FileManager::lastPathComponent(path_) + ".tmp-XXXXXX";
  fd_ = ::mkstemp(temporaryPath_.data());
  if (fd_ < 0) {
    errno_ = errno;
    temporaryPath_.clear();
    return;
  }
  if (::fchmod(fd_, mode) != 0) failWith(errno);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
}

void AtomicFileWriter::failWith(int err) {
  errno_ = err ? err : EIO;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  buffer_.shrink_to_fit();
}

bool AtomicFileWriter::flush() {
  if (fd_ < 0) return false;
  if (!FileManager::writeAll(fd_, buffer_.data(), buffer_.size())) {
    failWith(errno);
    return false;
  }
  buffer_.clear();
  return true;
}

bool AtomicFileWriter::append(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (buffer_.size() + bytes.size() <= kWriterBuffer) {
    buffer_.append(bytes);
    return true;
  }
  if (!flush()) return false;
  if (bytes.size() >= kWriterBuffer) {
    if (!FileManager::writeAll(fd_, bytes.data(), bytes.size())) {
      failWith(errno);
      return false;
    }
    return true;
  }
  buffer_.append(bytes);
  return true;
}

bool AtomicFileWriter::commit(Error* error) {
  if (fd_ >= 0 && flush() && ::fsync(fd_) != 0) failWith(errno);
  if (fd_ >= 0) {
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) errno_ = errno ? errno : EIO;
    else if (::rename(temporaryPath_.c_str(), path_.c_str()) != 0) errno_ = errno ? errno : EIO;
    else {
      temporaryPath_.clear();
      syncDirectoryOf(path_);
      return true;
    }
  }
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
  return fail(error, codeForErrno(errno_, Access::Write), path_, errno_, "Cannot write");
}

bool FileManager::writeFile(const std::string& path, const Data& contents, bool atomically, std::uint32_t mode,
                            Error* error) {
  return writeFile(path, std::string_view(reinterpret_cast<const char*>(contents.data()), contents.size()), atomically,
                   mode, error);
}

bool FileManager::writeFileAtomically(const std::string& path, std::string_view contents, std::uint32_t mode,
                                      Error* error) {
  return writeFile(path, contents, true, mode, error);
}

std::optional<std::string> FileManager::readFile(const std::string& path, std::uint64_t maxBytes, Error* error) {
  struct stat st;
  int fd = openRegularFileForReading(path, st, error, "Cannot read");
  if (fd < 0) return std::nullopt;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    fail(error, kFileReadTooLargeError, path, EFBIG, "Too large to read");
    return std::nullopt;
  }
  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failErrno(error, path, Access::Read, "Cannot read");
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    // The file may grow while it is read; the bound holds regardless.
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      fail(error, kFileReadTooLargeError, path, EFBIG, "Too large to read");
      return std::nullopt;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

std::optional<Data> FileManager::contentsAtPath(const std::string& path, std::uint64_t maxBytes, Error* error) {
  auto text = readFile(path, maxBytes, error);
  if (!text) return std::nullopt;
  return Data(text->begin(), text->end());
}

bool FileManager::removeItem(const std::string& path, Error* error) {
  if (path.empty() || !exists(path)) return fail(error, kFileNoSuchFileError, path, ENOENT, "Cannot remove");
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) return fail(error, codeForErrno(ec.value(), Access::Write), path, ec.value(), "Cannot remove");
  return true;
}

bool FileManager::copyItem(const std::string& source, const std::string& destination, Error* error) {
  if (exists(destination)) return fail(error, kFileWriteFileExistsError, destination, EEXIST, "Cannot copy over");
  if (!exists(source)) return fail(error, kFileReadNoSuchFileError, source, ENOENT, "Cannot copy");
  if (!copyTree(source, destination, error)) {
    std::error_code ec;
    fs::remove_all(destination, ec);
    return false;
  }
  return true;
}

bool FileManager::replaceItemWithCopy(const std::string& source, const std::string& destination, Error* error) {
  std::string staging = folderOf(destination) + "/." + lastPathComponent(destination) + ".copy-" + uniqueName();
  if (!copyItem(source, staging, error)) return false;
  struct stat st;
  if (::lstat(destination.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // rename(2) cannot replace a non-empty folder: move the old one aside first.
    std::string aside = staging + "-old";
    if (::rename(destination.c_str(), aside.c_str()) != 0) {
      int err = errno;
      removeItem(staging);
      return fail(error, codeForErrno(err, Access::Write), destination, err, "Cannot replace");
    }
    if (::rename(staging.c_str(), destination.c_str()) != 0) {
      int err = errno;
      ::rename(aside.c_str(), destination.c_str());
      removeItem(staging);
      return fail(error, codeForErrno(err, Access::Write), destination, err, "Cannot replace");
    }
    removeItem(aside);
    return true;
  }
  if (::rename(staging.c_str(), destination.c_str()) != 0) {
    int err = errno;
    removeItem(staging);
    return fail(error, codeForErrno(err, Access::Write), destination, err, "Cannot replace");
  }
  return true;
}

bool FileManager::moveItem(const std::string& source, const std::string& destination, Error* error) {
  if (!exists(source)) return fail(error, kFileNoSuchFileError, source, ENOENT, "Cannot move");
  if (exists(destination)) return fail(error, kFileWriteFileExistsError, destination, EEXIST, "Cannot move over");
  if (::rename(source.c_str(), destination.c_str()) == 0) return true;
  if (errno != EXDEV) return failErrno(error, source, Access::Write, "Cannot move");
  if (!copyItem(source, destination, error)) return false;
  return removeItem(source, error);
}

bool FileManager::renameItem(const std::string& source, const std::string& destination, Error* error) {
  if (::rename(source.c_str(), destination.c_str()) != 0) return failErrno(error, source, Access::Write, "Cannot rename");
  return true;
}

std::optional<FileAttributes> FileManager::attributesOfItem(const std::string& path, Error* error) {
  struct statx sx;
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    failErrno(error, path, Access::Read, "Cannot read attributes of");
    return std::nullopt;
  }
  FileAttributes a;
  a.size = sx.stx_size;
  a.permissions = sx.stx_mode & 07777;
  a.isDirectory = S_ISDIR(sx.stx_mode);
  a.isRegularFile = S_ISREG(sx.stx_mode);
  a.isSymbolicLink = S_ISLNK(sx.stx_mode);
  a.modificationDate = dateFromTimespec({static_cast<time_t>(sx.stx_mtime.tv_sec), sx.stx_mtime.tv_nsec});
  const auto& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  a.creationDate = dateFromTimespec({static_cast<time_t>(born.tv_sec), born.tv_nsec});
  return a;
}

bool FileManager::setModificationDate(const std::string& path, Date date, Error* error) {
  double s = date.timeIntervalSince1970();
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(s);
  times[1].tv_nsec = static_cast<long>((s - static_cast<double>(times[1].tv_sec)) * 1e9);
  if (times[1].tv_nsec < 0) {
    times[1].tv_sec -= 1;
    times[1].tv_nsec += 1000000000L;
  }
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return failErrno(error, path, Access::Write, "Cannot set date of");
  return true;
}

bool FileManager::setPermissions(const std::string& path, std::uint32_t mode, Error* error) {
  if (::chmod(path.c_str(), mode) != 0) return failErrno(error, path, Access::Write, "Cannot set permissions of");
  return true;
}

std::uint64_t FileManager::sizeOfItem(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return 0;
  if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  std::uint64_t total = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    if (it->is_regular_file(e2) && !it->is_symlink(e2)) total += it->file_size(e2);
  }
  return total;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path, bool skipHidden,
                                                                        Error* error) {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) {
    fail(error, codeForErrno(ec.value(), Access::Read), path, ec.value(), "Cannot list");
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (skipHidden && !name.empty() && name[0] == '.') continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::vector<std::string>> FileManager::subpathsOfDirectory(const std::string& path, Error* error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
  if (ec) {
    fail(error, codeForErrno(ec.value(), Access::Read), path, ec.value(), "Cannot list");
    return std::nullopt;
  }
  std::vector<std::string> out;
  const fs::path base(path);
  for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec))
    out.push_back(it->path().lexically_relative(base).string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string FileManager::createTemporaryFile(const std::string& prefix, const std::string& suffix,
                                             const std::string& directory) {
  std::string dir = directory.empty() ? StandardPaths::temporaryDirectory() : directory;
  std::string tmpl = StandardPaths::appendingPathComponent(dir, prefix + "-XXXXXX" + suffix);
  int fd = ::mkostemps(tmpl.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) return {};
  ::fchmod(fd, 0600);
  ::close(fd);
  return tmpl;
}

std::string FileManager::createTemporaryDirectory(const std::string& prefix, const std::string& directory) {
  std::string dir = directory.empty() ? StandardPaths::temporaryDirectory() : directory;
  std::string tmpl = StandardPaths::appendingPathComponent(dir, prefix + "-XXXXXX");
  if (!::mkdtemp(tmpl.data())) return {};
  return tmpl;
}

std::string FileManager::uniqueName() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t salt = std::random_device{}();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d-%llx-%llu", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(salt & 0xffffffffULL),
                static_cast<unsigned long long>(counter.fetch_add(1)));
  return buffer;
}

std::string FileManager::lastPathComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  if (slash == std::string::npos || p == "/") return p;
  return p.substr(slash + 1);
}

std::string FileManager::pathExtension(const std::string& path) {
  std::string last = lastPathComponent(path);
  auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return last.substr(dot + 1);
}

std::string FileManager::deletingLastPathComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

}  // namespace kesto::fnd
