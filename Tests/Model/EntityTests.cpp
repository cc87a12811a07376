#include "LibraryFixture.h"
#include "RecordedServiceCalls.h"
#include "RecordingImageView.h"

#include "Harness/AnswerTable.h"
#include "Harness/LocaleGuard.h"

#include "Model/BookmarkDummy.h"
#include "Model/BookmarkServiceClient.h"
#include "Model/FileManagerAdditions.h"
#include "Model/FolderDummy.h"
#include "Model/Service.h"
#include "Model/StoredText.h"
#include "Model/Tag.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/TestAccess_p.h"

#include <sqlite3.h>

namespace kesto::test {
namespace {

using EntityTest = LibraryTest;

// The rows a list is about to show get their tags and services read together; the others are
// left for later, when they are read from the store as it is then.
TEST_F(EntityTest, TagsAndServicesOfChosenBookmarksAreReadTogether) {
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  auto pinboard = Service::initEntity();
  pinboard->setName(Service::kPinboard);
  auto tag = Tag::initEntity();
  tag->setName("shown");
  for (const char* url : {"http://a.example/", "http://b.example/", "http://c.example/"}) {
    auto b = bookmark(url, url);
    b->addTag(tag);
    b->addService(pinboard);
  }
  save();
  ctx->reset();
  auto byURL = [](const std::string& url) { return Bookmark::fetchEntityWhereProperty("url", fnd::Value(url)); };
  auto a = byURL("http://a.example/"), c = byURL("http://c.example/");
  ASSERT_TRUE(a && c);
  Bookmark::loadTagsAndServices({nullptr, a});
  ASSERT_EQ(sqlite3_exec(store::TestAccess::connection(*ctx->coordinator()).db,
                         "DELETE FROM Z_1TAGS; DELETE FROM Z_1SERVICES", nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(a->sortedTagNames(), (std::vector<std::string>{"shown"}));
  EXPECT_TRUE(a->isPinboard());
  EXPECT_TRUE(c->sortedTagNames().empty());
  EXPECT_FALSE(c->isPinboard());
}

TEST_F(EntityTest, StoreFileIsFixedAndCreatedWithItsParents) {
  auto& stack = WrenDataManager::sharedInstance();
  EXPECT_EQ(stack.coreDataFilename(), "data.sqlite");
  EXPECT_EQ(stack.persistentStorePath(), tempHome() + "/.local/share/kesto/data.sqlite");
  EXPECT_TRUE(fnd::FileManager::fileExists(stack.persistentStorePath()));
  // Nothing is stored under the external-records folder, so opening the store makes none.
  EXPECT_FALSE(fnd::FileManager::fileExists(stack.externalRecordsDirectory()));
  auto a = stack.secondaryObjectContext(), b = stack.secondaryObjectContext();
  EXPECT_NE(a, b);
  EXPECT_EQ(a->parent(), stack.managedObjectContext());
  EXPECT_EQ(b->parent(), stack.managedObjectContext());
}

TEST(StoreFailureTest, FailedOpenIsReportedAndTheNameNeverChanges) {
  // A file where the store folder should be: the folder cannot be made.
  writeFile(tempHome() + "/.local/share/kesto", "not a folder");
  auto& stack = WrenDataManager::sharedInstance();
  bool told = false;
  fnd::NotificationCenter::defaultCenter().addObserver(&told, [&](const fnd::Notification&) { told = true; },
                                                       WrenDataManagerStoreFailedNotification);
  EXPECT_EQ(stack.managedObjectContext(), nullptr);
  EXPECT_TRUE(told);
  ASSERT_TRUE(stack.lastError().has_value());
  EXPECT_EQ(stack.coreDataFilename(), "data.sqlite");
  // Without a store nothing is found, made or saved, and nothing crashes.
  EXPECT_EQ(Bookmark::newBookmark(), nullptr);
  EXPECT_FALSE(Bookmark::fetchEntities().has_value());
  EXPECT_FALSE(WrenEntity::saveContext());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 0);
  // A second attempt still uses "data.sqlite", and succeeds once the obstacle is gone.
  fnd::FileManager::removeItem(tempHome() + "/.local/share/kesto");
  ASSERT_NE(stack.managedObjectContext(), nullptr);
  EXPECT_EQ(stack.persistentStorePath(), tempHome() + "/.local/share/kesto/data.sqlite");
  EXPECT_TRUE(fnd::FileManager::fileExists(stack.persistentStorePath()));
  EXPECT_FALSE(stack.lastError().has_value());
  fnd::NotificationCenter::defaultCenter().removeObserver(&told);
}

// What is wrong with a store file that does not open is told apart: a damaged one (also one whose
// first pages are whole), one a newer Kesto made, and one of an unknown model that opens only
// once the user agrees. A read that meets damage later is announced once.
TEST(StoreFailureTest, DamagedNewerAndUnknownStoresAreToldApart) {
  auto& stack = WrenDataManager::sharedInstance();
  const std::string path = stack.persistentStorePath();
  ASSERT_TRUE(stack.managedObjectContext());
  EXPECT_EQ(stack.lastProblem(), WrenDataManager::StoreProblem::None);
  Bookmark::addBookmarkWithURL("https://one.example/", Folder::Ref());
  ASSERT_TRUE(WrenEntity::saveContext());
  stack.reset();
  const std::string good = readFile(path);
  auto sql = [&](const std::string& text) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  };
  auto reopened = [&](const std::string& contents) {
    stack.reset();
    writeFile(path, contents);
    return stack.managedObjectContext() != nullptr;
  };

  // The bookmark table's first page lost.
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master WHERE name = 'ZBOOKMARK'",
                     -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  const std::size_t root = static_cast<std::size_t>(sqlite3_column_int(st, 0)), page = static_cast<std::size_t>(sqlite3_column_int(st, 1));
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::string damaged = good;
  damaged.replace((root - 1) * page, page, std::string(page, '\0'));
  EXPECT_FALSE(reopened(damaged));
  EXPECT_EQ(stack.lastProblem(), WrenDataManager::StoreProblem::Damaged);
  EXPECT_EQ(readFile(path), damaged);

  // One more attribute than this version knows: a newer Kesto's, left as it is.
  ASSERT_TRUE(reopened(good));
  stack.reset();
  sql("ALTER TABLE ZBOOKMARK ADD COLUMN ZREADLATER INTEGER;"
      "UPDATE Z_METADATA SET Z_VALUE = Z_VALUE || char(10) || ' a:readLater:Boolean' WHERE Z_KEY = 'layout.Bookmark';"
      "UPDATE Z_METADATA SET Z_VALUE = 'newer' WHERE Z_KEY = 'versionHash'");
  const std::string newer = readFile(path);
  EXPECT_FALSE(reopened(newer));
  EXPECT_EQ(stack.lastProblem(), WrenDataManager::StoreProblem::NewerVersion);
  EXPECT_EQ(readFile(path), newer);

  // This version's tables under an unknown hash: refused, then opened once agreed to, once.
  ASSERT_TRUE(reopened(good));
  stack.reset();
  sql("UPDATE Z_METADATA SET Z_VALUE = 'unknown' WHERE Z_KEY = 'versionHash'");
  const std::string unknown = readFile(path);
  EXPECT_FALSE(reopened(unknown));
  EXPECT_EQ(stack.lastProblem(), WrenDataManager::StoreProblem::UnknownModel);
  EXPECT_EQ(readFile(path), unknown);
  stack.reset();
  stack.acceptUnknownModelOnce();
  ASSERT_TRUE(stack.managedObjectContext());
  EXPECT_EQ(stack.lastProblem(), WrenDataManager::StoreProblem::None);
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://one.example/"))));
  EXPECT_FALSE(reopened(unknown));  // the agreement was for that open only

  // A damage that opening missed, met by a read: announced once, on the main queue.
  ASSERT_TRUE(reopened(good));
  int told = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&told, [&](const fnd::Notification&) { ++told; },
                                                       WrenDataManagerStoreDamagedNotification);
  fnd::Error corrupt = fnd::Error::withDescription(fnd::kCocoaErrorDomain, 134060, "A fetch failed: malformed");
  corrupt.mutableUserInfo()["NSSQLiteErrorDomain"] = 11;
  stack.noteFailure(fnd::Error::withDescription(fnd::kCocoaErrorDomain, 134030, "disk full"));
  stack.noteFailure(corrupt);
  stack.noteFailure(corrupt);
  EXPECT_EQ(told, 0);
  spin(0.05);
  EXPECT_EQ(told, 1);
  fnd::NotificationCenter::defaultCenter().removeObserver(&told);
  stack.reset();
  writeFile(path, good);
}

TEST(StoreFolderTest, CreatedWithItsParentsAndPrivate) {
  // A fresh account: not even the data folder exists yet.
  fnd::FileManager::removeItem(tempHome() + "/.local/share");
  auto& stack = WrenDataManager::sharedInstance();
  ASSERT_NE(stack.managedObjectContext(), nullptr);
  auto attributes = fnd::FileManager::attributesOfItem(stack.applicationSupportDirectory());
  ASSERT_TRUE(attributes);
  EXPECT_TRUE(attributes->isDirectory);
  EXPECT_EQ(attributes->permissions & 0777, 0700u);
}

// Installed with a prefix of ~/.local, the install makes the library's folder first, 0755: opening
// the store makes it the user's alone, and leaves the shared folder above it as it is.
TEST(StoreFolderTest, OneMadeOpenBeforeKestoIsMadePrivate) {
  auto& stack = WrenDataManager::sharedInstance();
  stack.reset();
  const std::string folder = stack.applicationSupportDirectory();
  const std::string shared = fnd::FileManager::deletingLastPathComponent(folder);
  ASSERT_TRUE(fnd::FileManager::createDirectory(folder, true));
  ASSERT_TRUE(fnd::FileManager::setPermissions(shared, 0755));
  ASSERT_TRUE(fnd::FileManager::setPermissions(folder, 0755));
  ASSERT_NE(stack.managedObjectContext(), nullptr);
  auto made = fnd::FileManager::attributesOfItem(folder), above = fnd::FileManager::attributesOfItem(shared);
  ASSERT_TRUE(made && above);
  EXPECT_EQ(made->permissions & 0777, 0700u);
  EXPECT_EQ(above->permissions & 0777, 0755u);
}

TEST_F(EntityTest, FailedLookupsNeverCreate) {
  auto broken = WrenDataManager::sharedInstance().newManagedObjectContext();
  ASSERT_TRUE(broken);
  folder("exists", "Exists");
  save();
  // The store goes away under the context: every fetch now fails.
  broken->coordinator()->removeStore();
  EXPECT_EQ(Folder::folderWithFolderID("exists", broken), nullptr);
  EXPECT_EQ(Bookmark::bookmarkWithURL("http://x.example/", broken), nullptr);
  EXPECT_EQ(Bookmark::bookmarkWithUniqueID("ID", "http://x.example/", broken), nullptr);
  EXPECT_FALSE(Folder::fetchEntities(broken).has_value());
  fnd::Error error;
  EXPECT_FALSE(Bookmark::checkIfEntityExistsWhereProperty("url", std::string("http://x.example/"), broken, &error));
  EXPECT_FALSE(error.domain().empty());
  EXPECT_TRUE(broken->insertedObjects().empty());
}

TEST_F(EntityTest, NewRowsDefaultEveryFlagToZero) {
  auto b = Bookmark::newBookmark();
  save();
  for (const char* key : {"blocked", "trashed", "isFavorite", "broken", "imageUpdated", "timesOpened", "showImported"})
    EXPECT_EQ(b->valueForKey(key), fnd::Value(0)) << key;
  EXPECT_EQ(b->needsUpdate(), 1);
  EXPECT_EQ(b->title(), "New bookmark");
  EXPECT_EQ(b->uniqueIDValue()->size(), 36u);
  auto f = Folder::initEntity();
  EXPECT_EQ(f->blocked(), 0);
  EXPECT_EQ(f->isExpanded(), 0);
  EXPECT_FALSE(f->isSmart());
  // A new bookmark shows up in the library predicate without any migration.
  EXPECT_EQ(Bookmark::countWithPredicate(store::Predicate::parse("trashed < 1 and blocked < 1")), 1);
}

TEST_F(EntityTest, SavingWithoutURLAndFetchingWithoutTitle) {
  auto b = Bookmark::newBookmark();
  b->setTitle(std::nullopt);
  b->setContent(std::nullopt);
  save();
  EXPECT_EQ(b->url(), "http://unknown");
  // A fresh context reads the row again.
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  auto again = Bookmark::fetchEntityWhereProperty("uniqueID", *b->uniqueIDValue(), other);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->title(), " ");
  EXPECT_EQ(again->content(), " ");
}

