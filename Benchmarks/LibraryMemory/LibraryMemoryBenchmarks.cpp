// The heap a loaded library holds, per bookmark: the library the application-path benchmarks
// start (1,248 folders, 0.74 tags per bookmark, the generated bookmarks), read from the store
// into a data manager as a start reads it, with every tag. The process's own heap is counted
// (malloc's in-use bytes), so what the rows, objects, indexes and lists hold is seen without
// the toolkit around them.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"

#include <benchmark/benchmark.h>

#include "App/GeneratedBookmark.h"
#include "GeneratedLibrary.h"
#include "TemporaryHome.h"

#include <malloc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace kesto;

constexpr int kTopFolders = 48, kSubfolders = 1200;

void makeLibrary(int bookmarks) {
  const int kTags = static_cast<int>(static_cast<long long>(bookmarks) * 37 / 50);
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  std::vector<Folder::Ref> folders;
  for (int i = 0; i < kTopFolders + kSubfolders; ++i) {
    auto f = Folder::initEntityInContext(ctx);
    f->setFolderID("F" + std::to_string(i));
    f->setName((i < kTopFolders ? "Folder " : "Subfolder ") + std::to_string(i));
    f->setParentFolderID(i < kTopFolders ? std::string(Folder::kRootID) : "F" + std::to_string(2 + i % (kTopFolders - 2)));
    folders.push_back(f);
  }
  std::vector<Tag::Ref> tags;
  for (int i = 0; i < kTags; ++i) {
    auto t = Tag::initEntityInContext(ctx);
    t->setName("tag" + std::to_string(i));
    tags.push_back(t);
  }
  for (int i = 0; i < bookmarks; ++i)
    bench::addGeneratedBookmark(ctx, i, folders[static_cast<std::size_t>(i % folders.size())],
                                tags[static_cast<std::size_t>(i % kTags)], tags[static_cast<std::size_t>((i * 7 + 3) % kTags)]);
  WrenEntity::saveContext(ctx);
  // Nothing of the making stays in memory.
  WrenDataManager::sharedInstance().reset();
}

double heapMB() {
  malloc_trim(0);
  return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

// Counters: the heap the loaded library holds (`library_MB`, per bookmark `bytes_per_bookmark`),
// and what reading every bookmark's tags adds to it (`with_tags_bytes_per_bookmark`).
void BM_LoadedLibraryHeap(benchmark::State& state) {
  const int bookmarks = static_cast<int>(state.range(0));
  bench::TemporaryHome home("kesto-bench-memory");
  makeLibrary(bookmarks);
  for (auto _ : state) {
    const double before = heapMB();
    {
      DataManager dm;
      bench::loadLibrary(dm, bench::registeredPreferences());
      auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
      auto tags = Tag::fetchEntities(ctx).value_or(Tag::List{});
      const double loaded = heapMB() - before;
      std::size_t tagged = 0;
      for (const auto& b : dm.allBookmarksInLibrary()) tagged += b->tags().size();
      benchmark::DoNotOptimize(tagged);
      const double withTags = heapMB() - before;
      state.counters["library_MB"] = loaded;
      state.counters["bytes_per_bookmark"] = loaded * 1024 * 1024 / bookmarks;
      state.counters["with_tags_bytes_per_bookmark"] = withTags * 1024 * 1024 / bookmarks;
    }
    WrenDataManager::sharedInstance().reset();
  }
  WrenDataManager::sharedInstance().reset();
}
BENCHMARK(BM_LoadedLibraryHeap)->Arg(5000)->Arg(50000)->Arg(200000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
