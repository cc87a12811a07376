#pragma once

#include "Synchronize/HTMLImportReader.h"

#include <cstddef>
#include <string>
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

}  // namespace kesto::test
