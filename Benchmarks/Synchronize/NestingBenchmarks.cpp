// Bookmark files whose folders nest 10,000, 40,000 and 100,000 deep (the library keeps 200
// levels; the rest are flattened): the parse, and the import into a store, should cost in
// proportion to the file. "items" puts a bookmark after every subfolder as well, which is where
// each level's list goes on after its subfolder has ended.
#include "Synchronize/HTMLImport.h"

#include "Model/Folder.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

using namespace kesto;

std::string nested(int depth, bool itemAfterEachFolder) {
  std::string out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int i = 0; i < depth; ++i) out += "<DT><H3>F</H3>\n<DL><p>\n";
  out += "<DT><A HREF=\"https://deep.example/\">deep</A>\n";
  for (int i = 0; i < depth; ++i) {
    out += "</DL><p>\n";
    if (itemAfterEachFolder) out += "<DT><A HREF=\"https://after.example/\">after</A>\n";
  }
  return out + "</DL>\n";
}

void BM_HTMLParseNested(benchmark::State& state) {
  const std::string bytes = nested(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    auto parsed = HTMLImport::parseDocument(bytes, "ROOT", false, {});
    benchmark::DoNotOptimize(parsed->bookmarks.size());
  }
  state.SetComplexityN(static_cast<std::int64_t>(bytes.size()));
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
  state.counters["ns_per_byte"] =
      benchmark::Counter(static_cast<double>(bytes.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                                benchmark::Counter::kInvert);
}
BENCHMARK(BM_HTMLParseNested)
    ->ArgsProduct({{10000, 40000, 100000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The whole import of the deepest file into an empty store: read, flattened and stored.
void BM_HTMLImportNested100k(benchmark::State& state) {
  const std::string home = fnd::FileManager::createTemporaryDirectory("kesto-bench-nested");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  const std::string file = home + "/nested.html";
  fnd::FileManager::writeFile(file, nested(100000, state.range(0) != 0));
  std::size_t imported = 0;
  for (auto _ : state) {
    HTMLImport::ReceivingFolder root;
    root.folderID = WrenEntity::uniqueID();
    root.name = "nested.html";
    root.parentFolderID = Folder::kImportedID;
    auto context = WrenDataManager::sharedInstance().newManagedObjectContext();
    auto report = HTMLImport::importFile(file, root, false, context);
    imported = report.bookmarks;
  }
  state.counters["bookmarks"] = static_cast<double>(imported);
  WrenDataManager::sharedInstance().reset();
  fnd::FileManager::removeItem(home);
}
BENCHMARK(BM_HTMLImportNested100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
