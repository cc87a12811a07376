// What the user pays in the running program: the real kesto binary on an X display (run this
// inside Tests/Harness/e2e/xvfb-session.sh), over generated libraries of 5,000, 50,000 and
// 200,000 bookmarks in 1,248 folders (0.74 tags per bookmark), timed by the marks the program
// writes when asked (KESTO_TIMING_LOG). Every start of the program begins from a fresh copy of
// the library made for its size, so what one run adds never reaches the next. Each benchmark is
// the application-path twin of an in-process one:
//   BM_AppStartToFirstDrawnList        BM_ColdStartToFirstDrawnList (plus the memory after start)
//   BM_AppFolderClickToDrawnList       BM_FolderSelectionToList
//   BM_AppSearchKeystrokeToDrawnList   BM_SearchKeystrokeToDrawnResult
//   BM_AppHandOverLongestStall         BM_HandOverMostAddresses
//   BM_AppDeleteLongestStall           BM_DeleteSelectedBookmarks (plus Ctrl+A before, Ctrl+Z after)
//   BM_AppImportLongestStall           BM_HTMLImport50k
//   BM_AppWheelScrollFrameGaps         the painting benchmarks
// The stalls are the longest busy stretch of the event loop in the 10 s after the action, so work
// the action schedules for later (a hidden list reloading, a badge recount) counts. Each reports
// its samples' min, median and max as counters (milliseconds); the time column is the median.
#include "OutsideWatch.h"
#include "RunningApp.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/ApplicationMain.h"

#include "App/GeneratedBookmark.h"
#include "TemporaryHome.h"

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace kesto;
using bench::RunningApp;

constexpr int kTopFolders = 48, kSubfolders = 1200;
// The first two folders of the list, without subfolders: one to click, one to delete from.
constexpr int kClickFolderSize = 269, kDeleteFolderSize = 1000;
constexpr int kRounds = 5;
// How long the event loop is watched after an action for the stretches it schedules.
constexpr double kWatchSeconds = 10;

std::string gWork;       // scratch folder of this run (logs, import files)
std::string gLibraries;  // the libraries made, one folder per size, copied afresh for every start

// With `account`: a connected Pinboard account (its service unreachable) marking 2,000 of the
// bookmarks, spread over the library.
constexpr int kMarkedForService = 2000;

void makeLibrary(int bookmarks, bool account) {
  const int kTags = static_cast<int>(static_cast<long long>(bookmarks) * 37 / 50);
  auto ctx = WrenDataManager::sharedInstance().managedObjectContext();
  std::vector<Folder::Ref> folders;
  char name[32];
  for (int i = 0; i < kTopFolders + kSubfolders; ++i) {
    auto f = Folder::initEntityInContext(ctx);
    f->setFolderID("F" + std::to_string(i));
    std::snprintf(name, sizeof name, i < kTopFolders ? "Folder %04d" : "Subfolder %04d", i);
    f->setName(name);
    // The subfolders go under the top folders after the first two.
    f->setParentFolderID(i < kTopFolders ? std::string(Folder::kRootID) : "F" + std::to_string(2 + i % (kTopFolders - 2)));
    f->setOrderIndex(i);
    folders.push_back(f);
  }
  std::vector<Tag::Ref> tags;
  for (int i = 0; i < kTags; ++i) {
    auto t = Tag::initEntityInContext(ctx);
    std::snprintf(name, sizeof name, "tag%05d", i);
    t->setName(name);
    tags.push_back(t);
  }
  for (int i = 0; i < bookmarks; ++i) {
    const int folder = i < kClickFolderSize                       ? 0
                       : i < kClickFolderSize + kDeleteFolderSize ? 1
                                                                  : 2 + i % (kTopFolders + kSubfolders - 2);
    bench::addGeneratedBookmark(ctx, i, folders[static_cast<std::size_t>(folder)], tags[static_cast<std::size_t>(i % kTags)],
                                tags[static_cast<std::size_t>((i * 7 + 3) % kTags)]);
  }
  if (account) {
    auto service = Service::initEntityInContext(ctx);
    service->setName(Service::kPinboard);
    service->setLogin("bench");
    service->setPassword("c2VjcmV0");
    auto all = Bookmark::fetchEntities(ctx);
    const std::size_t every = std::max<std::size_t>(1, all->size() / kMarkedForService);
    for (std::size_t i = 0; i < all->size(); i += every) (*all)[i]->addService(service);
  }
  WrenEntity::saveContext(ctx);
  // An established library of a user who has seen the tutorials; nothing leaves the machine.
  auto& d = fnd::UserDefaults::standard();
  for (const char* flag : {"Version2Migrated", "Version4MigratedV2", "KestoMigratedToVersion2"}) d.setBool(true, flag);
  for (const char* seen : {"BRWTutorialInboxSeen", "BRWTutorialImoprtSeen", "BRWTutorialLibrarySeen",
                           "BRWTutorialDeliciousySeen", "BRWTutorialPinboardSeen", "BRWTutorialTagsSeen",
                           "BRWTutorialBookmarkSeen"})
    d.setBool(true, seen);
  d.setString("http://127.0.0.1:9", Bookmark::kThumbnailHostDefaultsKey);
  d.setString("http://127.0.0.1:9/", "KestoReachabilityCheckURL");
  d.setString("http://127.0.0.1:9", "PinboardAPIHost");
  d.synchronize();
  WrenDataManager::sharedInstance().reset();
}

