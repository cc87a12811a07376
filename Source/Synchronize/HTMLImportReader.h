#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

// What one bookmark file holds, read in one pass over the file (see HTMLImportReader.cpp for
// the rules). Compact on purpose: a file of 50,000 bookmarks is held whole before it is stored.
struct HTMLImportRecords {
  enum class Kind { Netscape, Pocket, Instapaper };
  static constexpr int kReceivingFolder = -1;
  struct Folder {
    std::string name;
    int parent = kReceivingFolder;  // index into folders, or the receiving folder
    std::int64_t orderIndex = 0;    // 1, 2, 3 ... among the folders of one parent
  };
  struct Bookmark {
    int folder = kReceivingFolder;
    std::string url;  // harmless escapes decoded
    std::string baseURL;
    std::string title;
    std::string notes;
    std::vector<int> tags;  // indices into tags
  };
  Kind kind = Kind::Netscape;
  std::vector<Folder> folders;      // parents before children
  std::vector<Bookmark> bookmarks;  // document order
  std::vector<std::string> tags;    // each once, first-seen order
  // Folders nested deeper than the reader keeps; their bookmarks went to the deepest kept one.
  std::size_t flattenedFolders = 0;
  // Titles, names and notes cut to the length the reader keeps.
  std::size_t cutTexts = 0;
};

class HTMLImportReader {
 public:
  // Folders deeper than this are flattened into the deepest kept folder.
  static constexpr int kMaxFolderDepth = 200;
  // Longest title or folder name, and longest notes, kept (in bytes); longer ones are cut.
  static constexpr std::size_t kMaxTitleBytes = 64 * 1024;
  static constexpr std::size_t kMaxNotesBytes = 1024 * 1024;

  struct Options {
    bool skipDuplicates = false;
    // Answers whether the store already holds a bookmark of this address (in the form
    // decodeHarmlessPercentEscapes gives); asked only when skipping duplicates.
    std::function<bool(const std::string& address)> isKnown;
  };
  using Source = std::function<std::size_t(char* buffer, std::size_t size)>;

  // Absent when nothing could be read at all.
  static std::optional<HTMLImportRecords> read(const Source& source, const Options& options);
  static std::optional<HTMLImportRecords> read(std::string_view bytes, const Options& options);
};

}  // namespace kesto
