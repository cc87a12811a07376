#include "Views/SourceListDelegateDataSourceProxy.h"

#include "Views/SourceList.h"

#include <algorithm>

namespace kesto {

using OD = ui::OutlineViewDelegate;
using ODS = ui::OutlineViewDataSource;
using SD = SourceListDelegate;
using SDS = SourceListDataSource;

namespace {
// The identity a delegate registers under: its whole object, so registrations it made itself
// (with its own `this`) are found too.
const void* observerIdentity(SourceListDelegate* delegate) { return dynamic_cast<const void*>(delegate); }

struct Registration {
  fnd::NotificationName name;
  unsigned method;
  void (SourceListDelegate::*handler)(const fnd::Notification&);
};

// In the order the delegate is registered.
const Registration kRegistrations[] = {
    {SourceListSelectionIsChangingNotification, SD::SelectionIsChanging, &SD::sourceListSelectionIsChanging},
    {SourceListSelectionDidChangeNotification, SD::SelectionDidChange, &SD::sourceListSelectionDidChange},
    {SourceListItemWillExpandNotification, SD::ItemWillExpand, &SD::sourceListItemWillExpand},
    {SourceListItemDidExpandNotification, SD::ItemDidExpand, &SD::sourceListItemDidExpand},
    {SourceListItemWillCollapseNotification, SD::ItemWillCollapse, &SD::sourceListItemWillCollapse},
    {SourceListItemDidCollapseNotification, SD::ItemDidCollapse, &SD::sourceListItemDidCollapse},
    {SourceListDeleteKeyPressedOnRowsNotification, SD::DeleteKeyPressedOnRows, &SD::sourceListDeleteKeyPressedOnRows},
};
}  // namespace

SourceListClient::~SourceListClient() {
  // Each proxy takes itself off the list as it forgets us.
  auto proxies = proxies_;
  for (auto* p : proxies) p->clientWillDisappear(this);
}

SourceListItemPtr sourceListItemOf(const fnd::Notification& notification) {
  auto it = notification.userInfo.find(SourceListItemKey);
  return it == notification.userInfo.end() ? nullptr : it->second.object().get();
}

fnd::IndexSet sourceListRowsOf(const fnd::Notification& notification) {
  fnd::IndexSet rows;
  auto it = notification.userInfo.find(SourceListRowsKey);
  if (it != notification.userInfo.end())
    for (auto& v : it->second.array()) rows.add(v.intValue(-1));
  return rows;
}

SourceListDelegateDataSourceProxy::SourceListDelegateDataSourceProxy(SourceList* sourceList) : sourceList_(sourceList) {}

SourceListDelegateDataSourceProxy::~SourceListDelegateDataSourceProxy() {
  unregisterDelegate();
  SourceListClient* d = delegateClient_;
  SourceListClient* s = dataSourceClient_;
  delegateClient_ = dataSourceClient_ = nullptr;
  detach(d);
  detach(s);
}

void SourceListDelegateDataSourceProxy::attach(SourceListClient* client) {
  if (client && std::find(client->proxies_.begin(), client->proxies_.end(), this) == client->proxies_.end())
    client->proxies_.push_back(this);
}

void SourceListDelegateDataSourceProxy::detach(SourceListClient* client) {
  if (!client) return;
  // Still held in the other role: keep the link.
  if (client == delegateClient_ || client == dataSourceClient_) return;
  auto& v = client->proxies_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void SourceListDelegateDataSourceProxy::unregisterDelegate() {
  if (delegateIdentity_)
    fnd::NotificationCenter::defaultCenter().removeObserver(delegateIdentity_, {}, sourceList_);
  delegateIdentity_ = nullptr;
}

void SourceListDelegateDataSourceProxy::setDelegate(SourceListDelegate* delegate) {
  unregisterDelegate();
  SourceListClient* old = delegateClient_;
  delegate_ = delegate;
  delegateClient_ = delegate;
  detach(old);
  delegateMethods_ = delegate ? delegate->implementedSourceListDelegateMethods() : 0;
  if (!delegate) return;
  attach(delegate);
  delegateIdentity_ = observerIdentity(delegate);
  auto& center = fnd::NotificationCenter::defaultCenter();
  for (const auto& r : kRegistrations) {
    if (!(delegateMethods_ & r.method)) continue;
    auto handler = r.handler;
    center.addObserver(delegateIdentity_, [delegate, handler](const fnd::Notification& n) {
      (delegate->*handler)(n);
    }, r.name, sourceList_);
  }
}

void SourceListDelegateDataSourceProxy::setDataSource(SourceListDataSource* dataSource) {
  SourceListClient* old = dataSourceClient_;
  dataSource_ = dataSource;
  dataSourceClient_ = dataSource;
  detach(old);
  dataSourceMethods_ = dataSource ? dataSource->implementedSourceListDataSourceMethods() : 0;
  attach(dataSource);
}

void SourceListDelegateDataSourceProxy::clientWillDisappear(SourceListClient* client) {
  // Compared as clients only: the rest of the object is already gone.
  bool wasDelegate = client == delegateClient_;
  bool wasSource = client == dataSourceClient_;
  auto& v = client->proxies_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
  if (wasDelegate) {
    unregisterDelegate();
    delegate_ = nullptr;
    delegateClient_ = nullptr;
    delegateMethods_ = 0;
    sourceList_->clientDidDisappear(false);
  }
  if (wasSource) {
    dataSource_ = nullptr;
    dataSourceClient_ = nullptr;
    dataSourceMethods_ = 0;
    // Its items may be gone with it: the list lets go of them now.
    sourceList_->clientDidDisappear(true);
  }
}

void SourceListDelegateDataSourceProxy::post(fnd::NotificationName name, ui::OutlineItem item) {
  fnd::Dictionary info;
  if (item) {
    if (auto ref = item->weak_from_this().lock()) info.emplace(SourceListItemKey, fnd::Value(ref));
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(name, sourceList_, std::move(info));
}

// ---- Data source ----

unsigned SourceListDelegateDataSourceProxy::implementedOutlineDataSourceMethods() const {
  const std::pair<unsigned, unsigned> mapped[] = {
      {SDS::SetObjectValueForItem, ODS::SetObjectValue},
      {SDS::WriteItemsToPasteboard, ODS::WriteItems},
      {SDS::ValidateDrop, ODS::ValidateDrop},
      {SDS::AcceptDrop, ODS::AcceptDrop},
      {SDS::ItemForPersistentObject, ODS::ItemForPersistentObject},
      {SDS::PersistentObjectForItem, ODS::PersistentObjectForItem},
      {SDS::PasteboardWriterForItem, ODS::PasteboardWriterForItem},
      {SDS::DraggingSessionWillBegin, ODS::DraggingSessionWillBegin},
      {SDS::DraggingSessionEnded, ODS::DraggingSessionEnded},
      {SDS::UpdateDraggingItemsForDrag, ODS::UpdateDraggingItemsForDrag},
  };
  unsigned m = 0;
  for (auto [from, to] : mapped)
    if (dataSourceMethods_ & from) m |= to;
  return m;
}

// The required questions are answered even without a data source: empty.
long SourceListDelegateDataSourceProxy::outlineViewNumberOfChildrenOfItem(ui::OutlineView&, ui::OutlineItem item) {
  return dataSource_ ? long(dataSource_->sourceListNumberOfChildrenOfItem(*sourceList_, item)) : 0;
}

ui::OutlineItem SourceListDelegateDataSourceProxy::outlineViewChildOfItem(ui::OutlineView&, long index,
                                                                          ui::OutlineItem item) {
  return dataSource_ ? dataSource_->sourceListChildOfItem(*sourceList_, std::uint64_t(index), item) : nullptr;
}

bool SourceListDelegateDataSourceProxy::outlineViewIsItemExpandable(ui::OutlineView&, ui::OutlineItem item) {
  return dataSource_ && dataSource_->sourceListIsItemExpandable(*sourceList_, item);
}

fnd::Value SourceListDelegateDataSourceProxy::outlineViewObjectValueForItem(ui::OutlineView&, ui::OutlineItem item) {
  if (!(dataSourceMethods_ & SDS::ObjectValueForItem)) return {};
  return dataSource_->sourceListObjectValueForItem(*sourceList_, item);
}

void SourceListDelegateDataSourceProxy::outlineViewSetObjectValueForItem(ui::OutlineView&, const fnd::Value& value,
                                                                         ui::OutlineItem item) {
  if (dataSourceMethods_ & SDS::SetObjectValueForItem) dataSource_->sourceListSetObjectValueForItem(*sourceList_, value, item);
}

bool SourceListDelegateDataSourceProxy::outlineViewWriteItemsToPasteboard(ui::OutlineView&,
                                                                          const std::vector<ui::OutlineItem>& items,
                                                                          ui::DragPayload& pasteboard) {
  return (dataSourceMethods_ & SDS::WriteItemsToPasteboard) &&
         dataSource_->sourceListWriteItemsToPasteboard(*sourceList_, items, pasteboard);
}

std::uint64_t SourceListDelegateDataSourceProxy::outlineViewValidateDropProposedItemProposedChildIndex(ui::OutlineView&, const ui::OutlineDraggingInfo& info,
                                                                         ui::OutlineItem item, long childIndex) {
  if (!(dataSourceMethods_ & SDS::ValidateDrop)) return ui::DragOperation::None;
  return dataSource_->sourceListValidateDropProposedItemProposedChildIndex(*sourceList_, info, item, childIndex);
}

bool SourceListDelegateDataSourceProxy::outlineViewAcceptDropItemChildIndex(ui::OutlineView&, const ui::OutlineDraggingInfo& info,
                                                              ui::OutlineItem item, long childIndex) {
  return (dataSourceMethods_ & SDS::AcceptDrop) && dataSource_->sourceListAcceptDropItemChildIndex(*sourceList_, info, item, childIndex);
}

fnd::Value SourceListDelegateDataSourceProxy::outlineViewPersistentObjectForItem(ui::OutlineView&, ui::OutlineItem item) {
  if (!(dataSourceMethods_ & SDS::PersistentObjectForItem)) return {};
  return dataSource_->sourceListPersistentObjectForItem(*sourceList_, item);
}

ui::OutlineItem SourceListDelegateDataSourceProxy::outlineViewItemForPersistentObject(ui::OutlineView&,
                                                                                      const fnd::Value& object) {
  if (!(dataSourceMethods_ & SDS::ItemForPersistentObject)) return nullptr;
  return dataSource_->sourceListItemForPersistentObject(*sourceList_, object);
}

std::optional<ui::DragPayload> SourceListDelegateDataSourceProxy::outlineViewPasteboardWriterForItem(ui::OutlineView&,
                                                                                                    ui::OutlineItem item) {
  if (!(dataSourceMethods_ & SDS::PasteboardWriterForItem)) return std::nullopt;
  return dataSource_->sourceListPasteboardWriterForItem(*sourceList_, item);
}

void SourceListDelegateDataSourceProxy::outlineViewDraggingSessionWillBeginAtPointForItems(
    ui::OutlineView&, const ui::DragPayload& session, const fnd::Point& screenPoint,
    const std::vector<ui::OutlineItem>& items) {
  if (dataSourceMethods_ & SDS::DraggingSessionWillBegin)
    dataSource_->sourceListDraggingSessionWillBeginAtPointForItems(*sourceList_, session, screenPoint, items);
}

void SourceListDelegateDataSourceProxy::outlineViewDraggingSessionEndedAtPointOperation(ui::OutlineView&,
                                                                                        const ui::DragPayload& session,
                                                                                        const fnd::Point& screenPoint,
                                                                                        std::uint64_t operation) {
  if (dataSourceMethods_ & SDS::DraggingSessionEnded)
    dataSource_->sourceListDraggingSessionEndedAtPointOperation(*sourceList_, session, screenPoint, operation);
}

void SourceListDelegateDataSourceProxy::outlineViewUpdateDraggingItemsForDrag(ui::OutlineView&,
                                                                              const ui::OutlineDraggingInfo& info) {
  if (dataSourceMethods_ & SDS::UpdateDraggingItemsForDrag)
    dataSource_->sourceListUpdateDraggingItemsForDrag(*sourceList_, info);
}

// ---- Delegate ----

unsigned SourceListDelegateDataSourceProxy::implementedOutlineDelegateMethods() const {
  // The list answers these itself, whatever the delegate implements.
  unsigned m = OD::IsGroupItem | OD::ShouldSelectItem | OD::ShouldEditItem | OD::ShouldCollapseItem;
  const std::pair<unsigned, unsigned> mapped[] = {
      {SD::ShouldExpandItem, OD::ShouldExpandItem},       {SD::WillDisplayCell, OD::WillDisplayCell},
      {SD::ToolTipForCell, OD::ToolTipForCell},           {SD::TypeSelectStringForItem, OD::TypeSelectStringForItem},
      {SD::SelectionIsChanging, OD::SelectionIsChanging}, {SD::SelectionDidChange, OD::SelectionDidChange},
      {SD::ItemWillExpand, OD::ItemWillExpand},           {SD::ItemDidExpand, OD::ItemDidExpand},
      {SD::ItemWillCollapse, OD::ItemWillCollapse},       {SD::ItemDidCollapse, OD::ItemDidCollapse},
      {SD::ViewForItem, OD::ViewForItem},                 {SD::RowViewForItem, OD::RowViewForItem},
      {SD::DidAddRowView, OD::DidAddRowView},             {SD::DidRemoveRowView, OD::DidRemoveRowView},
      {SD::NextTypeSelectMatch, OD::NextTypeSelectMatch}, {SD::ShouldTypeSelectForEvent, OD::ShouldTypeSelectForEvent},
      {SD::HeightOfRowByItem, OD::HeightOfRowByItem},     {SD::ShouldShowCellExpansionForItem, OD::ShouldShowCellExpansion},
      {SD::DataCellForItem, OD::DataCellForItem},         {SD::ControlTextDidBeginEditing, OD::TextDidBeginEditing},
      {SD::ControlTextDidChange, OD::TextDidChange},      {SD::ControlTextDidEndEditing, OD::TextDidEndEditing},
      {SD::SelectionIndexesForProposedSelection, OD::SelectionIndexesForProposedSelection},
  };
  for (auto [from, to] : mapped)
    if (delegateMethods_ & from) m |= to;
  return m;
}

bool SourceListDelegateDataSourceProxy::outlineViewIsGroupItem(ui::OutlineView&, ui::OutlineItem item) {
  return sourceList_->isGroupItem(item);
}

bool SourceListDelegateDataSourceProxy::outlineViewShouldSelectItem(ui::OutlineView&, ui::OutlineItem item) {
  return sourceList_->outlineViewShouldSelectItem(item);
}

bool SourceListDelegateDataSourceProxy::outlineViewShouldEditItem(ui::OutlineView&, ui::OutlineItem item) {
  return sourceList_->outlineViewShouldEditItem(item);
}

bool SourceListDelegateDataSourceProxy::outlineViewShouldCollapseItem(ui::OutlineView&, ui::OutlineItem item) {
  return sourceList_->outlineViewShouldCollapseItem(item);
}

bool SourceListDelegateDataSourceProxy::outlineViewShouldExpandItem(ui::OutlineView&, ui::OutlineItem item) {
  return !(delegateMethods_ & SD::ShouldExpandItem) || delegate_->sourceListShouldExpandItem(*sourceList_, item);
}

void SourceListDelegateDataSourceProxy::outlineViewWillDisplayCellForItem(ui::OutlineView&, ui::TextCell& cell,
                                                                   ui::OutlineItem item) {
  if (delegateMethods_ & SD::WillDisplayCell) delegate_->sourceListWillDisplayCellForItem(*sourceList_, cell, item);
}

std::string SourceListDelegateDataSourceProxy::outlineViewToolTipForCellRectItemMouseLocation(ui::OutlineView&, ui::TextCell& cell,
                                                                         fnd::Rect& rect, ui::OutlineItem item,
                                                                         const fnd::Point& mouseLocation) {
  if (!(delegateMethods_ & SD::ToolTipForCell)) return {};
  return delegate_->sourceListToolTipForCellRectItemMouseLocation(*sourceList_, cell, rect, item, mouseLocation);
}

std::string SourceListDelegateDataSourceProxy::outlineViewTypeSelectStringForItem(ui::OutlineView& view,
                                                                                  ui::OutlineItem item) {
  if (!(delegateMethods_ & SD::TypeSelectStringForItem)) return {};
  return delegate_->sourceListTypeSelectStringForItem(*sourceList_, item);
}

void SourceListDelegateDataSourceProxy::outlineViewSelectionIsChanging(ui::OutlineView&) {
  post(SourceListSelectionIsChangingNotification, nullptr);
}
void SourceListDelegateDataSourceProxy::outlineViewSelectionDidChange(ui::OutlineView&) {
  post(SourceListSelectionDidChangeNotification, nullptr);
}
void SourceListDelegateDataSourceProxy::outlineViewItemWillExpand(ui::OutlineView&, ui::OutlineItem item) {
  post(SourceListItemWillExpandNotification, item);
}
void SourceListDelegateDataSourceProxy::outlineViewItemDidExpand(ui::OutlineView&, ui::OutlineItem item) {
  post(SourceListItemDidExpandNotification, item);
}
void SourceListDelegateDataSourceProxy::outlineViewItemWillCollapse(ui::OutlineView&, ui::OutlineItem item) {
  post(SourceListItemWillCollapseNotification, item);
}
void SourceListDelegateDataSourceProxy::outlineViewItemDidCollapse(ui::OutlineView&, ui::OutlineItem item) {
  post(SourceListItemDidCollapseNotification, item);
}

double SourceListDelegateDataSourceProxy::outlineViewHeightOfRowByItem(ui::OutlineView& view, ui::OutlineItem item) {
  if (!(delegateMethods_ & SD::HeightOfRowByItem)) return view.rowHeight();
  return delegate_->sourceListHeightOfRowByItem(*sourceList_, item);
}

ui::OutlineItem SourceListDelegateDataSourceProxy::outlineViewNextTypeSelectMatchFromItemToItemForString(
    ui::OutlineView&, ui::OutlineItem startItem, ui::OutlineItem endItem, const std::string& searchString) {
  if (!(delegateMethods_ & SD::NextTypeSelectMatch)) return nullptr;
  return delegate_->sourceListNextTypeSelectMatchFromItemToItemForString(*sourceList_, startItem, endItem, searchString);
}

bool SourceListDelegateDataSourceProxy::outlineViewShouldTypeSelectForEventWithCurrentSearchString(
    ui::OutlineView&, const ui::Event& event, const std::string& searchString) {
  return !(delegateMethods_ & SD::ShouldTypeSelectForEvent) ||
         delegate_->sourceListShouldTypeSelectForEventWithCurrentSearchString(*sourceList_, event, searchString);
}

bool SourceListDelegateDataSourceProxy::outlineViewShouldShowCellExpansionForItem(ui::OutlineView&,
                                                                                  ui::OutlineItem item) {
  return !(delegateMethods_ & SD::ShouldShowCellExpansionForItem) ||
         delegate_->sourceListShouldShowCellExpansionForItem(*sourceList_, item);
}

std::optional<ui::TextCell> SourceListDelegateDataSourceProxy::outlineViewDataCellForItem(ui::OutlineView&,
                                                                                         ui::OutlineItem item) {
  if (!(delegateMethods_ & SD::DataCellForItem)) return std::nullopt;
  return delegate_->sourceListDataCellForItem(*sourceList_, item);
}

fnd::IndexSet SourceListDelegateDataSourceProxy::outlineViewSelectionIndexesForProposedSelection(
    ui::OutlineView&, const fnd::IndexSet& proposed) {
  if (!(delegateMethods_ & SD::SelectionIndexesForProposedSelection)) return proposed;
  // The list's own rule holds over the delegate's answer: group rows are never selected, and
  // an answer of group rows only changes nothing.
  fnd::IndexSet answer = delegate_->sourceListSelectionIndexesForProposedSelection(*sourceList_, proposed), kept;
  answer.forEach([&](std::int64_t r) {
    if (ui::OutlineItem item = sourceList_->itemAtRow(long(r)); item && !sourceList_->isGroupItem(item)) kept.add(r);
    return true;
  });
  return kept.isEmpty() && !answer.isEmpty() ? sourceList_->selectedRowIndexes() : kept;
}

std::shared_ptr<ui::View> SourceListDelegateDataSourceProxy::outlineViewViewForItem(ui::OutlineView&,
                                                                                   ui::OutlineItem item) {
  if (!(delegateMethods_ & SD::ViewForItem)) return nullptr;
  return delegate_->sourceListViewForItem(*sourceList_, item);
}

std::shared_ptr<ui::View> SourceListDelegateDataSourceProxy::outlineViewRowViewForItem(ui::OutlineView&,
                                                                                      ui::OutlineItem item) {
  if (!(delegateMethods_ & SD::RowViewForItem)) return nullptr;
  return delegate_->sourceListRowViewForItem(*sourceList_, item);
}

void SourceListDelegateDataSourceProxy::outlineViewDidAddRowViewForRow(ui::OutlineView&, ui::View& rowView, long row) {
  if (delegateMethods_ & SD::DidAddRowView) delegate_->sourceListDidAddRowViewForRow(*sourceList_, rowView, row);
}

void SourceListDelegateDataSourceProxy::outlineViewDidRemoveRowViewForRow(ui::OutlineView&, ui::View& rowView,
                                                                         long row) {
  if (delegateMethods_ & SD::DidRemoveRowView) delegate_->sourceListDidRemoveRowViewForRow(*sourceList_, rowView, row);
}

// The rename messages reach the delegate unchanged, with the list as their object.
void SourceListDelegateDataSourceProxy::controlTextDidBeginEditing(const fnd::Notification& notification) {
  if (!(delegateMethods_ & SD::ControlTextDidBeginEditing)) return;
  delegate_->controlTextDidBeginEditing({notification.name, sourceList_, notification.userInfo});
}

void SourceListDelegateDataSourceProxy::controlTextDidChange(const fnd::Notification& notification) {
  if (!(delegateMethods_ & SD::ControlTextDidChange)) return;
  delegate_->controlTextDidChange({notification.name, sourceList_, notification.userInfo});
}

void SourceListDelegateDataSourceProxy::controlTextDidEndEditing(const fnd::Notification& notification) {
  if (!(delegateMethods_ & SD::ControlTextDidEndEditing)) return;
  delegate_->controlTextDidEndEditing({notification.name, sourceList_, notification.userInfo});
}

}  // namespace kesto