namespace fs = std::filesystem;

// The program's own folders in the home: what a run changes and the next must not see.
std::vector<fs::path> programFolders() {
  return {fs::path(std::getenv("XDG_DATA_HOME")) / "kesto", fs::path(std::getenv("XDG_CONFIG_HOME")) / "kesto",
          fs::path(std::getenv("XDG_CACHE_HOME")) / "kesto", fs::path(std::getenv("XDG_STATE_HOME")) / "kesto"};
}

std::string kestoBinary();

// Copies the program's folders from `from` into the home (`toHome`) or back.
void copyProgramFolders(const fs::path& kept, bool toHome) {
  const auto folders = programFolders();
  std::error_code ignored;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const fs::path copy = kept / std::to_string(i);
    fs::remove_all(toHome ? folders[i] : copy, ignored);
    if (fs::exists(toHome ? copy : folders[i]))
      fs::copy(toHome ? copy : folders[i], toHome ? folders[i] : copy, fs::copy_options::recursive);
  }
}

// Puts a fresh copy of the library of `bookmarks` (with a Pinboard account: `account`) into the
// home, making it first when there is none yet (kept in gLibraries, so a kept KESTO_BENCH_HOME
// makes each once).
void freshLibrary(int bookmarks, bool account = false) {
  const fs::path kept = fs::path(gLibraries) / (std::to_string(bookmarks) + (account ? "-pinboard" : ""));
  const auto folders = programFolders();
  std::error_code ignored;
  if (!fs::exists(kept / "done")) {
    for (const auto& f : folders) fs::remove_all(f, ignored);
    // The settings held in memory are the last library's: without this, the flags set below
    // change nothing, nothing is written, and this library starts without its settings file
    // (every start would then run the one-time migrations over the whole library).
    fnd::UserDefaults::standard().reloadFromDisk();
    std::fprintf(stderr, "making a library of %d bookmarks...\n", bookmarks);
    makeLibrary(bookmarks, account);
    fs::remove_all(kept, ignored);
    fs::create_directories(kept);
    copyProgramFolders(kept, false);
    std::ofstream(kept / "done") << bookmarks << "\n";
  }
  if (!fs::exists(kept / "started")) {
    // A user's library has been opened before: its first start makes the Inbox and Imported
    // folders and the library's identifier, one-off work that belongs to no later start.
    copyProgramFolders(kept, true);
    std::fprintf(stderr, "starting the library of %d bookmarks once...\n", bookmarks);
    RunningApp first(kestoBinary(), gWork);
    first.waitUntil([&](const bench::MarkLog& m) { return m.listDrawnAfter(first.launchedUs(), 1).has_value(); }, 120);
    first.waitUntilIdle(500, 60);
    first.quit();
    copyProgramFolders(kept, false);
    std::ofstream(kept / "started") << bookmarks << "\n";
  }
  copyProgramFolders(kept, true);
}

