#pragma once

#include "Platform/Foundation/IndexSet.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Nib.h"
#include "Views/IndexPath.h"
#include "Views/TileCollectionViewData.h"
#include "Views/TileCollectionViewLayout.h"
#include "Views/TileCollectionViewSelection.h"
#include "Views/TileScrollView.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kesto {

class TileCollectionView;
class TileCollectionViewCell;
class TileCollectionViewReusableView;

class TileCollectionViewDataSource {
 public:
  // Optional methods, reported once when the data source is set.
  enum Method : unsigned {
    NumberOfSectionsInCollectionView = 1u << 0,
    ViewForSupplementaryViewOfKind = 1u << 1,
    WillShowItems = 1u << 2,
  };
  virtual ~TileCollectionViewDataSource() = default;
  virtual unsigned implementedDataSourceMethods() const { return 0; }

  virtual std::uint64_t collectionViewNumberOfItemsInSection(TileCollectionView& view, std::int64_t section) = 0;
  // Normally a cell from dequeueReusableCellWithIdentifier; anything else is a contract breach.
  virtual std::shared_ptr<ui::View> collectionViewCellForItemAtIndexPath(TileCollectionView& view,
                                                                        const IndexPath& indexPath) = 0;
  virtual std::int64_t numberOfSectionsInCollectionView(TileCollectionView& view) { return 1; }
  virtual std::shared_ptr<ui::View> collectionViewViewForSupplementaryViewOfKind(TileCollectionView& view,
                                                                                const std::string& kind,
                                                                                std::int64_t section) {
    return nullptr;
  }
  // The items about to get cells, all of them before the first is asked for: what the cells
  // show can be read for them together.
  virtual void collectionViewWillShowItemsAtIndexPaths(TileCollectionView& view, const std::vector<IndexPath>& indexPaths) {}
};

class TileCollectionViewDelegate {
 public:
  enum Method : unsigned {
    MouseDownInItem = 1u << 0,
    MouseUpInItem = 1u << 1,
    ShouldSelectItem = 1u << 2,
    DidSelectItem = 1u << 3,
    ShouldDeselectItem = 1u << 4,
    DidDeselectItem = 1u << 5,
    DidScrollToItem = 1u << 6,
    DidDoubleClickItem = 1u << 7,
    DidRightClickItem = 1u << 8,
    DidEndDisplayingCell = 1u << 9,
  };
  virtual ~TileCollectionViewDelegate() = default;
  virtual unsigned implementedDelegateMethods() const { return 0; }

  virtual void collectionViewMouseDownInItemAtIndexPath(TileCollectionView& view, const std::optional<IndexPath>& indexPath) {}
  virtual void collectionViewMouseUpInItemAtIndexPath(TileCollectionView& view, const std::optional<IndexPath>& indexPath) {}
  virtual bool collectionViewShouldSelectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) { return true; }
  virtual void collectionViewDidSelectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) {}
  virtual bool collectionViewShouldDeselectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) { return true; }
  virtual void collectionViewDidDeselectItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) {}
  virtual void collectionViewDidScrollToItemAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) {}
  virtual void collectionViewDidDoubleClickItemAtIndexPath(TileCollectionView& view, const std::optional<IndexPath>& indexPath) {}
  virtual void collectionViewDidRightClickItemAtIndexPath(TileCollectionView& view, const std::optional<IndexPath>& indexPath) {}
  virtual void collectionViewDidEndDisplayingCellForItemAtIndexPath(TileCollectionView& view, TileCollectionViewCell& cell,
                                                                     const std::optional<IndexPath>& indexPath) {}
};

enum TileCollectionViewSelectionType : std::int64_t {
  TileCollectionViewSelectionTypeSingle = 0,
  TileCollectionViewSelectionTypeRange = 1,
  TileCollectionViewSelectionTypeToggle = 2,
};

enum TileCollectionViewScrollPosition : std::int64_t {
  TileCollectionViewScrollPositionNone = 0,
  TileCollectionViewScrollPositionNearest = 1,
  TileCollectionViewScrollPositionTop = 2,
  TileCollectionViewScrollPositionCenter = 3,
  TileCollectionViewScrollPositionBottom = 4,
};

