// The application on a generated 50,000-bookmark library (500 folders, 2,000 tags): a cold
// start to the first drawn list, and the list refresh after an edit. Runs offscreen.
#include "App/AppDelegate.h"
#include "App/BookmarkSearch.h"
#include "App/BookmarksController.h"
#include "App/MainInterface.h"
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenuBookmarksController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/Store/SaveNotification.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/Window.h"
#include "Platform/System/SyncedFolder.h"
#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/Synchronizer.h"
#include "Views/TileCollectionView.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/ViewManager.h"
#include "App/TransferDialogs.h"
#include "Synchronize/HTMLImport.h"
#include "Views/SourceList.h"
#include "Platform/Foundation/RunLoop.h"

#include "App/GeneratedBookmark.h"
#include "GeneratedLibrary.h"
#include "MainThreadGaps.h"
#include "TemporaryHome.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

using namespace kesto;

constexpr int kBookmarks = 50000, kFolders = 500, kTags = 2000;

template <typename F>
bool pumpUntil(F done) {
  return ui::runEventLoopUntil(done, 10.0);
}

void makeLibrary() {
  bench::LibraryShape shape{.folders = kFolders, .tags = kTags, .bookmarks = kBookmarks, .fourDeep = false};
  shape.folder = [](Folder& f, int i) { f.setOrderIndex(i); };
  shape.bookmark = [](Bookmark& b, int i) { bench::setGeneratedBookmark(b, i); };
  bench::generateLibrary(shape);
  // An established library: the one-time migrations are behind it.
  auto& d = fnd::UserDefaults::standard();
  for (const char* flag : {"Version2Migrated", "Version4MigratedV2", "KestoMigratedToVersion2"}) d.setBool(true, flag);
  d.setString("http://127.0.0.1:9", Bookmark::kThumbnailHostDefaultsKey);  // closed port: no traffic
  d.synchronize();
  WrenDataManager::sharedInstance().reset();
}

// Builds the interface over the closed store and pumps until the list's first cells are drawn.
std::unique_ptr<MainInterface> startAndDraw() {
  auto ui = MainInterface::build();
  ui->appDelegate().applicationDidFinishLaunching();
  ui->window().makeKeyAndOrderFront();
  auto& dm = ui->dataManager();
  pumpUntil([&] { return dm.bookmarks().size() == static_cast<std::size_t>(kBookmarks); });
  ui->window().displayIfNeeded();
  ui->collectionView()->layoutSubtreeIfNeeded();
  ui->window().displayIfNeeded();
  return ui;
}

// Started and drawn, with the start's backup finished.
std::unique_ptr<MainInterface> startDrawnAndSettled() {
  auto ui = startAndDraw();
  pumpUntil([&] { return !ui->appDelegate().automaticBackupRunning(); });
  return ui;
}

// Closes the interface and then the store, as after a quit.
void closeInterface(std::unique_ptr<MainInterface>& ui) {
  ui.reset();
  WrenDataManager::sharedInstance().reset();
}

// One keystroke of "page 4711" per iteration, over and over: the field's text grows by a
// character (and starts again after the whole term), its action runs and `window` is drawn.
// The run ends on the whole term, whose search must have filled `results`.
void typeTheTermAgainAndAgain(benchmark::State& state, ui::SearchField& field, ui::Window& window,
                              const DataManager::BookmarkList& results) {
  const std::string term = "page 4711";
  std::size_t typed = 0;
  for (auto _ : state) {
    typed = typed % term.size() + 1;
    field.setStringValue(term.substr(0, typed));
    field.sendAction();
    window.displayIfNeeded();
  }
  if (results.empty()) state.SkipWithError("the full term found nothing");
}