std::string kestoBinary() {
  if (const char* b = std::getenv("KESTO_BINARY"); b && *b) return b;
  return KESTO_BINARY;
}

void xdo(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{"xdotool"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  bench::runTool(command);
}

// Keys go to the focused window after it was activated, never addressed to it.
void keys(RunningApp& app, const std::vector<std::string>& names) {
  xdo({"windowactivate", "--sync", app.window()});
  std::vector<std::string> arguments{"key", "--delay", "30"};
  arguments.insert(arguments.end(), names.begin(), names.end());
  xdo(arguments);
}

// A visible window of the program named `name` (a pattern) other than `other`, once it is there;
// empty when none came within `seconds`. Keys are typed only into a dialog that is up: on a loaded
// machine a dialog can take seconds, and keys typed before it go to the library's list.
std::string waitForWindow(RunningApp& app, const std::string& name, double seconds, const std::string& other = {}) {
  const auto deadline = bench::monotonicUs() + static_cast<std::int64_t>(seconds * 1e6);
  do {
    if (auto out = bench::runTool({"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(app.pid()),
                                   "--name", name})) {
      std::size_t from = 0;
      for (auto to = out->find('\n'); to != std::string::npos; from = to + 1, to = out->find('\n', from))
        if (auto id = out->substr(from, to - from); !id.empty() && id != other) return id;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (bench::monotonicUs() < deadline);
  return {};
}

// Types `path` into the file dialog `dialog`, replacing what its name field holds.
void typePath(const std::string& dialog, const std::string& path) {
  xdo({"windowactivate", "--sync", dialog});
  xdo({"key", "ctrl+a"});
  xdo({"type", "--delay", "5", path});
}

void click(RunningApp& app, int x, int y) {
  xdo({"mousemove", "--window", app.window(), std::to_string(x), std::to_string(y), "click", "1"});
}

// Started, its list drawn and settled; nothing when it did not get there. With `watch`, the
// main thread is watched from outside from just after the launch (OutsideWatch).
std::unique_ptr<RunningApp> startSettled(benchmark::State& state, int bookmarks, const std::vector<std::string>& arguments = {},
                                         std::unique_ptr<bench::OutsideWatch>* watch = nullptr, bool account = false) {
  freshLibrary(bookmarks, account);
  auto app = std::make_unique<RunningApp>(kestoBinary(), gWork, arguments);
  if (watch && app->started()) *watch = std::make_unique<bench::OutsideWatch>(app->pid(), gWork);
  if (!app->started() ||
      !app->waitUntil([&](const bench::MarkLog& m) { return m.listDrawnAfter(app->launchedUs(), 1).has_value(); }, 60) ||
      app->window().empty()) {
    // What it did write tells where it stopped.
    const auto& all = app->marks().all();
    for (std::size_t i = all.size() > 30 ? all.size() - 30 : 0; i < all.size(); ++i)
      std::fprintf(stderr, "  %lld %s %s\n", static_cast<long long>(all[i].us - app->launchedUs()), all[i].name.c_str(),
                   all[i].detail.c_str());
    state.SkipWithError("kesto did not draw its list (is DISPLAY an X server with a window manager?)");
    return nullptr;
  }
  app->waitUntilIdle();
  return app;
}

// The samples' min, median and max as counters named `prefix`min_ms and so on.
void addCounters(benchmark::State& state, std::vector<double> ms, const std::string& prefix) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters[prefix + "min_ms"] = ms.front();
  state.counters[prefix + "median_ms"] = bench::percentile(ms, 0.5);
  state.counters[prefix + "max_ms"] = ms.back();
}

// The samples' min, median and max as counters; the median is the time of the iteration.
void report(benchmark::State& state, const std::vector<double>& ms) {
  if (ms.empty()) {
    state.SkipWithError("no samples");
    return;
  }
  state.SetIterationTime(bench::percentile(ms, 0.5) / 1000.0);
  addCounters(state, ms, "");
  state.counters["samples"] = static_cast<double>(ms.size());
}

// Per iteration: the program started afresh and settled, `prepare` run once, then `round` run
// kRounds times (given the round's number), each adding what it measured in ms to the samples,
// which are reported. Answers the samples.
std::vector<double> measureRounds(benchmark::State& state,
                                  const std::function<void(RunningApp&, int, std::vector<double>&)>& round,
                                  const std::function<void(RunningApp&)>& prepare = {}, bool account = false) {
  std::vector<double> samples;
  for (auto _ : state) {
    auto app = startSettled(state, static_cast<int>(state.range(0)), {}, nullptr, account);
    if (!app) break;
    if (prepare) prepare(*app);
    samples.clear();
    for (int r = 0; r < kRounds; ++r) round(*app, r, samples);
    report(state, samples);
  }
  return samples;
}

// The sidebar's rows, counted from its top (window coordinates: the sources, then the folders).
struct Places {
  int sidebarX = 120;
  int libraryY = 0, clickFolderY = 0, deleteFolderY = 0, listX = 0, listY = 0;
};

Places places() {
  Places p;
  auto number = [](const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
  };
  p.libraryY = number("KESTO_BENCH_LIBRARY_Y", 191);
  p.clickFolderY = number("KESTO_BENCH_FOLDER_Y", 291);
  p.deleteFolderY = number("KESTO_BENCH_DELETE_FOLDER_Y", 311);
  p.listX = number("KESTO_BENCH_LIST_X", 600);
  p.listY = number("KESTO_BENCH_LIST_Y", 270);
  return p;
}

// Runs `act` and answers the time from the arrival of the input it makes (`kind` "button" or
// "key") to the list's next frame, within 5 s; then waits until the program rested `idleMs`.
std::optional<double> inputToDrawnList(RunningApp& app, const std::string& kind, const std::function<void()>& act,
                                       int idleMs) {
  const auto before = bench::monotonicUs();
  act();
  std::optional<std::int64_t> input, drawn;
  app.waitUntil(
      [&](const bench::MarkLog& m) {
        if (!input)
          if (auto i = m.first("input", before, [&](const std::string& d) { return d == kind; })) input = i->us;
        if (input) drawn = m.listDrawnAfter(*input);
        return drawn.has_value();
      },
      5);
  app.waitUntilIdle(idleMs);
  if (!input || !drawn) return std::nullopt;
  return static_cast<double>(*drawn - *input) / 1000.0;
}

// Clicks a place and answers the time from the click's arrival to the reloaded list's frame.
std::optional<double> clickToDrawnList(RunningApp& app, int x, int y) {
  return inputToDrawnList(app, "button", [&] { click(app, x, y); }, 300);
}

// Every benchmark runs at these library sizes (its first argument).
void librarySizes(benchmark::internal::Benchmark* b) {
  for (int n : {5000, 50000, 200000}) b->Arg(n);
}

// Five starts after one unmeasured: the first rows drawn (the time), the whole list drawn
// (`whole_list_*`), the longest busy stretch from the launch until settled (`longest_stall_*`),
// the window's first frame and the memory once settled.
void measureStarts(benchmark::State& state, bool account) {
  const int bookmarks = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<double> start, whole, longest, mapped, rss, outside;
    // The first start after the library was made reads it from disk: not counted.
    for (int round = 0; round <= kRounds; ++round) {
      std::unique_ptr<bench::OutsideWatch> watch;
      auto app = startSettled(state, bookmarks, {}, &watch, account);
      if (!app) return;
      const double stall = watch ? watch->stop().value_or(-1) : -1;  // -1: not seen
      const auto& m = app->marks();
      const auto drawn = m.listDrawnAfter(app->launchedUs(), 1);
      // Every bookmark of the library is in the list the generated library starts with.
      const auto all = m.listDrawnAfter(app->launchedUs(), bookmarks);
      const auto shown = m.first("window-shown", app->launchedUs());
      if (round == 0) continue;
      start.push_back(static_cast<double>(*drawn - app->launchedUs()) / 1000.0);
      if (all) whole.push_back(static_cast<double>(*all - app->launchedUs()) / 1000.0);
      longest.push_back(static_cast<double>(m.longestBusy(app->launchedUs(), bench::monotonicUs())) / 1000.0);
      if (shown) mapped.push_back(static_cast<double>(shown->us - app->launchedUs()) / 1000.0);
      rss.push_back(app->residentMB());
      if (stall >= 0) outside.push_back(stall);
    }
    report(state, start);
    addCounters(state, whole, "whole_list_");
    addCounters(state, longest, "longest_stall_");
    addCounters(state, outside, "outside_longest_stall_");
    state.counters["window_shown_median_ms"] = bench::percentile(mapped, 0.5);
    state.counters["rss_after_start_min_MB"] = *std::min_element(rss.begin(), rss.end());
    state.counters["rss_after_start_median_MB"] = bench::percentile(rss, 0.5);
    state.counters["rss_after_start_max_MB"] = *std::max_element(rss.begin(), rss.end());
  }
}

void BM_AppStartToFirstDrawnList(benchmark::State& state) { measureStarts(state, false); }
BENCHMARK(BM_AppStartToFirstDrawnList)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The same start with a Pinboard account connected and 2,000 bookmarks marked for it: the
// sidebar then counts the service's bookmarks at start and at every badge refresh.
void BM_AppStartWithServiceAccount(benchmark::State& state) { measureStarts(state, true); }
BENCHMARK(BM_AppStartWithServiceAccount)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Second argument 0: a folder of 269 bookmarks; 1: the Library (all of them). Each click comes
// from the other place, unmeasured.
void BM_AppFolderClickToDrawnList(benchmark::State& state) {
  const auto p = places();
  const bool library = state.range(1) != 0;
  measureRounds(state, [&](RunningApp& app, int, std::vector<double>& ms) {
    clickToDrawnList(app, p.sidebarX, library ? p.clickFolderY : p.libraryY);
    if (auto t = clickToDrawnList(app, p.sidebarX, library ? p.libraryY : p.clickFolderY)) ms.push_back(*t);
  });
}
BENCHMARK(BM_AppFolderClickToDrawnList)->Apply([](benchmark::internal::Benchmark* b) {
  for (int n : {5000, 50000, 200000})
    for (int library : {0, 1}) b->Args({n, library});
})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Typing "page 4711" into the library search, a key at a time once the last one's result is
// drawn: each keystroke's arrival to the frame with its result.
void BM_AppSearchKeystrokeToDrawnList(benchmark::State& state) {
  const std::vector<std::string> term{"p", "a", "g", "e", "space", "4", "7", "1", "1"};
  for (auto _ : state) {
    auto app = startSettled(state, static_cast<int>(state.range(0)));
    if (!app) return;
    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
      keys(*app, {"ctrl+f"});
      keys(*app, {"ctrl+a", "BackSpace"});
      app->waitUntilIdle(300);
      for (const auto& key : term)
        if (auto t = inputToDrawnList(*app, "key", [&] { xdo({"key", key}); }, 200)) ms.push_back(*t);
    }
    keys(*app, {"Escape"});
    report(state, ms);
  }
}
BENCHMARK(BM_AppSearchKeystrokeToDrawnList)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Runs `act` and answers the longest busy stretch of the event loop in the kWatchSeconds after
// it: a quiet moment ends nothing, as a list reloaded later or a recount belongs to the action.
// When `outside` is given, the same seen from outside (OutsideWatch: the main thread's polls
// traced by the kernel) is added to it.
template <typename Act>
std::optional<double> longestStallOf(RunningApp& app, Act act, std::vector<double>* outside = nullptr) {
  app.marks();
  std::unique_ptr<bench::OutsideWatch> watch;
  if (outside) watch = std::make_unique<bench::OutsideWatch>(app.pid(), gWork);
  const auto before = bench::monotonicUs();
  act();
  const auto until = before + static_cast<std::int64_t>(kWatchSeconds * 1e6);
  std::this_thread::sleep_for(std::chrono::microseconds(std::max<std::int64_t>(0, until - bench::monotonicUs())));
  // A stretch still running at the end is written when it ends: it counts too.
  app.waitUntilIdle(300, 60);
  if (!app.started()) return std::nullopt;
  const auto after = bench::monotonicUs();
  if (watch)
    if (auto t = watch->stop()) outside->push_back(*t);
  return static_cast<double>(app.marks().longestBusy(before, after)) / 1000.0;
}

