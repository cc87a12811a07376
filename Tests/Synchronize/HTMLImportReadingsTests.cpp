// Every bookmark file the tests hold (real browser exports, reading lists, our own export and
// the fuzz corpora) read into a canonical text, compared with Data/Import/readings.txt. The
// readings were taken with the tree-building reader this one replaced; they differ only where
// that reader lost data (it stopped at a NUL byte), and in corpus files that are not UTF-8 where
// they say they are (read with U+FFFD as a browser reads them, no longer as Latin-1 from the
// first such byte on). KESTO_WRITE_READINGS=1 writes the file anew.
#include "Synchronize/HTMLImport.h"

#include "SyncLibraryFixture.h"

#include "Harness/TestSupport.h"
#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Platform/Store/Context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <unordered_set>

namespace kesto::test {
namespace {

// Folders by order index under their parents, each with its bookmarks in order; tags sorted
// (their first-seen order depends on the walk, not on the file).
std::string reading(const HTMLImport::Parsed& p, HTMLImport::FileKind kind) {
  std::ostringstream o;
  o << "kind " << static_cast<int>(kind) << "\n";
  std::map<std::string, std::vector<const FolderDummy*>> children;
  for (const auto& f : p.folders) children[f.parentFolderID.string()].push_back(&f);
  std::map<std::string, std::vector<const BookmarkDummy*>> bookmarks;
  for (const auto& b : p.bookmarks) bookmarks[b.folderID.string()].push_back(&b);
  std::function<void(const std::string&, int)> walk = [&](const std::string& id, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    for (const auto* b : bookmarks[id]) {
      o << indent << "B [" << b->url.string() << "] [" << b->title.string() << "] [" << b->notes.string() << "] [";
      for (const auto& t : b->tagStrings) o << t << ",";
      o << "]\n";
    }
    auto list = children[id];
    std::stable_sort(list.begin(), list.end(),
                     [](auto* a, auto* b) { return a->orderIndex.intValue() < b->orderIndex.intValue(); });
    for (const auto* f : list) {
      o << indent << "F " << f->orderIndex.intValue() << " [" << f->name.string() << "] v" << f->version.intValue() << "\n";
      walk(f->folderID.string(), depth + 1);
    }
  };
  walk("ROOT", 0);
  std::vector<std::string> tags = p.tags;
  std::sort(tags.begin(), tags.end());
  o << "tags:";
  for (const auto& t : tags) o << " [" << t << "]";
  o << "\n";
  return o.str();
}

std::string readingsOfEveryFile() {
  const std::string data = KESTO_TEST_DATA_DIR;
  std::ostringstream out;
  for (const std::string dir : {"Import", "Export", "../../Fuzz/Corpus/HTMLImport", "../../Fuzz/Corpus/HtmlDocument"}) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(data + "/" + dir))
      if (e.is_regular_file() && e.path().filename() != "readings.txt") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      out << "== " << std::filesystem::path(dir).filename().string() << "/" << path.filename().string() << "\n";
      const std::string bytes = readFile(path.string());
      for (bool skip : {false, true}) {
        HTMLImport::FileKind kind{};
        auto parsed = HTMLImport::parseDocument(bytes, "ROOT", skip, {"https://example.com/"}, &kind);
        out << (parsed ? reading(*parsed, kind) : std::string("none\n"));
      }
    }
  }
  return out.str();
}

TEST(HTMLImportReadings, EveryFixtureAndCorpusFileReadsAsRecorded) {
  const std::string golden = std::string(KESTO_TEST_DATA_DIR) + "/Import/readings.txt";
  const std::string now = readingsOfEveryFile();
  if (std::getenv("KESTO_WRITE_READINGS")) writeFile(golden, now);
  const std::string recorded = readFile(golden);
  ASSERT_FALSE(recorded.empty());
  // Compared file by file, so a difference names its file.
  auto sections = [](const std::string& text) {
    std::map<std::string, std::string> out;
    std::string name;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("== ", 0) == 0) name = line;
      else out[name] += line + "\n";
    }
    return out;
  };
  const auto expected = sections(recorded), actual = sections(now);
  for (const auto& [name, text] : expected) {
    auto it = actual.find(name);
    ASSERT_NE(it, actual.end()) << name;
    EXPECT_EQ(it->second, text) << name;
  }
  EXPECT_EQ(expected.size(), actual.size());
}

