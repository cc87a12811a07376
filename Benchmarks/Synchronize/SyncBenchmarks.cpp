// The sync file of a 50,000-bookmark library: writing it and zipping it, and merging it into an
// identical library (the steady state of every run), on a child context as a sync does.
#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncMerge.h"
#include "Synchronize/SyncPayload.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace kesto;

constexpr int kSyncBookmarks = 50000;

// A library of its own in a separate store folder; the other benchmarks' store is restored after.
struct SyncLibrary {
  std::string folder, xml, oldDataHome;
  explicit SyncLibrary(bool populate = true) {
    folder = fnd::FileManager::createTemporaryDirectory("kesto-syncbench");
    // Never touch a real library: the store lives in the temporary folder.
    if (const char* old = std::getenv("XDG_DATA_HOME")) oldDataHome = old;
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    auto& dm = WrenDataManager::sharedInstance();
    dm.reset();
    dm.setCoreDataFolder("kesto-syncbench");
    auto main = dm.managedObjectContext();
    if (!populate) return;
    std::vector<Folder::Ref> folders;
    for (int i = 0; i < 500; ++i) {
      auto f = Folder::folderWithFolderID("F" + std::to_string(i), main);
      f->setName("Folder " + std::to_string(i));
      f->setParentFolderID(i < 125 ? "root" : "F" + std::to_string(i % 125));
      f->setVersion(1);
      folders.push_back(f);
    }
    std::vector<Tag::Ref> tags;
    for (int i = 0; i < 300; ++i) {
      auto t = Tag::initEntityInContext(main);
      t->setName("tag" + std::to_string(i));
      tags.push_back(t);
    }
    for (int n = 0; n < kSyncBookmarks; ++n) {
      auto b = Bookmark::newBookmark(main);
      b->setUniqueID("B" + std::to_string(n));
      b->setUrl("https://site" + std::to_string(n % 4999) + ".example.org/articles/" + std::to_string(n));
      b->setTitle("Article number " + std::to_string(n) + " about things & stuff; more");
      b->setFolder(folders[static_cast<std::size_t>(n % 500)]);
      b->setVersion(1 + n % 7);
      b->setUpdatedDate(b->addedDate());
      b->setTrashed(0);
      if (n % 10 == 0) b->setNotes("A note about article " + std::to_string(n));
      if (n % 5 == 0) b->addTag(tags[static_cast<std::size_t>(n % 300)]);
    }
    main->save();
    xml = SyncFile::writeSyncFile(main, "kesto-BENCH", {});
  }
  ~SyncLibrary() {
    auto& dm = WrenDataManager::sharedInstance();
    dm.reset();
    dm.setCoreDataFolder("kesto");
    if (oldDataHome.empty())
      unsetenv("XDG_DATA_HOME");
    else
      setenv("XDG_DATA_HOME", oldDataHome.c_str(), 1);
    fnd::FileManager::removeItem(folder);
  }
};

void BM_SyncWriteAndZip50k(benchmark::State& state) {
  SyncLibrary library;
  const std::string zip = library.folder + "/sync_data.zip";
  std::size_t bytes = 0;
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  for (auto _ : state) {
    // A fresh context over a connection of its own, reading every row (a run whose remote file
    // was this library's own).
    auto child = store::Context::make(store::ConcurrencyType::PrivateQueue);
    child->setCoordinator(coordinator->openSecondConnection());
    std::string xml;
    child->performAndWait([&] { xml = SyncFile::writeSyncFile(child, "kesto-BENCH", {}); });
    bytes = xml.size();
    benchmark::DoNotOptimize(SyncPayload::pack(xml, zip));
  }
  state.counters["xml_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["zip_MB"] = static_cast<double>(fnd::FileManager::sizeOfItem(zip)) / 1e6;
}
BENCHMARK(BM_SyncWriteAndZip50k)->Unit(benchmark::kMillisecond)->Iterations(3);

// As a sync merges: on a private context over a store connection of its own, the library
// loaded while the file is read, then the merge and the outgoing file from the same context.
void BM_SyncMerge50kIntoIdenticalLibrary(benchmark::State& state) {
  SyncLibrary library;
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); };
  for (auto _ : state) {
    auto context = store::Context::make(store::ConcurrencyType::PrivateQueue);
    context->setCoordinator(coordinator->openSecondConnection());
    context->setMergePolicy(store::MergePolicy::PropertyObjectTrump);
    SyncMerge::Options options;
    SyncMerge::Result result;
    context->performAndWait([&] {
      auto t0 = Clock::now();
      std::optional<SyncDocument> doc;
      std::thread reader([&] { doc = SyncFile::read(library.xml, true); });
      SyncMerge::preload(context);
      const double preload = seconds(t0);
      reader.join();
      state.counters["read_s"] = seconds(t0);
      state.counters["preload_s"] = preload;
      auto t1 = Clock::now();
      result = SyncMerge::processImport(*doc, context, options);
      state.counters["merge_s"] = seconds(t1);
      auto t2 = Clock::now();
      benchmark::DoNotOptimize(SyncFile::writeSyncFile(context, "kesto-BENCH", {}));
      state.counters["write_s"] = seconds(t2);
    });
    state.counters["updated"] = result.bookmarksUpdated;
  }
}
BENCHMARK(BM_SyncMerge50kIntoIdenticalLibrary)->Unit(benchmark::kMillisecond)->Iterations(3);

// A peer's file of new folders merged into a library that has none of them: flat under the top
// level (arg 1 = 0) or one chain (arg 1 = 1), whose last link closes a cycle to its first folder.
// With arg 1 = 2 the library already holds as many other folders, which the file deletes.
void BM_SyncMergeFolders(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool chain = state.range(1) == 1;
  const bool deletes = state.range(1) == 2;
  SyncDocument doc, existing;
  if (deletes) {
    for (int i = 0; i < count; ++i) {
      FolderDummy f;
      f.folderID = "OLD" + std::to_string(i);
      f.parentFolderID = i % 10 == 0 ? std::string("root") : "OLD" + std::to_string(i - i % 10);
      f.name = "Old " + std::to_string(i);
      f.version = 1;
      existing.folders.push_back(std::move(f));
      doc.deletions.push_back({"OLD" + std::to_string(i), 2, "f"});
    }
  }
  for (int i = 0; i < count; ++i) {
    FolderDummy f;
    f.folderID = "S" + std::to_string(i);
    f.parentFolderID = !chain ? std::string("root") : "S" + std::to_string((i + 1) % count);
    f.name = "Folder " + std::to_string(i);
    f.orderIndex = i;
    f.version = 1;
    f.isExpanded = 0;
    doc.folders.push_back(std::move(f));
  }
  for (auto _ : state) {
    state.PauseTiming();
    SyncLibrary library(false);
    SyncMerge::Options options;
    SyncMerge::Result result;
    if (deletes) {
      auto first = WrenDataManager::sharedInstance().secondaryObjectContext();
      first->performAndWait([&] { SyncMerge::processImport(existing, first, options); });
      WrenDataManager::sharedInstance().managedObjectContext()->save();
    }
    auto child = WrenDataManager::sharedInstance().secondaryObjectContext();
    state.ResumeTiming();
    child->performAndWait([&] { result = SyncMerge::processImport(doc, child, options); });
    state.PauseTiming();
    state.counters["cycles"] = result.cyclesBroken;
    state.counters["deleted"] = result.foldersDeleted;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SyncMergeFolders)
    ->Args({2000, 0})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({10000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
