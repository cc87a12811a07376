#include "SyncLibraryFixture.h"

#include "Synchronize/SharedFolderArchive.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/FileManager.h"
#include "Model/DataManager.h"
#include "Model/FileManagerAdditions.h"
#include "Model/StoredText.h"
#include "Model/ViewUpdater.h"

#include <set>
#include <unistd.h>

namespace kesto::test {
namespace {

class SharedFolderArchiveTest : public SyncLibraryTest {
 protected:
  // Imports and waits for the end; answers whether anything was imported.
  bool import(const std::string& path, bool skipDuplicates = false) {
    std::optional<bool> result;
    SharedFolderArchive archive;
    archive.setSkipDuplicates(skipDuplicates);
    if (!archive.importSharedFolderFromPath(path, [&](bool ok) { result = ok; })) return false;
    EXPECT_TRUE(runUntil([&] { return result.has_value(); }, 15));
    return result.value_or(false);
  }

  // A package holding `xml` as kesto.xml, UTF-16 like the ones we write.
  static std::string package(const std::string& xml, bool utf16 = true) {
    const std::string path = makeTempDir("archives") + "/Crafted.kesto";
    EXPECT_TRUE(fnd::FileManager::createDirectory(path + "/Contents", true));
    writeFile(path + "/Contents/kesto.xml", utf16 ? fnd::encodeUTF16LEWithBOM(xml) : xml);
    return path;
  }

  static std::string folderXML(const std::string& id, const std::string& parent, const std::string& name) {
    return "<folder><folderID>" + id + "</folderID><parentFolderID>" + parent + "</parentFolderID><name><![CDATA[" +
           name + "]]></name><orderIndex>1</orderIndex><isExpanded>0</isExpanded><blocked>0</blocked>"
           "<color>grey</color><version>1</version></folder>\n";
  }
  static std::string bookmarkXML(const std::string& folderID, const std::string& title, const std::string& url) {
    return "<bookmark><folders><folder-id>" + folderID + "</folder-id></folders><services></services>"
           "<id><![CDATA[B-" + title + "]]></id><version>1</version><title><![CDATA[" + title +
           "]]></title><url><![CDATA[" + url + "]]></url><notes><![CDATA[]]></notes><rating>0</rating>"
           "<trashed>0</trashed><tags></tags><added-date></added-date><updated-date></updated-date>"
           "<times-visited>0</times-visited><last-visited></last-visited><imported-on></imported-on>"
           "<imported-from><![CDATA[someone]]></imported-from><broken>0</broken><login></login>"
           "<password></password><color></color><favorite>0</favorite><blocked>0</blocked></bookmark>\n";
  }
  static std::string document(const std::string& bookmarks, const std::string& folders) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kesto-file>\n<kesto-id>kesto-OTHER</kesto-id>\n<bookmarks>\n" +
           bookmarks + "</bookmarks>\n<folders>\n" + folders + "</folders>\n</kesto-file>\n";
  }

