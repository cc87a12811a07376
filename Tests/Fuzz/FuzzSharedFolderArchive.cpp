#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Model/StoredText.h"
#include "Synchronize/SharedFolderArchive.h"
#include "Synchronize/SyncFile.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>

// A shared-folder archive as its import reads it: the package's document (by its byte-order
// mark), the records, the flattening and the new identifiers. What would be stored is bounded
// and clean, and every folder hangs at most the bound deep under "_imported".
KESTO_FUZZ_TARGET(SharedFolderArchive) {
  namespace fs = std::filesystem;
  static const std::string package = kesto::fuzz::scratchFolder() + "/Fuzzed.kesto";
  std::error_code ec;
  fs::create_directories(package + "/Contents", ec);
  {
    const std::string path = kesto::fuzz::writeScratchFile("document.xml", kesto::fuzz::asText(data, size));
    fs::rename(path, package + "/Contents/kesto.xml", ec);
  }
  auto text = kesto::SharedFolderArchive::readArchiveDocument(package);
  if (!text) return 0;
  auto document = kesto::SyncFile::read(*text, false);
  if (!document) return 0;
  kesto::SyncFile::flattenDeepFolders(*document);
  kesto::SharedFolderArchive::rekeyFolders(*document, "Fuzzed");
  namespace stored = kesto::stored;
  for (const auto& b : document->bookmarks) {
    const std::string& url = b.url.string();
    KESTO_FUZZ_CHECK(url.size() <= stored::kMaximumAddressBytes && !stored::hasForbiddenCharacters(url));
    KESTO_FUZZ_CHECK(b.title.string().size() <= stored::kMaximumTitleBytes &&
                     !stored::hasForbiddenCharacters(b.title.string()));
    KESTO_FUZZ_CHECK(b.notes.string().size() <= stored::kMaximumNoteBytes &&
                     !stored::hasForbiddenCharacters(b.notes.string(), true));
    KESTO_FUZZ_CHECK(b.tagStrings.size() <= stored::kMaximumTagsPerBookmark);
    for (const auto& tag : b.tagStrings)
      KESTO_FUZZ_CHECK(tag.size() <= stored::kMaximumTagBytes && !stored::hasForbiddenCharacters(tag));
  }
  // Every chain up ends within the bound (a parent cycle, cut later by the merge, aside).
  std::map<std::string, std::string> parent;
  for (const auto& f : document->folders) {
    KESTO_FUZZ_CHECK(!stored::hasForbiddenCharacters(f.name.string()));
    parent[f.folderID.string()] = f.parentFolderID.string();
  }
  for (const auto& entry : parent) {
    std::set<std::string> seen;
    std::string at = entry.first;
    while (parent.count(at) && seen.insert(at).second) at = parent[at];
    if (!parent.count(at)) KESTO_FUZZ_CHECK(seen.size() <= static_cast<std::size_t>(stored::kMaximumFolderDepth));
  }
  return 0;
}
