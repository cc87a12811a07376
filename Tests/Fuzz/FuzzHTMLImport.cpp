#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Model/StoredText.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Synchronize/HTMLImport.h"
#include "Synchronize/HTMLImportReader.h"

#include "../Synchronize/MarkupGenerator.h"
#include "../Synchronize/ReadFolderPaths.h"

#include <map>
#include <optional>
#include <set>
#include <unordered_set>

namespace {

// Counts the A elements with an HREF the parser hands on, and nothing else: apart from the
// reader's reading of them.
struct LinkCounter final : kesto::fnd::HtmlStreamHandler {
  std::size_t links = 0;
  void startElement(std::string_view name, const std::vector<Attribute>& attributes) override {
    if (name != "a") return;
    for (const auto& a : attributes)
      if (a.name == "href") {
        ++links;
        return;
      }
  }
  void endElement(std::string_view) override {}
  void text(std::string_view) override {}
  void rawText(std::string_view) override {}
  void otherNode(std::string_view) override {}
};

// An input opening with this byte is no file: the rest drives the import tests' generator of
// files whose items stand inside markup of every kind, and each item is checked where it lands.
constexpr std::uint8_t kGenerated = 0x01;

// Each generated item is stored once, in its folder, with its title and notes, in the file's
// order; nothing goes unread.
void checkGeneratedItems(const kesto::test::MarkupFile& file, const kesto::HTMLImportRecords& records) {
  const std::vector<std::string> folders = kesto::test::bookmarkFolderPaths(records);
  std::map<std::string, std::size_t> stored;
  for (std::size_t i = 0; i < records.bookmarks.size(); ++i)
    KESTO_FUZZ_CHECK(stored.emplace(records.bookmarks[i].url, i).second);
  KESTO_FUZZ_CHECK(records.unread == 0);
  KESTO_FUZZ_CHECK(stored.size() == file.items().size());
  for (const auto& item : file.items()) {
    const auto it = stored.find(item.url);
    KESTO_FUZZ_CHECK(it != stored.end());
    const auto& b = records.bookmarks[it->second];
    KESTO_FUZZ_CHECK(folders[it->second] == item.folder);
    KESTO_FUZZ_CHECK(b.title == item.title);
    KESTO_FUZZ_CHECK(b.notes == item.notes);
  }
  for (std::size_t i = 0; i < records.bookmarks.size() && i < file.items().size(); ++i)
    KESTO_FUZZ_CHECK(records.bookmarks[i].url == file.items()[i].url);
}

}  // namespace

// Netscape bookmark files and reading-list exports.
KESTO_FUZZ_TARGET(HTMLImport) {
  std::optional<kesto::test::MarkupFile> generated;
  if (size > 0 && data[0] == kGenerated) generated = kesto::test::MarkupFile::fromBytes(data + 1, size - 1);
  auto bytes = generated ? std::string_view(generated->html()) : kesto::fuzz::asText(data, size);
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

  // Every link of the file is stored, left out for a reason, skipped as a duplicate or counted
  // as not read, each by a reason the reader gives (its guard for links it failed to place
  // counts none): against the links the parser hands on, and those the whole file holds where
  // it stopped before them.
  kesto::HTMLImportReader::Options options;
  options.skipDuplicates = size & 1;
  options.isKnown = [&](const std::string& address) { return skip.count(address) > 0; };
  auto records = kesto::HTMLImportReader::read(bytes, options);
  KESTO_FUZZ_CHECK(records.has_value());
  LinkCounter counter;
  kesto::fnd::HtmlStreamReader::Options stream;
  stream.closeDescriptionBeforeList = stream.nestListsAsBrowsers = true;
  const auto result = kesto::fnd::HtmlStreamReader::read(bytes, counter, stream);
  // (Links in text an element the file never closes runs to its end reach the parser as text.)
  const std::size_t links = std::max(counter.links, result.anchorsWithAddress) + result.anchorsInUnendedText;
  KESTO_FUZZ_CHECK(records->unaccounted == 0);
  KESTO_FUZZ_CHECK(records->bookmarks.size() + records->leftOut.total() + records->alreadyHeld + records->repeated +
                       records->unread - records->unaccounted ==
                   links);
  KESTO_FUZZ_CHECK(parsed->bookmarks.size() == records->bookmarks.size());
  if (generated) checkGeneratedItems(*generated, *records);
  return 0;
}