// A second launch hands 100 new addresses over (as the desktop's "add text" does); each round's
// longest stall is a sample, and the same seen from outside is added to `outside`.
void handOverRound(RunningApp& app, int round, std::vector<double>& ms, std::vector<double>& outside) {
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += "https://handed" + std::to_string(round) + "-" + std::to_string(i) + ".example/" + std::string(200, 'p') + "\n";
  auto handOver = [&] {
    RunningApp second(kestoBinary(), gWork, {"--add-text", text});
    second.waitForExit(20);
  };
  if (auto t = longestStallOf(app, handOver, &outside)) ms.push_back(*t);
}

void BM_AppHandOverLongestStall(benchmark::State& state) {
  std::vector<double> outside;
  measureRounds(state, [&](RunningApp& app, int round, std::vector<double>& ms) { handOverRound(app, round, ms, outside); });
  addCounters(state, outside, "outside_");
}
BENCHMARK(BM_AppHandOverLongestStall)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The badge refresh a hand-over brings, with a Pinboard account connected and 2,000 bookmarks
// marked for it (the sidebar counts the service's bookmarks in the store).
void BM_AppServiceBadgeLongestStall(benchmark::State& state) {
  std::vector<double> outside;
  measureRounds(
      state, [&](RunningApp& app, int round, std::vector<double>& ms) { handOverRound(app, round, ms, outside); }, {},
      true);
  addCounters(state, outside, "outside_");
}
BENCHMARK(BM_AppServiceBadgeLongestStall)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The folder of 1,000 bookmarks chosen, all of them selected (Ctrl+A), Delete pressed, and the
// delete undone (Ctrl+Z): the longest stall after each key, the delete's as the time, Ctrl+A's
// as select_all_*, Ctrl+Z's as undo_*.
void BM_AppDeleteLongestStall(benchmark::State& state) {
  const auto p = places();
  std::vector<double> selectAll, undo, outside, outsideSelectAll, outsideUndo;
  measureRounds(
      state,
      [&](RunningApp& app, int, std::vector<double>& ms) {
        click(app, p.listX, p.listY);
        app.waitUntilIdle(300);
        xdo({"windowactivate", "--sync", app.window()});
        if (auto t = longestStallOf(app, [&] { xdo({"key", "ctrl+a"}); }, &outsideSelectAll)) selectAll.push_back(*t);
        if (auto t = longestStallOf(app, [&] { keys(app, {"Delete"}); }, &outside)) ms.push_back(*t);
        if (auto t = longestStallOf(app, [&] { keys(app, {"ctrl+z"}); }, &outsideUndo)) undo.push_back(*t);
      },
      [&](RunningApp& app) { clickToDrawnList(app, p.sidebarX, p.deleteFolderY); });
  addCounters(state, selectAll, "select_all_");
  addCounters(state, undo, "undo_");
  addCounters(state, outside, "outside_");
  addCounters(state, outsideSelectAll, "outside_select_all_");
  addCounters(state, outsideUndo, "outside_undo_");
}
BENCHMARK(BM_AppDeleteLongestStall)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// A browser's export file of `count` bookmarks, all new to the library.
std::string writeImportFile(int round, int count) {
  const std::string path = gWork + "/import-" + std::to_string(round) + ".html";
  std::ofstream out(path);
  out << "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
         "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n<DT><H3>Imported "
      << round << "</H3>\n<DL><p>\n";
  for (int i = 0; i < count; ++i)
    out << "<DT><A HREF=\"https://imported" << round << ".example/" << i << "\" ADD_DATE=\"1600000000\">Imported " << i
        << "</A>\n";
  out << "</DL><p>\n</DL><p>\n";
  return path;
}

