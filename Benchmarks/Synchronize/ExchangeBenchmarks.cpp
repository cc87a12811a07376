// Bookmark-file import and export and backups on a generated library: a Netscape file of 50,000
// bookmarks (about 10 MB: 500 folders three deep, 20% tagged, 10% with notes, browser-style
// dates and icons), imported into an empty library and again with duplicates skipped; the
// export of the imported library; a backup of a store padded to 500 MB.
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLExport.h"
#include "Synchronize/HTMLImport.h"
#include "Synchronize/HTMLImportReader.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"

#include "Model/WrenEntity.h"

#include "GeneratedNetscapeFile.h"

#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <sqlite3.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace kesto;

constexpr int kBookmarks = 50000;
constexpr int kTopFolders = 125;

struct Environment {
  std::string home, netscapeFile;
  Environment() {
    home = fnd::FileManager::createTemporaryDirectory("kesto-bench");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    netscapeFile = home + "/bookmarks.html";
    fnd::FileManager::writeFile(netscapeFile, bench::generatedNetscapeFile(kBookmarks, kTopFolders));
  }
  // The padded store and its backup take over a gigabyte; nothing stays behind.
  ~Environment() { fnd::FileManager::removeItem(home); }
};

Environment& environment() {
  static Environment e;
  return e;
}

// An empty store, opened again.
void emptyStore() {
  auto& stack = WrenDataManager::sharedInstance();
  const std::string path = stack.persistentStorePath();
  stack.reset();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fnd::FileManager::removeItem(path + suffix);
  stack.managedObjectContext();
}

// The import as the import thread runs it: one pass over the file, stored in one transaction
// under a receiving folder at the top level (so that the export below finds it).
std::size_t importOnce(bool skipDuplicates) {
  HTMLImport::ReceivingFolder root;
  root.folderID = WrenEntity::uniqueID();
  root.name = "bookmarks.html";
  root.parentFolderID = Folder::kRootID;
  auto context = WrenDataManager::sharedInstance().newManagedObjectContext();
  const auto report = HTMLImport::importFile(environment().netscapeFile, root, skipDuplicates, context);
  return report.outcome == HTMLImport::Outcome::Imported ? report.bookmarks : 0;
}

// A store holding just the generated library.
void freshLibrary() {
  environment();
  emptyStore();
  importOnce(false);
}

void reportPeakMemory(benchmark::State& state) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The process's peak resident size since the last reset, in MB (Linux); -1 when unknown.
double statusMB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1024.0;
  return -1;
}
double peakSinceResetMB() { return statusMB("VmHWM"); }
// Freed memory goes back to the system first, so what the import takes shows.
void resetPeak() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}

