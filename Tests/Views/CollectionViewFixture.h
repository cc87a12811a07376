#pragma once

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/UI/DisplayLink.h"
#include "Platform/UI/Window.h"
#include "Views/TileClipView.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCell.h"
#include "Views/TileCollectionViewGridLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// Counts the cells it hands out and what the collection view tells it.
class FakeSource : public TileCollectionViewDataSource, public TileCollectionViewDelegate {
 public:
  std::vector<std::uint64_t> counts{0};
  bool answerSections = true;
  unsigned delegateMethods = ~0u;
  int cellsAsked = 0;
  std::vector<std::string> events;
  bool shouldDeselect = true;
  bool shouldSelect = true;
  std::function<std::shared_ptr<ui::View>(TileCollectionView&, const IndexPath&)> makeCell;

  // The items announced before their cells, each announcement with the cells asked until then.
  bool announcesComing = false;
  std::vector<std::pair<std::vector<std::int64_t>, int>> coming;

  unsigned implementedDataSourceMethods() const override {
    return (answerSections ? unsigned(NumberOfSectionsInCollectionView) : 0u) | (announcesComing ? unsigned(WillShowItems) : 0u);
  }
  void collectionViewWillShowItemsAtIndexPaths(TileCollectionView&, const std::vector<IndexPath>& paths) override {
    std::vector<std::int64_t> items;
    for (const auto& p : paths) items.push_back(p.item);
    std::sort(items.begin(), items.end());
    coming.emplace_back(items, cellsAsked);
  }
  std::uint64_t collectionViewNumberOfItemsInSection(TileCollectionView&, std::int64_t s) override {
    return s >= 0 && size_t(s) < counts.size() ? counts[size_t(s)] : 0;
  }
  std::int64_t numberOfSectionsInCollectionView(TileCollectionView&) override { return std::int64_t(counts.size()); }
  std::shared_ptr<ui::View> collectionViewCellForItemAtIndexPath(TileCollectionView& cv, const IndexPath& p) override {
    ++cellsAsked;
    if (makeCell) return makeCell(cv, p);
    return cv.dequeueReusableCellWithIdentifier("cell");
  }

  unsigned implementedDelegateMethods() const override { return delegateMethods; }
  static std::string name(const std::optional<IndexPath>& p) {
    return p ? std::to_string(p->section) + "." + std::to_string(p->item) : "nil";
  }
  void collectionViewMouseDownInItemAtIndexPath(TileCollectionView&, const std::optional<IndexPath>& p) override {
    events.push_back("down " + name(p));
  }
  void collectionViewMouseUpInItemAtIndexPath(TileCollectionView&, const std::optional<IndexPath>& p) override {
    events.push_back("up " + name(p));
  }
  bool collectionViewShouldSelectItemAtIndexPath(TileCollectionView&, const IndexPath&) override { return shouldSelect; }
  void collectionViewDidSelectItemAtIndexPath(TileCollectionView&, const IndexPath& p) override {
    events.push_back("select " + name(p));
  }
  bool collectionViewShouldDeselectItemAtIndexPath(TileCollectionView&, const IndexPath&) override { return shouldDeselect; }
  void collectionViewDidDeselectItemAtIndexPath(TileCollectionView&, const IndexPath& p) override {
    events.push_back("deselect " + name(p));
  }
  void collectionViewDidScrollToItemAtIndexPath(TileCollectionView&, const IndexPath& p) override {
    events.push_back("scroll " + name(p));
  }
  void collectionViewDidDoubleClickItemAtIndexPath(TileCollectionView&, const std::optional<IndexPath>& p) override {
    events.push_back("double " + name(p));
  }
  void collectionViewDidRightClickItemAtIndexPath(TileCollectionView&, const std::optional<IndexPath>& p) override {
    events.push_back("right " + name(p));
  }
  void collectionViewDidEndDisplayingCellForItemAtIndexPath(TileCollectionView&, TileCollectionViewCell&,
                                                             const std::optional<IndexPath>& p) override {
    events.push_back("end " + name(p));
  }
  int count(const std::string& prefix) const {
    int n = 0;
    for (auto& e : events)
      if (e.rfind(prefix, 0) == 0) ++n;
    return n;
  }
};

// A grid delegate with fixed answers.
class FakeGridDelegate : public TileCollectionViewGridLayoutDelegate {
 public:
  unsigned methods = 0;
  fnd::Size size{250, 310};
  double header = 0, footer = 0;
  fnd::EdgeInsets insets;
  unsigned implementedGridLayoutMethods() const override { return methods; }
  fnd::Size sizeForItemInCollectionView(TileCollectionView&) override { return size; }
  double collectionViewHeightForHeaderInSection(TileCollectionView&, std::int64_t) override { return header; }
  double collectionViewHeightForFooterInSection(TileCollectionView&, std::int64_t) override { return footer; }
  fnd::EdgeInsets collectionViewLayoutInsetForSectionAtIndex(TileCollectionView&, TileCollectionViewGridLayout&,
                                                             std::int64_t) override { return insets; }
};

// A collection view in a window, with a grid layout and a fake data source.
struct CollectionHarness {
  std::unique_ptr<ui::Window> window;
  std::shared_ptr<TileCollectionView> view;
  std::shared_ptr<TileCollectionViewGridLayout> grid;
  FakeSource source;

  CollectionHarness(double width, double height, fnd::Size item, std::vector<std::uint64_t> counts,
                    double spacing = 0) {
    window = std::make_unique<ui::Window>(fnd::Rect(0, 0, width, height));
    view = std::make_shared<TileCollectionView>(fnd::Rect(0, 0, width, height));
    view->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
    window->contentView()->addSubview(view);
    grid = std::make_shared<TileCollectionViewGridLayout>();
    grid->setItemSize(item);
    grid->setVerticalSpacing(spacing);
    source.counts = std::move(counts);
    view->registerClass(TileCollectionView::cellClass<TileCollectionViewCell>(), "cell");
    view->setDataSource(&source);
    view->setDelegate(&source);
    view->setCollectionViewLayout(grid);
  }
  ~CollectionHarness() {
    view->setDelegate(nullptr);
    view->setDataSource(nullptr);
  }
  TileClipView& clip() { return *view->clipView(); }
  double originY() { return view->contentView()->bounds().origin.y; }
  // A click on an item through the window, with modifier flags.
  void click(const IndexPath& p, std::uint64_t flags = 0, int clicks = 1) {
    auto cell = view->cellForItemAtIndexPath(p);
    ASSERT_TRUE(cell) << "item not visible";
    fnd::Point center{cell->bounds().size.width / 2, cell->bounds().size.height / 2};
    fnd::Point at = cell->convertPointToView(center, nullptr);
    window->sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, at, flags, clicks));
    window->sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, at, flags, clicks));
  }
  void key(std::uint16_t code, std::uint64_t flags = 0, std::string chars = {}) {
    window->sendEvent(ui::Event::key(code, flags, std::move(chars)));
  }
  std::vector<std::int64_t> selectedItems() const {
    std::vector<std::int64_t> items;
    for (auto& p : view->selectedIndexes()) items.push_back(p.item);
    return items;
  }
};

}  // namespace kesto::test
