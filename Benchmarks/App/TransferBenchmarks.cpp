// File > Import and File > Export as the program runs them, over a library held by a data
// manager: the import of a browser's file of 50,000 bookmarks into an empty library, from its
// start to its completion handler, which runs once the stored rows are in the main context and
// the library in memory (what the user waits for before the import is told complete), each run
// from a store of its own; and the export of the 50,000-bookmark library, the part on the main
// thread and the whole until the delegate is told the file is written.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/UI/ApplicationMain.h"
#include "Synchronize/HTMLExport.h"
#include "Synchronize/HTMLImport.h"

#include "GeneratedLibrary.h"
#include "GeneratedNetscapeFile.h"
#include "MainThreadGaps.h"

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

struct Told : HTMLExportDelegate {
  void exportSucces(const std::string&) override { done = ok = true; }
  void exportFailed(const std::string&) override { done = true; }
  bool done = false, ok = false;
};

// The library of the other benchmarks, held by a data manager whose index has been read (a first
// export, not timed, reads it): the whole export, until the delegate is told on the main thread
// (the time), and the longest the main thread went meanwhile without running a 1 ms heartbeat
// (`main_thread_gap_ms_*`).
void BM_HTMLExportInBackground50k(benchmark::State& state) {
  DataManager dm;
  bench::loadLibrary(dm, bench::registeredPreferences());
  const std::string path = std::string(std::getenv("HOME")) + "/export-in-background.html";
  using Clock = std::chrono::steady_clock;
  auto once = [&](double* gap) {
    Told told;
    HTMLExport exporter;
    exporter.setDelegate(&told);
    exporter.setDataManager(&dm);
    bench::MainThreadGaps gaps;
    exporter.exportAllTofileInBackground(path);
    ui::runEventLoopUntil([&] { return told.done; }, 60);
    const double longest = gaps.stop();
    if (gap) *gap = longest;
    return told.ok;
  };
  once(nullptr);
  std::vector<double> gaps, whole;
  for (auto _ : state) {
    double gap = 0;
    const auto start = Clock::now();
    if (!once(&gap)) return state.SkipWithError("the file was not written");
    whole.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    state.SetIterationTime(whole.back() / 1000);
    gaps.push_back(gap);
  }
  state.counters["file_MB"] = static_cast<double>(fnd::FileManager::sizeOfItem(path)) / 1e6;
  addSpread(state, gaps, "main_thread_gap_ms_");
  addSpread(state, whole, "ms_");
  fnd::FileManager::removeItem(path);
}
BENCHMARK(BM_HTMLExportInBackground50k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
