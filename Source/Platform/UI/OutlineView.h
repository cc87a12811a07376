#pragma once

#include "Platform/UI/UINotifications.h"
#include "Platform/Foundation/IndexSet.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Value.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/WidgetHostView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kesto::ui {

class OutlineView;
struct OutlineNode;


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
    ItemForPersistentObject = 1u << 4,
    PersistentObjectForItem = 1u << 5,
    PasteboardWriterForItem = 1u << 6,
    DraggingSessionWillBegin = 1u << 7,
    DraggingSessionEnded = 1u << 8,
    UpdateDraggingItemsForDrag = 1u << 9,
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
  // A value that names an item across reloads (the data source may hand out new item objects
  // each time): expanded items are found again by it. Null: the item has none.
  virtual fnd::Value outlineViewPersistentObjectForItem(OutlineView& view, OutlineItem item) { return {}; }
  virtual OutlineItem outlineViewItemForPersistentObject(OutlineView& view, const fnd::Value& object) { return nullptr; }
  // What one dragged item carries; nothing leaves the item out of the drag. When announced it
  // is used in place of outlineViewWriteItemsToPasteboard.
  virtual std::optional<DragPayload> outlineViewPasteboardWriterForItem(OutlineView& view, OutlineItem item) {
    return std::nullopt;
  }
  // A drag of rows out of this view starts (`screenPoint`: the pointer on the desktop) and ends
  // with the operation the destination performed (None when refused or cancelled).
  virtual void outlineViewDraggingSessionWillBeginAtPointForItems(OutlineView& view, const DragPayload& session,
                                                                  const fnd::Point& screenPoint,
                                                                  const std::vector<OutlineItem>& items) {}
  virtual void outlineViewDraggingSessionEndedAtPointOperation(OutlineView& view, const DragPayload& session,
                                                               const fnd::Point& screenPoint, std::uint64_t operation) {}
  // A drag enters the view.
  virtual void outlineViewUpdateDraggingItemsForDrag(OutlineView& view, const OutlineDraggingInfo& info) {}
};

