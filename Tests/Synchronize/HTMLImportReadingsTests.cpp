// Every bookmark file the tests hold (real browser exports, reading lists, our own export and
// the fuzz corpora) read into a canonical text, compared with Data/Import/readings.txt. The
// readings were taken with the tree-building reader this one replaced; they differ only where
// that reader lost data (it stopped at a NUL byte). KESTO_WRITE_READINGS=1 writes the file anew.
#include "Synchronize/HTMLImport.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

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

}  // namespace
}  // namespace kesto::test
