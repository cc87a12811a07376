// The folder list over a generated library: 50,000 bookmarks in 2,000 folders four deep
// (500 top-level folders, each with a chain of three below it), in a 240 x 800 window, offscreen.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Window.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/ViewManager.h"
#include "Views/SourceList.h"

#include <benchmark/benchmark.h>

#include "GeneratedLibrary.h"
#include "OffscreenMain.h"
#include "TemporaryHome.h"

#include <QApplication>

#include <cstdlib>
#include <memory>
#include <string>

using namespace kesto;

namespace {

constexpr int kBookmarks = 50000, kFolders = 2000;

struct Library {
  bench::TemporaryHome home{"kesto-bench"};  // first made, last gone
  DataManager dm;
  std::unique_ptr<ui::Window> window;
  std::unique_ptr<FoldersController> folders;
  std::vector<std::string> folderIDs;

  Library() {
    auto prefs = bench::registeredPreferences();
    bench::LibraryShape shape{.folders = kFolders, .bookmarks = kBookmarks};
    shape.folder = [](Folder& f, int i) {
      f.setOrderIndex(i);
      // Every chain open, so the whole tree has rows.
      f.setIsExpanded(1);
    };
    shape.bookmark = [](Bookmark& b, int i) {
      b.setUrl("http://site" + std::to_string(i % 997) + ".example/page/" + std::to_string(i));
      b.setTitle("Page " + std::to_string(i));
    };
    auto made = bench::generateLibrary(shape);
    for (const auto& f : made.folders) folderIDs.push_back(f->folderID());
    bench::loadLibrary(dm, prefs);

    window = std::make_unique<ui::Window>(fnd::Rect(0, 0, 240, 800));
    folders = std::make_unique<FoldersController>();
    folders->view()->setFrame(fnd::Rect(0, 0, 240, 800));
    window->setContentView(folders->view());
    folders->setDataManager(&dm);
    folders->setWindow(window.get());
    folders->awakeFromNib();
    window->makeKeyAndOrderFront();
    folders->updateViewCompletely();
    QCoreApplication::processEvents();
  }
};

// Made on first use and taken down in main while the application still runs: its window and
// controllers must go before the toolkit does.
std::unique_ptr<Library> theLibrary;

Library& library() {
  if (!theLibrary) theLibrary = std::make_unique<Library>();
  return *theLibrary;
}

// The whole tree from the store: fetch, parent map, items with badges, reload and the first paint.
void BM_FullTreeBuild(benchmark::State& state) {
  auto& lib = library();
  for (auto _ : state) {
    lib.folders->loadFolders();
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_FullTreeBuild)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A click on another folder row until its bookmarks are the current list and the sidebar has
// painted the new selection.
void BM_FolderSelectionToList(benchmark::State& state) {
  auto& lib = library();
  ViewManager::sharedInstance().setCurrentView(ViewManager::Folders);
  // The stored expansion opened, as after start: every row can be clicked.
  lib.folders->updateView();
  QCoreApplication::processEvents();
  size_t i = 0;
  for (auto _ : state) {
    const std::string& id = lib.folderIDs[(i++ * 37) % lib.folderIDs.size()];
    // As a click does: the row is selected, then the selection is acted on.
    brightwren::setSelectedItems(*lib.folders->sourceList(), {lib.folders->itemForFolderID(id)});
    // The list acts once on the change (its deferred update is run here, not by the timer).
    fnd::RunLoop::cancelPreviousPerformRequests(lib.folders.get());
    lib.folders->updateSelection();
    QCoreApplication::processEvents();
    if (!lib.dm.currentFolder() || lib.dm.currentFolder()->folderID() != id) state.SkipWithError("not selected");
    benchmark::DoNotOptimize(lib.dm.bookmarks().size());
  }
}
BENCHMARK(BM_FolderSelectionToList)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Every badge of the list after a change (the library counted afresh), with the repaint.
void BM_AllBadges(benchmark::State& state) {
  auto& lib = library();
  auto touched = Folder::existingFolderWithFolderID(lib.folderIDs.back());
  for (auto _ : state) {
    // A save empties the library's counts, as any edit does.
    state.PauseTiming();
    touched->setIsExpanded(touched->isExpanded() ? 0 : 1);
    WrenEntity::saveContext();
    state.ResumeTiming();
    lib.folders->loadBadges();
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_AllBadges)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  return kesto::bench::runOffscreen(argc, argv, [] { theLibrary.reset(); });
}
