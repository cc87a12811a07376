// The image disk cache as the thumbnail grid uses it: every downloaded thumbnail is stored on
// the main thread, and every store trims, which walks the whole folder.
#include "Views/DiskCacheManager.h"

#include "Platform/Foundation/FileManager.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using kesto::DiskCacheManager;
using kesto::fnd::FileManager;

std::string freshFolder() { return FileManager::createTemporaryDirectory("kesto-cache-bench"); }

// Stores into a folder already holding `files` thumbnails of 10 KB, well within the limit.
void BM_StoreIntoFullFolder(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  std::string folder = freshFolder();
  DiskCacheManager cache(folder);
  kesto::fnd::Data thumbnail(10 * 1024, 0x5a);
  for (int i = 0; i < files; ++i) cache.storeData(thumbnail, "https://thumbs.example/" + std::to_string(i));
  int n = 0;
  for (auto _ : state) cache.storeData(thumbnail, "https://thumbs.example/new/" + std::to_string(n++));
  state.SetLabel(std::to_string(files) + " files");
  FileManager::removeItem(folder);
}
BENCHMARK(BM_StoreIntoFullFolder)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);

// Lowering the limit to a tenth: the eviction passes over the folder.
void BM_TrimToATenth(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  kesto::fnd::Data thumbnail(10 * 1024, 0x5a);
  for (auto _ : state) {
    state.PauseTiming();
    std::string folder = freshFolder();
    DiskCacheManager cache(folder);
    for (int i = 0; i < files; ++i)
      FileManager::writeFile(cache.pathForKey(std::to_string(i)), thumbnail, false);
    state.ResumeTiming();
    cache.setMaxCacheBytes(static_cast<std::int64_t>(files) * 1024);
    state.PauseTiming();
    FileManager::removeItem(folder);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_TrimToATenth)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