// File > Import (Ctrl+Shift+I) of 5,000 new bookmarks: the question answered, the path typed
// into the file dialog, then the longest stall until the program settled.
void BM_AppImportLongestStall(benchmark::State& state) {
  std::vector<double> outside;
  measureRounds(state, [&](RunningApp& app, int round, std::vector<double>& ms) {
    const auto file = writeImportFile(round, 5000);
    keys(app, {"ctrl+shift+i"});
    // The question about duplicates, then the file dialog (both named so).
    const auto question = waitForWindow(app, "^Import Bookmarks$", 30);
    if (question.empty()) return state.SkipWithError("the import's question did not open");
    xdo({"windowactivate", "--sync", question});
    xdo({"key", "Return"});
    const auto dialog = waitForWindow(app, "^Import Bookmarks$", 30, question);
    if (dialog.empty()) return state.SkipWithError("the import's file dialog did not open");
    typePath(dialog, file);
    // The file dialog keeps reading folders as the path is typed: a moment, not idleness.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    if (auto t = longestStallOf(app, [&] { xdo({"key", "Return"}); }, &outside)) ms.push_back(*t);
  });
  addCounters(state, outside, "outside_");
}
BENCHMARK(BM_AppImportLongestStall)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Peak resident memory since `resetPeak` (the kernel's high-water mark, reset by clear_refs).
double statusMB(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return std::atof(line.c_str() + prefix.size()) / 1024.0;
  return 0;
}
void resetPeak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

// File > Export (Ctrl+Shift+E) of the whole library: the path typed into the file dialog, then
// from the Return that starts it to the file written whole (the time), and how far the resident
// memory rose above what it was before (`peak_rise_*_MB`).
void BM_AppExportTime(benchmark::State& state) {
  std::vector<double> rise, stalls;
  measureRounds(state, [&](RunningApp& app, int round, std::vector<double>& ms) {
    const std::string file = gWork + "/export-" + std::to_string(round) + ".html";
    std::error_code ignored;
    fs::remove(file, ignored);
    keys(app, {"ctrl+shift+e"});
    const auto dialog = waitForWindow(app, "^Export Bookmarks$", 30);
    if (dialog.empty()) return state.SkipWithError("the export's file dialog did not open");
    typePath(dialog, file);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    app.waitUntilIdle(300);
    resetPeak(app.pid());
    const double before = statusMB(app.pid(), "VmRSS");
    const auto pressed = bench::monotonicUs();
    xdo({"key", "Return"});
    // Written into a temporary file that takes the name at the end: the name means done.
    std::optional<std::int64_t> done;
    while (!done && bench::monotonicUs() - pressed < 120000000) {
      if (fs::exists(file)) done = bench::monotonicUs();
      else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    app.waitUntilIdle(300);
    if (!done) return;
    ms.push_back(static_cast<double>(*done - pressed) / 1000.0);
    rise.push_back(statusMB(app.pid(), "VmHWM") - before);
    stalls.push_back(static_cast<double>(app.marks().longestBusy(pressed, bench::monotonicUs())) / 1000.0);
    keys(app, {"Return"});  // the message that the file was written
    app.waitUntilIdle(300);
  });
  if (rise.empty()) return;
  std::sort(rise.begin(), rise.end());
  state.counters["peak_rise_min_MB"] = rise.front();
  state.counters["peak_rise_median_MB"] = bench::percentile(rise, 0.5);
  state.counters["peak_rise_max_MB"] = rise.back();
  addCounters(state, stalls, "longest_stall_");
}
BENCHMARK(BM_AppExportTime)->Apply(librarySizes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// 60 wheel notches a second over the Library's list (down, then up): the gaps between the
// window's frames while it scrolls, as percentiles over all rounds, and how many of them per round
// were over 50 ms. Second argument: the list's
// mode, 0 the one a new window shows (the extended list), 1 the thumbnails, 3 the compact list
// (chosen with Ctrl+1 and Ctrl+3).
void BM_AppWheelScrollFrameGaps(benchmark::State& state) {
  const auto p = places();
  const auto mode = state.range(1);
  std::vector<double> delays;
  const auto gaps = measureRounds(
      state,
      [&delays](RunningApp& app, int round, std::vector<double>& gaps) {
        app.marks();
        const auto from = bench::monotonicUs();
        // xdotool's delay is between the press and release of each notch and before the next.
        xdo({"click", "--repeat", "60", "--delay", "16", round % 2 ? "4" : "5"});
        const auto to = bench::monotonicUs();
        app.waitUntilIdle(300);
        const auto& marks = app.marks();
        // From the first notch's arrival: before it the list had nothing to draw, and a loaded
        // machine can take hundreds of milliseconds to start xdotool.
        const auto first = marks.first("input", from, [](const std::string& d) { return d == "wheel"; });
        if (!first) return;
        for (auto g : marks.frameGaps(first->us, to)) gaps.push_back(static_cast<double>(g) / 1000.0);
        for (auto d : marks.inputToFrame("wheel", from, to)) delays.push_back(static_cast<double>(d) / 1000.0);
      },
      [&](RunningApp& app) {
        // The program opens on the list last shown: the Library's is the one scrolled.
        clickToDrawnList(app, p.sidebarX, p.libraryY);
        if (mode != 0) {
          keys(app, {"ctrl+" + std::to_string(mode)});
          app.waitUntilIdle(300);
        }
        xdo({"mousemove", "--window", app.window(), std::to_string(p.listX), std::to_string(p.listY)});
      });
  if (state.error_occurred()) return;
  state.counters["p90_ms"] = bench::percentile(gaps, 0.9);
  state.counters["p99_ms"] = bench::percentile(gaps, 0.99);
  // A gap over 50 ms is a jerk the eye sees; the goal is none.
  state.counters["over_50ms_per_round"] =
      static_cast<double>(std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 50; })) / kRounds;
  // Under load a gap is often the notch arriving late; this is the program's own share.
  state.counters["input_to_frame_p99_ms"] = bench::percentile(delays, 0.99);
  state.counters["input_to_frame_max_ms"] = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
}
BENCHMARK(BM_AppWheelScrollFrameGaps)->Apply([](benchmark::internal::Benchmark* b) {
  for (int n : {5000, 50000, 200000})
    for (int mode : {0, 1, 3}) b->Args({n, mode});
})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "AppPathBenchmarks drives kesto on an X display: run it inside "
                         "Tests/Harness/e2e/xvfb-session.sh\n");
    return 1;
  }
  // This process makes the library without showing anything; kesto gets the X platform.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return ui::applicationMain(argc, argv, [&]() -> std::optional<int> {
    benchmark::Initialize(&argc, argv);
    bench::TemporaryHome home("kesto-app-path-bench");
    // KESTO_BENCH_HOME keeps the home with the libraries made (in libraries/<size>) for another
    // run or a profile of the program by hand; each start still begins from a fresh copy.
    if (const char* kept = std::getenv("KESTO_BENCH_HOME"); kept && *kept) {
      setenv("HOME", kept, 1);
      for (const char* var : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
        setenv(var, (std::string(kept) + "/" + var).c_str(), 1);
    }
    mkdir(std::getenv("HOME"), 0700);
    mkdir(std::getenv("XDG_RUNTIME_DIR"), 0700);
    // KESTO_BENCH_WORK keeps the program's output and timing logs for a look afterwards.
    const char* keep = std::getenv("KESTO_BENCH_WORK");
    gWork = keep && *keep ? keep : home.path() + "/work";
    mkdir(gWork.c_str(), 0700);
    gLibraries = std::string(std::getenv("HOME")) + "/libraries";
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  });
}