// The yardstick: libxml2 reading the same file into its own tree and freeing it, nothing else.
double bareParseSeconds(const std::string& bytes) {
  const auto start = std::chrono::steady_clock::now();
  htmlDocPtr doc = htmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  xmlFreeDoc(doc);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The import of the 50,000-bookmark file beside a bare parse of the same file, each timed in
// every iteration: import_ms, bare_parse_ms (medians) and the ratio of the medians, so one slow
// parse no longer moves the ratio. The import's peak memory is the process's high-water mark
// during each import (median) above what the process held before its first import: measured
// against the size just before each import it swung between two values, since an earlier
// import's memory is sometimes still held (and then reused) and sometimes given back.
void BM_HTMLImport50k(benchmark::State& state) {
  environment();
  const std::string bytes = *fnd::FileManager::readFile(environment().netscapeFile);
  std::size_t imported = 0;
  std::vector<double> importMs, parseMs, peaks;
  emptyStore();
  resetPeak();
  const double before = statusMB("VmRSS");
  // A warm-up, outside the figures.
  importOnce(false);
  bareParseSeconds(bytes);
  for (auto _ : state) {
    state.PauseTiming();
    emptyStore();
    resetPeak();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    imported = importOnce(false);
    importMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    state.PauseTiming();
    peaks.push_back(peakSinceResetMB() - before);
    parseMs.push_back(bareParseSeconds(bytes) * 1000);
    state.ResumeTiming();
  }
  const double importMedian = median(importMs), parseMedian = median(parseMs);
  state.counters["bookmarks"] = static_cast<double>(imported);
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
  state.counters["import_ms"] = importMedian;
  state.counters["bare_parse_ms"] = parseMedian;
  state.counters["ratio"] = parseMedian > 0 ? importMedian / parseMedian : 0;
  state.counters["import_peak_MB"] = median(peaks);
  state.counters["rss_before_MB"] = before;
}
BENCHMARK(BM_HTMLImport50k)->Unit(benchmark::kMillisecond)->Iterations(5);

// The parse alone (one pass, no store).
void BM_HTMLParse50k(benchmark::State& state) {
  auto bytes = fnd::FileManager::readFile(environment().netscapeFile);
  for (auto _ : state) {
    auto parsed = HTMLImport::parseDocument(*bytes, "ROOT", false, {});
    benchmark::DoNotOptimize(parsed->bookmarks.size());
  }
}
BENCHMARK(BM_HTMLParse50k)->Unit(benchmark::kMillisecond)->Iterations(2);

// The reading of a file of 200,000 bookmarks (about 40 MB) from disk as the import's thread reads
// it, without storing: declared UTF-8 (0), and the same file declared Windows-1252 (1), which is
// decoded on its way to the parser. min_ms, median_ms and max_ms over the iterations; peak_MB,
// how far the resident memory rose above what it was before a reading (median).
const std::string& file200k(bool windows1252) {
  static const std::vector<std::string> paths = [] {
    const std::string utf8 = bench::generatedNetscapeFile(200000, 500);
    std::string cp1252 = utf8;
    const std::string declared = "charset=UTF-8";
    cp1252.replace(cp1252.find(declared), declared.size(), "charset=windows-1252");
    const std::string home = environment().home;
    fnd::FileManager::writeFile(home + "/200k-utf8.html", utf8);
    fnd::FileManager::writeFile(home + "/200k-cp1252.html", cp1252);
    return std::vector<std::string>{home + "/200k-utf8.html", home + "/200k-cp1252.html"};
  }();
  return paths[windows1252 ? 1 : 0];
}

void BM_HTMLRead200k(benchmark::State& state) {
  const std::string& path = file200k(state.range(0) == 1);
  std::vector<double> ms, peaks;
  std::size_t bookmarks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    resetPeak();
    const double before = statusMB("VmRSS");
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    auto records = HTMLImportReader::read(
        [&](char* buffer, std::size_t size) { return file ? std::fread(buffer, 1, size, file) : 0; }, {});
    if (file) std::fclose(file);
    bookmarks = records ? records->bookmarks.size() : 0;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    state.PauseTiming();
    peaks.push_back(peakSinceResetMB() - before);
    records.reset();
    state.ResumeTiming();
  }
  state.counters["bookmarks"] = static_cast<double>(bookmarks);
  state.counters["min_ms"] = *std::min_element(ms.begin(), ms.end());
  state.counters["median_ms"] = median(ms);
  state.counters["max_ms"] = *std::max_element(ms.begin(), ms.end());
  state.counters["peak_MB"] = median(peaks);
}
BENCHMARK(BM_HTMLRead200k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(7);

void BM_HTMLImport50kAgainSkippingDuplicates(benchmark::State& state) {
  environment();
  std::size_t imported = 0;
  for (auto _ : state) {
    state.PauseTiming();
    freshLibrary();
    state.ResumeTiming();
    imported = importOnce(true);
  }
  state.counters["bookmarks"] = static_cast<double>(imported);
  reportPeakMemory(state);
}
BENCHMARK(BM_HTMLImport50kAgainSkippingDuplicates)->Unit(benchmark::kMillisecond)->Iterations(2);

// The export of the 50,000 imported bookmarks. The library is held in the main context first, as
// the running program holds it, so `export_peak_MB` (the median of each export's high-water mark
// above the size before it, with the least and the most) is what an export adds to the program.
void BM_HTMLExport50k(benchmark::State& state) {
  freshLibrary();
  const auto library = Bookmark::fetchEntities();
  const auto folders = Folder::fetchEntities();
  const std::string out = environment().home + "/export.html";
  std::vector<double> peaks;
  for (auto _ : state) {
    state.PauseTiming();
    resetPeak();
    const double before = statusMB("VmRSS");
    state.ResumeTiming();
    HTMLExport exporter;
    benchmark::DoNotOptimize(exporter.exportAllTofile(out));
    state.PauseTiming();
    peaks.push_back(peakSinceResetMB() - before);
    state.ResumeTiming();
  }
  state.counters["bookmarks"] = static_cast<double>(library ? library->size() : 0);
  state.counters["folders"] = static_cast<double>(folders ? folders->size() : 0);
  state.counters["file_MB"] = static_cast<double>(fnd::FileManager::sizeOfItem(out)) / 1e6;
  state.counters["export_peak_MB"] = median(peaks);
  if (!peaks.empty()) {
    state.counters["export_peak_min_MB"] = *std::min_element(peaks.begin(), peaks.end());
    state.counters["export_peak_max_MB"] = *std::max_element(peaks.begin(), peaks.end());
  }
}
BENCHMARK(BM_HTMLExport50k)->Unit(benchmark::kMillisecond)->Iterations(5);

// A library store padded with 500 MB of page images, as thumbnails make real ones.
void BM_Backup500MB(benchmark::State& state) {
  freshLibrary();
  const std::string store = WrenDataManager::sharedInstance().persistentStorePath();
  WrenDataManager::sharedInstance().reset();
  sqlite3* db = nullptr;
  sqlite3_open(store.c_str(), &db);
  sqlite3_exec(db,
               "CREATE TABLE IF NOT EXISTS BENCHPADDING (DATA BLOB);"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500) "
               "INSERT INTO BENCHPADDING SELECT randomblob(1048576) FROM n;",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  WrenDataManager::sharedInstance().managedObjectContext();
  const std::string out = environment().home + "/library.kestobck";
  for (auto _ : state) {
    Backup backup;
    benchmark::DoNotOptimize(backup.backupToFile(out));
  }
  state.counters["store_MB"] = static_cast<double>(fnd::FileManager::sizeOfItem(store)) / 1e6;
}
BENCHMARK(BM_Backup500MB)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