// A scroll view showing items in sections through reusable cells placed by a pluggable layout.
// Only what intersects the visible rectangle has views. Create it with std::make_shared.
class TileCollectionView : public TileScrollView {
 public:
  using CellClass = std::function<std::shared_ptr<TileCollectionViewCell>(const fnd::Rect&)>;
  using SupplementaryViewClass = std::function<std::shared_ptr<TileCollectionViewReusableView>(const fnd::Rect&)>;
  template <typename T>
  static CellClass cellClass() {
    return [](const fnd::Rect& r) { return std::make_shared<T>(r); };
  }
  template <typename T>
  static SupplementaryViewClass supplementaryViewClass() {
    return [](const fnd::Rect& r) { return std::make_shared<T>(r); };
  }

  struct Flags {
    unsigned dataSourceNumberOfSections : 1;
    unsigned dataSourceViewForSupplementaryView : 1;
    unsigned dataSourceWillShowItems : 1;
    unsigned delegateMouseDown : 1;
    unsigned delegateMouseUp : 1;
    unsigned delegateShouldSelect : 1;
    unsigned delegateDidSelect : 1;
    unsigned delegateShouldDeselect : 1;
    unsigned delegateDidDeselect : 1;
    unsigned delegateDidScroll : 1;
    unsigned delegateDidDoubleClick : 1;
    unsigned delegateDidRightClick : 1;
    unsigned delegateDidEndDisplayingCell : 1;
    std::uint32_t wantsLayout;
  };

  explicit TileCollectionView(const fnd::Rect& frame = fnd::Rect());
  ~TileCollectionView() override;

  // Data source, delegate and layout.
  TileCollectionViewDelegate* delegate() const { return delegate_; }
  void setDelegate(TileCollectionViewDelegate* delegate);
  TileCollectionViewDataSource* dataSource() const { return dataSource_; }
  void setDataSource(TileCollectionViewDataSource* dataSource);
  const std::shared_ptr<TileCollectionViewLayout>& collectionViewLayout() const { return layout_; }
  void setCollectionViewLayout(std::shared_ptr<TileCollectionViewLayout> layout);
  void collectionViewLayoutWasInvalidated(TileCollectionViewLayout* layout);
  const Flags& collectionViewFlags() const { return flags_; }
  TileCollectionViewData& data() { return data_; }

  // Cells.
  void registerClass(CellClass cellClass, const std::string& identifier);
  void registerNib(std::shared_ptr<const ui::Nib> nib, const std::string& identifier);
  std::shared_ptr<TileCollectionViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
  void enqueueReusableCell(std::shared_ptr<TileCollectionViewCell> cell, const std::string& identifier);
  std::shared_ptr<ui::View> firstTopLevelObjectOfClass(const std::function<bool(ui::View*)>& isKind,
                                                       const ui::Nib& nib);

  // Reloading and layout.
  void reloadData();
  void reloadDataAndDeselect();
  void reloadDataAndResetSelection(bool reset);
  // The items shown whose values changed (the number of items and their places did not): only
  // their cells are asked for again; items off screen get theirs when scrolled to.
  void reloadVisibleItems(const std::function<bool(const IndexPath&)>& changed);
  // The items of a one-section list changed only by these: those at `removed` (places before,
  // increasing) left and those at `inserted` (places after, increasing) came. The selection and
  // the cells shown move with their items and keep the scroll position; only the cells of new
  // items are asked for. False, with nothing done, when the data source's count does not agree
  // (the caller reloads instead).
  bool itemsChanged(const std::vector<std::int64_t>& removed, const std::vector<std::int64_t>& inserted);
  void layout() override;
  void performFullRelayoutForcingSubviewsReset(bool force);
  void layoutDocumentView();
  void updateScrollDirection();
  void layoutCells() { layoutCellsWithRedraw(false); }
  void layoutCellsWithRedraw(bool redraw);
  void applyLayoutAttributesToCell(const std::optional<TileCollectionViewLayoutAttributes>& attributes,
                                   TileCollectionViewCell& cell);
  void resetAllCellsAndSupplementaryViews();
  // A reload keeps the cells shown: they go back to the reuse pool in place, the data source
  // gets them again for the new rows, and only those left over are hidden. Making and showing
  // new views for every reload is what made it slow.
  void recycleVisibleCells();

