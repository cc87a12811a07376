#include "Synchronize/SyncPayload.h"

#include "Synchronize/ZipPacker.h"

#include "Model/FileManagerAdditions.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"

#include <cerrno>

namespace kesto {

namespace {
constexpr const char* kDomain = "KestoSyncPayloadErrorDomain";
}

bool SyncPayload::pack(const std::string& xml, const std::string& zipPath, fnd::Error* error) {
  // Build under a temporary name and rename, so a failed pack never leaves a torn archive.
  const std::string temp = zipPath + ".partial";
  fnd::FileManager::removeItem(temp);
  bool ok = false;
  // What the system said when a write failed: a full disk must be told as such.
  int writeErrno = 0;
  {
    ZipPacker packer;
    errno = 0;
    if (packer.createZipFile2(temp)) {
      ok = packer.addDataToZip(xml, kEntryName, fnd::Date::now());
      if (!ok) writeErrno = errno;
      errno = 0;
      if (!packer.closeZipFile2()) {
        ok = false;
        if (!writeErrno) writeErrno = errno;
      }
    } else {
      writeErrno = errno;
    }
  }
  if (ok) ok = fnd::FileManager::renameItem(temp, zipPath);
  if (!ok) {
    fnd::FileManager::removeItem(temp);
    if (error)
      *error = fnd::Error::withDescription(
          kDomain, 1,
          writeErrno ? "The sync file could not be zipped: " + fnd::FileManager::writeFailureReason(writeErrno, placeOf(zipPath))
                     : "The sync file could not be zipped at " + zipPath);
  }
  return ok;
}

SyncPayload::UnpackStatus SyncPayload::unpack(const std::string& zipPath, std::string* xml, std::size_t maxBytes) {
  ZipPacker packer;
  if (!packer.unzipOpenFile(zipPath)) return UnpackStatus::NotAnArchive;
  auto size = packer.entrySize(kEntryName);
  if (!size) return UnpackStatus::NoSyncFile;
  if (*size > maxBytes) return UnpackStatus::TooLarge;
  std::string contents;
  if (!packer.readEntry(kEntryName, &contents, maxBytes)) return UnpackStatus::Corrupt;
  *xml = std::move(contents);
  return UnpackStatus::Ok;
}

std::string SyncPayload::describe(UnpackStatus status) {
  switch (status) {
    case UnpackStatus::Ok: return "ok";
    case UnpackStatus::NotAnArchive: return "The sync payload is not a zip archive";
    case UnpackStatus::NoSyncFile: return "The sync payload holds no sync file";
    case UnpackStatus::TooLarge: return "The sync file in the payload is too large";
    case UnpackStatus::Corrupt: return "The sync payload is damaged";
  }
  return {};
}

namespace {
constexpr const char* kRunFolderPrefix = "sync";
}

std::string SyncPayload::placeOf(const std::string& path) {
  // By name, not by asking for the temporary folder: this runs on transfer threads too.
  const auto folder = fnd::FileManager::deletingLastPathComponent(path);
  const bool inRunFolder = fnd::FileManager::lastPathComponent(folder).rfind(std::string(kRunFolderPrefix) + "-", 0) == 0;
  return inRunFolder ? fnd::FileManager::deletingLastPathComponent(folder) : folder;
}

std::string SyncPayload::makeRunFolder(std::string* why) {
  auto base = kesto_tempFolderPath();
  fnd::FileManager::createDirectory(base, true, 0700);
  errno = 0;
  auto folder = fnd::FileManager::createTemporaryDirectory(kRunFolderPrefix, base);
  if (folder.empty() && why)
    *why = "No temporary folder for the sync: " + fnd::FileManager::writeFailureReason(errno, base);
  return folder;
}

}  // namespace kesto