  static Folder::Ref byName(const std::string& name) {
    return Folder::fetchEntityWhereProperty("name", fnd::Value(name));
  }
  // Walks up from `f`; answers the first ancestor outside the archive (or "" on a cycle).
  static std::string ancestorOutside(Folder::Ref f) {
    std::set<std::string> seen;
    while (f && seen.insert(f->folderID()).second) {
      const std::string parent = f->parentFolderID();
      auto next = Folder::existingFolderWithFolderID(parent);
      if (!next || parent == Folder::kImportedID || parent == Folder::kRootID) return parent;
      f = next;
    }
    return "";
  }
};

TEST_F(SharedFolderArchiveTest, ShareWritesAPackageThatImportsAsIndependentCopies) {
  auto top = folder("TOP", "Recipes");
  auto sub = folder("SUB", "Soups", "TOP");
  auto b = bookmark("https://soup.example/?a=1&b=2", "Tomato & <basil>", sub);
  b->setNotes("Simmer ]]> for an hour");
  bookmark("https://bread.example/", "Bread", top);
  folder("OTHER", "Not shared");
  bookmark("https://other.example/", "Elsewhere", Folder::existingFolderWithFolderID("OTHER"));
  save();

  SharedFolderArchive archive;
  const std::string savePath = tempHome() + "/Desktop/Recipes.kesto";
  auto packagePath = archive.shareBookmarksToPath(top, savePath);
  ASSERT_TRUE(packagePath);
  EXPECT_EQ(*packagePath, kesto_tempFolderPath() + "/" + fnd::crypto::md5Hex(savePath, true) + ".kesto");
  // Not saved yet: only the copy to the chosen place is, and its caller tells that.
  EXPECT_FALSE(alerts->sawTitle("Share"));
  bool isDirectory = false;
  EXPECT_TRUE(fnd::FileManager::fileExists(*packagePath + "/Contents/Resources", &isDirectory) && isDirectory);
  EXPECT_FALSE(fnd::FileManager::fileExists(*packagePath + "/Contents/Info.plist"));
  // Written under the user's folders: theirs alone until they send it.
  EXPECT_EQ(fnd::FileManager::attributesOfItem(*packagePath)->permissions, 0700u);
  EXPECT_EQ(fnd::FileManager::attributesOfItem(*packagePath + "/Contents/kesto.xml")->permissions, 0600u);
  const std::string raw = readFile(*packagePath + "/Contents/kesto.xml");
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(raw[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(raw[1]), 0xFE);
  auto text = SharedFolderArchive::readArchiveDocument(*packagePath);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("<kesto-file>"), std::string::npos);
  EXPECT_EQ(text->find("Elsewhere"), std::string::npos);

  const auto before = Bookmark::countWithPredicate(nullptr);
  ASSERT_TRUE(import(*packagePath));
  ASSERT_TRUE(import(*packagePath));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), before + 4);

  auto copies = Folder::fetchEntitiesWhereProperty("name", fnd::Value("Soups")).value_or(Folder::List{});
  ASSERT_EQ(copies.size(), 3u);
  std::set<std::string> ids;
  for (const auto& f : copies) ids.insert(f->folderID());
  EXPECT_EQ(ids.size(), 3u);
  auto soups = Bookmark::fetchEntitiesWhereProperty("title", fnd::Value("Tomato & <basil>")).value_or(Bookmark::List{});
  ASSERT_EQ(soups.size(), 3u);
  std::set<std::string> bookmarkIDs;
  for (const auto& s : soups) {
    bookmarkIDs.insert(s->uniqueIDValue().value_or(""));
    EXPECT_EQ(s->url().value_or(""), "https://soup.example/?a=1&b=2");
    EXPECT_EQ(s->notes().value_or(""), "Simmer ]]> for an hour");
  }
  EXPECT_EQ(bookmarkIDs.size(), 3u);
  // The copies sit under Imported, and the original is untouched.
  int underImported = 0;
  for (const auto& f : Folder::fetchEntitiesWhereProperty("name", fnd::Value("Recipes")).value_or(Folder::List{}))
    underImported += f->parentFolderID() == Folder::kImportedID;
  EXPECT_EQ(underImported, 2);
  EXPECT_EQ(Folder::existingFolderWithFolderID("TOP")->parentFolderID(), Folder::kRootID);
}