TEST_F(EntityTest, CurrentContextNeverDangles) {
  auto main = WrenEntity::defaultContext();
  Bookmark::Ref b;
  {
    auto separate = WrenDataManager::sharedInstance().newManagedObjectContext();
    b = Bookmark::initEntityInContext(separate);
    EXPECT_EQ(b->currentContext(), separate);
  }
  EXPECT_EQ(b->currentContext(), main);
  auto detached = Folder::initNonEnitity();
  EXPECT_EQ(detached->currentContext(), main);
}

TEST_F(EntityTest, FetchLimitsOffsetsAndMaximum) {
  for (int i = 1; i <= 5; ++i) {
    auto b = Bookmark::newBookmark();
    b->setTimesOpened(i % 3);
  }
  save();
  std::vector<store::SortDescriptor> sorts{store::SortDescriptor("timesOpened", true)};
  EXPECT_EQ(Bookmark::fetchEntitiesWithPredicate(nullptr, &sorts, 0, 0)->size(), 5u);
  EXPECT_EQ(Bookmark::fetchEntitiesWithPredicate(nullptr, &sorts, -3, -1)->size(), 5u);
  EXPECT_EQ(Bookmark::fetchEntitiesWithPredicate(nullptr, &sorts, 1, 0)->size(), 1u);
  EXPECT_EQ(Bookmark::fetchEntitiesWithPredicate(nullptr, &sorts, 0, 3)->size(), 2u);
  auto max = Bookmark::fetchEntityWhithMaxValueForKey("timesOpened");
  ASSERT_TRUE(max);
  EXPECT_EQ(max->timesOpened(), 2);
  EXPECT_EQ(Bookmark::fetchEntityWhithMaxValueForKey("timesOpened", store::Predicate::parse("timesOpened > 5")), nullptr);
  EXPECT_EQ(Bookmark::countWithPredicate(store::Predicate::parse("timesOpened == 1")), 2);
}

