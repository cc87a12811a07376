// Collection view throughput with 50,000 items in the grid (250 x 310) and compact (540 x 100)
// layouts, offscreen, in a 1000 x 800 window.
#include "Platform/UI/DisplayLink.h"
#include "Platform/UI/Window.h"
#include "Views/TileClipView.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCell.h"
#include "Views/TileCollectionViewGridLayout.h"

#include <benchmark/benchmark.h>

#include "OffscreenMain.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

using namespace kesto;

namespace {

constexpr std::uint64_t kItems = 50000;

struct Source : TileCollectionViewDataSource {
  std::uint64_t count = kItems;
  std::uint64_t collectionViewNumberOfItemsInSection(TileCollectionView&, std::int64_t) override { return count; }
  std::shared_ptr<ui::View> collectionViewCellForItemAtIndexPath(TileCollectionView& cv, const IndexPath&) override {
    return cv.dequeueReusableCellWithIdentifier("pinView");
  }
};

// Runs what earlier work left queued (deferred deletions, layout and paint requests), so no
// benchmark pays for the one before it.
void drainEvents() {
  for (int pass = 0; pass < 3; ++pass) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

// Drains after the fixture's window and views are gone (a base is destroyed after the members).
struct DrainsWhenDone {
  ~DrainsWhenDone() { drainEvents(); }
};

struct Fixture : DrainsWhenDone {
  ui::Window window{fnd::Rect(0, 0, 1000, 800)};
  std::shared_ptr<TileCollectionView> view = std::make_shared<TileCollectionView>(fnd::Rect(0, 0, 1000, 800));
  std::shared_ptr<TileCollectionViewGridLayout> grid = std::make_shared<TileCollectionViewGridLayout>();
  Source source;

  explicit Fixture(bool compact) {
    ui::DisplayLink::setManualMode(true);
    window.contentView()->addSubview(view);
    grid->setItemSize(compact ? fnd::Size{540, 100} : fnd::Size{250, 310});
    grid->setVerticalSpacing(2);
    view->registerClass(TileCollectionView::cellClass<TileCollectionViewCell>(), "pinView");
    view->setDataSource(&source);
    view->setCollectionViewLayout(grid);
    view->setAnimatesSelection(true);
    view->reloadData();
    window.makeFirstResponder(view.get());
  }
};

double threadCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void BM_ReloadData(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  for (auto _ : state) f.view->reloadData();
}

void BM_ScrollTopToBottom(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  std::vector<double> steps;
  size_t maxLive = 0, maxObjects = 0;
  for (auto _ : state) {
    f.view->clipView()->scrollToPoint({0, 0});
    double end = f.view->documentView()->frame().size.height;
    for (double y = 0; y < end; y += 100) {
      auto t0 = std::chrono::steady_clock::now();
      f.view->clipView()->scrollToPoint({0, y});
      steps.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      maxLive = std::max(maxLive, f.view->visibleCells().size());
      // Every cell object alive: shown ones plus the hidden reuse pool.
      maxObjects = std::max(maxObjects, f.view->documentView()->subviews().size());
    }
  }
  double rowPitch = f.grid->itemSize().height + f.grid->verticalSpacing();
  double visibleRows = std::ceil(800.0 / rowPitch) + 1;
  state.counters["p50_ms"] = percentile(steps, 0.5);
  state.counters["p99_ms"] = percentile(steps, 0.99);
  state.counters["max_live_cells"] = double(maxLive);
  // Visible count (rows reaching into the view) plus one row of columns.
  state.counters["live_bound"] = (visibleRows + 1) * double(f.grid->numberOfColumns());
  state.counters["max_cell_objects"] = double(maxObjects);
  state.counters["steps"] = double(steps.size());
}

// The first 2,000 steps of the walk with the window on (offscreen) screen, painting each.
void BM_ScrollTopToBottomPainting(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  f.window.orderFront();
  drainEvents();
  std::vector<double> steps, cpu;
  for (auto _ : state) {
    f.view->clipView()->scrollToPoint({0, 0});
    double end = std::min(f.view->documentView()->frame().size.height, 200000.0);
    for (double y = 0; y < end; y += 100) {
      auto t0 = std::chrono::steady_clock::now();
      double c0 = threadCpuMs();
      f.view->clipView()->scrollToPoint({0, y});
      QCoreApplication::processEvents();
      steps.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      cpu.push_back(threadCpuMs() - c0);
    }
  }
  state.counters["p50_ms"] = percentile(steps, 0.5);
  state.counters["p99_ms"] = percentile(steps, 0.99);
  state.counters["cpu_p99_ms"] = percentile(cpu, 0.99);
}

void BM_SelectAllThenDeselectAll(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  for (auto _ : state) {
    f.view->selectAllItems();
    f.view->deselectAllItems();
  }
}

void BM_DownArrowPresses(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  ui::Event down = ui::Event::key(ui::KeyCode::DownArrow);
  for (auto _ : state) {
    state.PauseTiming();
    f.view->selectItemAtIndexPath(IndexPath::forItem(0, 0), 0, false, 0);
    f.view->clipView()->scrollToPoint({0, 0});
    state.ResumeTiming();
    for (int i = 0; i < 1000; ++i) f.window.sendEvent(down);
  }
  state.counters["per_press_us"] = benchmark::Counter(1000.0 * double(state.iterations()),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_ReloadData)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollTopToBottom)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ScrollTopToBottomPainting)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SelectAllThenDeselectAll)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownArrowPresses)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return kesto::bench::runOffscreen(argc, argv); }
