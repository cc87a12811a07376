// File > Import of a browser's file of 50,000 bookmarks as the program runs it, into an empty
// library held by a data manager: from the start of the import to its completion handler, which
// runs once the stored rows are in the main context and the library in memory (what the user
// waits for before the import is told complete). Each run starts from a store of its own.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/UI/ApplicationMain.h"
#include "Synchronize/HTMLImport.h"

#include "GeneratedLibrary.h"
#include "GeneratedNetscapeFile.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kesto;

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void addSpread(benchmark::State& state, std::vector<double> v, const std::string& prefix) {
  if (v.empty()) return;
  std::sort(v.begin(), v.end());
  state.counters[prefix + "min"] = v.front();
  state.counters[prefix + "median"] = v[v.size() / 2];
  state.counters[prefix + "max"] = v.back();
}

// The store of the other benchmarks stays where it is: each run opens a store of its own in a
// data folder of its own, which goes afterwards.
class OwnStore {
 public:
  explicit OwnStore(const std::string& folder) : kept_(std::getenv("XDG_DATA_HOME")), folder_(folder) {
    WrenDataManager::sharedInstance().reset();
    setenv("XDG_DATA_HOME", folder_.c_str(), 1);
    WrenDataManager::sharedInstance().managedObjectContext();
  }
  ~OwnStore() {
    WrenDataManager::sharedInstance().reset();
    setenv("XDG_DATA_HOME", kept_.c_str(), 1);
    fnd::FileManager::removeItem(folder_);
  }
  OwnStore(const OwnStore&) = delete;
  OwnStore& operator=(const OwnStore&) = delete;

 private:
  std::string kept_, folder_;
};

void BM_HTMLImport50kToCompletion(benchmark::State& state) {
  const std::string work = std::string(std::getenv("HOME")) + "/import-to-completion";
  fnd::FileManager::createDirectory(work, true);
  const std::string file = work + "/bookmarks.html";
  fnd::FileManager::writeFile(file, bench::generatedNetscapeFile(50000));
  std::vector<double> wall, cpu;
  std::size_t held = 0;
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    OwnStore store(work + "/data-" + std::to_string(run++));
    DataManager dm;
    bench::loadLibrary(dm, bench::registeredPreferences());
    HTMLImport import;
    import.setDataManager(&dm);
    bool done = false, imported = false;
    import.setCompletionHandler([&](bool ok) { done = true, imported = ok; });
    state.ResumeTiming();
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    import.importFromFile(file);
    ui::runEventLoopUntil([&] { return done; }, 300);
    wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpu.push_back(cpuSeconds() - cpuBefore);
    state.PauseTiming();
    if (!imported) state.SkipWithError("the import did not complete");
    held = dm.allBookmarks().size();
    state.ResumeTiming();
  }
  state.counters["bookmarks_held"] = static_cast<double>(held);
  addSpread(state, wall, "s_");
  addSpread(state, cpu, "cpu_s_");
  fnd::FileManager::removeItem(work);
}
BENCHMARK(BM_HTMLImport50kToCompletion)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
