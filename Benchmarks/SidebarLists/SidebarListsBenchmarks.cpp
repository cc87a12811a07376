// The sidebar's lists on a generated library: 50,000 bookmarks in 2,000 folders, 5,000 tags (two
// per bookmark), 5% of the URLs duplicated. Runs offscreen.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/ApplicationMain.h"
#include "Sidebar/HistoryController.h"
#include "Sidebar/PopularsController.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/TagsController.h"

#include <benchmark/benchmark.h>

#include "GeneratedLibrary.h"
#include "TemporaryHome.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace kesto;

constexpr int kBookmarks = 50000, kFolders = 2000, kTags = 5000;

std::unique_ptr<DataManager> dm;

void makeLibrary() {
  // Removed with everything in it when the run ends.
  static bench::TemporaryHome home{"kesto-bench"};
  auto prefs = bench::registeredPreferences();
  const double now = fnd::Date::now().timeIntervalSinceReferenceDate();
  bench::LibraryShape shape{.folders = kFolders, .tags = kTags, .bookmarks = kBookmarks};
  // Every tenth name again in capitals: one badge counts both.
  shape.tagName = [](int i) { return (i % 10 == 0 ? "TAG" : "tag") + std::to_string(i % 10 == 0 ? i - 10 : i); };
  shape.bookmark = [now](Bookmark& b, int i) {
    int urlIndex = i % 20 == 0 && i > 0 ? i - 1 : i;
    b.setUrl("http://site" + std::to_string(urlIndex % 997) + ".example/page/" + std::to_string(urlIndex));
    b.setTitle("Page " + std::to_string(i));
    b.setTimesOpened(i % 7);
    b.setAddedDate(fnd::Date(now - i * 60.0));
    b.setLastOpened(fnd::Date(now - i * 90.0));
  };
  bench::generateLibrary(shape);
  dm = std::make_unique<DataManager>();
  bench::loadLibrary(*dm, prefs);
}

// Sets `list` on the library and wakes it, as the sidebar does.
void wire(SmartListController& list) {
  list.setDataManager(dm.get());
  list.awakeFromNib();
}

// The tags tab's rows: every tag in use with its badge, drawn into the list.
void BM_TagList(benchmark::State& state) {
  TagsController tags;
  wire(tags);
  for (auto _ : state) {
    tags.loadItems();
    benchmark::DoNotOptimize(tags.tagItems().size());
  }
  state.counters["rows"] = static_cast<double>(tags.tagItems().size());
}
BENCHMARK(BM_TagList)->Unit(benchmark::kMillisecond);

// Maintenance's "Find duplicates": the store's grouping query and the listed copies.
void BM_DuplicateScan(benchmark::State& state) {
  for (auto _ : state) {
    dm->loadDuplicatedBookmarks();
    benchmark::DoNotOptimize(dm->bookmarks().size());
  }
  state.counters["duplicates"] = static_cast<double>(dm->bookmarks().size());
}
BENCHMARK(BM_DuplicateScan)->Unit(benchmark::kMillisecond);

// A refresh of History and of Popular: twelve and thirteen counts, then the rows.
template <typename List>
void BM_SmartListRefresh(benchmark::State& state, const char* selectedView) {
  fnd::UserDefaults::standard().setString(selectedView, SelectedView);
  List list;
  wire(list);
  for (auto _ : state) {
    list.updateView();
    benchmark::DoNotOptimize(list.entries().size());
  }
}
void BM_HistoryRefresh(benchmark::State& state) { BM_SmartListRefresh<HistoryController>(state, SelectedHistoryView); }
BENCHMARK(BM_HistoryRefresh)->Unit(benchmark::kMillisecond);
void BM_PopularRefresh(benchmark::State& state) { BM_SmartListRefresh<PopularsController>(state, SelectedPopularView); }
BENCHMARK(BM_PopularRefresh)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return kesto::ui::applicationMain(argc, argv, [&]() -> std::optional<int> {
    benchmark::Initialize(&argc, argv);
    makeLibrary();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    dm.reset();
    return 0;
  });
}