TEST_F(EntityTest, AddingUnescapesTheURLAndSavesWithAVersion) {
  auto b = Bookmark::addBookmarkWithURL("http://example.com/a%20b?x=1", Folder::Ref());
  EXPECT_EQ(b->url(), "http://example.com/a b?x=1");
  EXPECT_EQ(b->baseURL(), "http://example.com");
  EXPECT_EQ(b->folder()->folderID(), Folder::kInboxID);
  EXPECT_EQ(b->version(), 1);
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
  auto raw = Bookmark::addBookmarkWithURL("http://example.com/%E0%A4", Folder::Ref());
  EXPECT_EQ(raw->url(), "http://example.com/%E0%A4");
  raw->setVersion(3);
  raw->saveBookmark();
  EXPECT_EQ(raw->version(), 4);
  // An escaped text does not find the unescaped bookmark.
  auto other = Bookmark::bookmarkWithURL("http://example.com/a%20b?x=1");
  EXPECT_NE(other, b);
  EXPECT_EQ(Bookmark::bookmarkWithURL("http://example.com/a b?x=1"), b);
}

// A new bookmark keeps the escapes whose removal would change its address, whatever its scheme;
// its base address is the lower-case scheme and what follows "://" up to the first "/" as
// written, or the scheme alone when no "//" follows it.
TEST_F(EntityTest, AddingKeepsWhatTheAddressMeansAndTheBaseIsItsSite) {
  const std::pair<const char*, const char*> added[] = {
      {"http://127.0.0.1:8080/page?q=a%26b&path=%2Fx%2Fy&h=%23frag",
       "http://127.0.0.1:8080/page?q=a%26b&path=%2Fx%2Fy&h=%23frag"},
      {"https://example.org/caf%C3%A9/%2541", "https://example.org/caf\xC3\xA9/%2541"},
      {"data:text/plain,a%26b%20c", "data:text/plain,a%26b c"},
      {"mailto:someone@example.org?subject=a%26b", "mailto:someone@example.org?subject=a%26b"}};
  for (const auto& [url, stored] : added) {
    EXPECT_EQ(Bookmark::addBookmarkWithURL(url, Folder::Ref())->url(), stored);
    EXPECT_EQ(Bookmark::bookmarkWithUniqueID("none", url)->url(), stored);
    EXPECT_EQ(BookmarkDummy(url, "F").url.string(), stored);
  }
  auto upper = Bookmark::addBookmarkWithURL("HTTPS://UPPER.example.com/x", Folder::Ref());
  EXPECT_EQ(upper->url(), "https://UPPER.example.com/x");
  EXPECT_EQ(upper->baseURL(), "https://UPPER.example.com");
  EXPECT_EQ(BookmarkDummy("mailto:someone@example.org", "F").baseURL.string(), "mailto:");
  test::expectAnswers([](const std::string& url) { return Bookmark::baseURLForAddress(url); },
                      {{"HTTPS://User:pw@Host.Example:8080/a/b?c", "https://User:pw@Host.Example:8080"},
                       {"http://Host.example?x=/y", "http://Host.example?x="},
                       {"http://[::1]:8080/", "http://[::1]:8080"},
                       {"http://[::1]/", "http://[::1]"},
                       {"data:text/plain,a%26b", "data:"},
                       {"mailto:a@example.org?body=see%20http://x.example/y", "mailto:"},
                       {"file:///etc/hosts", "file://"},
                       {"http://:8080/x", "http://:8080"},
                       {"HTTP://", "http://"},
                       {"example.com/path", ""},
                       {"localhost:8080/x", ""},
                       {"", ""}});
}

