#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Model/StoredText.h"
#include "Synchronize/HTMLImport.h"
#include "Synchronize/HTMLImportReader.h"

#include <map>

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
  for (const auto& bookmark : parsed->bookmarks) {
    KESTO_FUZZ_CHECK(folders.count(bookmark.folderID.string()) == 1);
    // Only addresses a library may hold (naming their scheme, in lower case), never a NUL,
    // titles and notes within their bounds.
    const std::string& url = bookmark.url.string();
    KESTO_FUZZ_CHECK(kesto::stored::isLibraryAddress(url));
    KESTO_FUZZ_CHECK(kesto::stored::whyImportLeavesOut(url) == kesto::stored::LeftOut::None);
    for (std::size_t i = 0; i < kesto::stored::schemeLength(url); ++i)
      KESTO_FUZZ_CHECK(!(url[i] >= 'A' && url[i] <= 'Z'));
    KESTO_FUZZ_CHECK(url.find('\0') == std::string::npos);
    KESTO_FUZZ_CHECK(bookmark.title.string().size() <= kesto::HTMLImportReader::kMaxTitleBytes);
    KESTO_FUZZ_CHECK(bookmark.notes.string().size() <= kesto::HTMLImportReader::kMaxNotesBytes);
  }
  // Folders are never nested deeper than the reader keeps.
  std::map<std::string, int> depth = {{"import-root", -1}};
  for (const auto& folder : parsed->folders) {
    const int d = depth[folder.parentFolderID.string()] + 1;
    KESTO_FUZZ_CHECK(d <= kesto::HTMLImportReader::kMaxFolderDepth);
    depth[folder.folderID.string()] = d;
  }
  // Tags are listed once each.
  std::set<std::string> seen(parsed->tags.begin(), parsed->tags.end());
  KESTO_FUZZ_CHECK(seen.size() == parsed->tags.size());
  return 0;
}
