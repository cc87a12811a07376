#pragma once

#include "Platform/Foundation/Date.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

// Optional receiver of the packer's messages.
class ZipPackerDelegate {
 public:
  virtual ~ZipPackerDelegate() = default;
  virtual void errorMessage(const std::string& message) {}
  // True to overwrite an existing file during extraction; false skips that entry.
  virtual bool overWriteOperation(const std::string& path) { return true; }
};

// A small zip archive writer and reader over minizip. One thread at a time.
class ZipPacker {
 public:
  ZipPacker();
  ~ZipPacker();
  ZipPacker(const ZipPacker&) = delete;
  ZipPacker& operator=(const ZipPacker&) = delete;

  // Creates an archive at the path (replacing any file there) for writing.
  bool createZipFile2(const std::string& path);
  bool createZipFile2(const std::string& path, const std::string& password);
  // Adds the file as one deflated entry dated with the file's modification time.
  bool addFileToZip(const std::string& sourcePath, const std::string& entryName);
  // Adds bytes from memory as one entry dated `date`.
  bool addDataToZip(const std::string& data, const std::string& entryName, fnd::Date date);
  // Writes the central directory (no comment) and closes; false when nothing was open.
  bool closeZipFile2();

  bool unzipOpenFile(const std::string& path);
  bool unzipOpenFile(const std::string& path, const std::string& password);
  // Extracts every entry below `folder`. Entries whose names are absolute or climb out of the
  // folder ("..") are skipped with a message, so an archive cannot write elsewhere.
  bool unzipFileTo(const std::string& folder, bool overwrite);
  // Reads one entry into memory; false when it is missing, larger than `maxBytes` or unreadable.
  bool readEntry(const std::string& entryName, std::string* contents, std::size_t maxBytes);
  // The stored (inflated) size of an entry; absent when the archive has no such entry.
  std::optional<std::uint64_t> entrySize(const std::string& entryName);
  bool unzipCloseFile();

  void setDelegate(std::shared_ptr<ZipPackerDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::shared_ptr<ZipPackerDelegate>& delegate() const { return delegate_; }

  // 1 January 1980, 00:00:00 local time: the earliest zip date.
  static fnd::Date date1980();

 private:
  void outputErrorMessage(const std::string& message);
  bool overWrite(const std::string& path);

  void* zipFile_ = nullptr;
  void* unzFile_ = nullptr;
  std::string password_;
  std::shared_ptr<ZipPackerDelegate> delegate_;
};

}  // namespace kesto
