#pragma once

#include "Platform/Foundation/IndexSet.h"
#include "Platform/Foundation/Value.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/WidgetHostView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kesto::ui {

class OutlineView;


// What a drag carries: (type, bytes) pairs in the order they were written.
struct DragPayload {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> entries;

  static constexpr const char* PlainText = "text/plain";
  void setString(const std::string& type, const std::string& text);
  std::optional<std::string> string(const std::string& type) const;
  bool empty() const { return entries.empty(); }
};

// A drag over or onto an outline view.
struct OutlineDraggingInfo {
  DragPayload payload;
  // What the source allows: a drag held with the copy modifier (Ctrl or Alt) offers Copy only.
  std::uint64_t sourceOperationMask = DragOperation::Every;
  // The outline view the drag started in, when it is one of ours.
  OutlineView* source = nullptr;
  fnd::Point locationInView;
};

// The text cell of a row, as the delegate may adjust it before it is drawn.
struct TextCell {
  std::string stringValue;
  Font font;
  std::optional<Color> textColor;  // absent: the row's standard colour
  bool isHighlighted = false;
};

// Items are opaque object pointers the data source hands out; nullptr is the root. The view
// never looks inside them and never owns them: the data source keeps them alive while shown.
using OutlineItem = fnd::Object*;

class OutlineViewDataSource {
 public:
  enum Method : unsigned {
    SetObjectValue = 1u << 0,
    WriteItems = 1u << 1,
    ValidateDrop = 1u << 2,
    AcceptDrop = 1u << 3,
  };
  virtual ~OutlineViewDataSource() = default;
  // Read once when the data source is set.
  virtual unsigned implementedOutlineDataSourceMethods() const { return 0; }

  virtual long outlineViewNumberOfChildrenOfItem(OutlineView& view, OutlineItem item) = 0;
  virtual OutlineItem outlineViewChildOfItem(OutlineView& view, long index, OutlineItem item) = 0;
  virtual bool outlineViewIsItemExpandable(OutlineView& view, OutlineItem item) = 0;
  virtual fnd::Value outlineViewObjectValueForItem(OutlineView& view, OutlineItem item) = 0;
  // Inline rename.
  virtual void outlineViewSetObjectValueForItem(OutlineView& view, const fnd::Value& value, OutlineItem item) {}
  // Starts a drag: writes the items into the payload; false refuses the drag.
  virtual bool outlineViewWriteItemsToPasteboard(OutlineView& view, const std::vector<OutlineItem>& items,
                                                 DragPayload& pasteboard) { return false; }
  // `childIndex` -1 proposes a drop onto `item`; otherwise between its children.
  virtual std::uint64_t outlineViewValidateDropProposedItemProposedChildIndex(OutlineView& view, const OutlineDraggingInfo& info, OutlineItem item,
                                                long childIndex) { return DragOperation::None; }
  virtual bool outlineViewAcceptDropItemChildIndex(OutlineView& view, const OutlineDraggingInfo& info, OutlineItem item,
                                     long childIndex) { return false; }
};

class OutlineViewDelegate {
 public:
  enum Method : unsigned {
    IsGroupItem = 1u << 0,
    ShouldSelectItem = 1u << 1,
    ShouldEditItem = 1u << 2,
    ShouldExpandItem = 1u << 3,
    ShouldCollapseItem = 1u << 4,
    WillDisplayCell = 1u << 5,
    ToolTipForCell = 1u << 6,
    TypeSelectStringForItem = 1u << 7,
    SelectionIsChanging = 1u << 8,
    SelectionDidChange = 1u << 9,
    ItemWillExpand = 1u << 10,
    ItemDidExpand = 1u << 11,
    ItemWillCollapse = 1u << 12,
    ItemDidCollapse = 1u << 13,
  };
  virtual ~OutlineViewDelegate() = default;
  // Read once when the delegate is set: only these hooks are called.
  virtual unsigned implementedOutlineDelegateMethods() const { return 0; }

