#include "SyncLibraryFixture.h"

#include "Synchronize/HTMLExport.h"
#include "Synchronize/HTMLImport.h"

#include "Model/DataModel.h"
#include "Platform/Store/Context.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <map>
#include <optional>

namespace kesto::test {
namespace {

struct RecordingDelegate : HTMLExportDelegate {
  void exportSucces(const std::string& message) override { successes.push_back(message); }
  void exportFailed(const std::string& message) override { failures.push_back(message); }
  std::vector<std::string> successes, failures;
};

struct HTMLExportTest : SyncLibraryTest {
  RecordingDelegate delegate;

  // Exports the whole library into a new file of that name, reporting to `delegate`; answers the
  // file's path, or nothing when the export said it failed.
  std::optional<std::string> exportAll(const std::string& name) {
    HTMLExport exporter;
    exporter.setDelegate(&delegate);
    const std::string path = makeTempDir("export") + "/" + name;
    if (!exporter.exportAllTofile(path)) return std::nullopt;
    return path;
  }
};

TEST_F(HTMLExportTest, EmptyLibraryGivesHeaderAndEnd) {
  const auto path = exportAll("empty.html");
  ASSERT_TRUE(path);
  EXPECT_EQ(readFile(*path),
            "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<HTML>\n"
            "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
            "<Title>Kesto Bookmarks</Title>\n<H1>Kesto Bookmarks</H1>\n</HTML>");
  EXPECT_EQ(fnd::FileManager::attributesOfItem(*path)->permissions, 0600u);
  ASSERT_EQ(delegate.successes.size(), 1u);
  EXPECT_EQ(delegate.successes[0], "Your Kesto Export file has been exported to: " + *path);
}

TEST_F(HTMLExportTest, TreeMatchesTheGoldenFileAndReadsBack) {
  auto work = folder("W", "Work & <Play>");
  auto sub = folder("S", "Sub", "W");
  auto deep = folder("D", "Deep", "S");
  folder("E", "Empty");
  bookmark("https://example.com/?a=1&b=\"2\"", "Tom & Jerry <script>alert(1)</script>", work);
  bookmark("https://sub.example/", "In sub", sub);
  bookmark("https://deep.example/", "Deep one", deep);
  // Trashed, with the folder it still has: importing the file must not bring it back.
  auto trashed = bookmark("https://trash.example/", "Trashed but filed", deep);
  trashed->setTrashed(1);
  bookmark("https://nowhere.example/", "No folder", nullptr);
  save();

  const auto path = exportAll("kesto.html");
  ASSERT_TRUE(path);
  const std::string written = readFile(*path);
  EXPECT_EQ(written, readFile(dataFile("Export/golden.html")));
  // The HTML reader browsers share with us finds nothing to complain about.
  if (std::system("command -v xmllint >/dev/null 2>&1") == 0) {
    const auto [status, said] = runProgram({"xmllint", "--html", "--noout", *path});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(said, "");
  }

  // What we write, our own importer (and so a browser's) reads back unchanged.
  auto parsed = HTMLImport::parseDocument(written, "ROOT", false, {});
  ASSERT_TRUE(parsed);
  bool sawTitle = false, sawURL = false;
  for (const auto& b : parsed->bookmarks) {
    sawTitle |= b.title.string() == "Tom & Jerry <script>alert(1)</script>";
    sawURL |= b.url.string() == "https://example.com/?a=1&b=\"2\"";
  }
  EXPECT_TRUE(sawTitle);
  EXPECT_TRUE(sawURL);
  EXPECT_EQ(parsed->bookmarks.size(), 3u);
  bool sawFolder = false;
  for (const auto& f : parsed->folders) sawFolder |= f.name.string() == "Work & <Play>";
  EXPECT_TRUE(sawFolder);
}

TEST_F(HTMLExportTest, ParentCycleEndsAndOneFolderExportsAlone) {
  auto a = folder("A", "A");
  auto b = folder("B", "B", "A");
  auto c = folder("C", "C", "B");
  // A cycle below the top: B -> C -> B.
  b->setParentFolderID("C");
  bookmark("https://b.example/", "in b", b);
  save();
  HTMLExport exporter;
  std::string html = exporter.exportToHTML(b);
  EXPECT_NE(html.find("<DT><H3 FOLDED>B</H3>\n<DL><p>\n<DT><H3 FOLDED>C</H3>\n<DL><p>\n</DL><p>\n"
                      "<DT><A HREF=\"https://b.example/\">in b</A>\n</DL><p>\n</HTML>"),
            std::string::npos)
      << html;
  const std::string path = makeTempDir("export") + "/one.html";
  ASSERT_TRUE(exporter.exportFolder(a, path));
  EXPECT_EQ(readFile(path), "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<HTML>\n"
                            "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                            "<Title>Kesto Bookmarks</Title>\n<H1>Kesto Bookmarks</H1>\n"
                            "<DT><H3 FOLDED>A</H3>\n<DL><p>\n</DL><p>\n</HTML>");
}

// Folder parents come from sync files and archives, so a chain may be as deep as a file allows;
// the export walks it without the call stack.
TEST_F(HTMLExportTest, AVeryDeepFolderChainExports) {
  constexpr int kDepth = 100000;
  auto context = WrenDataManager::sharedInstance().managedObjectContext();
  std::string parent = Folder::kRootID;
  for (int i = 0; i < kDepth; ++i) {
    auto f = Folder::initEntityInContext(context);
    const std::string id = "N" + std::to_string(i);
    f->setFolderID(id);
    f->setName(id);
    f->setParentFolderID(parent);
    parent = id;
  }
  bookmark("https://bottom.example/", "bottom", Folder::existingFolderWithFolderID(parent));
  save();
  const auto path = exportAll("deep.html");
  ASSERT_TRUE(path);
  const std::string html = readFile(*path);
  std::size_t opened = 0;
  for (auto at = html.find("<DL><p>"); at != std::string::npos; at = html.find("<DL><p>", at + 1)) ++opened;
  EXPECT_EQ(opened, std::size_t(kDepth));
  EXPECT_NE(html.find("<DT><H3 FOLDED>N99999</H3>\n<DL><p>\n<DT><A HREF=\"https://bottom.example/\">bottom</A>\n</DL><p>\n</DL><p>\n"),
            std::string::npos);
}

TEST_F(HTMLExportTest, AFailedWriteIsReportedNotConfirmed) {
  folder("W", "Work");
  save();
  HTMLExport exporter;
  exporter.setDelegate(&delegate);
  EXPECT_FALSE(exporter.exportAllTofile(tempHome() + "/missing-folder/kesto.html"));
  EXPECT_TRUE(delegate.successes.empty());
  ASSERT_EQ(delegate.failures.size(), 1u);

  // Without a delegate of its own the failure becomes an alert.
  HTMLExport bare;
  EXPECT_FALSE(bare.exportAllTofile(tempHome() + "/missing-folder/kesto.html"));
  EXPECT_TRUE(alerts->sawTitle("Export failed"));
}

// A deleted folder's bookmarks wait in the Inbox, trashed: the file holds the live ones only, and
// an Inbox holding nothing else is not written at all.
TEST_F(HTMLExportTest, TrashedBookmarksInTheInboxStayOut) {
  auto inbox = Folder::folderWithFolderID(Folder::kInboxID);
  for (int i = 0; i < 3; ++i) bookmark("https://gone.example/" + std::to_string(i), "Deleted", inbox)->setTrashed(1);
  folder("MINE", "Mine");
  save();
  auto path = exportAll("trash.html");
  ASSERT_TRUE(path);
  std::string written = readFile(*path);
  EXPECT_EQ(written.find("gone.example"), std::string::npos) << written;
  EXPECT_EQ(written.find(">Inbox<"), std::string::npos) << written;

  bookmark("https://waiting.example/", "Waiting", inbox);
  save();
  path = exportAll("inbox.html");
  ASSERT_TRUE(path);
  written = readFile(*path);
  EXPECT_NE(written.find("<DT><H3 FOLDED>Inbox</H3>\n<DL><p>\n<DT><A HREF=\"https://waiting.example/\">Waiting</A>\n"
                         "</DL><p>\n"),
            std::string::npos)
      << written;
  EXPECT_EQ(written.find("gone.example"), std::string::npos);
}

// A locked folder is written only when the user has unlocked the export; otherwise it, its
// subfolders and its bookmarks stay out and the exporter says how many folders it kept back.
TEST_F(HTMLExportTest, LockedFoldersStayOutUnlessIncluded) {
  auto secret = folder("SEC", "Secret");
  auto inner = folder("SECIN", "Inner", "SEC");
  auto imported = folder("IMPL", "Locked import", Folder::kImportedID);
  for (auto& f : {secret, inner, imported}) f->setBlocked(1);
  bookmark("https://secret.example/", "Hidden", inner)->setBlocked(1);
  bookmark("https://imported-secret.example/", "Hidden too", imported)->setBlocked(1);
  auto open = folder("OPEN", "Open");
  bookmark("https://open.example/", "Shown", open);
  save();

  HTMLExport exporter;
  exporter.setDelegate(&delegate);
  const std::string dir = makeTempDir("export");
  ASSERT_TRUE(exporter.exportAllTofile(dir + "/kept.html"));
  std::string written = readFile(dir + "/kept.html");
  EXPECT_NE(written.find("https://open.example/"), std::string::npos);
  for (const char* hidden : {"Secret", "Inner", "secret.example", "Locked import", ">Imported<"})
    EXPECT_EQ(written.find(hidden), std::string::npos) << hidden;
  EXPECT_EQ(exporter.lockedFoldersLeftOut(), 2u);

  exporter.setIncludesLockedFolders(true);
  ASSERT_TRUE(exporter.exportAllTofile(dir + "/all.html"));
  written = readFile(dir + "/all.html");
  for (const char* shown : {"Secret", "Inner", "https://secret.example/", "Locked import", "imported-secret.example"})
    EXPECT_NE(written.find(shown), std::string::npos) << shown;
  EXPECT_EQ(exporter.lockedFoldersLeftOut(), 0u);
}

// Older data may hold what stored text refuses today; none of it reaches the file, in names,
// titles or addresses, and the text around it stays.
TEST_F(HTMLExportTest, ControlCharactersNeverReachTheFile) {
  // Set past the setters, which clean what they are given, as rows from older versions hold it.
  auto f = folder("CTRL", "Name");
  f->setValue(folder_attr::name, fnd::Value(std::string("Na\x7Fme\tx")));
  auto b = bookmark("https://ctrl.example/", "Title", f);
  b->setValue(bookmark_attr::url, fnd::Value(std::string("https://ctrl.example/a\x7F\x01" "b")));
  b->setValue(bookmark_attr::title,
              fnd::Value(std::string("DEL\x7F C1\xC2\x85\xC2\x9F sep\xE2\x80\xA8 bidi\xE2\x80\xAE nul") + '\0' +
                         "\r\nend"));
  save();
  const auto path = exportAll("ctrl.html");
  ASSERT_TRUE(path);
  const std::string written = readFile(*path);
  for (std::size_t i = 0; i < written.size(); ++i) {
    const auto c = static_cast<unsigned char>(written[i]);
    EXPECT_TRUE((c >= 0x20 && c != 0x7F) || c == '\n') << "byte " << int(c) << " at " << i;
    if (c == 0xC2 && i + 1 < written.size()) {
      EXPECT_FALSE(static_cast<unsigned char>(written[i + 1]) <= 0x9F) << "C1 control at " << i;
    }
    EXPECT_NE(written.compare(i, 3, "\xE2\x80\xA8"), 0);
    EXPECT_NE(written.compare(i, 3, "\xE2\x80\xAE"), 0);
  }
  EXPECT_NE(written.find("<DT><H3 FOLDED>Namex</H3>"), std::string::npos) << written;
  EXPECT_NE(written.find("HREF=\"https://ctrl.example/ab\">DEL C1 sep bidi nulend</A>"), std::string::npos) << written;
}

// A library larger than one write goes out whole and in order, and a target that cannot be
// replaced keeps what was there, with no temporary file left beside it.
TEST_F(HTMLExportTest, ALargeLibraryStreamsWholeAndAFailedReplaceLeavesNoTrace) {
  constexpr int kCount = 3000;
  const std::string padding(80, 'p');
  for (int i = 0; i < 30; ++i) {
    auto f = folder("F" + std::to_string(i), "Folder " + std::to_string(i));
    for (int k = 0; k < kCount / 30; ++k)
      bookmark("https://big.example/" + std::to_string(i) + "/" + std::to_string(k), padding, f);
  }
  save();
  const auto path = exportAll("big.html");
  ASSERT_TRUE(path);
  const std::string written = readFile(*path);
  ASSERT_GT(written.size(), 4u * 64 * 1024);
  // Every folder once, each with all its bookmarks in order, and the file's end last.
  std::size_t at = 0;
  for (int i = 0; i < 30; ++i) {
    at = written.find("<DT><H3 FOLDED>Folder " + std::to_string(i) + "</H3>\n<DL><p>\n", at);
    ASSERT_NE(at, std::string::npos) << i;
    for (int k = 0; k < kCount / 30; ++k) {
      const std::string line =
          "<DT><A HREF=\"https://big.example/" + std::to_string(i) + "/" + std::to_string(k) + "\">" + padding + "</A>\n";
      const std::size_t next = written.find(line, at);
      ASSERT_NE(next, std::string::npos) << i << "/" << k;
      at = next + line.size();
    }
    EXPECT_EQ(written.compare(at, 9, "</DL><p>\n"), 0);
  }
  EXPECT_EQ(written.size(), at + 9 + 7);
  EXPECT_EQ(written.substr(written.size() - 7), "</HTML>");

  // A folder stands where the file should go: the rename fails after everything was written.
  const std::string dir = makeTempDir("blocked");
  ASSERT_TRUE(fnd::FileManager::createDirectory(dir + "/out.html/inside", true));
  HTMLExport exporter;
  exporter.setDelegate(&delegate);
  EXPECT_FALSE(exporter.exportAllTofile(dir + "/out.html"));
  EXPECT_EQ(delegate.failures.size(), 1u);
  EXPECT_EQ(fnd::FileManager::contentsOfDirectory(dir).value_or(std::vector<std::string>{}),
            std::vector<std::string>{"out.html"});
  EXPECT_TRUE(fnd::FileManager::fileExists(dir + "/out.html/inside"));
}

// Whether every byte sequence of `s` is well-formed UTF-8.
bool isValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (!n || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    if (n == 3 && ((c == 0xE0 && static_cast<unsigned char>(s[i + 1]) < 0xA0) ||
                   (c == 0xED && static_cast<unsigned char>(s[i + 1]) > 0x9F)))
      return false;
    if (n == 4 && ((c == 0xF0 && static_cast<unsigned char>(s[i + 1]) < 0x90) ||
                   (c == 0xF4 && static_cast<unsigned char>(s[i + 1]) > 0x8F)))
      return false;
    i += n;
  }
  return true;
}

TEST_F(HTMLExportTest, EveryExportedFileIsValidUtf8AndKeepsTheRealText) {
  auto f = folder("U", std::string("Caf\xC3\xA9 \xFF\xFEmixed"));
  // Stray continuation bytes, a truncated sequence, an overlong slash, a surrogate, and real
  // text in three scripts.
  bookmark("https://utf.example/\x80\xBF", std::string("ok \xE2\x82 cut \xC0\xAF \xED\xA0\x80 end"), f);
  bookmark("https://utf.example/good", "日本語 Ελληνικά 😀", f);
  save();
  const auto path = exportAll("utf8.html");
  ASSERT_TRUE(path);
  const std::string written = readFile(*path);
  EXPECT_TRUE(isValidUtf8(written));
  EXPECT_NE(written.find("Café mixed"), std::string::npos);
  EXPECT_NE(written.find("ok  cut   end"), std::string::npos);
  EXPECT_NE(written.find("日本語 Ελληνικά 😀"), std::string::npos);
  EXPECT_NE(written.find("HREF=\"https://utf.example/\""), std::string::npos);
}

// Imports hang under the Imported folder, outside "root"; a library holding nothing else used
// to export a header only and report success.
TEST_F(HTMLExportTest, ImportedAndInboxFoldersAreExported) {
  auto imported = folder("IMP1", "bookmarks.html", Folder::kImportedID);
  auto inner = folder("IMP2", "Toolbar", "IMP1");
  bookmark("https://imported.example/", "From the import", inner);
  auto inbox = Folder::folderWithFolderID(Folder::kInboxID);
  bookmark("https://inbox.example/", "Waiting", inbox);
  auto mine = folder("MINE", "Mine");
  bookmark("https://mine.example/", "Own", mine);
  save();

  const auto path = exportAll("all.html");
  ASSERT_TRUE(path);
  const std::string written = readFile(*path);
  auto parsed = HTMLImport::parseDocument(written, "ROOT", false, {});
  ASSERT_TRUE(parsed);
  std::map<std::string, std::string> folderOf;  // bookmark title -> its folder's name
  std::map<std::string, std::string> names;
  for (const auto& f : parsed->folders) names[f.folderID.string()] = f.name.string();
  for (const auto& b : parsed->bookmarks) folderOf[b.title.string()] = names[b.folderID.string()];
  EXPECT_EQ(folderOf["Own"], "Mine");
  EXPECT_EQ(folderOf["From the import"], "Toolbar");
  EXPECT_EQ(folderOf["Waiting"], "Inbox");
  std::vector<std::string> top;
  for (const auto& f : parsed->folders)
    if (f.parentFolderID.string() == "ROOT") top.push_back(f.name.string());
  EXPECT_EQ(top, (std::vector<std::string>{"Mine", "Inbox", "Imported"}));
  // Each bookmark once.
  EXPECT_EQ(written.find("From the import"), written.rfind("From the import"));
}

}  // namespace
}  // namespace kesto::test