// Whatever door a text comes through, the store keeps it without invisible or control
// characters and within its bound.
TEST_F(EntityTest, StoredTextsAreCleanedAndBounded) {
  // Escaped controls stay escaped: decoded and dropped, they would leave another address.
  auto b = Bookmark::addBookmarkWithURL("https://raw.example/x%0Ay%00z%E2%80%AEw%0D", Folder::Ref());
  EXPECT_EQ(b->url(), "https://raw.example/x%0Ay%00z%E2%80%AEw%0D");
  b->setUrl(std::string("https://a.example/\xE2\x80\xA8\xE2\x80\xA9\xC2\x9B\xE2\x81\xA6\x7F/") +
            std::string(20 * 1024, 'a'));
  EXPECT_EQ(b->url()->substr(0, 19), "https://a.example//");
  EXPECT_EQ(b->url()->size(), stored::kMaximumAddressBytes - 12);
  b->setTitle(std::string("Ti\ttle\n") + std::string(100 * 1024, 'x'));
  EXPECT_EQ(b->title()->substr(0, 8), "Ti tle x");
  EXPECT_LE(b->title()->size(), stored::kMaximumTitleBytes);
  b->setNotes(std::string("line one\nline\ttwo\r\x1B[31m"));
  EXPECT_EQ(b->notes(), "line one\nline\ttwo[31m");
  // A cut never splits a character.
  b->setTitle(std::string(stored::kMaximumTitleBytes - 1, 'x') + "\xC3\xA9");
  EXPECT_EQ(b->title()->size(), stored::kMaximumTitleBytes - 1);
  auto tag = Tag::initEntity();
  tag->setName("ta\xE2\x80\xAEg" + std::string(1000, 'g'));
  EXPECT_EQ(tag->name().substr(0, 4), "tagg");
  EXPECT_LE(tag->name().size(), stored::kMaximumTagBytes);
  auto folder = Folder::initEntity();
  folder->setName(std::string("Fol") + '\0' + "der" + std::string(70 * 1024, 'f'));
  EXPECT_LE(folder->name().size(), stored::kMaximumTitleBytes);
  EXPECT_FALSE(stored::hasForbiddenCharacters(folder->name()));

  // Only web addresses with a host are stored, whatever the case of their scheme.
  for (const char* web : {"http://a.example", "HTTPS://a.example/x", "Http://a"})
    EXPECT_TRUE(stored::isWebAddress(web)) << web;
  for (const char* other : {"javascript:alert(1)", "file:///etc/passwd", "https://", "http:///path", "ftp://a.example/",
                            "httpx://a.example/", "", "http:/a.example"})
    EXPECT_FALSE(stored::isWebAddress(other)) << other;
  EXPECT_TRUE(stored::isWebAddress("https://a.example/" + std::string(stored::kMaximumAddressBytes - 18, 'a')));
  EXPECT_FALSE(stored::isWebAddress("https://a.example/" + std::string(stored::kMaximumAddressBytes - 17, 'a')));
}