  virtual bool outlineViewIsGroupItem(OutlineView& view, OutlineItem item) { return false; }
  virtual bool outlineViewShouldSelectItem(OutlineView& view, OutlineItem item) { return true; }
  virtual bool outlineViewShouldEditItem(OutlineView& view, OutlineItem item) { return true; }
  virtual bool outlineViewShouldExpandItem(OutlineView& view, OutlineItem item) { return true; }
  virtual bool outlineViewShouldCollapseItem(OutlineView& view, OutlineItem item) { return true; }
  virtual void outlineViewWillDisplayCellForItem(OutlineView& view, TextCell& cell, OutlineItem item) {}
  // `rect` (the cell's frame) may be changed to where the tip belongs.
  virtual std::string outlineViewToolTipForCellRectItemMouseLocation(OutlineView& view, TextCell& cell, fnd::Rect& rect,
                                                OutlineItem item, const fnd::Point& mouseLocation) { return {}; }
  virtual std::string outlineViewTypeSelectStringForItem(OutlineView& view, OutlineItem item) { return {}; }
  virtual void outlineViewSelectionIsChanging(OutlineView& view) {}
  virtual void outlineViewSelectionDidChange(OutlineView& view) {}
  virtual void outlineViewItemWillExpand(OutlineView& view, OutlineItem item) {}
  virtual void outlineViewItemDidExpand(OutlineView& view, OutlineItem item) {}
  virtual void outlineViewItemWillCollapse(OutlineView& view, OutlineItem item) {}
  virtual void outlineViewItemDidCollapse(OutlineView& view, OutlineItem item) {}
};

// A one-column outline over a tree of opaque items, on the toolkit's tree widget (which keeps
// scrolling, focus, inline editing and drops; the view keeps rows, selection and expansion). Rows are the
// visible items, top to bottom; coordinates are flipped (row 0 at the top) and include the
// scrolled-away part, so rectOfRow and rowAtPoint agree with points converted from the window.
// Every selection change (mouse, keys, code) goes through selectRowIndexes; every expansion
// through expandItem/collapseItem, which ask the delegate first and tell it after.
class OutlineView : public WidgetHostView {
 public:
  explicit OutlineView(const fnd::Rect& frame = fnd::Rect());
  ~OutlineView() override;

  bool isFlipped() const override { return true; }

  OutlineViewDataSource* dataSource() const { return dataSource_; }
  virtual void setDataSource(OutlineViewDataSource* dataSource);
  OutlineViewDelegate* delegate() const { return delegate_; }
  virtual void setDelegate(OutlineViewDelegate* delegate);

  // Asks the data source again. Expanded items that come back stay expanded; selected row
  // indexes are kept (those past the end dropped).
  virtual void reloadData();
  void reloadItem(OutlineItem item, bool reloadChildren = false);

  // Rows.
  long numberOfRows() const;
  OutlineItem itemAtRow(long row) const;  // nullptr outside the rows
  long rowForItem(OutlineItem item) const;  // -1 when not shown
  long levelForRow(long row) const;  // -1 outside the rows
  long levelForItem(OutlineItem item) const;  // -1 when not shown
  OutlineItem parentForItem(OutlineItem item) const;  // nullptr for top-level or unknown items
  bool isExpandable(OutlineItem item) const;
  bool isItemExpanded(OutlineItem item) const;

  // Expansion. nullptr expands (collapses) every top-level item; with `children`, the whole
  // subtree. Each item asks shouldExpand/shouldCollapse first.
  virtual void expandItem(OutlineItem item, bool expandChildren = false);
  virtual void collapseItem(OutlineItem item, bool collapseChildren = false);
  virtual bool shouldExpandItem(OutlineItem item);
  virtual bool shouldCollapseItem(OutlineItem item);