  // Queries.
  std::int64_t numberOfSections() const { return data_.numberOfSections(); }
  std::int64_t numberOfItemsInSection(std::int64_t section) const { return data_.numberOfItemsInSection(section); }
  // The size of the visible rectangle. Once laid out, the document covers the clip view, so this
  // is the clip view's size; using it directly lets the first layout see the real width.
  fnd::Size visibleSize() const { return contentView() ? contentView()->bounds().size : fnd::Size{}; }
  std::vector<std::shared_ptr<TileCollectionViewCell>> visibleCells() const;
  std::shared_ptr<TileCollectionViewCell> cellForItemAtIndexPath(const std::optional<IndexPath>& indexPath) const;
  std::optional<IndexPath> indexPathForCell(const TileCollectionViewCell& cell) const;
  bool validateIndexPath(const std::optional<IndexPath>& indexPath) const;
  std::vector<IndexPath> allIndexPaths() const;
  std::vector<IndexPath> indexPathsForItemsInRect(const fnd::Rect& rect);
  fnd::IndexSet indexesForSectionsInRect(const fnd::Rect& rect) const;
  std::optional<IndexPath> indexPathForItemAtPoint(const fnd::Point& point);
  std::vector<IndexPath> indexPathsForVisibleItems();
  fnd::Rect rectForItemAtIndexPath(const std::optional<IndexPath>& indexPath);
  fnd::Rect rectForSection(std::int64_t section) const;
  std::string description() const override;