// One-line texts: a break or tab inside becomes one space, whichever door the text came through.
TEST_F(EntityTest, LineBreaksInTitlesBecomeOneSpaceAndSchemesAreStoredInLowerCase) {
  auto b = Bookmark::addBookmarkWithURL("HTTP://g.example/Path", Folder::Ref());
  EXPECT_EQ(b->url(), "http://g.example/Path");
  const std::pair<const char*, const char*> titles[] = {
      {"Hello\nWorld", "Hello World"},   {"Tab\there", "Tab here"},         {"a\r\nb", "a b"},
      {"a \n\t\r\n  b", "a b"},         {"\n\tlead", "lead"},             {"trail \r\n", "trail"},
      {"x\xE2\x80\xA8y", "x y"},         {"x\xE2\x80\xA9\ny", "x y"},      {"x\xC2\x85y", "x y"},
      {"v\vf\fe", "vfe"},             {"bell\x07ring", "bellring"},     {"  two  spaces  ", "  two  spaces  "},
      {"\xE2\x80\xAE\nx", "x"}};
  for (const auto& [typed, kept] : titles) {
    b->setTitle(std::string(typed));
    EXPECT_EQ(b->title(), kept) << typed;
  }
  auto f = Folder::initEntity();
  f->setName("Line\none");
  EXPECT_EQ(f->name(), "Line one");
  b->setNotes(std::string("one\ntwo\tthree"));
  EXPECT_EQ(b->notes(), "one\ntwo\tthree");

  for (const auto& [given, kept] : std::vector<std::pair<std::string, std::string>>{
           {"FTP://A.example/X", "ftp://A.example/X"}, {"Mailto:Me@A.example", "mailto:Me@A.example"},
           {"localhost:8080/X", "localhost:8080/X"}, {"no scheme/HTTP:", "no scheme/HTTP:"}}) {
    b->setUrl(given);
    EXPECT_EQ(b->url(), kept) << given;
  }
}

// What a library may hold is what the add sheet stores: any address naming its scheme. Imports
// from files leave out what works only in the browser that wrote them, and say so.
TEST_F(EntityTest, LibraryAddressesAndWhatImportsLeaveOut) {
  for (const char* kept : {"http://a", "ftp://a.example/", "javascript:alert(1)", "mailto:a@b", "place:sort=8", "x+y.z-w:a1"})
    EXPECT_TRUE(stored::isLibraryAddress(kept)) << kept;
  for (const char* refused : {"", "example.com", "localhost:8080/x", "1abc:x", ":x", "a b:c"})
    EXPECT_FALSE(stored::isLibraryAddress(refused)) << refused;
  EXPECT_TRUE(stored::isLibraryAddress("ftp://" + std::string(stored::kMaximumAddressBytes - 6, 'a')));
  EXPECT_FALSE(stored::isLibraryAddress("ftp://" + std::string(stored::kMaximumAddressBytes - 5, 'a')));
  EXPECT_EQ(stored::schemeLength("ftp://a"), 3u);
  EXPECT_EQ(stored::schemeLength("a:"), 1u);

  using stored::LeftOut;
  EXPECT_EQ(stored::whyImportLeavesOut("ftp://a.example/"), LeftOut::None);
  EXPECT_EQ(stored::whyImportLeavesOut("HTTPS://a.example/"), LeftOut::None);
  EXPECT_EQ(stored::whyImportLeavesOut("JavaScript:void(0)"), LeftOut::Script);
  EXPECT_EQ(stored::whyImportLeavesOut("place:sort=8&maxResults=10"), LeftOut::BrowserInternal);
  EXPECT_EQ(stored::whyImportLeavesOut("about:blank"), LeftOut::BrowserInternal);
  EXPECT_EQ(stored::whyImportLeavesOut("chrome://settings"), LeftOut::BrowserInternal);
  EXPECT_EQ(stored::whyImportLeavesOut("page.html"), LeftOut::NoAddress);
  EXPECT_EQ(stored::whyImportLeavesOut(""), LeftOut::NoAddress);

  stored::LeftOutCounts counts;
  EXPECT_EQ(stored::leftOutMessage(counts), "");
  for (auto why : {LeftOut::Script, LeftOut::BrowserInternal, LeftOut::BrowserInternal, LeftOut::NoAddress, LeftOut::None})
    counts.count(why);
  EXPECT_EQ(counts.total(), 4u);
  EXPECT_EQ(stored::leftOutMessage(counts),
            "4 entries were left out: 1 script (javascript:, vbscript: or a data: page), 2 browser-internal "
            "addresses (place:, about:, chrome:), 1 without an address Kesto can keep. Scripts from a file would run "
            "inside whatever page is open when they are opened. Browser-internal addresses work only in the browser "
            "that wrote the file. ");
  stored::LeftOutCounts one;
  one.count(LeftOut::NoAddress);
  EXPECT_EQ(stored::leftOutMessage(one), "1 entry was left out: 1 without an address Kesto can keep. ");
}

// Files from other people bring no script in any spelling a browser would still run, and no
// address of a browser's own; what a library may hold and harmless data comes in.
TEST_F(EntityTest, ScriptsAndBrowserInternalAddressesAreLeftOutInEverySpelling) {
  using stored::LeftOut;
  for (const std::string& script : std::vector<std::string>{
           "VBScript:x", "  javascript:x", std::string("\0\x01javascript:x", 14), "java\tscr\nipt:x",
           "\xE2\x80\xAEjavascript:x", "%6Aavascript:x", "data:text/html,<script>", "DATA:TEXT/HTML;base64,PHM+",
           "data: text/html ,x", "data:text%2Fhtml,x", "data:image/svg+xml,<svg>", "data:text/javascript,x"})
    EXPECT_EQ(stored::whyImportLeavesOut(script), LeftOut::Script) << script;
  for (const char* internal : {"edge://favorites", "view-source:https://a.example/", " place:sort=8", "ABOUT:blank"})
    EXPECT_EQ(stored::whyImportLeavesOut(internal), LeftOut::BrowserInternal) << internal;
  for (const char* kept : {"data:text/plain,hi", "data:image/png;base64,iVBO", "https://a.example/javascript:x",
                           "mailto:a@b.example", "file:///home/a/page.html"})
    EXPECT_EQ(stored::whyImportLeavesOut(kept), LeftOut::None) << kept;
  EXPECT_EQ(stored::whyImportLeavesOut(std::string(5000, ' ') + "javascript:x"), LeftOut::Script);
}