// Posted to the delegate (object: the view; "NSFieldEditor": the editor's text) while a row is
// renamed in place.
inline constexpr const char* OutlineFieldEditorKey = "NSFieldEditor";

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
    HeightOfRowByItem = 1u << 14,
    NextTypeSelectMatch = 1u << 15,
    ShouldTypeSelectForEvent = 1u << 16,
    ShouldShowCellExpansion = 1u << 17,
    DataCellForItem = 1u << 18,
    SelectionIndexesForProposedSelection = 1u << 19,
    ViewForItem = 1u << 20,
    RowViewForItem = 1u << 21,
    DidAddRowView = 1u << 22,
    DidRemoveRowView = 1u << 23,
    TextDidBeginEditing = 1u << 24,
    TextDidChange = 1u << 25,
    TextDidEndEditing = 1u << 26,
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
  // Announced: every row is as high as this answer (at least 1), not rowHeight.
  virtual double outlineViewHeightOfRowByItem(OutlineView& view, OutlineItem item) { return 0; }
  // Type-select: the item to select for the typed string, searching from `startItem` to
  // `endItem` (wrapping past the last row); nullptr: no match.
  virtual OutlineItem outlineViewNextTypeSelectMatchFromItemToItemForString(OutlineView& view, OutlineItem startItem,
                                                                            OutlineItem endItem,
                                                                            const std::string& searchString) {
    return nullptr;
  }
  // False: the key is not used for type-select and travels on.
  virtual bool outlineViewShouldTypeSelectForEventWithCurrentSearchString(OutlineView& view, const Event& event,
                                                                          const std::string& searchString) {
    return true;
  }
  // Whether a row whose text is cut off shows the whole text under the pointer.
  virtual bool outlineViewShouldShowCellExpansionForItem(OutlineView& view, OutlineItem item) { return true; }
  // The cell a row starts from (its font and colour); nothing: the standard one.
  virtual std::optional<TextCell> outlineViewDataCellForItem(OutlineView& view, OutlineItem item) { return std::nullopt; }
  // The rows to select in place of the proposed ones.
  virtual fnd::IndexSet outlineViewSelectionIndexesForProposedSelection(OutlineView& view,
                                                                        const fnd::IndexSet& proposed) {
    return proposed;
  }
  // Announced: the view is view-based. Each visible row shows this view over its text cell
  // (the view draws no text of its own there), inside a row view spanning the row: the
  // delegate's, or a plain one. Views are kept while their row stays visible.
  virtual std::shared_ptr<View> outlineViewViewForItem(OutlineView& view, OutlineItem item) { return nullptr; }
  virtual std::shared_ptr<View> outlineViewRowViewForItem(OutlineView& view, OutlineItem item) { return nullptr; }
  // A row view entered the view, or left it (`row` -1: its row is gone).
  virtual void outlineViewDidAddRowViewForRow(OutlineView& view, View& rowView, long row) {}
  virtual void outlineViewDidRemoveRowViewForRow(OutlineView& view, View& rowView, long row) {}
  // The in-place rename: the first change, every change, and the end of the session (also one
  // that changed nothing).
  virtual void controlTextDidBeginEditing(const fnd::Notification& notification) {}
  virtual void controlTextDidChange(const fnd::Notification& notification) {}
  virtual void controlTextDidEndEditing(const fnd::Notification& notification) {}
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

  // Geometry, in this view's coordinates. Rows are rowHeight high unless the delegate gives
  // heights per item.
  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height);
  // Asks the delegate again for the heights of these rows.
  void noteHeightOfRowsWithIndexesChanged(const fnd::IndexSet& rows);
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
  // Scrolls the row as near the middle of the visible rows as the list's ends allow.
  void scrollRowToCenter(long row);
  virtual bool floatsGroupRows() const { return false; }
  // The one column always spans the view; it never widens to fit deep rows, so rows are cut
  // (and show their whole text under the pointer) rather than scrolled sideways.
  bool autoresizesOutlineColumn() const { return autoresizesOutlineColumn_; }
  void setAutoresizesOutlineColumn(bool on) { autoresizesOutlineColumn_ = on; }

  // View-based rows (the delegate gives views per item).
  bool isViewBased() const;
  // The row's views while it is visible and laid out (nullptr otherwise).
  View* viewAtRow(long row, bool makeIfNecessary = false);
  View* rowViewAtRow(long row, bool makeIfNecessary = false);

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

  // Inline rename of the row's text; the data source's setObjectValue receives the result. The
  // user opens it on the one selected row with F2 or Return, a double click, or a second click
  // on the row; rows the delegate declines stay closed.
  void editRow(long row);
  bool isEditing() const;
  // Closes an open rename editor; with `commit` its text goes to the data source first.
  void endEditing(bool commit);
  // Told of a plain click on the one row already selected (the click that would rename it
  // later); answering true means the click was acted on and opens no editor.
  void setSelectedRowClickHandler(std::function<bool(long row)> handler) { selectedRowClicked_ = std::move(handler); }
  // Opens the rename editor on a row the data source and delegate let the user rename; answers
  // whether it opened.
  bool beginEditingRow(long row);
  // The rename editor's text (the delegate's text-editing messages carry it too).
  std::string editingText() const;

  // Drawing: the standard row (background, selection, triangle) is drawn first, then this,
  // which draws the text cell at frameOfCellAtRow. Subclasses draw more after calling it.
  virtual void drawRow(long row, GraphicsContext& context, const fnd::Rect& clipRect);
  // The text cell of a row after the delegate's willDisplayCell.
  TextCell preparedCellAtRow(long row);
  // The tool tip at a point: the delegate's, else the whole text of a row cut off (empty: none).
  std::string toolTipAtPoint(const fnd::Point& point);
  // Whether the row's text is wider than its cell.
  bool isCellTextCut(long row);

  // Events.
  void keyDown(const Event& event) override;
  void mouseDown(const Event& event) override;
  void mouseDragged(const Event& event) override;
  void mouseUp(const Event& event) override;
  void rightMouseDown(const Event& event) override;
  // A context-menu request (right button, Control-click or the menu key): the item under the
  // pointer, nullptr below the rows. Answers whether a menu was shown.
  virtual bool menuForEvent(const Event& event, OutlineItem item);
  // Type-select: the first row after the selection whose text starts with the typed string,
  // or the delegate's match.
  virtual std::string typeSelectStringForRow(long row);

  // Drag and drop.
  void setDraggingEnabled(bool enabled) { draggingEnabled_ = enabled; }
  bool draggingEnabled() const { return draggingEnabled_; }
  // The payload for dragging these rows, or nothing when the data source refuses. Per-item
  // writers' entries of one text type are joined by line feeds; other types keep the first.
  std::optional<DragPayload> dragPayloadForRows(const fnd::IndexSet& rows);
  // The drag-session hooks, around the toolkit's drag.
  void draggingSessionWillBegin(const DragPayload& payload, const fnd::Point& screenPoint,
                                const std::vector<OutlineItem>& items);
  void draggingSessionEnded(const DragPayload& payload, const fnd::Point& screenPoint, std::uint64_t operation);
  void draggingEntered(const OutlineDraggingInfo& info);
  // Drops are proposed as (item, child index): -1 means onto the item.
  std::uint64_t validateDrop(const OutlineDraggingInfo& info, OutlineItem item, long childIndex);
  bool acceptDrop(const OutlineDraggingInfo& info, OutlineItem item, long childIndex);

  struct Impl;

  void layout() override;
  void setFrame(const fnd::Rect& frame) override;
  void setBoundsOrigin(const fnd::Point& origin) override;

  // From the rename editor.
  void textEditingChanged();
  void textEditingEnded();

 protected:
  // Selection changes reported to the delegate; a mouse press in progress reports "is
  // changing" and the release "did change".
  void notifySelectionChanged();

 private:
  friend struct ImplAccess;
  Impl* impl() const { return d_.get(); }
  void rememberPersistentObject(OutlineNode* node);

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
  std::function<bool(long row)> selectedRowClicked_;
  bool autoresizesOutlineColumn_ = true;
};

}  // namespace kesto::ui