  // Selection.
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool on) { allowsSelection_ = on; }
  bool animatesSelection() const { return animatesSelection_; }
  void setAnimatesSelection(bool on) { animatesSelection_ = on; }
  std::vector<IndexPath> selectedIndexes() const;
  std::optional<IndexPath> indexPathForSelectedItem() const;
  std::vector<IndexPath> indexPathsForSelectedItems() const { return selectedIndexes(); }
  bool isItemSelected(const IndexPath& indexPath) const { return selection_.contains(indexPath); }
  const TileCollectionViewSelection& selection() const { return selection_; }
  void selectItemAtIndexPath(const std::optional<IndexPath>& indexPath, bool animated);
  void deselectItemAtIndexPath(const std::optional<IndexPath>& indexPath, bool animated);
  void selectItemsAtIndexPaths(const std::vector<IndexPath>& indexPaths, bool animated);
  void deselectItemsAtIndexPaths(const std::vector<IndexPath>& indexPaths, bool animated);
  void selectItemAtIndexPath(const std::optional<IndexPath>& indexPath, TileCollectionViewScrollPosition position,
                             bool animated);
  void selectItemAtIndexPath(const std::optional<IndexPath>& indexPath, std::int64_t position, bool animated,
                             std::int64_t selectionType);
  void selectAll(ui::Responder* sender);
  void selectAllItems() { selectAll(nullptr); }
  void deselectAllItems();
  std::optional<IndexPath> indexPathForNextSelectableItemAfterIndexPath(const std::optional<IndexPath>& indexPath) const;
  std::optional<IndexPath> indexPathForNextSelectableItemBeforeIndexPath(const std::optional<IndexPath>& indexPath) const;

  // Clicks reported by the cells.
  void mouseDownInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event& event);
  void mouseUpInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event& event);
  void doubleClickInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event& event);
  void rightClickInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event& event);
  // The right click being handled, while the delegate hears of it (for a menu at the pointer).
  const ui::Event* currentRightClick() const { return currentRightClick_; }

  // Keyboard.
  bool acceptsFirstResponder() override { return true; }
  bool becomeFirstResponder() override { return true; }
  bool resignFirstResponder() override { return true; }
  bool canBecomeKeyView() override { return true; }
  void keyDown(const ui::Event& event) override;
  bool respondsToAction(ui::Command selector) const override;
  bool performAction(ui::Command selector, ui::Responder* sender) override;
  void moveLeft(ui::Responder* sender);
  void moveLeftAndModifySelection(ui::Responder* sender);
  void moveRight(ui::Responder* sender);
  void moveRightAndModifySelection(ui::Responder* sender);
  void moveUp(ui::Responder* sender);
  void moveUpAndModifySelection(ui::Responder* sender);
  void moveDown(ui::Responder* sender);
  void moveDownAndModifySelection(ui::Responder* sender);
  // Selects the first or the last item (`type` as for a selection); false when there is none.
  bool moveToEdge(bool first, std::int64_t type);

  // Scrolling.
  void scrollToItemAtIndexPath(const std::optional<IndexPath>& indexPath, std::int64_t position, bool animated);
  void scrollToCurrentRect(const fnd::Rect& rect);

  // Supplementary views.
  void registerClass(SupplementaryViewClass viewClass, const std::string& kind, const std::string& reuseIdentifier);
  void registerNib(std::shared_ptr<const ui::Nib> nib, const std::string& kind, const std::string& reuseIdentifier);
  std::shared_ptr<TileCollectionViewReusableView> dequeueReusableSupplementaryViewOfKind(const std::string& kind,
                                                                                         const std::string& reuseIdentifier);
  void enqueueReusableSupplementaryView(std::shared_ptr<TileCollectionViewReusableView> view, const std::string& kind,
                                        const std::string& reuseIdentifier);
  std::vector<std::string> allSupplementaryViewIdentifiers() const;
  static std::string supplementaryViewIdentifierWithKind(const std::string& kind, const std::string& reuseIdentifier);
  static std::string kindForSupplementaryViewIdentifier(const std::string& identifier);
  static std::string reuseIdentifierForSupplementaryViewIdentifier(const std::string& identifier);
  static std::string layoutIdentifierForSupplementaryViewIdentifier(const std::string& identifier, std::int64_t section);
  static std::string supplementaryViewIdentifierForLayoutIdentifier(const std::string& layoutIdentifier);
  static std::int64_t sectionForSupplementaryLayoutIdentifier(const std::string& layoutIdentifier);
  std::shared_ptr<TileCollectionViewReusableView> supplementaryViewForKind(const std::string& kind,
                                                                          const std::string& reuseIdentifier,
                                                                          std::int64_t section) const;
  fnd::Rect rectForSupplementaryViewWithKind(const std::string& kind, std::int64_t section);
  std::vector<std::string> layoutIdentifiersForSupplementaryViewsInRect(const fnd::Rect& rect);
  void layoutSupplementaryViews() { layoutSupplementaryViewsWithRedraw(false); }
  void layoutSupplementaryViewsWithRedraw(bool redraw);
  void applyLayoutAttributesToSupplementaryView(const std::optional<TileCollectionViewLayoutAttributes>& attributes,
                                                ui::View& view);

  // Inspection (tests and the description).
  std::size_t reusableCellCount(const std::string& identifier) const;
  std::size_t visibleSupplementaryViewCount() const { return visibleSupplementaryViewsMap_.size(); }
  fnd::Size lastDrawnSize() const { return lastDrawnSize_; }

 private:
  void commonInit();
  std::weak_ptr<TileCollectionView> weakSelf();
  void moveInDirection(TileCollectionViewDirection direction, std::int64_t selectionType);
  // The keyboard commands the view answers itself (arrows and Select All); others go on to the
  // scroll view.
  void addKeyActions();
  // Selects or deselects one item, asking the delegate first and telling it after.
  void setItemSelected(const IndexPath& indexPath, bool selected);

  ui::ActionSet keyActions_;

  TileCollectionViewDelegate* delegate_ = nullptr;
  TileCollectionViewDataSource* dataSource_ = nullptr;
  std::shared_ptr<TileCollectionViewLayout> layout_;
  TileCollectionViewData data_;
  Flags flags_{};
  bool allowsSelection_ = true;
  bool animatesSelection_ = false;
  fnd::Size lastDrawnSize_;
  TileCollectionViewSelection selection_;
  std::unordered_map<std::string, std::vector<std::shared_ptr<TileCollectionViewCell>>> reusableCells_;
  // A cell registration changed since the last full reset: cells of the old kind are not reused.
  bool registrationsChanged_ = true;
  std::unordered_map<IndexPath, std::shared_ptr<TileCollectionViewCell>, IndexPathHash> visibleCellsMap_;
  std::map<std::string, CellClass> cellClassMap_;
  std::map<std::string, std::shared_ptr<const ui::Nib>> cellNibMap_;
  std::unordered_map<std::string, std::vector<std::shared_ptr<TileCollectionViewReusableView>>> reusableSupplementaryViews_;
  std::map<std::string, std::shared_ptr<TileCollectionViewReusableView>> visibleSupplementaryViewsMap_;
  std::map<std::string, SupplementaryViewClass> supplementaryViewClassMap_;
  std::map<std::string, std::shared_ptr<const ui::Nib>> supplementaryViewNibMap_;
  const ui::Event* currentRightClick_ = nullptr;
};

}  // namespace kesto