// A tree as text with each folder's bookmarks sorted, so that what was read and what was
// stored compare whatever order rows were written in.
struct Node {
  std::string name;
  std::int64_t order = 0;
  std::vector<std::string> bookmarks;
  std::vector<std::string> children;  // folder identifiers
};
std::string treeText(std::map<std::string, Node>& nodes, const std::string& id, int depth = 0) {
  std::string out;
  Node& n = nodes[id];
  std::sort(n.bookmarks.begin(), n.bookmarks.end());
  for (const auto& b : n.bookmarks) out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + b + "\n";
  std::vector<std::string> kids = n.children;
  std::stable_sort(kids.begin(), kids.end(), [&](const auto& a, const auto& b) { return nodes[a].order < nodes[b].order; });
  for (const auto& k : kids) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + "F " + std::to_string(nodes[k].order) + " [" +
           nodes[k].name + "]\n";
    out += treeText(nodes, k, depth + 1);
  }
  return out;
}
std::string bookmarkText(const std::string& url, const std::string& title, const std::string& notes,
                         std::vector<std::string> tags) {
  // A bookmark's tags are a set in the store.
  std::sort(tags.begin(), tags.end());
  tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
  std::string t;
  for (const auto& tag : tags) t += tag + ",";
  return "B [" + url + "] [" + title + "] [" + notes + "] [" + t + "]";
}

using HTMLImportStoredTest = SyncLibraryTest;

// What the storing thread settles in the store is what the reader reads: the drafts it stores
// as they come and the corrections at the end (lists giving way, reading lists, renamed and
// reordered folders, skipped repeats) add up to the same library, for every file we hold.
TEST_F(HTMLImportStoredTest, EveryFileStoresAsItReads) {
  auto context = WrenDataManager::sharedInstance().newManagedObjectContext();
  const std::string data = KESTO_TEST_DATA_DIR;
  int n = 0;
  for (const std::string dir : {"Import", "Export", "../../Fuzz/Corpus/HTMLImport", "../../Fuzz/Corpus/HtmlDocument"})
    for (const auto& e : std::filesystem::directory_iterator(data + "/" + dir)) {
      if (!e.is_regular_file() || e.path().filename() == "readings.txt") continue;
      for (bool skip : {false, true}) {
        const std::string rootID = "STORED-" + std::to_string(++n);
        const auto report = HTMLImport::importFile(e.path().string(), {rootID, "f.html", "_imported", 1}, skip, context);
        ASSERT_EQ(report.outcome, HTMLImport::Outcome::Imported) << e.path();

        std::map<std::string, Node> read;
        const std::string bytes = readFile(e.path().string());
        // Against the store as it was before this import, as the import itself checks.
        std::unordered_set<std::string> known;
        if (skip)
          for (const auto& b : Bookmark::fetchEntities().value_or(Bookmark::List{}))
            if (!b->folder() || b->folder()->parentFolderID() != rootID) known.insert(b->url().value_or(""));
        auto parsed = HTMLImport::parseDocument(bytes, rootID, skip, known);
        ASSERT_TRUE(parsed);
        for (const auto& f : parsed->folders) {
          read[f.folderID.string()].name = f.name.string();
          read[f.folderID.string()].order = f.orderIndex.intValue();
          read[f.parentFolderID.string()].children.push_back(f.folderID.string());
        }
        for (const auto& b : parsed->bookmarks)
          read[b.folderID.string()].bookmarks.push_back(
              bookmarkText(b.url.string(), b.title.string(), b.notes.string(), b.tagStrings));

        std::map<std::string, Node> stored;
        std::vector<std::string> queue{rootID};
        auto all = Folder::fetchEntities(context).value_or(Folder::List{});
        while (!queue.empty()) {
          const std::string id = queue.back();
          queue.pop_back();
          for (const auto& f : all)
            if (f->parentFolderID() == id) {
              stored[f->folderID()].name = f->name();
              stored[f->folderID()].order = f->orderIndex();
              stored[id].children.push_back(f->folderID());
              queue.push_back(f->folderID());
            }
        }
        for (const auto& b : Bookmark::fetchEntities(context).value_or(Bookmark::List{})) {
          auto f = b->folder();
          if (!f || (f->folderID() != rootID && !stored.count(f->folderID()))) continue;
          std::vector<std::string> tags;
          for (const auto& t : b->tags()) tags.push_back(t->name());
          stored[f->folderID()].bookmarks.push_back(
              bookmarkText(b->url().value_or(""), b->title().value_or(""), b->notes().value_or(""), tags));
        }
        EXPECT_EQ(treeText(stored, rootID), treeText(read, rootID)) << e.path() << (skip ? " skipping" : "");
        context->reset();
      }
    }
}

}  // namespace
}  // namespace kesto::test