TEST_F(SharedFolderArchiveTest, HostileIdentifiersAreReKeyedWithoutTouchingText) {
  // Short, empty and special identifiers that a text replacement would smear over every title
  // and URL, or that would merge into this library's own folders.
  const std::string xml = document(
      bookmarkXML("a", "banana", "https://a.example/a/a") + bookmarkXML("_imported", "imported one", "https://i.example/") +
          bookmarkXML("", "no folder", "https://e.example/"),
      folderXML("a", "_imported", "a folder named a") + folderXML("_imported", "a", "impostor") +
          folderXML("_inbox", "root", "another impostor"));
  ASSERT_TRUE(import(package(xml)));
  auto banana = Bookmark::fetchEntityWhereProperty("title", fnd::Value("banana"));
  ASSERT_TRUE(banana);
  EXPECT_EQ(banana->url().value_or(""), "https://a.example/a/a");
  ASSERT_TRUE(banana->folder());
  EXPECT_EQ(banana->folder()->name(), "a folder named a");
  EXPECT_NE(banana->folder()->folderID(), "a");
  // No folder of the archive took a special identifier; everything lies under Imported.
  for (const char* name : {"a folder named a", "impostor", "another impostor"}) {
    auto f = byName(name);
    ASSERT_TRUE(f) << name;
    EXPECT_NE(f->folderID(), Folder::kImportedID);
    EXPECT_NE(f->folderID(), Folder::kInboxID);
    EXPECT_EQ(ancestorOutside(f), Folder::kImportedID) << name;
  }
  auto imported = Bookmark::fetchEntityWhereProperty("title", fnd::Value("imported one"));
  ASSERT_TRUE(imported && imported->folder());
  EXPECT_EQ(imported->folder()->name(), "impostor");
}

// An archive is bounded like every other door: folders deeper than the bound are flattened (and
// the user told), texts are cut and cleaned, an overlong address is not taken, tags are capped.
TEST_F(SharedFolderArchiveTest, DeepNestingLongTextsAndManyTagsAreBounded) {
  std::string folders;
  for (int i = 0; i < 10000; ++i)
    folders += folderXML("F" + std::to_string(i), i ? "F" + std::to_string(i - 1) : "_imported", "level " + std::to_string(i));
  std::string tags;
  for (int i = 0; i < 3000; ++i) tags += "<tag><name><![CDATA[t" + std::to_string(i) + "]]></name></tag>";
  std::string tagged = bookmarkXML("F5", "tagged", "https://tags.example/\xE2\x80\xAEgpj.exe");
  tagged.replace(tagged.find("<tags></tags>"), 13, "<tags>" + tags + "</tags>");
  const std::string bigTitle(200 * 1024, 'T');
  const std::string xml = document(bookmarkXML("F9999", bigTitle, "https://deep.example/") + tagged +
                                       bookmarkXML("F1", "far", "https://far.example/" + std::string(20 * 1024, 'a')),
                                   folders);
  ASSERT_TRUE(import(package(xml, false)));
  EXPECT_TRUE(byName("level 199"));
  EXPECT_FALSE(byName("level 200"));
  EXPECT_LE(Folder::countWithPredicate(nullptr), stored::kMaximumFolderDepth + 3);
  auto deep = Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://deep.example/"));
  ASSERT_TRUE(deep && deep->folder());
  EXPECT_EQ(deep->folder()->name(), "level 199");
  EXPECT_EQ(deep->title()->size(), stored::kMaximumTitleBytes);
  auto withTags = Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://tags.example/gpj.exe"));
  ASSERT_TRUE(withTags);
  EXPECT_EQ(withTags->tags().size(), stored::kMaximumTagsPerBookmark);
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("far")));
  ASSERT_TRUE(alerts->sawTitle("Import complete"));
  EXPECT_NE(alerts->shown.back().message.find("9800 folders were flattened"), std::string::npos)
      << alerts->shown.back().message;
}

TEST_F(SharedFolderArchiveTest, ParentCyclesAreBrokenUnderImported) {
  const std::string xml = document(bookmarkXML("F1", "looped", "https://loop.example/"),
                                   folderXML("F1", "F2", "first") + folderXML("F2", "F1", "second") +
                                       folderXML("F3", "F3", "self"));
  ASSERT_TRUE(import(package(xml, false)));
  for (const char* name : {"first", "second", "self"}) {
    auto f = byName(name);
    ASSERT_TRUE(f) << name;
    EXPECT_EQ(ancestorOutside(f), Folder::kImportedID) << name;
  }
}

