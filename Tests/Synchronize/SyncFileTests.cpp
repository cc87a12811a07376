#include "SyncTestSupport.h"

#include "Model/Config.h"
#include "Model/StoredText.h"
#include "Platform/Foundation/Error.h"

namespace kesto::test {
namespace {

class SyncFileTest : public SyncRecordsTest {
 protected:
  // A small library with every kind of record, fixed identifiers and dates.
  void makeLibrary() {
    auto work = folder("F-WORK", "Work", Folder::kRootID, 3);
    work->setColor(std::string("blue"));
    auto sub = folder("F-SUB", "Sub & <more>", "F-WORK", 1);
    auto b = bookmark("B-1", "http://example.com/a;b?x=1&y=2", "Title a;b", work, 4);
    b->setNotes(std::string("notes with ]]> and <tags>"));
    b->setRating(3.0);
    b->setLogin(std::string("me&you"));
    b->setPassword(std::string("cGFzcw=="));
    b->setColor(std::string("red"));
    b->setIsFavorite(1);
    b->setTimesOpened(7);
    b->setLastOpened(at(1425751600));
    auto tag = Tag::initEntity();
    tag->setName("news");
    b->addTag(tag);
    auto service = Service::initEntity();
    service->setName(Service::kPinboard);
    service->setLogin("pin<user>");
    service->setPassword("c2VjcmV0");
    b->addService(service);
    bookmark("B-2", "http://example.org/", "Second", sub, 1);
    // No folder: never written.
    bookmark("B-LOOSE", "http://loose.example/", "Loose", nullptr, 1);
    auto config = Config::initEntity();
    config->setKestoKey(Config::kPasswordKey);
    config->setKestoValue("bG9jaw==");
    save();
  }
};

TEST_F(SyncFileTest, WritesTheGoldenSyncFile) {
  makeLibrary();
  auto xml = SyncFile::writeSyncFile(main, "kesto-LIB-A", {{"B-GONE", 5, "b"}, {"F-GONE", 2, "f"}});
  auto golden = readFile(std::string(KESTO_TEST_DATA_DIR) + "/Sync/sync-file.xml");
  if (std::getenv("KESTO_UPDATE_GOLDEN")) writeFile(std::string(KESTO_TEST_DATA_DIR) + "/Sync/sync-file.xml", xml);
  EXPECT_EQ(xml, golden);
  EXPECT_TRUE(wellFormed(xml));
}

TEST_F(SyncFileTest, RoundTripKeepsEveryFieldAndTheSemicolonEscape) {
  makeLibrary();
  auto xml = SyncFile::writeSyncFile(main, "kesto-LIB-A", {{"B-GONE", 5, "b"}});
  EXPECT_NE(xml.find("Title a##semicolon##b"), std::string::npos);
  EXPECT_EQ(xml.find("B-LOOSE"), std::string::npos);

  fnd::Error error;
  auto doc = SyncFile::read(xml, true, &error);
  ASSERT_TRUE(doc) << error.description();
  EXPECT_EQ(doc->rootName, kSyncFileRoot);
  EXPECT_EQ(doc->kestoID, "kesto-LIB-A");
  EXPECT_EQ(doc->password, "bG9jaw==");
  ASSERT_EQ(doc->bookmarks.size(), 2u);
  const auto& b = doc->bookmarks[0];
  EXPECT_EQ(b.uniqueID.string(), "B-1");
  EXPECT_EQ(b.title.string(), "Title a;b");
  EXPECT_EQ(b.url.string(), "http://example.com/a;b?x=1&y=2");
  EXPECT_EQ(b.notes.string(), "notes with ]]> and <tags>");
  EXPECT_EQ(b.login.string(), "me&you");
  EXPECT_EQ(b.password.string(), "cGFzcw==");
  EXPECT_EQ(b.color.string(), "red");
  EXPECT_EQ(b.version.intValue(), 4);
  EXPECT_EQ(b.rating.intValue(), 3);
  EXPECT_EQ(b.isFavorite.intValue(), 1);
  EXPECT_EQ(b.timesOpened.intValue(), 7);
  EXPECT_EQ(b.folderID.string(), "F-WORK");
  EXPECT_EQ(b.tagStrings, std::vector<std::string>{"news"});
  EXPECT_EQ(b.serviceStrings, std::vector<std::string>{"pinboard"});
  EXPECT_EQ(b.addedDate.date(), at(1425751499));
  EXPECT_EQ(b.lastOpened.date(), at(1425751600));
  ASSERT_EQ(doc->folders.size(), 2u);
  EXPECT_EQ(doc->folders[1].name.string(), "Sub & <more>");
  EXPECT_EQ(doc->folders[0].color.string(), "blue");
  EXPECT_TRUE(doc->folders[1].color.isNull());  // written as "(null)"
  ASSERT_EQ(doc->services.size(), 1u);
  EXPECT_EQ(doc->services[0].login, "pin<user>");
  ASSERT_EQ(doc->deletions.size(), 1u);
  EXPECT_EQ(doc->deletions[0], (SyncTombstone{"B-GONE", 5, "b"}));
}

TEST_F(SyncFileTest, HostileTextStaysWellFormed) {
  auto f = folder("F1", "x]]>y", Folder::kRootID);
  std::string nasty = std::string("a\x01" "b\x0b" "c]]>d<e>&f\"g") + "\xff\xfe" + "h\xc3\xa9";
  auto b = bookmark("B1", "http://e.com/]]>", nasty, f);
  b->setLogin(std::string("</login><x>"));
  b->setColor(std::string("]]><"));
  save();
  auto xml = SyncFile::writeSyncFile(main, "id<&>", {{"a<b", 1, "b"}});
  ASSERT_TRUE(wellFormed(xml)) << xml;
  auto doc = SyncFile::read(xml, true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "id<&>");
  ASSERT_EQ(doc->bookmarks.size(), 1u);
  EXPECT_EQ(doc->bookmarks[0].title.string(), "abc]]>d<e>&f\"gh\xc3\xa9");
  EXPECT_EQ(doc->bookmarks[0].url.string(), "http://e.com/]]>");
  EXPECT_EQ(doc->bookmarks[0].login.string(), "</login><x>");
  ASSERT_FALSE(doc->folders.empty());
  EXPECT_EQ(doc->folders[0].name.string(), "x]]>y");
  ASSERT_FALSE(doc->deletions.empty());
  EXPECT_EQ(doc->deletions[0].objectID, "a<b");
}

TEST_F(SyncFileTest, NoDeletionsElementWithoutTombstones) {
  auto f = folder("F1", "One");
  bookmark("B1", "http://a/", "A", f);
  save();
  auto xml = SyncFile::writeSyncFile(main, "kesto-X", {});
  EXPECT_EQ(xml.find("<deletions>"), std::string::npos);
  EXPECT_NE(xml.find("<tags>\n    </tags>"), std::string::npos);
  EXPECT_NE(xml.find("<services>\n    </services>"), std::string::npos);
}

TEST(SyncFileReader, ReadsOlderFilesAndFillsDefaults) {
  auto doc = SyncFile::read(readFile(std::string(KESTO_TEST_DATA_DIR) + "/Sync/older-form.xml"), true);
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->kestoID);  // the nil placeholder is no identifier
  EXPECT_FALSE(doc->password);
  ASSERT_EQ(doc->bookmarks.size(), 2u);
  const auto& a = doc->bookmarks[0];
  EXPECT_EQ(a.title.string(), "Old; style");
  EXPECT_EQ(a.folderID.string(), "_inbox");         // no folder-id
  EXPECT_EQ(a.trashed.intValue(), 0);               // missing trashed
  EXPECT_EQ(a.updatedDate.date(), a.addedDate.date());  // empty updated date takes the added date
  EXPECT_EQ(a.version.intValue(), 12);              // leading integer of "12abc"
  EXPECT_EQ(a.login.string(), "");                  // the group stops at the missing login
  const auto& b = doc->bookmarks[1];
  EXPECT_EQ(b.folderID.string(), "F9");
  EXPECT_EQ(b.version.intValue(), 0);
  EXPECT_TRUE(b.lastOpened.isNull());
  ASSERT_EQ(doc->folders.size(), 1u);
  EXPECT_EQ(doc->folders[0].color.string(), "green");  // ".png" stripped
  EXPECT_EQ(doc->deletions.size(), 1u);  // the tombstone without an identifier is skipped
}

// A peer's file is bounded like every door: texts cut and cleaned, tags capped, an address
// longer than the bound not taken at all.
TEST(SyncFileReader, TextsTagsAndAddressesAreBounded) {
  std::string tags;
  for (int i = 0; i < 2000; ++i) tags += "<tag><name>t" + std::to_string(i) + "</name></tag>";
  auto bookmark = [&](const std::string& id, const std::string& url, const std::string& title) {
    return "<bookmark><id>" + id + "</id><url><![CDATA[" + url + "]]></url><title><![CDATA[" + title +
           "]]></title><notes>a&#10;b&#x202E;c</notes><tags>" + tags + "</tags></bookmark>";
  };
  const std::string xml = "<?xml version=\"1.0\"?><kesto-sync-file><bookmarks>" +
                          bookmark("B1", "https://x.example/\xE2\x80\xAEgpj.exe", std::string(100 * 1024, 't')) +
                          bookmark("B2", "https://long.example/" + std::string(20 * 1024, 'a'), "long") +
                          "</bookmarks><folders><folder><folderID>F</folderID><name>F\xC2\x9B" "older</name>"
                          "</folder></folders></kesto-sync-file>";
  auto doc = SyncFile::read(xml, true);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->bookmarks.size(), 1u);
  const auto& b = doc->bookmarks[0];
  EXPECT_EQ(b.url.string(), "https://x.example/gpj.exe");
  EXPECT_EQ(b.title.string().size(), stored::kMaximumTitleBytes);
  EXPECT_EQ(b.notes.string(), "a\nbc");
  EXPECT_EQ(b.tagStrings.size(), stored::kMaximumTagsPerBookmark);
  ASSERT_EQ(doc->folders.size(), 1u);
  EXPECT_EQ(doc->folders[0].name.string(), "Folder");
}

