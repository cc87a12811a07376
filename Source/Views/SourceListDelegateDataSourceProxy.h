#pragma once

#include "Platform/UI/OutlineView.h"
#include "Views/SourceListProtocols.h"

namespace kesto {

// Stands between a source list's outline view and the user's delegate and data source: it is
// the outline view's delegate and data source, announces to it exactly the hooks whose
// source-list counterparts the user's objects implement (plus the four the list answers
// itself), passes each call on under its source-list name, and re-posts selection and
// expansion as source-list notifications, for which it registers the delegate. Both pointers
// clear themselves when their object goes away.
class SourceListDelegateDataSourceProxy : public ui::OutlineViewDataSource, public ui::OutlineViewDelegate {
 public:
  explicit SourceListDelegateDataSourceProxy(SourceList* sourceList);
  ~SourceListDelegateDataSourceProxy() override;
  SourceListDelegateDataSourceProxy(const SourceListDelegateDataSourceProxy&) = delete;
  SourceListDelegateDataSourceProxy& operator=(const SourceListDelegateDataSourceProxy&) = delete;

  SourceList* sourceList() const { return sourceList_; }
  SourceListDelegate* delegate() const { return delegate_; }
  SourceListDataSource* dataSource() const { return dataSource_; }
  // Unregisters the previous delegate from every notification of this list, then registers
  // the new one for those it handles.
  void setDelegate(SourceListDelegate* delegate);
  void setDataSource(SourceListDataSource* dataSource);
  unsigned delegateMethods() const { return delegateMethods_; }
  unsigned dataSourceMethods() const { return dataSourceMethods_; }

  // Outline data source.
  unsigned implementedOutlineDataSourceMethods() const override;
  long outlineViewNumberOfChildrenOfItem(ui::OutlineView& view, ui::OutlineItem item) override;
  ui::OutlineItem outlineViewChildOfItem(ui::OutlineView& view, long index, ui::OutlineItem item) override;
  bool outlineViewIsItemExpandable(ui::OutlineView& view, ui::OutlineItem item) override;
  fnd::Value outlineViewObjectValueForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewSetObjectValueForItem(ui::OutlineView& view, const fnd::Value& value, ui::OutlineItem item) override;
  bool outlineViewWriteItemsToPasteboard(ui::OutlineView& view, const std::vector<ui::OutlineItem>& items,
                                         ui::DragPayload& pasteboard) override;
  std::uint64_t outlineViewValidateDropProposedItemProposedChildIndex(ui::OutlineView& view, const ui::OutlineDraggingInfo& info, ui::OutlineItem item,
                                        long childIndex) override;
  bool outlineViewAcceptDropItemChildIndex(ui::OutlineView& view, const ui::OutlineDraggingInfo& info, ui::OutlineItem item,
                             long childIndex) override;
  fnd::Value outlineViewPersistentObjectForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  ui::OutlineItem outlineViewItemForPersistentObject(ui::OutlineView& view, const fnd::Value& object) override;
  std::optional<ui::DragPayload> outlineViewPasteboardWriterForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewDraggingSessionWillBeginAtPointForItems(ui::OutlineView& view, const ui::DragPayload& session,
                                                          const fnd::Point& screenPoint,
                                                          const std::vector<ui::OutlineItem>& items) override;
  void outlineViewDraggingSessionEndedAtPointOperation(ui::OutlineView& view, const ui::DragPayload& session,
                                                       const fnd::Point& screenPoint, std::uint64_t operation) override;
  void outlineViewUpdateDraggingItemsForDrag(ui::OutlineView& view, const ui::OutlineDraggingInfo& info) override;

  // Outline delegate.
  unsigned implementedOutlineDelegateMethods() const override;
  bool outlineViewIsGroupItem(ui::OutlineView& view, ui::OutlineItem item) override;
  bool outlineViewShouldSelectItem(ui::OutlineView& view, ui::OutlineItem item) override;
  bool outlineViewShouldEditItem(ui::OutlineView& view, ui::OutlineItem item) override;
  bool outlineViewShouldExpandItem(ui::OutlineView& view, ui::OutlineItem item) override;
  bool outlineViewShouldCollapseItem(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewWillDisplayCellForItem(ui::OutlineView& view, ui::TextCell& cell, ui::OutlineItem item) override;
  std::string outlineViewToolTipForCellRectItemMouseLocation(ui::OutlineView& view, ui::TextCell& cell, fnd::Rect& rect,
                                        ui::OutlineItem item, const fnd::Point& mouseLocation) override;
  std::string outlineViewTypeSelectStringForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewSelectionIsChanging(ui::OutlineView& view) override;
  void outlineViewSelectionDidChange(ui::OutlineView& view) override;
  void outlineViewItemWillExpand(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewItemDidExpand(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewItemWillCollapse(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewItemDidCollapse(ui::OutlineView& view, ui::OutlineItem item) override;
  double outlineViewHeightOfRowByItem(ui::OutlineView& view, ui::OutlineItem item) override;
  ui::OutlineItem outlineViewNextTypeSelectMatchFromItemToItemForString(ui::OutlineView& view, ui::OutlineItem startItem,
                                                                        ui::OutlineItem endItem,
                                                                        const std::string& searchString) override;
  bool outlineViewShouldTypeSelectForEventWithCurrentSearchString(ui::OutlineView& view, const ui::Event& event,
                                                                  const std::string& searchString) override;
  bool outlineViewShouldShowCellExpansionForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  std::optional<ui::TextCell> outlineViewDataCellForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  fnd::IndexSet outlineViewSelectionIndexesForProposedSelection(ui::OutlineView& view,
                                                                const fnd::IndexSet& proposed) override;
  std::shared_ptr<ui::View> outlineViewViewForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  std::shared_ptr<ui::View> outlineViewRowViewForItem(ui::OutlineView& view, ui::OutlineItem item) override;
  void outlineViewDidAddRowViewForRow(ui::OutlineView& view, ui::View& rowView, long row) override;
  void outlineViewDidRemoveRowViewForRow(ui::OutlineView& view, ui::View& rowView, long row) override;
  void controlTextDidBeginEditing(const fnd::Notification& notification) override;
  void controlTextDidChange(const fnd::Notification& notification) override;
  void controlTextDidEndEditing(const fnd::Notification& notification) override;

 private:
  friend class SourceListClient;
  void clientWillDisappear(SourceListClient* client);
  void attach(SourceListClient* client);
  void detach(SourceListClient* client);
  void unregisterDelegate();
  void post(fnd::NotificationName name, ui::OutlineItem item);

  SourceList* sourceList_;
  SourceListDelegate* delegate_ = nullptr;
  // The delegate's whole object, under which its notifications are registered.
  const void* delegateIdentity_ = nullptr;
  SourceListDataSource* dataSource_ = nullptr;
  // The same objects as clients, for recognising them while they are being destroyed.
  SourceListClient* delegateClient_ = nullptr;
  SourceListClient* dataSourceClient_ = nullptr;
  unsigned delegateMethods_ = 0;
  unsigned dataSourceMethods_ = 0;
};

}  // namespace kesto
