#pragma once

#include "Views/ViewsNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Color.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/OutlineView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class SourceList;
class SourceListDelegateDataSourceProxy;

inline constexpr const char* SourceListItemKey = "NSObject";
inline constexpr const char* SourceListRowsKey = "rows";

// Items are the controllers' own objects; nullptr is the root.
using SourceListItemPtr = fnd::Object*;

// The base of delegates and data sources: lists that point at one forget it when it goes
// away, so a controller may die before its list.
class SourceListClient {
 public:
  SourceListClient() = default;
  SourceListClient(const SourceListClient&) {}
  SourceListClient& operator=(const SourceListClient&) { return *this; }
  virtual ~SourceListClient();

 private:
  friend class SourceListDelegateDataSourceProxy;
  std::vector<SourceListDelegateDataSourceProxy*> proxies_;
};

// What a source list asks of its data source. The first three are required; the others are
// asked only when announced by implementedSourceListDataSourceMethods (read when set).
class SourceListDataSource : public virtual SourceListClient {
 public:
  enum Method : unsigned {
    ObjectValueForItem = 1u << 0,
    SetObjectValueForItem = 1u << 1,
    ItemHasBadge = 1u << 2,
    BadgeValueForItem = 1u << 3,
    BadgeTextColorForItem = 1u << 4,
    BadgeBackgroundColorForItem = 1u << 5,
    ItemHasIcon = 1u << 6,
    IconForItem = 1u << 7,
    WriteItemsToPasteboard = 1u << 8,
    ValidateDrop = 1u << 9,
    AcceptDrop = 1u << 10,
    ItemForPersistentObject = 1u << 11,
    PersistentObjectForItem = 1u << 12,
    PasteboardWriterForItem = 1u << 13,
    DraggingSessionWillBegin = 1u << 14,
    DraggingSessionEnded = 1u << 15,
    UpdateDraggingItemsForDrag = 1u << 16,
  };
  virtual unsigned implementedSourceListDataSourceMethods() const { return 0; }

  virtual std::uint64_t sourceListNumberOfChildrenOfItem(SourceList& list, SourceListItemPtr item) = 0;
  virtual SourceListItemPtr sourceListChildOfItem(SourceList& list, std::uint64_t index, SourceListItemPtr item) = 0;
  virtual bool sourceListIsItemExpandable(SourceList& list, SourceListItemPtr item) = 0;
  virtual fnd::Value sourceListObjectValueForItem(SourceList& list, SourceListItemPtr item) { return {}; }
  virtual void sourceListSetObjectValueForItem(SourceList& list, const fnd::Value& value, SourceListItemPtr item) {}
  virtual bool sourceListItemHasBadge(SourceList& list, SourceListItemPtr item) { return false; }
  virtual std::int64_t sourceListBadgeValueForItem(SourceList& list, SourceListItemPtr item) { return 0; }
  virtual std::optional<ui::Color> sourceListBadgeTextColorForItem(SourceList& list, SourceListItemPtr item) { return {}; }
  virtual std::optional<ui::Color> sourceListBadgeBackgroundColorForItem(SourceList& list, SourceListItemPtr item) {
    return {};
  }
  virtual bool sourceListItemHasIcon(SourceList& list, SourceListItemPtr item) { return false; }
  virtual ui::Image sourceListIconForItem(SourceList& list, SourceListItemPtr item) { return {}; }
  virtual bool sourceListWriteItemsToPasteboard(SourceList& list, const std::vector<SourceListItemPtr>& items,
                                                ui::DragPayload& pasteboard) { return false; }
  // `childIndex` -1: onto `item`.
  virtual std::uint64_t sourceListValidateDropProposedItemProposedChildIndex(SourceList& list, const ui::OutlineDraggingInfo& info,
                                               SourceListItemPtr proposedItem, long proposedChildIndex) {
    return ui::DragOperation::None;
  }
  virtual bool sourceListAcceptDropItemChildIndex(SourceList& list, const ui::OutlineDraggingInfo& info, SourceListItemPtr item,
                                    long childIndex) { return false; }
  // A value naming the item across reloads (a folder's identifier, say), so open rows stay open
  // when the controller rebuilds its items; and the item a value names now.
  virtual fnd::Value sourceListPersistentObjectForItem(SourceList& list, SourceListItemPtr item) { return {}; }
  virtual SourceListItemPtr sourceListItemForPersistentObject(SourceList& list, const fnd::Value& object) {
    return nullptr;
  }
  // What one dragged item carries (nothing: it stays behind); used in place of writeItems.
  virtual std::optional<ui::DragPayload> sourceListPasteboardWriterForItem(SourceList& list, SourceListItemPtr item) {
    return std::nullopt;
  }
  virtual void sourceListDraggingSessionWillBeginAtPointForItems(SourceList& list, const ui::DragPayload& session,
                                                                 const fnd::Point& screenPoint,
                                                                 const std::vector<SourceListItemPtr>& items) {}
  virtual void sourceListDraggingSessionEndedAtPointOperation(SourceList& list, const ui::DragPayload& session,
                                                              const fnd::Point& screenPoint, std::uint64_t operation) {}
  virtual void sourceListUpdateDraggingItemsForDrag(SourceList& list, const ui::OutlineDraggingInfo& info) {}
};

