// Bookmark files whose folders nest 10,000, 40,000 and 100,000 deep (the library keeps 200
// levels; the rest are flattened): the parse, and the import into a store, should cost in
// proportion to the file. "items" puts a bookmark after every subfolder as well, which is where
// each level's list goes on after its subfolder has ended.
#include "Synchronize/HTMLImport.h"
#include "Synchronize/HTMLImportReader.h"

#include "Model/Folder.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

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

// ---- Files nested 1, 4 and 8 MiB deep ------------------------------------------------------
// A hostile file can open elements without end: nested lists (UL LI), divisions (DIV, around the
// items of a list) and folders (DT H3 DL). Each shape holds a bookmark every 64 levels and one at
// the bottom. What a reading costs is taken in a child process of its own per run, so runs do not
// share a high-water mark: its peak resident size (`peak_MB`, the child's whole process; `rise_MB`,
// above what it held when it started) and its time, reported as min, median and max of five runs.
namespace {

enum class Shape { Lists, Divisions, Folders };

std::string deeplyNested(Shape shape, std::size_t bytes) {
  std::string out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n";
  if (shape != Shape::Lists) out += "<DL><p>\n";
  const auto link = [](std::size_t n) {
    return "<A HREF=\"https://e.example/" + std::to_string(n) + "\">" + std::to_string(n) + "</A>\n";
  };
  for (std::size_t level = 0; out.size() < bytes; ++level) {
    const bool withLink = level % 64 == 0;
    switch (shape) {
      case Shape::Lists: out += withLink ? "<UL><LI>" + link(level) : std::string("<UL><LI>"); break;
      case Shape::Divisions: out += withLink ? "<DIV><DT>" + link(level) : std::string("<DIV>"); break;
      case Shape::Folders:
        out += "<DT><H3>F</H3>\n<DL><p>\n";
        if (withLink) out += "<DT>" + link(level);
        break;
    }
  }
  out += shape == Shape::Lists ? "<UL><LI>" : "<DT>";
  return out + link(0);
}

// The generated files, written once per run of the program into its home (which goes with it).
const std::string& deepFilePath(Shape shape, int mebibytes) {
  static std::map<std::pair<int, int>, std::string> paths;
  auto& path = paths[{static_cast<int>(shape), mebibytes}];
  if (path.empty()) {
    path = std::string(std::getenv("HOME")) + "/deep-" + std::to_string(static_cast<int>(shape)) + "-" +
           std::to_string(mebibytes) + ".html";
    fnd::FileManager::writeFile(path, deeplyNested(shape, static_cast<std::size_t>(mebibytes) << 20));
  }
  return path;
}

long statusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

struct ChildRun {
  double seconds = 0;
  long startKiB = 0, peakKiB = 0;
  double bookmarks = 0, unread = 0, flattened = 0;
  bool ok = false;
};

// Runs `work` (which answers bookmarks, unread, flattened) in a forked child and measures it there.
template <typename Work>
ChildRun inChild(Work&& work) {
  int fds[2];
  ChildRun run;
  if (pipe(fds) != 0) return run;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    // The high-water mark starts from what the child holds now, not what the parent ever held.
    bool reset = false;
    {
      std::ofstream clear("/proc/self/clear_refs");
      clear << "5";
      reset = static_cast<bool>(clear.flush());
    }
    ChildRun r;
    r.startKiB = statusKiB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    const auto [bookmarks, unread, flattened] = work();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = reset ? statusKiB("VmHWM") : -1;
    r.bookmarks = bookmarks, r.unread = unread, r.flattened = flattened;
    r.ok = true;
    const ssize_t written = write(fds[1], &r, sizeof r);
    _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return run;
  }
  const ssize_t got = read(fds[0], &run, sizeof run);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (got != static_cast<ssize_t>(sizeof run) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return ChildRun{};
  if (run.peakKiB < 0) run.peakKiB = usage.ru_maxrss;  // no reset: the child's mark since the fork
  return run;
}

void report(benchmark::State& state, const ChildRun& run, const std::string& path) {
  if (!run.ok) {
    state.SkipWithError("the child process failed");
    return;
  }
  state.SetIterationTime(run.seconds);
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  state.counters["peak_MB"] = static_cast<double>(run.peakKiB) / 1024;
  state.counters["rise_MB"] = static_cast<double>(run.peakKiB - run.startKiB) / 1024;
  state.counters["bookmarks"] = run.bookmarks;
  state.counters["unread"] = run.unread;
  state.counters["flattened"] = run.flattened;
}

// The reading alone, from the file as the import reads it.
void BM_HTMLReadDeeplyNested(benchmark::State& state) {
  const std::string& path = deepFilePath(static_cast<Shape>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    const ChildRun run = inChild([&] {
      std::ifstream in(path, std::ios::binary);
      auto records = HTMLImportReader::read(
          [&](char* buffer, std::size_t size) {
            in.read(buffer, static_cast<std::streamsize>(size));
            return static_cast<std::size_t>(in.gcount());
          },
          {});
      return std::tuple<double, double, double>(records ? static_cast<double>(records->bookmarks.size()) : -1,
                                                records ? static_cast<double>(records->unread) : -1,
                                                records ? static_cast<double>(records->flattenedFolders) : -1);
    });
    report(state, run, path);
  }
}

// The whole import of the 8 MiB files into an empty store, as File > Import stores them.
void BM_HTMLImportDeeplyNested(benchmark::State& state) {
  const std::string& path = deepFilePath(static_cast<Shape>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    const ChildRun run = inChild([&] {
      const std::string home = fnd::FileManager::createTemporaryDirectory("kesto-bench-deep-home");
      setenv("HOME", home.c_str(), 1);
      setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
      HTMLImport::ReceivingFolder root;
      root.folderID = WrenEntity::uniqueID();
      root.name = "deep.html";
      root.parentFolderID = Folder::kImportedID;
      auto report = HTMLImport::importFile(path, root, false, WrenDataManager::sharedInstance().newManagedObjectContext());
      fnd::FileManager::removeItem(home);
      return std::tuple<double, double, double>(report.outcome == HTMLImport::Outcome::Imported
                                                    ? static_cast<double>(report.bookmarks)
                                                    : -1,
                                                static_cast<double>(report.unread),
                                                static_cast<double>(report.flattenedFolders));
    });
    report(state, run, path);
  }
}

void fiveRunsWithMinMedianMax(benchmark::internal::Benchmark* b) {
  b->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1)
      ->Repetitions(5)
      ->DisplayAggregatesOnly(true)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

BENCHMARK(BM_HTMLReadDeeplyNested)->ArgsProduct({{0, 1, 2}, {1, 4, 8}})->Apply(fiveRunsWithMinMedianMax);
BENCHMARK(BM_HTMLImportDeeplyNested)->ArgsProduct({{0, 1, 2}, {8}})->Apply(fiveRunsWithMinMedianMax);

}  // namespace
