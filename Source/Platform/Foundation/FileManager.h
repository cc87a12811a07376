#pragma once

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

// Error codes of file operations (kCocoaErrorDomain). The POSIX cause, when there is one, is the
// underlying error (kPOSIXErrorDomain, errno), and the path is under kFilePathErrorKey.
inline constexpr std::int64_t kFileNoSuchFileError = 4;
inline constexpr std::int64_t kFileReadUnknownError = 256;
inline constexpr std::int64_t kFileReadNoSuchFileError = 260;
inline constexpr std::int64_t kFileReadTooLargeError = 263;
inline constexpr std::int64_t kFileWriteUnknownError = 512;
inline constexpr std::int64_t kFileWriteFileExistsError = 516;
inline constexpr std::int64_t kFileWriteNoPermissionError = 513;
inline constexpr std::int64_t kFileWriteOutOfSpaceError = 640;

// Everything Kesto writes under the user's folders holds the user's library (passwords
// included), so it is the user's alone unless a caller says otherwise.
inline constexpr std::uint32_t kPrivateFileMode = 0600;
inline constexpr std::uint32_t kPrivateFolderMode = 0700;

// What stat tells about one item. Symbolic links are described themselves, not followed.
struct FileAttributes {
  std::uint64_t size = 0;
  Date modificationDate;
  Date creationDate;  // the birth time where the file system keeps it, else the change time
  std::uint32_t permissions = 0;  // the mode bits 07777
  bool isDirectory = false;
  bool isRegularFile = false;
  bool isSymbolicLink = false;
};

// Writes a file in pieces, atomically: the pieces go into a temporary file beside `path` and
// commit() flushes it to disk and renames it over `path`, so readers see the old file or the
// whole new one. Without a commit (a failure, or the writer going away) the temporary file is
// removed and `path` is left as it was. Memory stays bounded by the buffer, whatever is written.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path, std::uint32_t mode = kPrivateFileMode);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Whether every piece so far has been written (false also when the file could not be made).
  bool good() const { return fd_ >= 0; }
  bool append(std::string_view bytes);
  bool commit(Error* error = nullptr);

 private:
  bool flush();
  void failWith(int err);

  std::string path_;
  std::string temporaryPath_;
  std::string buffer_;
  int fd_ = -1;
  int errno_ = 0;
};

// File operations on paths. Every operation reports failure by its result and, when `error` is
// given, an Error describing it; none throws.
class FileManager {
 public:
  // Whether something exists at `path` (a dangling symbolic link does not); `isDirectory`, when
  // given, tells whether it is a folder (following links).
  static bool fileExists(const std::string& path, bool* isDirectory = nullptr);
  static bool isReadable(const std::string& path);
  static bool isWritable(const std::string& path);

  // Makes a folder. Without intermediates the parent must exist and the folder must not; with
  // intermediates, an existing folder is success. New folders get `mode`.
  static bool createDirectory(const std::string& path, bool withIntermediates, std::uint32_t mode = kPrivateFolderMode,
                              Error* error = nullptr);
  // Makes a folder of Kesto's own (with intermediates, new ones 0700) and leaves it the user's
  // alone whatever made it first: an install or an older version may have made it 0755. The
  // folders above it are left as they are.
  static bool createPrivateDirectory(const std::string& path, Error* error = nullptr);

  // Writes `contents` to a new or existing file. Atomically: into a temporary file in the same
  // folder, flushed to disk, then renamed over `path`, so readers see the old or the new file and
  // never a part; the temporary file never outlives a failure. The file gets `mode` either way.
  static bool writeFile(const std::string& path, std::string_view contents, bool atomically = true,
                        std::uint32_t mode = kPrivateFileMode, Error* error = nullptr);
  static bool writeFile(const std::string& path, const Data& contents, bool atomically = true,
                        std::uint32_t mode = kPrivateFileMode, Error* error = nullptr);
  // Shorthand for an atomic write.
  static bool writeFileAtomically(const std::string& path, std::string_view contents, std::uint32_t mode = kPrivateFileMode,
                                  Error* error = nullptr);

