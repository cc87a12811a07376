#pragma once

#include "Synchronize/HTMLImportReader.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesto::test {

// The folder each bookmark of a reading went to, as the folders' names from the receiving folder
// joined by "/" ("" for the receiving folder itself), in the bookmarks' order.
inline std::vector<std::string> bookmarkFolderPaths(const HTMLImportRecords& records) {
  std::vector<std::string> folders, out;
  // Parents come before their children.
  for (const auto& f : records.folders)
    folders.push_back((f.parent == HTMLImportRecords::kReceivingFolder ? std::string()
                                                                       : folders[static_cast<std::size_t>(f.parent)] + "/") +
                      f.name);
  for (const auto& b : records.bookmarks)
    out.push_back(b.folder == HTMLImportRecords::kReceivingFolder ? std::string()
                                                                   : folders[static_cast<std::size_t>(b.folder)]);
  return out;
}

// Reads a file through the reader alone into `records` (false when nothing could be read) and
// hands each bookmark read to `placed` with its folder's path, in the file's order.
template <class Placed>
bool readPlaced(std::string_view html, HTMLImportRecords& records, Placed&& placed) {
  auto read = HTMLImportReader::read(html, {});
  if (!read) return false;
  records = std::move(*read);
  const std::vector<std::string> folders = bookmarkFolderPaths(records);
  for (std::size_t i = 0; i < records.bookmarks.size(); ++i) placed(records.bookmarks[i], folders[i]);
  return true;
}

}  // namespace kesto::test
