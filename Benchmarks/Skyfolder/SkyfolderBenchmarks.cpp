// Folder-listing parsing and 200 MB transfers through the loopback fake of the service.
#include "FakeSkyfolder.h"
#include "ProcessAndLoop.h"
#include "TestPKI.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Net/ServerTrust.h"
#include "Skyfolder/SFJSON.h"
#include "Skyfolder/SFMetadata.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRestClient.h"
#include "Skyfolder/SFSession.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace kesto;

namespace {

std::string folderListing(int entries) {
  std::string json = R"({"hash":"abc","bytes":0,"path":"/","is_dir":true,"root":"app_folder","icon":"folder","contents":[)";
  for (int i = 0; i < entries; ++i) {
    if (i) json += ',';
    json += R"({"rev":")" + std::to_string(1000 + i) + R"(0f","thumb_exists":false,"bytes":)" +
            std::to_string(12345 + i) + R"(,"modified":"Sat, 21 Aug 2010 22:31:20 +0000",)"
            R"("client_mtime":"Sat, 21 Aug 2010 22:31:20 +0000","path":"/folder/file number )" +
            std::to_string(i) + R"(.txt","is_dir":false,"icon":"page_white_text","root":"app_folder",)"
            R"("size":"12 KB","revision":)" + std::to_string(1000 + i) + "}";
  }
  return json + "]}";
}

void ParseFolderListing(benchmark::State& state) {
  const std::string json = folderListing(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto value = nsstring_dbjson::JSONValue(json);
    auto metadata = SFMetadata::initWithDictionary(*value);
    benchmark::DoNotOptimize(metadata);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(ParseFolderListing)->Arg(10000)->Unit(benchmark::kMillisecond);

using bench::peakRssKiB;
using bench::pumpUntil;

struct Done : SFRestClientDelegate {
  int finished = 0;
  bool failed = false;
  std::uint64_t implementedOperations() const override {
    return LoadedFile | LoadFileFailedWithError | UploadedFileFrom | UploadFileFailedWithError;
  }
  void restClientLoadedFile(SFRestClient&, const std::string&) override { ++finished; }
  void restClientLoadFileFailedWithError(SFRestClient&, const fnd::Error&) override { failed = true; ++finished; }
  void restClientUploadedFile(SFRestClient&, const std::string&, const std::string&) override { ++finished; }
  void restClientUploadFileFailedWithError(SFRestClient&, const fnd::Error&) override { failed = true; ++finished; }
};

// One fake, one linked session and client for the transfer benchmarks.
struct Transfer : test::LoopbackSkyfolder {
  Transfer() {
    startPinnedSkyfolder(fnd::FileManager::createTemporaryDirectory("skyfolder-bench"));
    session = linkedSession();
    client = SFRestClient::initWithSession(session);
    client->setDelegate(&done);
  }
  ~Transfer() {
    client.reset();
    fake.reset();
    std::filesystem::remove_all(dir);
  }
  std::shared_ptr<SFSession> session;
  std::unique_ptr<SFRestClient> client;
  Done done;
};

constexpr std::uint64_t kTransferBytes = 200ull << 20;

void Download200MB(benchmark::State& state) {
  Transfer t;
  t.fake->putGeneratedFile("/big.bin", kTransferBytes);
  const long before = peakRssKiB();
  for (auto _ : state) {
    t.done.finished = 0;
    t.client->loadFile("/big.bin", t.dir + "/big.bin");
    if (!pumpUntil([&] { return t.done.finished > 0; }, 120) || t.done.failed) state.SkipWithError("download failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTransferBytes));
  state.counters["peakRssGrowthMiB"] = static_cast<double>(peakRssKiB() - before) / 1024.0;
}
BENCHMARK(Download200MB)->Unit(benchmark::kMillisecond)->Iterations(2);

void Upload200MB(benchmark::State& state) {
  Transfer t;
  const std::string source = t.dir + "/upload.bin";
  {
    std::ofstream out(source, std::ios::binary);
    std::string chunk(1 << 20, 'u');
    for (std::uint64_t i = 0; i < kTransferBytes / chunk.size(); ++i) out.write(chunk.data(), chunk.size());
  }
  const long before = peakRssKiB();
  for (auto _ : state) {
    t.done.finished = 0;
    t.client->uploadFile("big.bin", "/", std::nullopt, source);
    if (!pumpUntil([&] { return t.done.finished > 0; }, 120) || t.done.failed ||
        t.fake->lastStreamedUploadSize() != kTransferBytes)
      state.SkipWithError("upload failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTransferBytes));
  state.counters["peakRssGrowthMiB"] = static_cast<double>(peakRssKiB() - before) / 1024.0;
}
BENCHMARK(Upload200MB)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  // Keep the benchmark's settings and keychain away from the user's own.
  const std::string home = fnd::FileManager::createTemporaryDirectory("skyfolder-bench-home");
  for (const char* var : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
    setenv(var, home.c_str(), 1);
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(home);
  return 0;
}