TEST_F(SharedFolderArchiveTest, BadArchivesImportNothingAndSaySo) {
  const auto before = Bookmark::countWithPredicate(nullptr);
  // Entities, an external one and an expanding one.
  const std::string entities =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE kesto-file [<!ENTITY x SYSTEM \"file:///etc/passwd\">"
      "<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n<kesto-file><bookmarks>" +
      bookmarkXML("F", "&x;&b;", "https://x.example/") + "</bookmarks><folders>" + folderXML("F", "_imported", "F") +
      "</folders></kesto-file>";
  EXPECT_FALSE(import(package(entities)));
  EXPECT_FALSE(import(package("<kesto-file><bookmarks><bookmark>")));
  // A package without its document.
  const std::string empty = makeTempDir("archives") + "/Empty.kesto";
  ASSERT_TRUE(fnd::FileManager::createDirectory(empty + "/Contents", true));
  EXPECT_FALSE(import(empty));
  EXPECT_TRUE(alerts->sawTitle("Import"));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), before);
  // A path that does not exist is ignored.
  alerts->shown.clear();
  SharedFolderArchive archive;
  EXPECT_FALSE(archive.importSharedFolderFromPath(tempHome() + "/nothing.kesto"));
  EXPECT_TRUE(alerts->shown.empty());
}

// The shared folder's own bookmarks are those its list shows; its subfolders give all of theirs.
TEST_F(SharedFolderArchiveTest, ShareTakesTheListShownForTheFolderAndEveryBookmarkOfItsSubfolders) {
  auto top = folder("TOP", "Recipes");
  auto sub = folder("SUB", "Soups", "TOP");
  auto shown = bookmark("https://shown.example/", "Shown", top);
  auto binned = bookmark("https://binned.example/", "Binned", top);
  binned->setTrashed(1);
  auto soup = bookmark("https://soup.example/", "Soup", sub);
  auto binnedSoup = bookmark("https://binned-soup.example/", "BinnedSoup", sub);
  binnedSoup->setTrashed(1);
  save();
  auto shareText = [&](DataManager* dm) {
    SharedFolderArchive archive;
    archive.setDataManager(dm);
    auto path = archive.shareBookmarksToPath(top, tempHome() + "/Recipes.kesto");
    EXPECT_TRUE(path);
    return path ? SharedFolderArchive::readArchiveDocument(*path).value_or("") : std::string();
  };
  auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };

  // The folder shown: its list as it stands, a subfolder's bookmark on it included once.
  DataManager dm;
  dm.setCurrentFolder(top);
  dm.bookmarks() = {shown, soup};
  std::string text = shareText(&dm);
  EXPECT_EQ(count(text, "https://shown.example/"), 1u);
  EXPECT_EQ(count(text, "https://soup.example/"), 1u);
  EXPECT_EQ(count(text, "https://binned-soup.example/"), 1u);
  EXPECT_EQ(count(text, "https://binned.example/"), 0u);

  // Another folder shown: the folder's list as it would show, without what is in the Trash.
  dm.setCurrentFolder(sub);
  text = shareText(&dm);
  EXPECT_EQ(count(text, "https://shown.example/"), 1u);
  EXPECT_EQ(count(text, "https://binned.example/"), 0u);
  EXPECT_EQ(count(text, "https://soup.example/"), 1u);
}