// However many blanks or dropped characters pad a data: page's type, it is read; an archive,
// another library's folder, keeps browser-internal addresses.
TEST_F(EntityTest, PaddingHidesNoScriptAndArchivesKeepBrowserAddresses) {
  using stored::ImportedFrom;
  using stored::LeftOut;
  for (std::size_t n : {2100u, 20000u}) {
    EXPECT_EQ(stored::whyImportLeavesOut("data:" + std::string(n, ' ') + "text/html,<script>alert(19)</script>"),
              LeftOut::Script);
    EXPECT_EQ(stored::whyImportLeavesOut("data:" + std::string(n, '\t') + "TEXT/%20html,x", ImportedFrom::Archive),
              LeftOut::Script);
  }
  EXPECT_EQ(stored::whyImportLeavesOut("data:" + std::string(3000, ' ') + "text/plain,hi"), LeftOut::None);
  for (const char* internal : {"about:blank", "place:sort=8", "view-source:https://a.example/", "chrome://settings"})
    EXPECT_EQ(stored::whyImportLeavesOut(internal, ImportedFrom::Archive), LeftOut::None) << internal;
}

TEST_F(EntityTest, ServiceMarkIsSavedAndPostedThroughTheRegisteredClient) {
  auto service = Service::initEntity();
  service->setName("pinboard");
  save();
  RecordedServiceCalls calls;
  const auto& posted = calls.bookmarks;
  auto b = Bookmark::addBookmarWithURL("http://pin.example/", "pinboard");
  EXPECT_TRUE(b->isPinboard());
  EXPECT_FALSE(b->isDelicious());
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
  EXPECT_TRUE(posted.empty());  // the mark came after the first save
  b->saveBookmark();
  EXPECT_EQ(posted, (std::vector<std::string>{"pinboard http://pin.example/"}));
  b->deleteFromServices("http://pin.example/");
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), "pinboard delete http://pin.example/");
  auto plain = Bookmark::addBookmarWithURL("http://x.example/", "other");
  EXPECT_TRUE(plain->serviceNames().empty());
}

TEST_F(EntityTest, TagsDictionaryColourAndThumbnail) {
  auto b = Bookmark::addBookmarkWithURL("http://t.example/a&b=c#frag d", std::vector<std::string>{"b", "A", "a"});
  EXPECT_EQ(b->tagsAsString(), "A, a, b");
  EXPECT_EQ(b->sortedTagNames(), (std::vector<std::string>{"A", "a", "b"}));
  EXPECT_TRUE(Bookmark::newBookmark()->sortedTagNames().empty());
  EXPECT_EQ(Bookmark::newBookmark()->tagsAsString(), "");
  auto a = Tag::fetchEntityWhereProperty("name", std::string("a"));
  EXPECT_TRUE(b->hasTag(*a));
  EXPECT_FALSE(Bookmark::newBookmark()->hasTag(*a));
  b->setColor(std::string("red"));
  EXPECT_EQ(b->currentColorImage(), "bookmark_red");
  b->setColor(std::string("Red"));
  EXPECT_FALSE(b->currentColorImage().has_value());

  auto empty = Bookmark::newBookmark();
  auto d = empty->bookmarkAsDictionary();
  EXPECT_EQ(d.at("url").string(), "http://unknown.url");
  EXPECT_EQ(d.at("content").string(), "");
  EXPECT_EQ(d.at("thumbnailManuallySet"), fnd::Value(0));
  EXPECT_EQ(d.count("thumbnail"), 0u);

  RecordingImageView::install();
  b->tempThumbnail();
  auto view = std::dynamic_pointer_cast<RecordingImageView>(b->tmpThumbnail());
  ASSERT_TRUE(view);
  EXPECT_EQ(view->width, 240);
  EXPECT_EQ(view->height, 180);
  ASSERT_TRUE(view->imageURL);
  // The page address is one parameter: its "&", "#", "=" and blank are encoded.
  EXPECT_NE(view->imageURL->find("/v2/thumbs.php?size=l&code=5d08e3b7a9&url=http%3A%2F%2Ft.example%2Fa%26b%3Dc%23frag%20d&wait=60"),
            std::string::npos);
  b->setThumbnailManuallySet(1);
  b->setThumbnail(fnd::Data{1, 2, 3});
  view->imageURL.reset();
  b->tempThumbnail();
  EXPECT_FALSE(view->imageURL);
  EXPECT_EQ(view->imageData, (fnd::Data{1, 2, 3}));
}

TEST_F(EntityTest, CachePathsRejectForeignIdentifiers) {
  auto b = Bookmark::newBookmark();
  EXPECT_EQ(b->faviconFilePath(), kesto_cacheFolderPath() + "/" + *b->uniqueIDValue());
  writeFile(tempHome() + "/victim", "keep me");
  b->setUniqueID(std::string("../../victim"));
  EXPECT_FALSE(b->faviconFilePath().has_value());
  b->deleteChacheItems();
  EXPECT_EQ(readFile(tempHome() + "/victim"), "keep me");
}