  // The whole contents of a regular file; absent when it cannot be read or is larger than
  // `maxBytes` (untrusted files are read with a bound).
  static std::optional<std::string> readFile(const std::string& path, std::uint64_t maxBytes = UINT64_MAX,
                                             Error* error = nullptr);
  static std::optional<Data> contentsAtPath(const std::string& path, std::uint64_t maxBytes = UINT64_MAX,
                                            Error* error = nullptr);

  // Removes a file, link or whole folder tree (links are removed, never followed). A missing
  // item is a failure (kFileNoSuchFileError).
  static bool removeItem(const std::string& path, Error* error = nullptr);

  // Copies a file or a folder tree; symbolic links are copied as links. Fails when `destination`
  // exists, and leaves no partial copy behind.
  static bool copyItem(const std::string& source, const std::string& destination, Error* error = nullptr);
  // Copies over whatever is at `destination`: the copy is made beside it and then swapped in.
  static bool replaceItemWithCopy(const std::string& source, const std::string& destination, Error* error = nullptr);

  // Moves an item; fails when `destination` exists. Works across file systems (copy, then remove).
  static bool moveItem(const std::string& source, const std::string& destination, Error* error = nullptr);
  // rename(2): replaces an existing file at `destination` in one step (same file system only).
  static bool renameItem(const std::string& source, const std::string& destination, Error* error = nullptr);

  static std::optional<FileAttributes> attributesOfItem(const std::string& path, Error* error = nullptr);
  static bool setModificationDate(const std::string& path, Date date, Error* error = nullptr);
  static bool setPermissions(const std::string& path, std::uint32_t mode, Error* error = nullptr);

  // Size in bytes of a file, or of all files below a folder (links are not followed).
  static std::uint64_t sizeOfItem(const std::string& path);

  // Names of the entries of a folder, sorted; hidden entries (".name") are left out when asked.
  // Absent when the folder cannot be read.
  static std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                     bool skipHidden = false,
                                                                     Error* error = nullptr);
  // Every item below a folder as a path relative to it ("a", "a/b.txt"), sorted. Symbolic links
  // are listed but never followed, so link loops cannot trap the walk.
  static std::optional<std::vector<std::string>> subpathsOfDirectory(const std::string& path, Error* error = nullptr);

  // Makes a new file only the user can read and write (mode 0600, whatever the umask) and answers
  // its open descriptor (write-only, close-on-exec, plus `extraFlags`), or -1 with `error` set.
  // Fails when something already stands at `path`, so a planted link is never followed.
  static int createPrivateFile(const std::string& path, int extraFlags = 0, Error* error = nullptr);
  // Writes all `size` bytes to the descriptor, again after an interrupted or partial write.
  // False on an error, with errno telling why.
  static bool writeAll(int fd, const void* bytes, std::size_t size);
  // Why writing in `folder` failed (errno `err`), in words the user reads after a colon: a full
  // disk, a read-only disk or a refused folder named as such, anything else with the system's text.
  static std::string writeFailureReason(int err, const std::string& folder);

  // A new empty file in `directory` (the temporary folder when empty) named `prefix` plus a
  // unique suffix plus `suffix`, made with mode 0600. Answers its path, or empty on failure.
  static std::string createTemporaryFile(const std::string& prefix = "kesto", const std::string& suffix = "",
                                         const std::string& directory = "");
  // A new empty folder (mode 0700) made the same way.
  static std::string createTemporaryDirectory(const std::string& prefix = "kesto", const std::string& directory = "");
  // A string unique to this process and call, usable in file names.
  static std::string uniqueName();

  // Path helpers.
  static std::string lastPathComponent(const std::string& path);
  static std::string pathExtension(const std::string& path);
  static std::string deletingLastPathComponent(const std::string& path);
};

}  // namespace kesto::fnd
