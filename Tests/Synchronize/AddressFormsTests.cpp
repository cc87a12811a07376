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

class AddressFormsSyncTest : public SyncRecordsTest {
 protected:
  static std::string record(const std::string& id, const std::string& url, int version) {
    return "<bookmark><folders></folders><services></services><id><![CDATA[" + id + "]]></id><version>" +
           std::to_string(version) + "</version><title><![CDATA[" + id + "]]></title><url><![CDATA[" + url +
           "]]></url><notes></notes><rating>0</rating><trashed>0</trashed><tags></tags><added-date>2015-03-07 "
           "18:04:59 +0000</added-date><updated-date>2015-03-07 18:04:59 +0000</updated-date><times-visited>0"
           "</times-visited><last-visited></last-visited></bookmark>\n";
  }
  void merge(const std::string& bookmarks) {
    auto doc = SyncFile::read("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kesto-sync-file>\n<kesto-id>kesto-REMOTE"
                              "</kesto-id>\n<kesto-password></kesto-password>\n<bookmarks>\n" +
                                  bookmarks +
                                  "</bookmarks>\n<folders></folders>\n<deletions></deletions>\n</kesto-sync-file>\n",
                              true);
    ASSERT_TRUE(doc);
    SyncMerge::Options options;
    options.isSync = true;
    onChild([&](const ContextRef& child) { SyncMerge::processImport(*doc, child, options); });
  }
};

// Another library's addresses are already in the form it stored: a sync keeps them letter for
// letter, so both libraries hold the same text, and a second run changes nothing.
TEST_F(AddressFormsSyncTest, ASyncKeepsTheAddressesAnotherLibraryStored) {
  const std::vector<std::pair<std::string, std::string>> records{
      {"S1", "https://s.example/page?q=a%26b&path=%2Fx%2Fy&h=%23frag"},
      {"S2", "https://s.example/a%20b"},
      {"S3", "https://s.example/caf\xC3\xA9 au lait"},
      {"S4", "mailto:someone@example.org?subject=a%26b"}};
  std::string bookmarks;
  for (const auto& [id, url] : records) bookmarks += record(id, url, 3);
  merge(bookmarks);
  merge(bookmarks);
  for (const auto& [id, url] : records) {
    auto b = find(id);
    ASSERT_TRUE(b) << id;
    EXPECT_EQ(b->url(), url);
    EXPECT_EQ(b->version(), 3) << id;
    auto out = SyncFile::syncedRecord(*b);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->url.string(), url);
  }
  EXPECT_EQ(find("S1")->baseURL(), "https://s.example");
  EXPECT_EQ(find("S4")->baseURL(), "mailto:");
}

}  // namespace
}  // namespace kesto::test