TEST_F(EntityTest, FolderLookupsVersionsAndPaths) {
  for (const char* pseudo : {"root", "home", "library"}) EXPECT_EQ(Folder::folderWithFolderID(pseudo), nullptr);
  auto made = Folder::folderWithFolderID("F-1");
  EXPECT_EQ(made->name(), "F-1");
  auto first = Folder::initEntity();
  auto second = Folder::initEntity();
  EXPECT_EQ(first->parentFolderID(), "root");
  EXPECT_EQ(second->orderIndex(), first->orderIndex() + 1);
  auto inbox = Folder::inboxFolder();
  inbox->saveFolder();
  EXPECT_EQ(inbox->version(), 0);
  first->saveFolder();
  EXPECT_EQ(first->version(), 1);

  auto A = folder("A", "A"), B = folder("B", "B", "A"), C = folder("C", "C", "B");
  EXPECT_EQ(C->completeFolderPath(), "A/B/C");
  auto parents = C->parentFolders();
  ASSERT_EQ(parents.size(), 2u);
  EXPECT_EQ(parents[0], A);
  EXPECT_EQ(parents[1], B);
  auto X = folder("X", "X", "P"), X1 = folder("X1", "X1", "X"), Y = folder("Y", "Y", "P"), P = folder("P", "P");
  X->setOrderIndex(1);
  Y->setOrderIndex(2);
  auto subs = P->subFolders();
  ASSERT_EQ(subs.size(), 3u);
  EXPECT_EQ(subs[0], X);
  EXPECT_EQ(subs[1], X1);
  EXPECT_EQ(subs[2], Y);
  EXPECT_EQ(P->subFolders().size(), 3u);
  EXPECT_EQ(P->imageName(), "folder_grey");
  P->setColor(std::string("(null)"));
  EXPECT_EQ(P->imageName(), "folder_grey");
  EXPECT_EQ(P->color(), "grey");
  P->setBlocked(1);
  EXPECT_EQ(P->imageName(), "blocked");
}

TEST_F(EntityTest, TreeWalksSurviveCyclesAndMissingParents) {
  auto a = folder("cA", "cA", "cB"), b = folder("cB", "cB", "cA");
  auto orphan = folder("o", "orphan", "gone");
  save();
  const auto before = Folder::fetchEntities()->size();
  EXPECT_EQ(a->completeFolderPath(), "cB/cA");
  EXPECT_EQ(a->subFolders().size(), 1u);
  EXPECT_EQ(orphan->completeFolderPath(), "orphan");
  // No phantom folder is made for the missing parent.
  EXPECT_EQ(Folder::fetchEntities()->size(), before);
  EXPECT_EQ(Folder::breakParentCycles(), 1);
  EXPECT_TRUE(a->parentFolderID() == "root" || b->parentFolderID() == "root");
}

// Libraries hold the same folders in different store orders; each must cut a cycle at the
// same folder, or they would differ for good.
TEST_F(EntityTest, ACycleIsCutAtItsSmallestIdentifierWhateverTheStoreOrder) {
  auto z = folder("cZ", "Z", "cM");
  auto m = folder("cM", "M", "cA");
  auto a = folder("cA", "A", "cZ");
  save();
  EXPECT_EQ(Folder::breakParentCycles(), 1);
  EXPECT_EQ(a->parentFolderID(), "root");
  EXPECT_EQ(m->parentFolderID(), "cA");
  EXPECT_EQ(z->parentFolderID(), "cM");
}

TEST_F(EntityTest, FolderMergeFromSyncAndArchive) {
  auto local = folder("S", "Local");
  local->setVersion(5);
  local->setColor(std::string("red"));
  save();
  FolderDummy older;
  older.folderID = "S";
  older.name = "Older";
  older.version = 4;
  older.parentFolderID = "root";
  Folder::importFolder(older, true);
  EXPECT_EQ(local->name(), "Local");
  FolderDummy newer = older;
  newer.name = "Newer";
  newer.version = 6;
  newer.color = "blue";
  Folder::importFolder(newer, true);
  EXPECT_EQ(local->name(), "Newer");
  EXPECT_EQ(local->version(), 6);
  EXPECT_EQ(local->color(), "blue");
  FolderDummy archive = older;
  archive.name = "Archive";
  archive.color = "green";
  Folder::importFolder(archive, false);
  EXPECT_EQ(local->name(), "Archive");
  EXPECT_EQ(local->version(), 4);
  EXPECT_EQ(local->color(), "blue");
  EXPECT_FALSE(WrenEntity::defaultContext()->hasChanges());
}

TEST_F(EntityTest, RogueFolderCleanUpKeepsItsContents) {
  auto rogue = folder("R", "");
  auto child = folder("RC", "Child", "R");
  auto b = bookmark("http://r.example/", "in rogue", rogue);
  save();
  Folder::cleanRogueFolders();
  save();
  EXPECT_EQ(Folder::existingFolderWithFolderID("R"), nullptr);
  EXPECT_EQ(child->parentFolderID(), "root");
  ASSERT_TRUE(b->folder());
  EXPECT_EQ(b->folder()->folderID(), Folder::kInboxID);
}

TEST_F(EntityTest, FilteredFolderListsExpandAncestorsAndHighlightNewMatches) {
  auto P = folder("P", "Projects");
  auto C = folder("C", "Project child", "P");
  auto CC = folder("CC", "Leaf", "C");
  P->setOrderIndex(1);
  C->setOrderIndex(2);
  save();
  auto both = Folder::fetchFoldersOrderedByIndexWithFilter("PROJECT");
  // P's children (C), then P as C's ancestor, then C's children; neither match is highlighted.
  EXPECT_EQ(both, (Folder::List{C, P, CC}));
  EXPECT_FALSE(P->isHighlighted());
  EXPECT_FALSE(C->isHighlighted());
  EXPECT_EQ(P->isExpanded(), 1);
  auto onlyChild = Folder::fetchFoldersOrderedByNameWithFilter("child");
  EXPECT_EQ(onlyChild, (Folder::List{P, CC, C}));
  EXPECT_TRUE(C->isHighlighted());
}