  // Geometry, in this view's coordinates.
  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height);
  double indentationPerLevel() const { return indentation_; }
  void setIndentationPerLevel(double indentation);
  // How titles too wide for their column are shortened (the end by default). A shortened title
  // shows whole as the row's tool tip when the delegate gives none.
  TextTruncation textTruncation() const { return textTruncation_; }
  void setTextTruncation(TextTruncation truncation);
  fnd::Rect rectOfRow(long row) const;  // empty outside the rows
  long rowAtPoint(const fnd::Point& point) const;  // -1 below the rows
  // Where the row's text is drawn.
  virtual fnd::Rect frameOfCellAtRow(long row);
  // The disclosure triangle's frame; an empty rectangle draws none and ignores clicks there.
  virtual fnd::Rect frameOfOutlineCellAtRow(long row);
  void scrollRowToVisible(long row);
  virtual bool floatsGroupRows() const { return false; }

  // Selection.
  bool allowsEmptySelection() const { return allowsEmptySelection_; }
  void setAllowsEmptySelection(bool allows) { allowsEmptySelection_ = allows; }
  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool allows) { allowsMultipleSelection_ = allows; }
  fnd::IndexSet selectedRowIndexes() const;
  long selectedRow() const;  // the last selected row, -1 when none
  bool isRowSelected(long row) const;
  long numberOfSelectedRows() const;
  // The one entry point of every selection change. Rows outside the table are ignored; rows
  // the delegate refuses (shouldSelectItem) are left out.
  virtual void selectRowIndexes(const fnd::IndexSet& indexes, bool byExtendingSelection);
  void deselectAll();

  virtual bool isGroupItem(OutlineItem item);
  virtual bool shouldSelectItem(OutlineItem item);
  virtual bool shouldEditItem(OutlineItem item);

  // Inline rename of the row's text; the data source's setObjectValue receives the result.
  void editRow(long row);
  bool isEditing() const;

  // Drawing: the standard row (background, selection, triangle) is drawn first, then this,
  // which draws the text cell at frameOfCellAtRow. Subclasses draw more after calling it.
  virtual void drawRow(long row, GraphicsContext& context, const fnd::Rect& clipRect);
  // The text cell of a row after the delegate's willDisplayCell.
  TextCell preparedCellAtRow(long row);
  // The tool tip at a point, from the delegate (empty: none).
  std::string toolTipAtPoint(const fnd::Point& point);

  // Events.
  void keyDown(const Event& event) override;
  void mouseDown(const Event& event) override;
  void mouseDragged(const Event& event) override;
  void mouseUp(const Event& event) override;
  void rightMouseDown(const Event& event) override;
  // A context-menu request (right button, Control-click or the menu key): the item under the
  // pointer, nullptr below the rows. Answers whether a menu was shown.
  virtual bool menuForEvent(const Event& event, OutlineItem item);
  // Type-select: the first row after the selection whose text starts with the typed string.
  virtual std::string typeSelectStringForRow(long row);

  // Drag and drop.
  void setDraggingEnabled(bool enabled) { draggingEnabled_ = enabled; }
  bool draggingEnabled() const { return draggingEnabled_; }
  // The payload for dragging these rows, or nothing when the data source refuses.
  std::optional<DragPayload> dragPayloadForRows(const fnd::IndexSet& rows);
  // Drops are proposed as (item, child index): -1 means onto the item.
  std::uint64_t validateDrop(const OutlineDraggingInfo& info, OutlineItem item, long childIndex);
  bool acceptDrop(const OutlineDraggingInfo& info, OutlineItem item, long childIndex);

  struct Impl;
  Impl* impl() const { return d_.get(); }

 protected:
  // Selection changes reported to the delegate; a mouse press in progress reports "is
  // changing" and the release "did change".
  void notifySelectionChanged();

 private:
  std::unique_ptr<Impl> d_;
  OutlineViewDataSource* dataSource_ = nullptr;
  OutlineViewDelegate* delegate_ = nullptr;
  unsigned dataSourceMethods_ = 0;
  unsigned delegateMethods_ = 0;
  double rowHeight_ = 20.0;
  double indentation_ = 14.0;
  TextTruncation textTruncation_ = TextTruncation::End;
  bool allowsEmptySelection_ = true;
  bool allowsMultipleSelection_ = false;
  bool draggingEnabled_ = true;
};

}  // namespace kesto::ui
