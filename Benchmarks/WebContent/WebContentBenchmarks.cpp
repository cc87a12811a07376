// Page titles and favicons fetched for many bookmarks against a loopback web server, in the
// running application (offscreen, the list drawn): the time until every result is stored, the
// most requests the server saw at once, and the longest the event loop went without a turn.
#include "App/AppDelegate.h"
#include "App/BookmarksController.h"
#include "App/MainInterface.h"
#include "App/WebContent.h"
#include "App/WebContentUpdater.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Window.h"
#include "Views/TileCollectionView.h"

#include "TemporaryHome.h"

#include <benchmark/benchmark.h>

#include "LoopbackServer.h"
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace kesto;
using Clock = std::chrono::steady_clock;

// Pages "/p<n>" titled "Page <n>" with a PNG favicon; counts requests in flight.
class PageServer {
 public:
  PageServer() {
    const auto icon = ui::Image(16, 16, ui::Color::rgb(0.8, 0.2, 0.2)).encoded("png");
    icon_.assign(icon.begin(), icon.end());
    loopback_.server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      const int now = ++inFlight_;
      int seen = maxInFlight_.load();
      while (now > seen && !maxInFlight_.compare_exchange_weak(seen, now)) {}
      // A little like a real server: a few milliseconds per page.
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      if (request.path == "/icon.png") response.set_content(icon_, "image/png");
      else if (request.path == "/reachable") response.set_content("ok", "text/plain");
      else
        response.set_content("<html><head><title>Page " + request.path.substr(2) +
                                 "</title><link rel=icon href=/icon.png></head><body>" + std::string(20000, 'b') +
                                 "</body></html>",
                             "application/octet-stream");
      --inFlight_;
    });
    loopback_.server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    loopback_.start();
  }
  std::string url(const std::string& path) const { return loopback_.url(path, "127.0.0.1"); }
  int maxInFlight() const { return maxInFlight_; }
  void resetCounts() { maxInFlight_ = 0; }

 private:
  std::string icon_;
  std::atomic<int> inFlight_{0}, maxInFlight_{0};
  // Last, so it stops before what its handlers use goes.
  test::LoopbackServer loopback_;
};

// The longest gap between turns of the event loop, measured by a check every millisecond.
class StallMeter {
 public:
  void start() {
    running_.renew();
    last_ = Clock::now();
    longest_ = 0;
    tick(running_.watch());
  }
  void stop() { running_.end(); }
  double longestMilliseconds() const { return longest_; }

 private:
  void tick(fnd::Lifetime::Watch running) {
    if (!running) return;
    const auto now = Clock::now();
    longest_ = std::max(longest_, std::chrono::duration<double, std::milli>(now - last_).count());
    last_ = now;
    fnd::DispatchQueue::main().after(0.001, [this, running] { tick(running); });
  }
  fnd::Lifetime running_;
  Clock::time_point last_;
  double longest_ = 0;
};

void makeLibrary(int count, const std::string& (*address)(int)) {
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  auto folder = Folder::initEntityInContext(ctx);
  folder->setFolderID("F");
  folder->setName("Pages");
  folder->setParentFolderID(Folder::kRootID);
  for (int i = 0; i < count; ++i) {
    auto b = Bookmark::newBookmark(ctx);
    b->setUrl(address(i));
    b->setUniqueID(WrenEntity::uniqueID());
    b->setAddedDate(fnd::Date(600000000.0 + i));
    b->setFolder(folder);
  }
  WrenEntity::saveContext(ctx);
  auto& d = fnd::UserDefaults::standard();
  for (const char* flag : {"Version2Migrated", "Version4MigratedV2", "KestoMigratedToVersion2"}) d.setBool(true, flag);
  d.setString("http://127.0.0.1:9", Bookmark::kThumbnailHostDefaultsKey);
  d.synchronize();
  WrenDataManager::sharedInstance().reset();
}

std::unique_ptr<MainInterface> startAndDraw(std::size_t expected) {
  auto ui = MainInterface::build();
  ui->appDelegate().applicationDidFinishLaunching();
  ui->window().makeKeyAndOrderFront();
  auto& dm = ui->dataManager();
  ui::runEventLoopUntil([&] { return dm.bookmarks().size() == expected; }, 60);
  ui->window().displayIfNeeded();
  ui::runEventLoopUntil([&] { return !ui->appDelegate().automaticBackupRunning(); }, 60);
  return ui;
}

PageServer* server = nullptr;