// The mark of the upload rides on the identifier as an attribute: the reader pairs it with the
// identifier it takes, and a reader that knows only the identifier still reads it alone.
TEST_F(SyncFileTest, TheUploadMarkIsAnAttributeOfTheIdentifier) {
  makeLibrary();
  const auto xml = SyncFile::writeSyncFile(main, "kesto-LIB-A", {}, "UP-1\"<&");
  auto doc = SyncFile::read(xml, true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-LIB-A");
  EXPECT_EQ(doc->uploadID, "UP-1\"<&");
  EXPECT_EQ(doc->bookmarks.size(), 2u);
  EXPECT_EQ(SyncFile::readKestoID(xml), "kesto-LIB-A");
  EXPECT_FALSE(SyncFile::read(SyncFile::writeSyncFile(main, "kesto-LIB-A", {}), true)->uploadID);
  // A placeholder's mark is no mark; the identifier taken brings its own (or none).
  doc = SyncFile::read("<kesto-sync-file><kesto-id upload=\"A\">kesto-A</kesto-id><kesto-id nil=\"true\" "
                       "upload=\"N\"/><kesto-id>kesto-B</kesto-id></kesto-sync-file>",
                       true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-B");
  EXPECT_FALSE(doc->uploadID);
}

TEST(SyncFileReader, RefusesWhatIsNotAWellFormedDocument) {
  EXPECT_FALSE(SyncFile::read("", true));
  EXPECT_FALSE(SyncFile::read("<a>", true));
  EXPECT_FALSE(SyncFile::read("<kesto-sync-file><bookmarks></kesto-sync-file>", true));
  // Entity declarations are refused outright: no expansion, no external fetches.
  std::string xxe =
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<kesto-sync-file><kesto-id>&x;</kesto-id></kesto-sync-file>";
  EXPECT_FALSE(SyncFile::read(xxe, true));
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                       "<kesto-sync-file><kesto-id>&b;</kesto-id></kesto-sync-file>";
  EXPECT_FALSE(SyncFile::read(laughs, true));
  // The empty-library marker parses, with nothing in it.
  auto marker = SyncFile::read(kEmptyLibraryMarker, true);
  ASSERT_TRUE(marker);
  EXPECT_FALSE(marker->kestoID);
  EXPECT_TRUE(marker->bookmarks.empty());
  EXPECT_FALSE(SyncFile::readKestoID(kEmptyLibraryMarker));
}

// The reader takes each record's first field of a name, with every text below it, whatever
// else the document holds around and inside the records.
TEST(SyncFileReader, TakesTheFirstFieldOfEachNameWithAllTextBelowIt) {
  auto doc = SyncFile::read(
      "<?xml version=\"1.0\"?><kesto-sync-file><kesto-id>kesto-A</kesto-id><unknown><bookmark><id>NO</id>"
      "</bookmark></unknown><kesto-password>first</kesto-password><kesto-password>second</kesto-password>"
      "<bookmarks><bookmark><id>B1</id><id>B1-again</id><title>Part <b>one</b> <![CDATA[& two]]></title>"
      "<url>http://a.example/</url><tags><tag><name>x</name><name>x-again</name></tag><tag><other>o</other></tag>"
      "<tag><name> y </name></tag></tags><tags><tag><name>late</name></tag></tags>"
      "<services><service-name>Pinboard</service-name></services><folders><folder-id>F1</folder-id>"
      "<folder-id>F2</folder-id></folders><p:title>prefixed</p:title></bookmark><folder><folderID>NO</folderID>"
      "</folder></bookmarks><folders><folder><folderID>F1</folderID><name>One</name></folder></folders>"
      "<bookmarks><bookmark><id>B2</id><url>http://b.example/</url></bookmark></bookmarks>"
      "<kesto-id nil=\"true\"/><kesto-id>kesto-B</kesto-id></kesto-sync-file>",
      true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->kestoID, "kesto-B");  // the last identifier that is not the placeholder
  EXPECT_EQ(doc->password, "first");
  ASSERT_EQ(doc->bookmarks.size(), 2u);  // both lists, nothing from elsewhere
  const auto& b = doc->bookmarks[0];
  EXPECT_EQ(b.uniqueID.string(), "B1");
  EXPECT_EQ(b.title.string(), "Part one & two");
  EXPECT_EQ(b.tagStrings, (std::vector<std::string>{"x", " y "}));  // the first list, first name of each tag
  EXPECT_EQ(b.serviceStrings, (std::vector<std::string>{"Pinboard"}));
  EXPECT_EQ(b.folderID.string(), "F1");
  EXPECT_EQ(doc->bookmarks[1].uniqueID.string(), "B2");
  ASSERT_EQ(doc->folders.size(), 1u);
  EXPECT_EQ(doc->folders[0].folderID.string(), "F1");
}

// A library's whole file in one pass: what is written reads back record for record.
TEST_F(SyncFileTest, ALargeFileReadsBackRecordForRecord) {
  auto work = folder("F-BIG", "Big", Folder::kRootID, 1);
  auto tag = Tag::initEntity();
  tag->setName("shared");
  for (int i = 0; i < 3000; ++i) {
    auto b = bookmark("B" + std::to_string(i), "http://example.com/" + std::to_string(i), "Title " + std::to_string(i), work, 1 + i % 5);
    b->setNotes(std::string(i % 7 ? "" : "note ]]> with <markup> & more"));
    if (i % 3 == 0) b->addTag(tag);
  }
  save();
  const auto xml = SyncFile::writeSyncFile(WrenDataManager::sharedInstance().managedObjectContext(), "kesto-BIG", {});
  auto doc = SyncFile::read(xml, true);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->bookmarks.size(), 3000u);
  for (const auto& r : doc->bookmarks) {
    const int i = std::stoi(r.uniqueID.string().substr(1));
    EXPECT_EQ(r.url.string(), "http://example.com/" + std::to_string(i));
    EXPECT_EQ(r.version.intValue(), 1 + i % 5);
    EXPECT_EQ(r.notes.string(), i % 7 ? "" : "note ]]> with <markup> & more");
    EXPECT_EQ(r.tagStrings.size(), i % 3 == 0 ? 1u : 0u);
    EXPECT_EQ(r.folderID.string(), "F-BIG");
  }
}

TEST(SyncFileReader, ReadsDatesWithTheirOffset) {
  auto doc = SyncFile::read(
      "<kesto-sync-file><bookmarks><bookmark><id>X</id><added-date>2015-03-07 19:04:59 +0100</added-date>"
      "<updated-date>2015-03-07 13:04:59 -0500</updated-date><last-visited>1999-12-31 23:59:60 +0000"
      "</last-visited></bookmark><bookmark><id>Y</id><added-date>2015-13-07 18:04:59 +0000</added-date>"
      "<updated-date>yesterday</updated-date></bookmark></bookmarks></kesto-sync-file>",
      true);
  ASSERT_TRUE(doc);
  const auto expected = fnd::Date::withTimeIntervalSince1970(1425751499);
  ASSERT_GE(doc->bookmarks.size(), 2u);
  EXPECT_EQ(doc->bookmarks[0].addedDate.date(), expected);
  EXPECT_EQ(doc->bookmarks[0].updatedDate.date(), expected);
  EXPECT_TRUE(doc->bookmarks[0].lastOpened.isDate());
  EXPECT_FALSE(doc->bookmarks[1].updatedDate.isDate());
}

TEST(SyncFileText, EscapesAndSplitsCData) {
  EXPECT_EQ(SyncFile::cdata("a]]>b"), "<![CDATA[a]]]]><![CDATA[>b]]>");
  EXPECT_EQ(SyncFile::escapeText("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(SyncFile::stripInvalidXmlChars(std::string("t\tn\nr\r\x00z", 8)), "t\tn\nr\rz");
  EXPECT_EQ(SyncFile::stripInvalidXmlChars("\xef\xbf\xbe" "ok" "\xf0\x9f\x98\x80"), "ok\xf0\x9f\x98\x80");  // U+FFFE
  EXPECT_EQ(SyncFile::stripInvalidXmlChars("\xc0\xaf" "x" "\xe2\x82"), "x");  // overlong, truncated
}

TEST_F(SyncFileTest, SharedFolderFileRekeysAndLeavesCredentialsOut) {
  makeLibrary();
  auto work = Folder::existingFolderWithFolderID("F-WORK");
  auto sub = Folder::existingFolderWithFolderID("F-SUB");
  auto xml = SyncFile::writeSharedFolderFile({work, sub}, {find("B-1"), find("B-2"), find("B-1")}, "kesto-LIB-A",
                                             "alice", false);
  ASSERT_TRUE(wellFormed(xml));
  EXPECT_EQ(xml.find("kesto-password"), std::string::npos);
  EXPECT_EQ(xml.find("<services>\n  <service>"), std::string::npos);
  auto doc = SyncFile::read(xml, true);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->rootName, kSharedFolderFileRoot);
  ASSERT_EQ(doc->folders.size(), 2u);
  ASSERT_EQ(doc->bookmarks.size(), 2u);  // each bookmark once
  const auto top = doc->folders[0].folderID.string();
  EXPECT_NE(top, "F-WORK");
  EXPECT_EQ(doc->folders[0].parentFolderID.string(), "_imported");
  EXPECT_EQ(doc->folders[1].parentFolderID.string(), top);
  EXPECT_EQ(doc->bookmarks[0].folderID.string(), top);
  EXPECT_EQ(doc->bookmarks[1].folderID.string(), doc->folders[1].folderID.string());
  EXPECT_NE(doc->bookmarks[0].uniqueID.string(), "B-1");
  EXPECT_EQ(doc->bookmarks[0].login.string(), "");
  EXPECT_EQ(doc->bookmarks[0].password.string(), "");
  EXPECT_EQ(doc->bookmarks[0].timesOpened.intValue(), 0);
  EXPECT_EQ(doc->bookmarks[0].importedFrom.string(), "alice");
  EXPECT_EQ(xml.find("F-WORK"), std::string::npos);
  // Titles that happen to contain an identifier are not touched.
  EXPECT_EQ(doc->bookmarks[0].title.string(), "Title a;b");
}

}  // namespace
}  // namespace kesto::test
