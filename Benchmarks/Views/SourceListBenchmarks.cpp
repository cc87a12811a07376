// The sidebar's source list with 2,000 folders (50 top-level folders of 39 subfolders each) and
// 5,000 tags, every row with a count badge, in a 240 x 800 list, offscreen.
#include "Platform/UI/Window.h"
#include "Views/SourceList.h"
#include "Views/SourceListItem.h"

#include <benchmark/benchmark.h>

#include "SourceListItemTree.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace kesto;

namespace {

// The groups always open, every answer of the item trees announced.
struct Sidebar : test::SourceListItemTree, SourceListDelegate {
  unsigned implementedSourceListDataSourceMethods() const override {
    return ObjectValueForItem | ItemHasBadge | BadgeValueForItem | ItemHasIcon | IconForItem;
  }
  unsigned implementedSourceListDelegateMethods() const override { return IsGroupAlwaysExpanded; }
  bool sourceListIsGroupAlwaysExpanded(SourceList&, SourceListItemPtr) override { return true; }
};

// Counts painted rows, to show each step really paints.
struct CountingList : SourceList {
  using SourceList::SourceList;
  long painted = 0;
  void drawRow(long row, ui::GraphicsContext& context, const fnd::Rect& clip) override {
    ++painted;
    SourceList::drawRow(row, context, clip);
  }
};

struct Fixture {
  Sidebar sidebar;
  ui::Window window{fnd::Rect(0, 0, 240, 800)};
  std::shared_ptr<CountingList> list = std::make_shared<CountingList>(fnd::Rect(0, 0, 240, 800));

  Fixture() {
    ui::Image folder(16, 16, ui::Color::rgb(0.3, 0.5, 0.9));
    auto library = SourceListItem::itemWithTitle("LIBRARY", "library");
    for (int i = 0; i < 50; ++i) {
      auto top = SourceListItem::itemWithTitle("Folder " + std::to_string(i), "f" + std::to_string(i), folder);
      top->setBadgeValue(i * 7);
      for (int j = 0; j < 39; ++j) {
        auto sub = SourceListItem::itemWithTitle("Subfolder " + std::to_string(j), "s", folder);
        sub->setBadgeValue(j * 13);
        top->addChildItem(sub);
      }
      library->addChildItem(top);
    }
    auto tags = SourceListItem::itemWithTitle("TAGS", "tags");
    for (int i = 0; i < 5000; ++i) {
      auto tag = SourceListItem::itemWithTitle("tag-" + std::to_string(i), "t");
      tag->setBadgeValue(i % 300);
      tags->addChildItem(tag);
    }
    sidebar.groups = {library, tags};
    window.contentView()->addSubview(list);
    list->setDelegate(&sidebar);
    list->setDataSource(&sidebar);
    window.orderFront();
    QCoreApplication::processEvents();
  }
  // Paints what the window shows now.
  void paint() { QCoreApplication::processEvents(); }
};

double ms(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Expands all 2,000 folders, reloads and paints the first frame.
void BM_SourceListExpandAllAndReload(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    state.PauseTiming();
    f.list->collapseItem(nullptr, true);
    f.paint();
    state.ResumeTiming();
    f.list->expandItem(nullptr, true);
    f.list->reloadData();
    f.paint();
  }
  state.counters["rows"] = double(f.list->numberOfRows());
  state.counters["painted_per_iteration"] = double(f.list->painted) / double(state.iterations());
}

// A reload of the fully expanded list (an import or sync finishing) with its first paint.
void BM_SourceListReloadExpanded(benchmark::State& state) {
  Fixture f;
  f.list->expandItem(nullptr, true);
  f.paint();
  for (auto _ : state) {
    f.list->reloadData();
    f.paint();
  }
}

// Scrolls the expanded list from top to bottom a screen at a time, painting each step.
void BM_SourceListScrollRepaint(benchmark::State& state) {
  Fixture f;
  f.list->expandItem(nullptr, true);
  f.paint();
  std::vector<double> steps;
  for (auto _ : state) {
    for (long row = 0; row < f.list->numberOfRows(); row += 37) {
      auto t0 = std::chrono::steady_clock::now();
      f.list->scrollRowToVisible(row);
      f.paint();
      steps.push_back(ms(t0));
    }
    f.list->scrollRowToVisible(0);
  }
  std::sort(steps.begin(), steps.end());
  state.counters["p50_ms"] = steps[steps.size() / 2];
  state.counters["p99_ms"] = steps[std::min(steps.size() - 1, steps.size() * 99 / 100)];
}

}  // namespace

BENCHMARK(BM_SourceListExpandAllAndReload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SourceListReloadExpanded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SourceListScrollRepaint)->Unit(benchmark::kMillisecond)->Iterations(1);