// Where the C library does not pair "i" with "I" (Turkish), a script in capitals stays out, a
// scheme is still stored in lower case, and a folder filter matches only what holds its text.
TEST_F(EntityTest, SchemesAndFolderFiltersKeepTheirCaseRulesInTurkish) {
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  using stored::LeftOut;
  for (const char* script : {"JAVASCRIPT:alert(1)", "VBSCRIPT:x", "LIVESCRIPT:x", "DATA:TEXT/HTML,<b>", "DATA:IMAGE/SVG+XML,<svg/>"})
    EXPECT_EQ(stored::whyImportLeavesOut(script), LeftOut::Script) << script;
  EXPECT_EQ(stored::whyImportLeavesOut("ABOUT:CONFIG"), LeftOut::BrowserInternal);
  EXPECT_EQ(stored::address("FILE:///I"), "file:///I");
  EXPECT_EQ(Bookmark::baseURLForAddress("HTTPS://I.EXAMPLE/x"), "https://I.EXAMPLE");
  EXPECT_TRUE(stored::isWebAddress("HTTP://I.EXAMPLE/"));
  EXPECT_FALSE(Bookmark::thumbnailRequestURL("HTTP://I.EXAMPLE/", "small", 0).empty());
  auto apple = folder("A", "Apple");
  folder("S", "Added since 2001.5");
  save();
  EXPECT_EQ(Folder::fetchFoldersOrderedByNameWithFilter("App"), (Folder::List{apple}));
}

TEST_F(EntityTest, AncestorFetchStopsAtTheLimit) {
  auto top = folder("AT", "Top");
  auto sub = folder("AS", "Sub", "AT");
  for (int i = 0; i < 3; ++i) bookmark("http://anc.example/top" + std::to_string(i), "top" + std::to_string(i), top);
  for (int i = 0; i < 3; ++i) bookmark("http://anc.example/sub" + std::to_string(i), "sub" + std::to_string(i), sub);
  auto trashed = bookmark("http://anc.example/t", "trashed", sub);
  trashed->setTrashed(1);
  save();
  std::vector<store::SortDescriptor> byTitle{store::SortDescriptor("title", true)};
  EXPECT_EQ(Bookmark::fetchBookmarksWithAncestorFolderId("AT", byTitle, 100).size(), 6u);
  EXPECT_EQ(Bookmark::fetchBookmarksWithAncestorFolderId("AT", byTitle, 4).size(), 4u);
  // A limit of 0 fetches the folder's own bookmarks and none of its descendants.
  auto own = Bookmark::fetchBookmarksWithAncestorFolderId("AT", byTitle, 0);
  ASSERT_EQ(own.size(), 3u);
  EXPECT_EQ(own.front()->title(), "top0");
}

TEST_F(EntityTest, FolderCopyAndTagLists) {
  auto f = folder("copied", "Named");
  f->setOrderIndex(7);
  f->setVersion(3);
  f->setIsExpanded(1);
  f->setColor(std::string("red"));
  auto c = f->copy();
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->context());
  EXPECT_EQ(c->folderID(), "copied");
  EXPECT_EQ(c->parentFolderID(), "root");
  EXPECT_EQ(c->orderIndex(), 7);
  EXPECT_EQ(c->version(), 3);
  EXPECT_EQ(c->isExpanded(), 1);
  EXPECT_NE(c->name(), "Named");
  EXPECT_FALSE(c->color().has_value());

  Bookmark::addBookmarkWithURL("http://tagged.example/", std::vector<std::string>{"beta", "Alpha"});
  auto orphan = Tag::initEntity();
  orphan->setName("orphan");
  save();
  auto all = Tag::allTags();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]->name(), "Alpha");
  EXPECT_EQ(all[1]->name(), "beta");
  auto orphans = Tag::orphanedTags();
  ASSERT_EQ(orphans.size(), 1u);
  EXPECT_EQ(orphans[0]->name(), "orphan");
}

TEST_F(EntityTest, TransferRecords) {
  BookmarkDummy d("http://d.example/a%20b", "F");
  EXPECT_EQ(d.url.string(), "http://d.example/a b");
  EXPECT_EQ(d.baseURL.string(), "http://d.example");
  EXPECT_EQ(d.title.string(), "New bookmark");
  EXPECT_EQ(d.needsUpdate, fnd::Value(1));
  EXPECT_EQ(d.blocked, fnd::Value(0));
  EXPECT_EQ(d.color.string(), "");
  EXPECT_TRUE(d.favicon.isNull());
  EXPECT_EQ(d.uniqueID.string().size(), 36u);
  FolderDummy f;
  EXPECT_EQ(f.color.string(), "grey");
  EXPECT_EQ(f.blocked, fnd::Value(0));
  EXPECT_TRUE(f.folderID.isNull());
}

TEST_F(EntityTest, FailedSaveIsLoggedWithItsAction) {
  fnd::LogCapture capture;
  EXPECT_FALSE(WrenEntity::saveContext(ContextRef()));
  EXPECT_TRUE(capture.contains("Failed to Error in saveContext:: "));
}

}  // namespace
}  // namespace kesto::test