TEST_F(SharedFolderArchiveTest, BookmarksOutsideAnyFolderOfTheArchiveGoUnderImportedNamedAfterIt) {
  const std::string xml = document(bookmarkXML("SENDER-CHOSEN", "loose", "https://loose.example/") +
                                       bookmarkXML("", "looser", "file:///usr/share/applications/x.desktop") +
                                       bookmarkXML("", "scripted", "javascript:alert(1)"),
                                   "");
  ASSERT_TRUE(import(package(xml)));
  EXPECT_FALSE(Folder::existingFolderWithFolderID("SENDER-CHOSEN"));
  auto top = byName("Crafted");
  ASSERT_TRUE(top);
  EXPECT_EQ(top->parentFolderID(), Folder::kImportedID);
  auto loose = Bookmark::fetchEntityWhereProperty("title", fnd::Value("loose"));
  ASSERT_TRUE(loose && loose->folder());
  EXPECT_EQ(loose->folder(), top);
  // Without any folder the archive names, a bookmark goes to the Inbox.
  auto looser = Bookmark::fetchEntityWhereProperty("title", fnd::Value("looser"));
  ASSERT_TRUE(looser && looser->folder());
  EXPECT_EQ(looser->folder()->folderID(), Folder::kInboxID);
  // Addresses of other schemes are kept as the sender wrote them (opening them asks first);
  // scripts stay out, as they do from any file of other people.
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("scripted")));
  EXPECT_EQ(Bookmark::fetchEntityWhereProperty("title", fnd::Value("looser"))->url().value_or(""),
            "file:///usr/share/applications/x.desktop");
}

// An archive is read only from what it holds: a zip under the archive's name and links out of
// a package are refused, and the user is told why.
TEST_F(SharedFolderArchiveTest, ZipsAndLinksOutOfThePackageAreRefusedWithTheReason) {
  const auto before = Bookmark::countWithPredicate(nullptr);
  const std::string dir = makeTempDir("refused");
  writeFile(dir + "/Zipped.kesto", std::string("PK\x03\x04") + std::string(40, '\0'));
  SharedFolderArchive archive;
  EXPECT_FALSE(archive.importSharedFolderFromPath(dir + "/Zipped.kesto"));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Import");
  EXPECT_NE(alerts->shown[0].message.find("zip file"), std::string::npos) << alerts->shown[0].message;

  // A well-formed document outside the package, reached through links.
  const std::string outside = dir + "/secret.xml";
  writeFile(outside, fnd::encodeUTF16LEWithBOM(document(bookmarkXML("F", "stolen", "https://s.example/"),
                                                        folderXML("F", "_imported", "Stolen"))));
  const std::string linkedFile = dir + "/LinkedFile.kesto";
  ASSERT_TRUE(fnd::FileManager::createDirectory(linkedFile + "/Contents", true));
  ASSERT_EQ(::symlink(outside.c_str(), (linkedFile + "/Contents/kesto.xml").c_str()), 0);
  const std::string linkedFolder = dir + "/LinkedFolder.kesto";
  ASSERT_TRUE(fnd::FileManager::createDirectory(dir + "/elsewhere", true));
  ASSERT_EQ(::symlink(outside.c_str(), (dir + "/elsewhere/kesto.xml").c_str()), 0);
  ASSERT_TRUE(fnd::FileManager::createDirectory(linkedFolder, true));
  ASSERT_EQ(::symlink((dir + "/elsewhere").c_str(), (linkedFolder + "/Contents").c_str()), 0);
  for (const auto& path : {linkedFile, linkedFolder}) {
    alerts->shown.clear();
    EXPECT_FALSE(import(path)) << path;
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_NE(alerts->shown[0].message.find("link"), std::string::npos) << alerts->shown[0].message;
  }
  EXPECT_FALSE(byName("Stolen"));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), before);
}