// What a source list tells and asks its delegate; every method is optional and used only when
// announced by implementedSourceListDelegateMethods (read when set). The notification methods
// receive the posted notification; the delegate is registered for exactly those it announces.
class SourceListDelegate : public virtual SourceListClient {
 public:
  enum Method : unsigned {
    IsGroupAlwaysExpanded = 1u << 0,
    MenuForEvent = 1u << 1,
    DeleteKeyPressedOnRows = 1u << 2,
    ShouldSelectItem = 1u << 3,
    SelectionIsChanging = 1u << 4,
    SelectionDidChange = 1u << 5,
    TypeSelectStringForItem = 1u << 6,
    ToolTipForCell = 1u << 7,
    ShouldEditItem = 1u << 8,
    ShouldExpandItem = 1u << 9,
    ShouldCollapseItem = 1u << 10,
    ItemWillExpand = 1u << 11,
    ItemDidExpand = 1u << 12,
    ItemWillCollapse = 1u << 13,
    ItemDidCollapse = 1u << 14,
    WillDisplayCell = 1u << 15,
    ViewForItem = 1u << 16,
    RowViewForItem = 1u << 17,
    DidAddRowView = 1u << 18,
    DidRemoveRowView = 1u << 19,
    SelectionIndexesForProposedSelection = 1u << 20,
    NextTypeSelectMatch = 1u << 21,
    ShouldTypeSelectForEvent = 1u << 22,
    ShouldShowCellExpansionForItem = 1u << 23,
    HeightOfRowByItem = 1u << 24,
    DataCellForItem = 1u << 25,
    ControlTextDidBeginEditing = 1u << 26,
    ControlTextDidChange = 1u << 27,
    ControlTextDidEndEditing = 1u << 28,
  };
  virtual unsigned implementedSourceListDelegateMethods() const { return 0; }

  virtual bool sourceListIsGroupAlwaysExpanded(SourceList& list, SourceListItemPtr group) { return false; }
  // The row's context menu: the delegate shows its menu for the event (the item is nullptr below
  // the rows) and answers whether it did.
  virtual bool sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) { return false; }
  virtual void sourceListDeleteKeyPressedOnRows(const fnd::Notification& notification) {}
  virtual bool sourceListShouldSelectItem(SourceList& list, SourceListItemPtr item) { return true; }
  virtual void sourceListSelectionIsChanging(const fnd::Notification& notification) {}
  virtual void sourceListSelectionDidChange(const fnd::Notification& notification) {}
  virtual std::string sourceListTypeSelectStringForItem(SourceList& list, SourceListItemPtr item) { return {}; }
  virtual std::string sourceListToolTipForCellRectItemMouseLocation(SourceList& list, ui::TextCell& cell, fnd::Rect& rect,
                                               SourceListItemPtr item, const fnd::Point& mouseLocation) {
    return {};
  }
  virtual bool sourceListShouldEditItem(SourceList& list, SourceListItemPtr item) { return true; }
  virtual bool sourceListShouldExpandItem(SourceList& list, SourceListItemPtr item) { return true; }
  virtual bool sourceListShouldCollapseItem(SourceList& list, SourceListItemPtr item) { return true; }
  virtual void sourceListItemWillExpand(const fnd::Notification& notification) {}
  virtual void sourceListItemDidExpand(const fnd::Notification& notification) {}
  virtual void sourceListItemWillCollapse(const fnd::Notification& notification) {}
  virtual void sourceListItemDidCollapse(const fnd::Notification& notification) {}
  virtual void sourceListWillDisplayCellForItem(SourceList& list, ui::TextCell& cell, SourceListItemPtr item) {}
  // Announcing this makes the list view-based: rows show these views and the list draws no
  // text, icon or badge of its own (a SourceListTableCellView with a badge view shows a count).
  virtual std::shared_ptr<ui::View> sourceListViewForItem(SourceList& list, SourceListItemPtr item) { return nullptr; }
  virtual std::shared_ptr<ui::View> sourceListRowViewForItem(SourceList& list, SourceListItemPtr item) { return nullptr; }
  // `row` -1: the row view's row is gone.
  virtual void sourceListDidAddRowViewForRow(SourceList& list, ui::View& rowView, long row) {}
  virtual void sourceListDidRemoveRowViewForRow(SourceList& list, ui::View& rowView, long row) {}
  // The rows to select instead of the proposed ones (group rows in the answer are left out).
  virtual fnd::IndexSet sourceListSelectionIndexesForProposedSelection(SourceList& list, const fnd::IndexSet& proposed) {
    return proposed;
  }
  // Type-select: the item matching the typed string between two items (wrapping); nullptr: none.
  virtual SourceListItemPtr sourceListNextTypeSelectMatchFromItemToItemForString(SourceList& list,
                                                                                 SourceListItemPtr startItem,
                                                                                 SourceListItemPtr endItem,
                                                                                 const std::string& searchString) {
    return nullptr;
  }
  virtual bool sourceListShouldTypeSelectForEventWithCurrentSearchString(SourceList& list, const ui::Event& event,
                                                                         const std::string& searchString) {
    return true;
  }
  // Whether a row cut off shows its whole text under the pointer (it does by default).
  virtual bool sourceListShouldShowCellExpansionForItem(SourceList& list, SourceListItemPtr item) { return true; }
  virtual double sourceListHeightOfRowByItem(SourceList& list, SourceListItemPtr item) { return 0; }
  // The cell a row starts from (font, colour); nothing: the standard one.
  virtual std::optional<ui::TextCell> sourceListDataCellForItem(SourceList& list, SourceListItemPtr item) {
    return std::nullopt;
  }
  // The in-place rename, as the outline view tells it (object: the list; "NSFieldEditor": the
  // text).
  virtual void controlTextDidBeginEditing(const fnd::Notification& notification) {}
  virtual void controlTextDidChange(const fnd::Notification& notification) {}
  virtual void controlTextDidEndEditing(const fnd::Notification& notification) {}
};

// The item a notification carries under SourceListItemKey (nullptr when none).
SourceListItemPtr sourceListItemOf(const fnd::Notification& notification);
// The rows a delete-key notification carries.
fnd::IndexSet sourceListRowsOf(const fnd::Notification& notification);

}  // namespace kesto
