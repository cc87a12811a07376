#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Synchronize/HTMLImport.h"

#include <set>
#include <unordered_set>

// Netscape bookmark files and reading-list exports.
KESTO_FUZZ_TARGET(HTMLImport) {
  auto bytes = kesto::fuzz::asText(data, size);
  static const std::unordered_set<std::string> skip = {"https://example.com/"};
  kesto::HTMLImport::FileKind kind{};
  auto parsed = kesto::HTMLImport::parseDocument(bytes, "import-root", size & 1, skip, &kind);
  if (!parsed) return 0;
  // Folders come parents first below the import root, so the tree has no cycle or orphan, and
  // every bookmark lands in one of them.
  std::set<std::string> folders = {"import-root"};
  for (const auto& folder : parsed->folders) {
    const std::string id = folder.folderID.string();
    KESTO_FUZZ_CHECK(folders.count(folder.parentFolderID.string()) == 1);
    KESTO_FUZZ_CHECK(folders.insert(id).second);
  }
  for (const auto& bookmark : parsed->bookmarks) KESTO_FUZZ_CHECK(folders.count(bookmark.folderID.string()) == 1);
  // Tags are listed once each.
  std::set<std::string> seen(parsed->tags.begin(), parsed->tags.end());
  KESTO_FUZZ_CHECK(seen.size() == parsed->tags.size());
  return 0;
}