// An archive handed in again, with duplicates skipped, adds only what the library lacks;
// without skipping, it adds a second copy, as before.
TEST_F(SharedFolderArchiveTest, SkippingDuplicatesLeavesOutAddressesAlreadyInTheLibrary) {
  auto top = folder("SKIPTOP", "Recipes");
  bookmark("https://skip-soup.example/caf%C3%A9", "Soup", top);
  bookmark("https://skip-bread.example/", "Bread", top);
  save();
  const auto before = Bookmark::countWithPredicate(nullptr);
  const std::string xml = document(bookmarkXML("A", "Soup again", "https://skip-soup.example/café") +
                                       bookmarkXML("A", "Bread again", "HTTPS://skip-bread.example/") +
                                       bookmarkXML("A", "Skip new", "https://skip-new.example/") +
                                       bookmarkXML("A", "Skip new twice", "https://skip-new.example/"),
                                   folderXML("A", "_imported", "Recipes"));
  const std::string path = package(xml);
  ASSERT_TRUE(import(path, true));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, 1);
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("Skip new")));
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("Skip new twice")));
  ASSERT_TRUE(import(path, false));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, 5);
}

// An archive from someone else brings no scripts in any spelling. Its end says what came in and
// what was skipped; one whose every bookmark is skipped leaves no empty folder behind.
TEST_F(SharedFolderArchiveTest, ScriptsStayOutAndTheEndSaysWhatWasAddedAndSkipped) {
  std::string bookmarks = bookmarkXML("A", "One", "https://one.example/");
  for (const char* left : {"javascript:alert(1)", "vbscript:msgbox(1)", " \tJavaScript:alert(2)",
                           "data:text/html,<script>alert(3)</script>"})
    bookmarks += bookmarkXML("A", "Out", left);
  const std::string path = package(document(bookmarks, folderXML("A", "_imported", "Shared")));
  const auto before = Bookmark::countWithPredicate(nullptr);
  const std::string leftOut = " 4 entries were left out: 4 scripts (javascript:, vbscript: or data: pages).";
  for (const char* start : {"1 bookmark was imported from 'Crafted.kesto'.",
                            "0 bookmarks were imported from 'Crafted.kesto'. 1 bookmark already in the library was "
                            "skipped."}) {
    alerts->shown.clear();
    ASSERT_TRUE(import(path, true));
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message.rfind(start + leftOut, 0), 0u) << alerts->shown[0].message;
  }
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, 1);
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("Out")));
  EXPECT_EQ(Folder::countWithPredicate(WrenEntity::propertyPredicate("name", fnd::Value("Shared"))), 1);
  // An archive of folders alone still brings its folders.
  ASSERT_TRUE(import(package(document("", folderXML("E", "_imported", "Empty on purpose")))));
  EXPECT_TRUE(byName("Empty on purpose"));
}

// Another library's folder comes in as it held it, browser-internal addresses too; an address
// the archive repeats is told as repeated, not as one the library held; a plain end counts.
TEST_F(SharedFolderArchiveTest, BrowserAddressesComeInRepeatsAreToldAsSuchAndEveryEndCounts) {
  std::vector<std::string> overlays;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &overlays, [&](const fnd::Notification& n) { overlays.push_back(n.userInfo.at(kOverlayMessageKey).string()); },
      ShowOverlayWithMessage);
  const std::vector<std::string> internal{"about:blank", "place:sort=8", "view-source:https://a.example/",
                                          "chrome://settings"};
  std::string bookmarks;
  for (const auto& url : internal) bookmarks += bookmarkXML("A", url, url);
  ASSERT_TRUE(import(package(document(bookmarks, folderXML("A", "_imported", "Internal")))));
  for (const auto& url : internal) EXPECT_TRUE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(url))) << url;
  ASSERT_FALSE(overlays.empty());
  EXPECT_EQ(overlays.back(), "4 bookmarks imported");

  ASSERT_TRUE(import(package(document(bookmarkXML("B", "Twice", "https://twice.example/") +
                                          bookmarkXML("B", "Again", "HTTPS://twice.example/"),
                                      folderXML("B", "_imported", "Twice"))),
                     true));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].message,
            "1 bookmark was imported from 'Crafted.kesto'. 1 bookmark repeated in the file was skipped.");
  fnd::NotificationCenter::defaultCenter().removeObserver(&overlays);
}