// Five repetitions, reported with their minimum and maximum beside the mean.
void fiveRepetitionsWithMinAndMax(benchmark::internal::Benchmark* b) {
  b->Repetitions(5)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

// The runs of the typing benchmarks: five times the term's nine keystrokes, so that every run
// ends on the whole term.
void typingRuns(benchmark::internal::Benchmark* b) {
  fiveRepetitionsWithMinAndMax(b->Unit(benchmark::kMillisecond)->Iterations(45));
}

void BM_ColdStartToFirstDrawnList(benchmark::State& state) {
  for (auto _ : state) {
    auto ui = startAndDraw();
    state.PauseTiming();
    if (ui->dataManager().bookmarks().size() != static_cast<std::size_t>(kBookmarks))
      state.SkipWithError("the library did not load");
    if (ui->collectionView()->visibleCells().empty()) state.SkipWithError("nothing drawn");
    // The start's backup runs beside the list: let it finish outside the measured time.
    pumpUntil([&] { return !ui->appDelegate().automaticBackupRunning(); });
    closeInterface(ui);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ColdStartToFirstDrawnList)->Unit(benchmark::kMillisecond)->Iterations(3);

// An edit, then the keeping refresh the edit posts, drawn.
void BM_RefreshAfterEdit(benchmark::State& state) {
  auto ui = startAndDraw();
  auto& dm = ui->dataManager();
  int n = 0;
  for (auto _ : state) {
    ++n;
    dm.bookmarks()[static_cast<std::size_t>(n % 10)]->setTitle("Edited " + std::to_string(n));
    ViewUpdater::updateBookmarks();
    ui->window().displayIfNeeded();
  }
  closeInterface(ui);
}
BENCHMARK(BM_RefreshAfterEdit)->Unit(benchmark::kMillisecond);

// The list recomputed from the library (as after an added or moved bookmark), then refreshed.
void BM_ReloadListAfterChange(benchmark::State& state) {
  auto ui = startAndDraw();
  auto& dm = ui->dataManager();
  for (auto _ : state) {
    dm.loadBookmarks();
    ui->window().displayIfNeeded();
  }
  closeInterface(ui);
}
BENCHMARK(BM_ReloadListAfterChange)->Unit(benchmark::kMillisecond);

// A click on a row of the folder list in the running interface until its list is drawn: the
// selection, the list's deferred update (run at once here: the 0.1 s delay is not work), the
// refreshes it queues and the redraw. Arg 0: folders of 100 bookmarks; arg 1: the Library row.
void BM_FolderClickToDrawnList(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto* folders = ui->foldersController();
  if (!folders) {
    state.SkipWithError("no folder list");
    return;
  }
  ViewManager::sharedInstance().setCurrentView(ViewManager::Folders);
  auto& list = *folders->sourceList();
  const bool library = state.range(0) != 0;
  std::size_t i = 0;
  for (auto _ : state) {
    // Between two library clicks another row is chosen, outside the time.
    if (library) {
      state.PauseTiming();
      brightwren::setSelectedItems(list, {folders->inboxItem()});
      fnd::RunLoop::cancelPreviousPerformRequests(folders);
      folders->updateSelection();
      ui->window().displayIfNeeded();
      state.ResumeTiming();
    }
    SourceListItem* row = library ? folders->homeItem() : folders->itemForFolderID("F" + std::to_string((i++ * 37) % kFolders));
    brightwren::setSelectedItems(list, {row});
    fnd::RunLoop::cancelPreviousPerformRequests(folders);
    folders->updateSelection();
    bool drained = false;
    fnd::DispatchQueue::main().async([&] { drained = true; });
    pumpUntil([&] { return drained; });
    ui->window().displayIfNeeded();
  }
  closeInterface(ui);
}
BENCHMARK(BM_FolderClickToDrawnList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20);

// A hand-over from another process (a "kesto:" link or an add-text launch) into the drawn
// library: the call plus everything it leaves queued for the main thread, then a redraw.
template <typename Handover>
void timeHandOver(benchmark::State& state, Handover handOver) {
  auto ui = startAndDraw();
  auto& app = ui->appDelegate();
  // The start's backup copies the whole store beside the first hand-overs: not theirs to pay.
  pumpUntil([&] { return !app.automaticBackupRunning(); });
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(state.range(1) != 0, "skipDuplicates");
  int n = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    handOver(app, n++);
    bool drained = false;
    fnd::DispatchQueue::main().async([&] { drained = true; });
    pumpUntil([&] { return drained; });
    ui->window().displayIfNeeded();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  defaults.setBool(false, "skipDuplicates");
  closeInterface(ui);
}

// As many addresses as one hand-over may carry, each as long as the text's bound allows,
// all new to the library.
void BM_HandOverMostAddresses(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  const std::string stem = "https://handed" + std::to_string(state.range(1)) + "-";
  timeHandOver(state, [count, stem](AppDelegate& app, int round) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += stem + std::to_string(round) + "-" + std::to_string(i) + ".example/" + std::string(2400, 'p') + "\n";
    app.handleArguments({"--add-text", text});
  });
}
BENCHMARK(BM_HandOverMostAddresses)->Args({100, 1})->Args({100, 0})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A "kesto:" link of encoded line breaks around one address.
void BM_HandOverEncodedLineBreaks(benchmark::State& state) {
  const auto breaks = static_cast<std::size_t>(state.range(0));
  timeHandOver(state, [breaks](AppDelegate& app, int round) {
    std::string url = "kesto:";
    for (std::size_t i = 0; i < breaks; ++i) url += "%0A";
    app.getUrl(url + "https://breaks" + std::to_string(round) + ".example/");
  });
}
BENCHMARK(BM_HandOverEncodedLineBreaks)->Args({1500, 1})->Args({87000, 1})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Deleting 1,000 selected bookmarks: live ones to the trash (arg 0), or trashed ones for good
// with their tombstones (arg 1); each with its undo step, the list reload and a redraw. The
// deletion is undone between rounds, outside the measured time.
void BM_DeleteSelectedBookmarks(benchmark::State& state) {
  auto ui = startAndDraw();
  auto& dm = ui->dataManager();
  auto& controller = ui->bookmarksController();
  pumpUntil([&] { return !ui->appDelegate().automaticBackupRunning(); });
  const bool forGood = state.range(0) != 0;
  for (auto _ : state) {
    std::vector<std::shared_ptr<Bookmark>> chosen(dm.bookmarks().begin(), dm.bookmarks().begin() + 1000);
    if (forGood) {
      for (const auto& b : chosen) b->setTrashed(1);
      WrenEntity::saveContext();
      // The event loop's pass ends the undo group of this change, apart from the deletion's.
      bool passed = false;
      fnd::DispatchQueue::main().async([&] { passed = true; });
      pumpUntil([&] { return passed; });
    }
    dm.setSelectedBookmarks(chosen);
    auto start = std::chrono::steady_clock::now();
    controller.deleteBookmarks();
    bool drained = false;
    fnd::DispatchQueue::main().async([&] { drained = true; });
    pumpUntil([&] { return drained; });
    ui->window().displayIfNeeded();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    // An undo reads the library again; that load ends outside the measured time too.
    bool reloaded = false;
    fnd::NotificationCenter::defaultCenter().addObserver(&reloaded, [&](const fnd::Notification&) { reloaded = true; },
                                                         UpdateFoldersNotification);
    controller.undo();
    if (forGood) controller.undo();  // the move to the trash made above
    pumpUntil([&] { return reloaded && dm.bookmarks().size() == static_cast<std::size_t>(kBookmarks); });
    fnd::NotificationCenter::defaultCenter().removeObserver(&reloaded);
  }
  closeInterface(ui);
}
BENCHMARK(BM_DeleteSelectedBookmarks)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Typing into the library search field: each keystroke's search, the list's reset refresh and
// the redraw of the result. One iteration is one keystroke of "page 4711", over and over.
void BM_SearchKeystrokeToDrawnResult(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto& field = *ui->bookmarksController().views().searchField;
  typeTheTermAgainAndAgain(state, field, ui->window(), ui->dataManager().bookmarks());
  field.setStringValue("");
  closeInterface(ui);
}
BENCHMARK(BM_SearchKeystrokeToDrawnResult)->Apply(typingRuns);

// The first keystroke after a save: the search's prepared texts are rebuilt for the whole
// library (the one keystroke that pays for it).
void BM_SearchFirstKeystrokeAfterSave(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto& field = *ui->bookmarksController().views().searchField;
  for (auto _ : state) {
    fnd::NotificationCenter::defaultCenter().postNotificationName(store::kContextDidSaveNotification);
    field.setStringValue("p");
    field.sendAction();
    ui->window().displayIfNeeded();
  }
  field.setStringValue("");
  closeInterface(ui);
}
BENCHMARK(BM_SearchFirstKeystrokeAfterSave)->Unit(benchmark::kMillisecond)->Iterations(5);

// A sync over the synced folder of the 50,000-bookmark library into an identical library (the
// folder's file comes from another library id with the same content, so all of it is read and
// merged): the button to "Sync Complete", and the longest the main thread went without running
// a 5 ms heartbeat.
void BM_SyncedFolderRunIntoIdenticalLibrary(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto& d = fnd::UserDefaults::standard();
  const auto folder = fnd::FileManager::createTemporaryDirectory("kesto-synced");
  d.setString(folder, sys::SyncedFolder::kDefaultsKey);
  d.setString(ICloudDataSource::kMethod, Synchronizer::kCurrentSyncMethodKey);
  bool ended = false, succeeded = false;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &ended, [&](const fnd::Notification& n) {
        ended = true;
        succeeded = n.userInfo.at("success").boolValue();
      },
      Synchronizer::kSyncEndedNotification);
  auto run = [&] {
    ended = false;
    Synchronizer::shared().syncFromButton();
    ui::runEventLoopUntil([&] { return ended; }, 120.0);
  };
  run();  // the library's own file goes into the folder first
  double worstStall = 0;
  for (auto _ : state) {
    d.setString("kesto-" + WrenEntity::uniqueID(), Synchronizer::kKestoIDKey);
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    bool beating = true;
    double stall = 0;
    std::function<void()> beat = [&] {
      const auto now = Clock::now();
      stall = std::max(stall, std::chrono::duration<double>(now - last).count());
      last = now;
      if (beating) fnd::DispatchQueue::main().after(0.005, [&] { beat(); });
    };
    beat();
    const auto start = Clock::now();
    run();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    beating = false;
    ui::runEventLoopUntil([] { return false; }, 0.05);  // the last heartbeat runs out
    worstStall = std::max(worstStall, stall);
    if (!succeeded) state.SkipWithError("the sync failed");
  }
  state.counters["max_main_thread_gap_ms"] = worstStall * 1000;
  fnd::NotificationCenter::defaultCenter().removeObserver(&ended);
  d.removeObject(Synchronizer::kCurrentSyncMethodKey);
  closeInterface(ui);
  fnd::FileManager::removeItem(folder);
}
BENCHMARK(BM_SyncedFolderRunIntoIdenticalLibrary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// File > Import of a browser's file of 5,000 new bookmarks into the drawn 50,000-bookmark library,
// as the File menu starts it (the pages of the first of them are fetched next): the longest the
// main thread went without running a 1 ms heartbeat, from the start until 3 s after the import
// was told complete (the time), and the time to that completion (`completed_ms_*`).
void BM_ImportInto50kLongestStall(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto& import = ui->appDelegate().transferDialogs().htmlImport();
  using Clock = std::chrono::steady_clock;
  std::vector<double> stalls, completed;
  int round = 0;
  for (auto _ : state) {
    const std::string file = std::string(std::getenv("HOME")) + "/import-" + std::to_string(round) + ".html";
    std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
                       "<DT><H3>Imported " + std::to_string(round) + "</H3>\n<DL><p>\n";
    for (int i = 0; i < 5000; ++i)
      text += "<DT><A HREF=\"https://imported" + std::to_string(round) + ".example/" + std::to_string(i) +
              "\" ADD_DATE=\"1600000000\">Imported " + std::to_string(i) + "</A>\n";
    text += "</DL><p>\n</DL><p>\n";
    fnd::FileManager::writeFile(file, text);
    ++round;
    bench::MainThreadGaps gaps;
    const auto start = Clock::now();
    if (!import.importFromFile(file)) return state.SkipWithError("the import did not start");
    pumpUntil([&] { return !import.isImporting(); });
    completed.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    ui::runEventLoopUntil([] { return false; }, 3.0);
    stalls.push_back(gaps.stop());
    state.SetIterationTime(stalls.back() / 1000);
  }
  std::sort(stalls.begin(), stalls.end());
  std::sort(completed.begin(), completed.end());
  state.counters["min_ms"] = stalls.front();
  state.counters["median_ms"] = stalls[stalls.size() / 2];
  state.counters["max_ms"] = stalls.back();
  state.counters["completed_median_ms"] = completed[completed.size() / 2];
  closeInterface(ui);
}
BENCHMARK(BM_ImportInto50kLongestStall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The global hot key pressed with the menu-bar window hidden: the window shown with its list of
// 1,000 search results reloaded and drawn. The window is hidden again outside the measured time.
void BM_MenuBarHotKeyToDrawnWindow(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto& menu = ui->menuBookmarksController();
  auto& window = ui->menuBarWindow();
  menu.searchField->setStringValue("page 4");
  menu.search();
  if (ui->dataManager().menuBookmarks().size() != MenuBookmarksController::kSearchLimit)
    state.SkipWithError("the search did not fill the list");
  for (auto _ : state) {
    ui->appDelegate().hotkeyWithEvent();
    window.displayIfNeeded();
    state.PauseTiming();
    if (!window.isVisible() || menu.collectionView->visibleCells().empty()) state.SkipWithError("nothing drawn");
    window.orderOut();
    state.ResumeTiming();
  }
  closeInterface(ui);
}
BENCHMARK(BM_MenuBarHotKeyToDrawnWindow)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->Apply(fiveRepetitionsWithMinAndMax);

// Typing into the menu-bar window's search field: each keystroke's search over the library and
// the drawn result. One iteration is one keystroke of "page 4711", over and over.
void BM_MenuBarSearchKeystrokeToDrawnResult(benchmark::State& state) {
  auto ui = startDrawnAndSettled();
  auto& menu = ui->menuBookmarksController();
  ui->appDelegate().hotkeyWithEvent();
  typeTheTermAgainAndAgain(state, *menu.searchField, ui->menuBarWindow(), ui->dataManager().menuBookmarks());
  closeInterface(ui);
}
BENCHMARK(BM_MenuBarSearchKeystrokeToDrawnResult)->Apply(typingRuns);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return kesto::ui::applicationMain(argc, argv, [&]() -> std::optional<int> {
    benchmark::Initialize(&argc, argv);
    bench::TemporaryHome home("kesto-app-bench");  // each benchmark closes the store it opened
    makeLibrary();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  });
}