namespace kesto::test {
namespace {

// This process's resident memory now and at its highest since the high-water mark was reset, in kB.
long statusKB(const char* field) {
  std::ifstream in("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  return -1;
}

}  // namespace

// An export streams: it reads a folder's bookmarks as it writes them and hands the text to the
// file as it goes, so what it adds to the program's memory is a folder's worth, not the
// library's (here 60,000 bookmarks, held by the program as it holds its library).
TEST_F(HTMLExportTest, TheExportHoldsAFolderAtATimeNotTheLibrary) {
  if (underAddressSanitizer()) GTEST_SKIP() << "the sanitizer's own memory hides the export's";
  constexpr int kFolders = 60, kPerFolder = 1000;
  for (int i = 0; i < kFolders; ++i) {
    auto f = folder("M" + std::to_string(i), "Memory " + std::to_string(i));
    for (int k = 0; k < kPerFolder; ++k)
      bookmark("https://memory.example/" + std::to_string(i) + "/" + std::to_string(k), "Page " + std::to_string(k), f);
  }
  save();
  const auto held = Bookmark::fetchEntities();
  ASSERT_TRUE(held);
  malloc_trim(0);
  if (!(std::ofstream("/proc/self/clear_refs") << "5")) GTEST_SKIP() << "the high-water mark cannot be reset here";
  const long before = statusKB("VmRSS");
  const auto path = exportAll("memory.html");
  const long peak = statusKB("VmHWM");
  ASSERT_TRUE(path);
  ASSERT_GT(fnd::FileManager::sizeOfItem(*path), 40u * 60 * 1000);
  EXPECT_LT(peak - before, 3 * 1024) << "kB above the memory before the export";
}

// The File menu's export: the library is taken from the library in memory a part per turn and
// written on a thread of its own. What it writes is what the export straight from the store writes.
class HTMLExportInBackgroundTest : public HTMLExportTest {
 protected:
  // A library in memory that has read the store, listed by date added (not as the store orders
  // its rows).
  void loadLibrary() {
    dm.setCurrentSortDescriptors({store::SortDescriptor("addedDate", true)});
    loadAwake(dm);
  }
  // Both exports of the library, with or without the locked folders: straight from the store,
  // then from the library in memory in the background.
  std::pair<std::string, std::string> bothExports(bool includeLocked) {
    const std::string dir = makeTempDir("export");
    HTMLExport direct;
    direct.setDelegate(&delegate);
    direct.setIncludesLockedFolders(includeLocked);
    EXPECT_TRUE(direct.exportAllTofile(dir + "/direct.html"));
    RecordingDelegate told;
    HTMLExport background;
    background.setDelegate(&told);
    background.setDataManager(&dm);
    background.setIncludesLockedFolders(includeLocked);
    background.exportAllTofileInBackground(dir + "/background.html");
    EXPECT_TRUE(background.isExporting());
    EXPECT_TRUE(told.successes.empty()) << "told only once written, in a later turn";
    EXPECT_TRUE(runUntil([&] { return !told.successes.empty() || !told.failures.empty(); }, 20));
    EXPECT_FALSE(background.isExporting());
    EXPECT_EQ(told.successes, (std::vector<std::string>{"Your Kesto Export file has been exported to: " + dir +
                                                        "/background.html"}));
    EXPECT_EQ(background.lockedFoldersLeftOut(), direct.lockedFoldersLeftOut());
    return {readFile(dir + "/direct.html"), readFile(dir + "/background.html")};
  }