// One character XML forbids in one title costs that character, not the archive; bookmarks whose
// address no library holds are left out and the user is told.
TEST_F(SharedFolderArchiveTest, ForbiddenCharactersAreDroppedAndWhatIsLeftOutIsTold) {
  const std::string xml = document(bookmarkXML("A", std::string("Be") + '\x01' + "ll", "ftp://files.example/") +
                                       bookmarkXML("A", std::string("Esc") + '\x1B' + "ape\nnow", "https://esc.example/") +
                                       bookmarkXML("A", "Script", "javascript:alert(1)") +
                                       bookmarkXML("A", "Relative", "page.html") + bookmarkXML("A", "Empty", ""),
                                   folderXML("A", "_imported", std::string("Mixed") + '\x0C'));
  const auto before = Bookmark::countWithPredicate(nullptr);
  ASSERT_TRUE(import(package(xml)));
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("Bell")));
  EXPECT_TRUE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value("ftp://files.example/")));
  EXPECT_FALSE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value("javascript:alert(1)")));
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("Escape now")));
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("title", fnd::Value("Relative")));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, 2);
  EXPECT_TRUE(byName("Mixed"));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Import complete");
  EXPECT_TRUE(alerts->shown[0].information);
  EXPECT_EQ(alerts->shown[0].message,
            "2 bookmarks were imported from 'Crafted.kesto'. 3 entries were left out: 1 script (javascript:, "
            "vbscript: or a data: page), 2 without an address Kesto can keep. Scripts from a file would run inside "
            "whatever page is open when they are opened.");

}

TEST_F(SharedFolderArchiveTest, NeitherShareNorImportRunsBesideAnotherJob) {
  auto top = folder("TOP", "Top");
  save();
  const std::string path = package(document("", folderXML("X", "_imported", "X")));
  ASSERT_TRUE(Synchronizer::beginExclusiveJob());
  SharedFolderArchive archive;
  EXPECT_FALSE(archive.importSharedFolderFromPath(path));
  EXPECT_FALSE(archive.shareBookmarksToPath(top, tempHome() + "/Top.kesto"));
  Synchronizer::endExclusiveJob();
  EXPECT_FALSE(byName("X"));
  // Once the other job has ended both work, and release the slot again.
  EXPECT_TRUE(archive.shareBookmarksToPath(top, tempHome() + "/Top.kesto"));
  EXPECT_TRUE(import(path));
  EXPECT_FALSE(Synchronizer::isExclusiveJobRunning());
}

TEST_F(SharedFolderArchiveTest, AFailedWriteIsShownNotConfirmed) {
  // Something that is not a folder stands where the package must go.
  const std::string blocker = makeTempDir("pkg") + "/Blocked.kesto";
  writeFile(blocker, "a file");
  fnd::Error error;
  EXPECT_FALSE(SharedFolderArchive::writeToExportFolder("<kesto-file/>", blocker, &error));
  EXPECT_EQ(readFile(blocker), "a file");

  // The temporary folder cannot take the package: the share says so and answers nothing.
  auto top = folder("TOP", "Top");
  save();
  const std::string temp = kesto_tempFolderPath();
  fnd::FileManager::removeItem(temp);
  writeFile(temp, "not a folder");
  SharedFolderArchive archive;
  EXPECT_FALSE(archive.shareBookmarksToPath(top, tempHome() + "/Top.kesto"));
  ASSERT_TRUE(alerts->sawTitle("Share"));
  EXPECT_NE(alerts->shown.back().message, "Your Kesto archive has been saved");
  EXPECT_FALSE(alerts->shown.back().information);
  EXPECT_FALSE(Synchronizer::isExclusiveJobRunning());
  // The temporary folder is made again when next needed, for the tests that follow.
  fnd::FileManager::removeItem(temp);
}

}  // namespace
}  // namespace kesto::test
