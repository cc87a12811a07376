// Addresses in the forms other doors stored them: what an import compares for duplicates, and
// what a sync takes from another library.
#include "SyncTestSupport.h"

#include "Synchronize/HTMLImport.h"
#include "Synchronize/SyncMerge.h"

#include <vector>

namespace kesto::test {
namespace {

// A library holds addresses as this and earlier versions stored them: decoded whole by adding,
// with escaped spaces by an import. Each is found again whichever escapes the file uses; an
// address whose escapes say something else ("%26" for "&") is another one.
TEST(AddressForms, AnImportFindsStoredAddressesWhateverEscapesEitherSideUses) {
  const auto parsed = HTMLImport::parseDocument(
      "<DL><DT><A HREF=\"https://k.example/a%20b\">A</A><DT><A HREF=\"https://k.example/c d\">C</A>"
      "<DT><A HREF=\"HTTPS://k.example/caf%C3%A9%20x\">E</A><DT><A HREF=\"https://k.example/?q=e%26f\">Q</A>"
      "<DT><A HREF=\"https://k.example/new%20one\">N</A><DT><A HREF=\"https://k.example/new one\">N2</A></DL>",
      "ROOT", true, {"https://k.example/a b", "https://k.example/c%20d", "https://k.example/caf\xC3\xA9 x",
                     "https://k.example/?q=e&f"});
  ASSERT_TRUE(parsed);
  std::vector<std::string> kept;
  for (const auto& b : parsed->bookmarks) kept.push_back(b.title.string() + " " + b.url.string());
  EXPECT_EQ(kept, (std::vector<std::string>{"Q https://k.example/?q=e%26f", "N https://k.example/new one"}));
}

// Another library's addresses are already in the form it stored: a sync keeps them letter for
// letter, so both libraries hold the same text; the base address is made here, by the one rule.
TEST_F(SyncRecordsTest, ASyncKeepsTheAddressesAnotherLibraryStored) {
  const std::vector<std::string> urls{"https://s.example/p?q=a%26b&path=%2Fx#%23", "https://s.example/a%20b",
                                      "mailto:someone@example.org?subject=a%26b"};
  std::string xml = "<kesto-sync-file><kesto-id>kesto-REMOTE</kesto-id><bookmarks>";
  for (std::size_t i = 0; i < urls.size(); ++i)
    xml += "<bookmark><id>S" + std::to_string(i) + "</id><version>3</version><title>T</title><url><![CDATA[" +
           urls[i] + "]]></url><added-date>2015-03-07 18:04:59 +0000</added-date></bookmark>";
  auto doc = SyncFile::read(xml + "</bookmarks></kesto-sync-file>", true);
  ASSERT_TRUE(doc);
  SyncMerge::Options options;
  options.isSync = true;
  onChild([&](const ContextRef& child) { SyncMerge::processImport(*doc, child, options); });
  for (std::size_t i = 0; i < urls.size(); ++i) {
    auto b = find("S" + std::to_string(i));
    ASSERT_TRUE(b) << urls[i];
    EXPECT_EQ(b->url(), urls[i]);
    EXPECT_EQ(SyncFile::syncedRecord(*b)->url.string(), urls[i]);
  }
  EXPECT_EQ(find("S0")->baseURL(), "https://s.example");
  EXPECT_EQ(find("S2")->baseURL(), "mailto:");
}

// Both doors of files from other people store one form of an address; a sync keeps the text.
TEST(AddressForms, BookmarkFilesAndArchivesStoreOneFormASyncKeepsTheText) {
  const std::string text = "HTTPS://UP.example/p?q=a%26b%20c%7E";
  const auto file = HTMLImport::parseDocument("<DL><DT><A HREF=\"" + text + "\">U</A></DL>", "ROOT", false, {});
  const std::string xml = "<kesto-file><bookmarks><bookmark><url>" + text + "</url></bookmark></bookmarks></kesto-file>";
  const auto archive = SyncFile::read(xml, false), sync = SyncFile::read(xml, true);
  ASSERT_TRUE(file && archive && sync);
  ASSERT_FALSE(file->bookmarks.empty() || archive->bookmarks.empty() || sync->bookmarks.empty());
  EXPECT_EQ(file->bookmarks.at(0).url.string(), "https://UP.example/p?q=a%26b c~");
  EXPECT_EQ(archive->bookmarks.at(0).url.string(), file->bookmarks.at(0).url.string());
  EXPECT_EQ(sync->bookmarks.at(0).url.string(), "https://UP.example/p?q=a%26b%20c%7E");
}

}  // namespace
}  // namespace kesto::test
