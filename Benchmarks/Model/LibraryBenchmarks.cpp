// Library core on a generated library: 50,000 bookmarks, 2,000 folders four deep, 5,000 tags,
// 5% of the URLs duplicated.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Predicate.h"

#include <benchmark/benchmark.h>

#include "GeneratedLibrary.h"
#include "TemporaryHome.h"

#include <cstdlib>
#include <string>

namespace {

using namespace kesto;

constexpr int kBookmarks = 50000, kFolders = 2000, kTags = 5000;

struct Library {
  bench::TemporaryHome home{"kesto-bench"};  // first made, last gone
  DataManager dm;
  Folder::Ref deepFolder;
  std::vector<std::string> tagNames;

  Library() {
    auto prefs = bench::registeredPreferences();
    // Four levels: 500 top-level folders, each with a chain of three below it.
    bench::LibraryShape shape{.folders = kFolders, .tags = kTags, .bookmarks = kBookmarks};
    shape.folder = [](Folder& f, int i) { f.setOrderIndex(i); };
    shape.bookmark = [](Bookmark& b, int i) {
      int urlIndex = i % 20 == 0 ? i - 1 : i;  // every 20th shares its URL with the one before
      b.setUrl("http://site" + std::to_string(urlIndex % 997) + ".example/page/" + std::to_string(urlIndex));
      b.setTitle((i % 10 == 0 ? "Wiki " : "Page ") + std::to_string(i));
      b.setTimesOpened(i % 7);
      b.setAddedDate(fnd::Date(600000000.0 + i));
    };
    auto made = bench::generateLibrary(shape);
    deepFolder = made.folders[0];
    for (const auto& t : made.tags) tagNames.push_back(t->name());
    bench::loadLibrary(dm, prefs);
  }
  // The shared store closes before its folder is removed.
  ~Library() { WrenDataManager::sharedInstance().reset(); }
};

Library& library() {
  static Library lib;
  return lib;
}

// The store reads of a whole-library load, cold: identifiers on a private queue, then every
// bookmark and folder in a fresh context (the load's main-queue step needs the event loop, which
// a benchmark process does not run).
void BM_WholeLibraryLoadReads(benchmark::State& state) {
  library();
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  for (auto _ : state) {
    auto ids = store::Context::make(store::ConcurrencyType::PrivateQueue);
    ids->setCoordinator(coordinator);
    std::size_t found = 0;
    ids->performAndWait([&] {
      for (const char* entity : {"Bookmark", "Folder"}) {
        store::FetchRequest request(entity);
        request.resultType = store::FetchRequest::ResultType::ObjectIDs;
        request.includesPropertyValues = false;
        found += ids->fetchObjectIDs(request).value_or(std::vector<store::ObjectIDRef>{}).size();
      }
    });
    auto main = store::Context::make(store::ConcurrencyType::Confinement);
    main->setCoordinator(coordinator);
    store::FetchRequest bookmarks("Bookmark");
    bookmarks.sortDescriptors = {store::SortDescriptor("addedDate", false)};
    found += main->fetch(bookmarks)->size();
    store::FetchRequest folders("Folder");
    folders.sortDescriptors = {store::SortDescriptor("name", true)};
    found += main->fetch(folders)->size();
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_WholeLibraryLoadReads)->Unit(benchmark::kMillisecond);

// A list of the source lists loaded as its row loads it.
void loadSourceList(benchmark::State& state, void (DataManager::*load)()) {
  auto& dm = library().dm;
  for (auto _ : state) {
    dm.prepareNonFolderViews();
    (dm.*load)();
    benchmark::DoNotOptimize(dm.bookmarks().size());
  }
}

void BM_LibraryList(benchmark::State& state) { loadSourceList(state, &DataManager::loadAllBookmarksInLibrary); }
BENCHMARK(BM_LibraryList)->Unit(benchmark::kMillisecond);

void BM_FolderWithSubfolders(benchmark::State& state) {
  auto& lib = library();
  auto prefs = std::make_shared<PreferenceValues>();
  prefs->subFolders = true;
  lib.dm.setPreferences(prefs);
  for (auto _ : state) {
    lib.dm.prepareFolderView();
    lib.dm.setCurrentFolder(lib.deepFolder);
    lib.dm.loadBookmarks();
    benchmark::DoNotOptimize(lib.dm.bookmarks().size());
  }
  lib.dm.setPreferences(std::make_shared<PreferenceValues>());
}
BENCHMARK(BM_FolderWithSubfolders)->Unit(benchmark::kMillisecond);

void BM_TwoTagView(benchmark::State& state) {
  auto& lib = library();
  for (auto _ : state) {
    lib.dm.prepareForTagView();
    lib.dm.currentlySelectedTags() = {lib.tagNames[3], lib.tagNames[10]};
    lib.dm.loadBookmarks();
    benchmark::DoNotOptimize(lib.dm.bookmarks().size());
  }
  lib.dm.prepareNonFolderViews();
}
BENCHMARK(BM_TwoTagView)->Unit(benchmark::kMillisecond);

void BM_Top25(benchmark::State& state) { loadSourceList(state, &DataManager::loadTop25Bookmarks); }
BENCHMARK(BM_Top25)->Unit(benchmark::kMillisecond);

void BM_AllFolderBadges(benchmark::State& state) {
  auto& dm = library().dm;
  for (auto _ : state) {
    dm.addFolders({});  // a refresh of the tree recomputes every badge
    dm.removeBookmarks({});
    std::int64_t sum = 0;
    for (const auto& f : dm.allFolders()) sum += dm.numberOfBookmarksInFolder(f->folderID());
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_AllFolderBadges)->Unit(benchmark::kMillisecond);

void BM_LibrarySearch(benchmark::State& state) {
  auto& dm = library().dm;
  auto p = store::Predicate::parse("title contains[cd] %@", {"wiki"});
  for (auto _ : state) {
    dm.applySearchPredicate(p);
    benchmark::DoNotOptimize(dm.bookmarks().size());
  }
}
BENCHMARK(BM_LibrarySearch)->Unit(benchmark::kMillisecond);

void BM_Duplicates(benchmark::State& state) {
  auto& dm = library().dm;
  for (auto _ : state) benchmark::DoNotOptimize(dm.duplicates().size());
}
BENCHMARK(BM_Duplicates)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