// Runs `act` and the event loop until `done`, with the meter on; reports the time, the longest
// stall and the most requests the server saw at once.
template <typename Act, typename Done>
void measure(benchmark::State& state, Act act, Done done) {
  server->resetCounts();
  StallMeter meter;
  meter.start();
  const auto start = Clock::now();
  act();
  if (!ui::runEventLoopUntil(done, 60)) state.SkipWithError("not every result arrived");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  meter.stop();
  state.counters["longest_stall_ms"] = benchmark::Counter(meter.longestMilliseconds(), benchmark::Counter::kAvgIterations);
  state.counters["max_in_flight"] = benchmark::Counter(server->maxInFlight(), benchmark::Counter::kAvgIterations);
  state.SetIterationTime(seconds);
}

// The meter alone over an idle event loop for two seconds: what the machine itself costs.
void BM_IdleEventLoop(benchmark::State& state) {
  for (auto _ : state) {
    StallMeter meter;
    meter.start();
    const auto start = Clock::now();
    ui::runEventLoopUntil([&] { return Clock::now() - start > std::chrono::seconds(2); }, 5);
    meter.stop();
    state.counters["longest_stall_ms"] = benchmark::Counter(meter.longestMilliseconds(), benchmark::Counter::kAvgIterations);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_IdleEventLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// Every bookmark of a 1,000-bookmark library "Update from web" at once.
void BM_UpdateThousandBookmarks(benchmark::State& state) {
  bench::TemporaryHome home("kesto-webcontent-bench");
  fnd::UserDefaults::standard().setString(server->url("/reachable"), WebContent::kReachabilityURLDefaultsKey);
  makeLibrary(1000, [](int i) -> const std::string& {
    static std::string s;
    return s = server->url("/p" + std::to_string(i));
  });
  auto ui = startAndDraw(1000);
  auto& dm = ui->dataManager();
  for (auto _ : state) {
    for (const auto& b : dm.bookmarks()) b->setTitle(std::nullopt);
    WrenEntity::saveContext();
    auto& updater = ui->bookmarksController().webContentUpdater();
    measure(
        state,
        [&] {
          dm.setSelectedBookmarks(dm.bookmarks());
          ui->bookmarksController().updateWebContentForSelectedBookmarks();
        },
        [&] {
          if (updater.fetchesRunning() || updater.pendingResults()) return false;
          return std::all_of(dm.bookmarks().begin(), dm.bookmarks().end(), [](const auto& b) { return b->favicon(); });
        });
  }
  ui.reset();
  WrenDataManager::sharedInstance().reset();
}
BENCHMARK(BM_UpdateThousandBookmarks)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// A hand-over of 100 loopback addresses into a 50,000-bookmark library, until every page's
// title and favicon is stored (argument 1), or with nothing fetched (argument 0: the hand-over's
// own cost, for comparison).
void BM_HandOverHundredIntoLargeLibrary(benchmark::State& state) {
  const bool fetching = state.range(0) != 0;
  WebContentUpdater::setFetchingEnabled(fetching);
  bench::TemporaryHome home("kesto-webcontent-bench");
  fnd::UserDefaults::standard().setString(server->url("/reachable"), WebContent::kReachabilityURLDefaultsKey);
  makeLibrary(50000, [](int i) -> const std::string& {
    static std::string s;
    return s = "http://site" + std::to_string(i % 997) + ".example/page/" + std::to_string(i);
  });
  auto ui = startAndDraw(50000);
  auto& app = ui->appDelegate();
  int round = 0;
  for (auto _ : state) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += server->url("/p" + std::to_string(round * 100 + i)) + "\n";
    ++round;
    auto& updater = ui->bookmarksController().webContentUpdater();
    const std::string last = "Page " + std::to_string(round * 100 - 1);
    bool drained = false;
    measure(
        state,
        [&] {
          const auto start = Clock::now();
          app.handleArguments({"--add-text", text});
          // The hand-over's own turn of the event loop (its save and its one reload), apart from
          // the fetches that follow.
          state.counters["handover_call_ms"] = benchmark::Counter(
              std::chrono::duration<double, std::milli>(Clock::now() - start).count(), benchmark::Counter::kAvgIterations);
          fnd::DispatchQueue::main().async([&] { drained = true; });
        },
        [&] {
          if (!fetching) return drained;
          if (updater.fetchesRunning() || updater.pendingResults()) return false;
          auto b = Bookmark::fetchEntityWhereProperty("title", fnd::Value(last));
          return b && b->favicon();
        });
  }
  ui.reset();
  WrenDataManager::sharedInstance().reset();
  WebContentUpdater::setFetchingEnabled(true);
}
BENCHMARK(BM_HandOverHundredIntoLargeLibrary)->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return kesto::ui::applicationMain(argc, argv, [&]() -> std::optional<int> {
    benchmark::Initialize(&argc, argv);
    PageServer pages;
    server = &pages;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server = nullptr;
    return 0;
  });
}
