#pragma once

#include "Platform/Foundation/FoundationForward.h"

#include <cstddef>
#include <optional>
#include <string>

namespace kesto {

// The sync payload: a zip archive holding one deflated entry "tmp.xml" with the sync file as
// UTF-8. Every transport packs and unpacks through here.
class SyncPayload {
 public:
  static constexpr const char* kEntryName = "tmp.xml";
  static constexpr const char* kArchiveName = "sync_data.zip";
  static constexpr const char* kInboundName = "tmpInbound.zip";
  // Inflated size above which an incoming sync file is refused.
  static constexpr std::size_t kMaxXmlBytes = 256u * 1024 * 1024;
  // An archive larger than this cannot hold an acceptable sync file (deflate barely expands).
  static constexpr std::size_t kMaxArchiveBytes = kMaxXmlBytes + 1024u * 1024;

  enum class UnpackStatus { Ok, NotAnArchive, NoSyncFile, TooLarge, Corrupt };

  // Writes the archive at `zipPath` (replacing it). False with `error` when it cannot be written.
  static bool pack(const std::string& xml, const std::string& zipPath, fnd::Error* error = nullptr);
  // Reads only "tmp.xml", into memory, with the size cap; no file is written. Other entries are
  // ignored. Anything but Ok is a failed download, never an empty remote.
  static UnpackStatus unpack(const std::string& zipPath, std::string* xml, std::size_t maxBytes = kMaxXmlBytes);
  static std::string describe(UnpackStatus status);

  // A fresh private working folder for one run (mode 0700) below the temporary folder. Empty
  // when it cannot be made, with the reason in `why` (a full disk named as such).
  static std::string makeRunFolder(std::string* why = nullptr);
  // The folder a user knows that holds `path`: the temporary folder for what lies in a run's
  // working folder (which is gone once the run ends), else the path's own folder.
  static std::string placeOf(const std::string& path);
};

}  // namespace kesto