  DataManager dm;
};

// Folders nested and sharing an identifier, the trash, locked folders and bookmarks, the Inbox
// and an import, and bookmarks made in another order than the library lists them: the same
// file, byte for byte.
TEST_F(HTMLExportInBackgroundTest, WritesWhatTheExportFromTheStoreWrites) {
  auto work = folder("W", "Work & <Play>");
  auto sub = folder("S", "Sub", "W");
  // A second folder with the same identifier, as a sync file can bring.
  auto twin = Folder::initEntity();
  twin->setFolderID("S");
  twin->setName("Sub's twin");
  twin->setParentFolderID(Folder::kRootID);
  auto secret = folder("SEC", "Secret");
  secret->setBlocked(1);
  auto imported = folder("IMP", "bookmarks.html", Folder::kImportedID);
  auto inbox = Folder::folderWithFolderID(Folder::kInboxID);
  const std::vector<Folder::Ref> places{work, sub, twin, secret, imported, inbox};
  for (int i = 0; i < 60; ++i) {
    auto b = bookmark("https://example.com/" + std::to_string(i) + "?a=1&b=\"2\"", "Title <" + std::to_string(i) + ">",
                      places[static_cast<std::size_t>(i * 7 % 6)]);
    b->setAddedDate(fnd::Date(1000.0 * (i * 37 % 60)));
    if (i % 9 == 4) b->setTrashed(1);
    if (i % 11 == 5) b->setBlocked(1);
  }
  save();
  loadLibrary();
  ASSERT_EQ(dm.allBookmarks().size(), 60u);
  for (bool includeLocked : {false, true}) {
    const auto [direct, background] = bothExports(includeLocked);
    EXPECT_EQ(background, direct) << "locked folders " << (includeLocked ? "in" : "out");
  }
}

// A folder holding more bookmarks than one step writes, beside folders that hold a few: every
// bookmark once, in order, whatever the steps and the turns between them.
TEST_F(HTMLExportInBackgroundTest, AFolderLargerThanAStepIsWrittenWhole) {
  auto big = folder("BIG", "Big");
  auto small = folder("SMALL", "Small", "BIG");
  for (int i = 0; i < 4321; ++i) {
    auto b = bookmark("https://big.example/" + std::to_string(i), "Page", i % 1000 == 999 ? small : big);
    b->setAddedDate(fnd::Date(1000.0 * (i * 7919 % 4321)));
  }
  save();
  loadLibrary();
  std::string smallLines, bigLines;
  for (int i = 0; i < 4321; ++i)
    (i % 1000 == 999 ? smallLines : bigLines) += "<DT><A HREF=\"https://big.example/" + std::to_string(i) + "\">Page</A>\n";
  const std::string block = "<DT><H3 FOLDED>Big</H3>\n<DL><p>\n<DT><H3 FOLDED>Small</H3>\n<DL><p>\n" + smallLines +
                            "</DL><p>\n" + bigLines + "</DL><p>\n";
  const auto [direct, background] = bothExports(false);
  EXPECT_NE(direct.find(block), std::string::npos);
  EXPECT_EQ(background, direct);
}

// A library in memory that does not hold what the store holds (rows another context saved that it
// has not taken in yet) answers nothing: the folders are read from the store.
TEST_F(HTMLExportInBackgroundTest, RowsTheLibraryInMemoryHasNotTakenInAreWritten) {
  auto work = folder("W", "Work");
  bookmark("https://held.example/", "Held", work);
  save();
  loadLibrary();
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  other->performAndWait([&] {
    auto b = Bookmark::newBookmark(other);
    b->setUrl("https://elsewhere.example/");
    b->setTitle("Saved elsewhere");
    b->setFolder(Folder::existingFolderWithFolderID("W", other));
    ASSERT_TRUE(other->save());
  });
  const auto [direct, background] = bothExports(false);
  EXPECT_NE(direct.find("https://elsewhere.example/"), std::string::npos);
  EXPECT_EQ(background, direct);
}


// How often `text` occurs in `within`.
std::size_t occurrences(const std::string& within, const std::string& text) {
  std::size_t n = 0;
  for (auto at = within.find(text); at != std::string::npos; at = within.find(text, at + text.size())) ++n;
  return n;
}

// The user goes on while the export takes its turns: two bookmarks trade folders at every turn,
// one between a folder the walk has passed and one it has yet to reach. Each is written once,
// where it was when the export began, whether the library in memory answers or the store.
TEST_F(HTMLExportInBackgroundTest, BookmarksMovedWhileItRunsAreWrittenOnceWhereTheyWere) {
  auto first = folder("FIRST", "First");
  auto last = folder("LAST", "Last");
  for (int i = 0; i < 5000; ++i) {
    bookmark("https://first.example/" + std::to_string(i), "Page", first);
    bookmark("https://last.example/" + std::to_string(i), "Page", last);
  }
  auto fromFirst = bookmark("https://mover.example/from-first", "Mover", first);
  auto fromLast = bookmark("https://mover.example/from-last", "Mover", last);
  save();
  loadLibrary();
  for (bool fromStore : {false, true}) {
    if (fromStore) {
      // A row saved by another context: the library in memory no longer answers.
      auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
      other->performAndWait([&] {
        auto b = Bookmark::newBookmark(other);
        b->setUrl("https://elsewhere.example/");
        b->setFolder(Folder::existingFolderWithFolderID("FIRST", other));
        ASSERT_TRUE(other->save());
      });
    }
    const std::string path = makeTempDir("export") + "/moving.html";
    RecordingDelegate told;
    HTMLExport exporter;
    exporter.setDelegate(&told);
    exporter.setDataManager(&dm);
    exporter.exportAllTofileInBackground(path);
    int turns = 0;
    // One turn is queued at a time, and the round waits for it: a turn left queued would run
    // after this round's locals are gone.
    bool turnQueued = false;
    std::function<void()> trade = [&] {
      turnQueued = false;
      if (!exporter.isExporting()) return;
      const bool swapped = turns++ % 2 == 0;
      fromFirst->setFolder(swapped ? last : first);
      fromLast->setFolder(swapped ? first : last);
      save();
      turnQueued = true;
      fnd::DispatchQueue::main().async([&] { trade(); });
    };
    trade();
    const bool ended = runUntil([&] { return !exporter.isExporting(); }, 120);
    if (!ended) exporter.finishBeforeQuit();
    ASSERT_TRUE(runUntil([&] { return !turnQueued; }, 120));
    ASSERT_TRUE(ended) << fromStore;
    ASSERT_EQ(told.successes.size(), 1u) << fromStore;
    const std::string file = readFile(path);
    const auto lastBlock = file.find("<H3 FOLDED>Last</H3>");
    ASSERT_NE(lastBlock, std::string::npos);
    for (const char* mover : {"from-first", "from-last"}) {
      const std::string line = std::string("https://mover.example/") + mover + "\"";
      EXPECT_EQ(occurrences(file, line), 1u) << mover << (fromStore ? " from the store" : " from memory");
      const bool inLast = file.find(line) > lastBlock;
      EXPECT_EQ(inLast, std::string(mover) == "from-last") << mover << (fromStore ? " from the store" : " from memory");
    }
    EXPECT_EQ(occurrences(file, "<DT><A HREF="), 10002u + (fromStore ? 1 : 0));
    EXPECT_GT(turns, 1);
    // Put back as they were for the next round.
    fromFirst->setFolder(first);
    fromLast->setFolder(last);
    save();
  }
}

// Quitting while an export takes its turns: its file is written whole before the quit goes on,
// the same file a finished export writes, and the delegate (whose alert could not show) is not told.
TEST_F(HTMLExportInBackgroundTest, AQuitFinishesTheRunningExportFirst) {
  auto work = folder("W", "Work");
  for (int i = 0; i < 3000; ++i) bookmark("https://quit.example/" + std::to_string(i), "Page", work);
  save();
  loadLibrary();
  const std::string dir = makeTempDir("export");
  HTMLExport direct;
  ASSERT_TRUE(direct.exportAllTofile(dir + "/direct.html"));
  RecordingDelegate told;
  {
    HTMLExport exporter;
    exporter.setDelegate(&told);
    exporter.setDataManager(&dm);
    exporter.exportAllTofileInBackground(dir + "/quit.html");
    exporter.finishBeforeQuit();
    EXPECT_FALSE(exporter.isExporting());
    EXPECT_EQ(readFile(dir + "/quit.html"), readFile(dir + "/direct.html"));
    spin(0.1);  // the turn queued before the quit does nothing
  }
  EXPECT_TRUE(told.successes.empty());
  EXPECT_TRUE(told.failures.empty());
}

}  // namespace kesto::test
