// What an import stored is read back into the main context before the import is told complete,
// a part at a time by the keys its rows were written under: every stored bookmark is there,
// loaded, so the library in memory takes them in without a row to load.
#include "SyncLibraryFixture.h"
#include "SyncTestSupport.h"

#include "Synchronize/HTMLImport.h"

#include "Model/WrenEntity.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/ObjectID.h"

#include <optional>
#include <set>
#include <string>

namespace kesto::test {
namespace {

// A browser's file of `count` bookmarks in two folders, all new but one; every seventh repeats an
// address met before it, and one is the address `known`.
std::string importFile(int count, const std::string& known) {
  const std::string site = "https://read-back-" + std::to_string(count) + ".example/";
  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
      "<DT><H3>First</H3>\n<DL><p>\n";
  for (int i = 0; i < count; ++i) {
    if (i == count / 2) out += "</DL><p>\n<DT><H3>Second</H3>\n<DL><p>\n";
    const std::string address =
        i == 3 ? known : site + std::to_string(i % 7 == 6 ? i - 1 : i);
    out += "<DT><A HREF=\"" + address + "\">Page " + std::to_string(i) + "</A>\n";
  }
  return out + "</DL><p>\n</DL><p>\n";
}

class HTMLImportReadBackTest : public SyncLibraryTest {
 protected:
  std::string writeFile(int count, const std::string& known) {
    const std::string path = fnd::FileManager::createTemporaryDirectory("read-back") + "/bookmarks.html";
    EXPECT_TRUE(fnd::FileManager::writeFile(path, importFile(count, known)));
    return path;
  }
};

TEST_F(HTMLImportReadBackTest, EveryStoredBookmarkIsInTheMainContextLoadedWhenTheImportIsToldComplete) {
  // A library already holding rows, some of them gone again: the import's keys start past them.
  auto mine = folder("F1", "Mine");
  for (int i = 0; i < 4; ++i) bookmark("https://mine.example/" + std::to_string(i), "Mine", mine);
  save();
  auto gone = Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://mine.example/3"));
  ASSERT_TRUE(gone);
  WrenDataManager::sharedInstance().managedObjectContext()->deleteObject(gone);
  save();
  // Several parts of rows, with repeats and an address the library holds left out; then enough
  // parts to be read in two halves side by side.
  for (const int count : {1234, 10007}) {
    const std::string path = writeFile(count, "https://mine.example/1");
    HTMLImport import;
    import.setSkipDuplicates(true);
    std::optional<bool> result;
    std::set<std::string> loaded;
    import.setCompletionHandler([&](bool ok) {
      result = ok;
      // What the main context holds at this moment, without asking the store for anything.
      for (const auto& o : WrenDataManager::sharedInstance().managedObjectContext()->registeredObjects())
        if (o->entity()->name() == Bookmark::entityName() && !o->isFault())
          loaded.insert(o->valueForKey("uniqueID").string());
    });
    ASSERT_TRUE(import.importFromFile(path));
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 60));
    ASSERT_TRUE(*result);
    const auto& ids = import.importedBookmarkIDs();
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(count - count / 7 - 1));
    std::size_t missing = 0;
    for (const auto& id : ids) missing += loaded.count(id) ? 0 : 1;
    EXPECT_EQ(missing, 0u) << "of " << ids.size();
    fnd::FileManager::removeItem(fnd::FileManager::deletingLastPathComponent(path));
  }
}

TEST_F(HTMLImportReadBackTest, TheReportNamesEachStoredBookmarkWithItsRowsKey) {
  auto mine = folder("F1", "Mine");
  bookmark("https://mine.example/0", "Mine", mine);
  save();
  const std::string path = writeFile(600, "https://mine.example/0");
  HTMLImport::ReceivingFolder root;
  root.folderID = WrenEntity::uniqueID();
  root.name = "bookmarks.html";
  root.parentFolderID = Folder::kImportedID;
  const auto report = HTMLImport::importFile(path, root, true, WrenDataManager::sharedInstance().newManagedObjectContext());
  ASSERT_EQ(report.outcome, HTMLImport::Outcome::Imported);
  ASSERT_EQ(report.bookmarkKeys.size(), report.bookmarkIDs.size());
  EXPECT_EQ(report.bookmarkIDs.size(), 600u - 600u / 7 - 1);
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < report.bookmarkIDs.size(); ++i) {
    auto b = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(report.bookmarkIDs[i]));
    if (!b || b->objectID()->primaryKey() != report.bookmarkKeys[i]) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  fnd::FileManager::removeItem(fnd::FileManager::deletingLastPathComponent(path));
}

}  // namespace
}  // namespace kesto::test
