// The library at the size users reach: 50,000 bookmarks (3 tags and a 20 KB thumbnail each) in
// 2,000 folders. The store is generated once per run in a temporary folder.

#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"

#include <benchmark/benchmark.h>

#include "Programs.h"
#include "Relationships.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace kesto;
using namespace kesto::store;

namespace {

constexpr int kBookmarks = 50000;
constexpr int kFolders = 2000;
constexpr int kTags = 5000;

using kesto::test::relationship;

std::shared_ptr<const Model> libraryModel() {
  static std::shared_ptr<const Model> model = [] {
    auto m = std::make_shared<Model>();
    auto attr = [](EntityDescription& e, const char* name, AttributeType t, fnd::Value def = {}, bool indexed = false) {
      AttributeDescription a;
      a.name = name;
      a.type = t;
      a.defaultValue = std::move(def);
      a.indexed = indexed;
      e.addAttribute(std::move(a));
    };
    auto& b = m->addEntity("Bookmark");
    attr(b, "uniqueID", AttributeType::String, {}, true);
    attr(b, "url", AttributeType::String, {}, true);
    attr(b, "baseURL", AttributeType::String);
    attr(b, "title", AttributeType::String);
    attr(b, "notes", AttributeType::String);
    attr(b, "content", AttributeType::String);
    attr(b, "addedDate", AttributeType::Date, {}, true);
    attr(b, "updatedDate", AttributeType::Date, {}, true);
    attr(b, "lastOpened", AttributeType::Date, {}, true);
    attr(b, "timesOpened", AttributeType::Integer32, 0);
    attr(b, "rating", AttributeType::Double);
    attr(b, "color", AttributeType::String);
    for (const char* flag : {"isFavorite", "trashed", "blocked", "broken", "needsUpdate", "imageUpdated", "showImported"})
      attr(b, flag, AttributeType::Integer16, 0, std::string(flag) == "trashed" || std::string(flag) == "blocked");
    attr(b, "version", AttributeType::Integer32, 0);
    attr(b, "thumbnail", AttributeType::Binary);
    attr(b, "favicon", AttributeType::Binary);
    b.addRelationship(relationship("folder", "Folder", "bookmarks", false));
    b.addRelationship(relationship("tags", "Tag", "bookmarks", true));
    auto& f = m->addEntity("Folder");
    attr(f, "folderID", AttributeType::String, {}, true);
    attr(f, "parentFolderID", AttributeType::String, {}, true);
    attr(f, "name", AttributeType::String);
    attr(f, "blocked", AttributeType::Integer16, 0);
    f.addRelationship(relationship("bookmarks", "Bookmark", "folder", true));
    auto& t = m->addEntity("Tag");
    attr(t, "name", AttributeType::String, {}, true);
    t.addRelationship(relationship("bookmarks", "Bookmark", "tags", true));
    m->finish();
    return m;
  }();
  return model;
}

const char* kWords[] = {"wiki", "news", "recipe", "crème", "Linux", "travel", "music", "code", "garden", "finance"};

const std::string& libraryPath() {
  static std::string path = [] {
    // KESTO_STORE_BENCH_DIR keeps the generated library between runs.
    const char* keep = std::getenv("KESTO_STORE_BENCH_DIR");
    std::string dir = keep && *keep ? std::string(keep)
                                    : (std::filesystem::temp_directory_path() / ("kesto-store-bench-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    std::string p = dir + "/data.sqlite";
    if (keep && *keep && std::filesystem::exists(p)) return p;
    auto c = Coordinator::make(libraryModel());
    if (!c->addStore(kSQLiteStoreType, p)) std::abort();
    auto ctx = Context::make(ConcurrencyType::Confinement);
    ctx->setCoordinator(c);
    std::mt19937 rng(7);
    std::vector<ManagedObjectRef> folders, tags;
    for (int i = 0; i < kFolders; ++i) {
      auto f = ctx->insertNewObject("Folder");
      f->setValueForKey("folderID", "F" + std::to_string(i));
      f->setValueForKey("parentFolderID", i < 20 ? std::string("root") : "F" + std::to_string(i / 20));
      f->setValueForKey("name", std::string(kWords[i % 10]) + " " + std::to_string(i));
      folders.push_back(f);
    }
    for (int i = 0; i < kTags; ++i) {
      auto t = ctx->insertNewObject("Tag");
      t->setValueForKey("name", std::string(kWords[i % 10]) + std::to_string(i));
      tags.push_back(t);
    }
    if (!ctx->save()) std::abort();
    fnd::Data thumb(20 * 1024);
    for (auto& b : thumb) b = static_cast<std::uint8_t>(rng());
    fnd::Value thumbnail(thumb);  // shared: the store still writes 20 KB per row
    for (int i = 0; i < kBookmarks; ++i) {
      auto b = ctx->insertNewObject("Bookmark");
      std::string w = kWords[rng() % 10];
      b->setValueForKey("uniqueID", "B" + std::to_string(i));
      b->setValueForKey("url", "https://" + w + ".example.org/page/" + std::to_string(i));
      b->setValueForKey("baseURL", "https://" + w + ".example.org");
      b->setValueForKey("title", "A page about " + w + " number " + std::to_string(i));
      if (rng() % 3 == 0) b->setValueForKey("notes", "Notes on " + std::string(kWords[rng() % 10]));
      b->setValueForKey("content", " ");
      b->setValueForKey("addedDate", fnd::Date(600000000.0 + i * 60.0));
      b->setValueForKey("updatedDate", fnd::Date(600000000.0 + i * 61.0));
      b->setValueForKey("trashed", rng() % 20 == 0 ? 1 : 0);
      b->setValueForKey("blocked", rng() % 25 == 0 ? 1 : 0);
      b->setValueForKey("rating", static_cast<double>(rng() % 6));
      b->setValueForKey("thumbnail", thumbnail);
      b->setToOne("folder", folders[rng() % kFolders]);
      for (int k = 0; k < 3; ++k) b->addToMany("tags", tags[rng() % kTags]);
      if (i % 5000 == 4999) {
        if (!ctx->save()) std::abort();
        ctx->reset();  // keep the generator's memory flat
        folders.clear();
        tags.clear();
        auto fs = ctx->fetch(FetchRequest("Folder"));
        auto ts = ctx->fetch(FetchRequest("Tag"));
        folders = *fs;
        tags = *ts;
      }
    }
    return p;
  }();
  return path;
}

long peakRSSkB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// The peak memory of a fresh process that opens the library and fetches every bookmark: this
// executable run again with --peak-of-open-and-fetch.
long peakOfOpenAndFetchKB() {
  const auto run = kesto::test::runProgram(
      {std::filesystem::read_symlink("/proc/self/exe").string(), "--peak-of-open-and-fetch", libraryPath()}, false);
  long kb = -1;
  if (run.status != 0 || std::sscanf(run.output.c_str(), "%ld", &kb) != 1) kb = -1;
  return kb;
}

std::shared_ptr<Coordinator> open() {
  auto c = Coordinator::make(libraryModel());
  if (!c->addStore(kSQLiteStoreType, libraryPath(), {{kMigratePersistentStoresAutomaticallyOption, true}})) std::abort();
  return c;
}

ContextRef mainContext(std::shared_ptr<Coordinator> c) {
  auto ctx = Context::make(ConcurrencyType::Confinement);
  ctx->setCoordinator(std::move(c));
  ctx->setMergePolicy(MergePolicy::PropertyObjectTrump);
  return ctx;
}

void OpenAndFetchEveryBookmark(benchmark::State& state) {
  libraryPath();
  for (auto _ : state) {
    auto ctx = mainContext(open());
    auto all = ctx->fetch(FetchRequest("Bookmark"));
    if (!all || all->size() != kBookmarks) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(all);
    state.PauseTiming();  // tearing the library down is not part of opening it
    all.reset();
    ctx.reset();
    state.ResumeTiming();
  }
  state.counters["peakMB"] = static_cast<double>(peakOfOpenAndFetchKB()) / 1024.0;
}
BENCHMARK(OpenAndFetchEveryBookmark)->Unit(benchmark::kMillisecond)->Iterations(3);

void FetchLiveSortedByAddedDate(benchmark::State& state) {
  auto c = open();
  FetchRequest r("Bookmark");
  r.predicate = Predicate::parse("trashed < 1 and blocked < 1");
  r.sortDescriptors = {SortDescriptor("addedDate", false)};
  for (auto _ : state) {
    auto ctx = mainContext(c);
    auto live = ctx->fetch(r);
    benchmark::DoNotOptimize(live);
    state.counters["results"] = static_cast<double>(live->size());
  }
}
BENCHMARK(FetchLiveSortedByAddedDate)->Unit(benchmark::kMillisecond)->Iterations(3);

void FetchLiveSortedInLoadedContext(benchmark::State& state) {
  auto ctx = mainContext(open());
  ctx->fetch(FetchRequest("Bookmark"));
  FetchRequest r("Bookmark");
  r.predicate = Predicate::parse("trashed < 1 and blocked < 1");
  r.sortDescriptors = {SortDescriptor("addedDate", false)};
  for (auto _ : state) benchmark::DoNotOptimize(ctx->fetch(r));
}
BENCHMARK(FetchLiveSortedInLoadedContext)->Unit(benchmark::kMillisecond)->Iterations(5);

// Lists filter through relationships: tags and folders must come from memory after the first use.
void FilterByTagAndFolderInLoadedContext(benchmark::State& state) {
  auto ctx = mainContext(open());
  ctx->fetch(FetchRequest("Bookmark"));
  FetchRequest byTag("Bookmark");
  byTag.predicate = Predicate::parse("trashed < 1 and blocked < 1 and ANY tags.name == %@", {"wiki10"});
  FetchRequest byFolder("Bookmark");
  byFolder.predicate = Predicate::parse("trashed < 1 and blocked < 1 and folder.folderID IN %@",
                                        {fnd::Value(fnd::Array{"F1", "F20", "F21", "F400"})});
  for (auto _ : state) {
    benchmark::DoNotOptimize(ctx->fetch(byTag));
    benchmark::DoNotOptimize(ctx->fetch(byFolder));
  }
}
BENCHMARK(FilterByTagAndFolderInLoadedContext)->Unit(benchmark::kMillisecond)->Iterations(3);

void CountSearchOverTitleURLAndNotes(benchmark::State& state) {
  auto ctx = mainContext(open());
  FetchRequest r("Bookmark");
  r.predicate = Predicate::parse("title contains[cd] %@ OR url contains[cd] %@ OR notes contains[cd] %@",
                                 {"CREME", "CREME", "CREME"});
  for (auto _ : state) {
    auto n = ctx->count(r);
    state.counters["matches"] = static_cast<double>(n.value_or(-1));
  }
}
BENCHMARK(CountSearchOverTitleURLAndNotes)->Unit(benchmark::kMillisecond)->Iterations(5);

void ChildContextFetchThenMainRefetchByID(benchmark::State& state) {
  auto c = open();
  for (auto _ : state) {
    auto main = mainContext(c);
    auto child = Context::make(ConcurrencyType::PrivateQueue);
    child->setParent(main);
    fnd::Array ids;
    child->performAndWait([&] {
      auto objects = child->fetch(FetchRequest("Bookmark"));
      if (objects)
        for (auto& o : *objects) ids.emplace_back(fnd::ObjectRef(std::const_pointer_cast<ObjectID>(o->objectID())));
    });
    FetchRequest r("Bookmark");
    r.predicate = Predicate::parse("self IN %@", {fnd::Value(ids)});
    benchmark::DoNotOptimize(main->fetch(r));
  }
}
BENCHMARK(ChildContextFetchThenMainRefetchByID)->Unit(benchmark::kMillisecond)->Iterations(2);

// The library core's whole-library load: identifiers of every bookmark and folder on a private
// context straight on the store, then the objects, sorted, in a fresh main context.
void WholeLibraryLoad(benchmark::State& state) {
  auto c = open();
  for (auto _ : state) {
    auto ids = Context::make(ConcurrencyType::PrivateQueue);
    ids->setCoordinator(c);
    std::size_t found = 0;
    ids->performAndWait([&] {
      for (const char* entity : {"Bookmark", "Folder"}) {
        FetchRequest request(entity);
        request.resultType = FetchRequest::ResultType::ObjectIDs;
        request.includesPropertyValues = false;
        found += ids->fetchObjectIDs(request).value_or(std::vector<ObjectIDRef>{}).size();
      }
    });
    auto main = mainContext(c);
    FetchRequest bookmarks("Bookmark");
    bookmarks.sortDescriptors = {SortDescriptor("addedDate", false)};
    found += main->fetch(bookmarks)->size();
    FetchRequest folders("Folder");
    folders.sortDescriptors = {SortDescriptor("name", true)};
    found += main->fetch(folders)->size();
    if (found != 2 * (kBookmarks + kFolders)) state.SkipWithError("wrong count");
    state.PauseTiming();
    main.reset();
    ids.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(WholeLibraryLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

// Saving 50,000 new bookmarks with three tags each into a library of tags, in one save.
void SaveFiftyThousandTaggedBookmarks(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = (std::filesystem::temp_directory_path() / ("kesto-store-save-" + std::to_string(getpid()))).string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto c = Coordinator::make(libraryModel());
    if (!c->addStore(kSQLiteStoreType, dir + "/data.sqlite")) std::abort();
    auto ctx = mainContext(c);
    std::vector<ManagedObjectRef> tags;
    for (int i = 0; i < kTags; ++i) {
      auto t = ctx->insertNewObject("Tag");
      t->setValueForKey("name", "tag" + std::to_string(i));
      tags.push_back(t);
    }
    auto folder = ctx->insertNewObject("Folder");
    folder->setValueForKey("folderID", std::string("F"));
    if (!ctx->save()) std::abort();
    state.ResumeTiming();
    for (int i = 0; i < kBookmarks; ++i) {
      auto b = ctx->insertNewObject("Bookmark");
      b->setValueForKey("uniqueID", "B" + std::to_string(i));
      b->setValueForKey("url", "https://example.org/page/" + std::to_string(i));
      b->setValueForKey("title", "Page " + std::to_string(i));
      b->setValueForKey("addedDate", fnd::Date(600000000.0 + i));
      b->setToOne("folder", folder);
      for (int k = 0; k < 3; ++k) b->addToMany("tags", tags[(i * 3 + k * 1667) % kTags]);
    }
    if (!ctx->save()) state.SkipWithError("save failed");
    state.PauseTiming();
    ctx.reset();
    c.reset();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
}
BENCHMARK(SaveFiftyThousandTaggedBookmarks)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--peak-of-open-and-fetch") {
    auto c = Coordinator::make(libraryModel());
    if (!c->addStore(kSQLiteStoreType, argv[2])) return 1;
    auto all = mainContext(c)->fetch(FetchRequest("Bookmark"));
    std::printf("%ld\n", all && all->size() == kBookmarks ? peakRSSkB() : -1L);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const char* keep = std::getenv("KESTO_STORE_BENCH_DIR");
  if (!keep || !*keep) std::filesystem::remove_all(std::filesystem::path(libraryPath()).parent_path());
  return 0;
}
