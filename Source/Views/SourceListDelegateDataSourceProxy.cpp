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
  const char* name;
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

void SourceListDelegateDataSourceProxy::post(const char* name, ui::OutlineItem item) {
  fnd::Dictionary info;
  if (item) {
    if (auto ref = item->weak_from_this().lock()) info.emplace(SourceListItemKey, fnd::Value(ref));
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(name, sourceList_, std::move(info));
}

// ---- Data source ----

unsigned SourceListDelegateDataSourceProxy::implementedOutlineDataSourceMethods() const {
  unsigned m = 0;
  if (dataSourceMethods_ & SDS::SetObjectValueForItem) m |= ODS::SetObjectValue;
  if (dataSourceMethods_ & SDS::WriteItemsToPasteboard) m |= ODS::WriteItems;
  if (dataSourceMethods_ & SDS::ValidateDrop) m |= ODS::ValidateDrop;
  if (dataSourceMethods_ & SDS::AcceptDrop) m |= ODS::AcceptDrop;
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

}  // namespace kesto
