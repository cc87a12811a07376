#pragma once

// Private to the UI layer: the tree widget and item model behind OutlineView.

#include "Platform/UI/OutlineView.h"

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QMimeData;

namespace kesto::ui {

// One item as the view has loaded it. Children are asked of the data source when first needed.
struct OutlineNode {
  OutlineItem item = nullptr;
  OutlineNode* parent = nullptr;
  std::vector<std::unique_ptr<OutlineNode>> children;
  int indexInParent = 0;
  int level = -1;  // the root is -1, top-level items 0
  long row = -1;   // visible row, -1 when hidden
  bool loaded = false;
  bool expanded = false;
  double height = -1;  // the delegate's row height, asked when first needed
  // The data source's persistent object for an open item, taken when it opened: a reload may
  // hand out new items, and the old ones may be gone by then, so they are never asked again.
  fnd::Value persistent;
};

// The views of one visible row of a view-based outline.
struct OutlineRowViews {
  OutlineItem item = nullptr;
  std::shared_ptr<View> rowView;
  std::shared_ptr<View> cellView;
};

// The adapter between the data source and the tree widget: one column, model indexes whose
// internal pointer is the node.
class OutlineModel : public QAbstractItemModel {
 public:
  explicit OutlineModel(OutlineView* view) : view_(view) {}

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override { return 1; }
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Drag and drop in plain (type, bytes) pairs.
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDropActions() const override { return Qt::CopyAction | Qt::MoveAction; }
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

  OutlineNode* nodeFor(const QModelIndex& index) const;
  QModelIndex indexFor(const OutlineNode* node) const;
  void beginReset() { beginResetModel(); }
  void endReset() { endResetModel(); }
  void changed(const QModelIndex& index) { emit dataChanged(index, index); }
  void beginRemove(const QModelIndex& parent, int first, int last) { beginRemoveRows(parent, first, last); }
  void endRemove() { endRemoveRows(); }
  void beginInsert(const QModelIndex& parent, int first, int last) { beginInsertRows(parent, first, last); }
  void endInsert() { endInsertRows(); }

  // The drag being validated: its allowed operations and its source, set by the tree widget.
  std::uint64_t dragSourceMask = DragOperation::Every;
  OutlineView* dragSource = nullptr;
  // The operation the last validation answered.
  mutable std::uint64_t lastValidatedOperation = DragOperation::None;

  static DragPayload payloadFromMime(const QMimeData* data);
  static QMimeData* mimeFromPayload(const DragPayload& payload);

 private:
  OutlineView* view_;
};

class OutlineTreeWidget;

// Places the rename editor over the row's text, in the row's font.
class OutlineEditDelegate : public QStyledItemDelegate {
 public:
  OutlineEditDelegate(OutlineView* view, OutlineTreeWidget* tree);
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  OutlineView* view_;
  OutlineTreeWidget* tree_;
};

struct OutlineView::Impl {
  OutlineView* view = nullptr;
  OutlineTreeWidget* tree = nullptr;
  OutlineModel* model = nullptr;
  std::unique_ptr<OutlineNode> root;
  std::unordered_map<OutlineItem, OutlineNode*> nodes;  // the first node of each item
  std::vector<OutlineNode*> rows;
  // Where each row starts, and after the last one where the rows end.
  std::vector<double> tops{0.0};
  bool rowsDirty = true;
  // View-based rows, by row, for the rows last laid out.
  std::map<long, OutlineRowViews> tiled;
  bool tiling = false;
  // The in-place rename: open, and changed since it opened.
  bool editSession = false;
  bool editChanged = false;
  QPointer<QLineEdit> editor;
  std::unordered_set<OutlineNode*> selected;
  // Mouse tracking: a press in progress reports "is changing", its release "did change".
  bool tracking = false;
  bool changedWhileTracking = false;
  long pressedRow = -1;
  fnd::Point pressPoint;
  bool dragStarted = false;
  bool pressToWidget = false;  // the press landed on the scroller or an editor
  // A plain click on the one selected row opens its rename editor once the double-click time
  // has passed without another press or key; each press or key cancels a pending one.
  bool pressOnSelectedRow = false;
  unsigned editRequest = 0;
  // Type-select.
  std::string typed;
  double typedAt = -1e9;

  void load(OutlineNode* node);
  void registerNode(OutlineNode* node);
  void forgetSubtree(OutlineNode* node);
  void ensureRows();
  OutlineNode* nodeForItem(OutlineItem item) const;
  OutlineNode* nodeAtRow(long row);
  void syncExpansion(OutlineNode* node);
  void dropHiddenSelection();
  void mirrorSelection();
  std::unique_ptr<OutlineNode> makeNode(OutlineItem item, OutlineNode* parent, int index);
  void startDrag();
  double heightOf(OutlineNode* node);
  void tileRows();
  void untile(long row, bool rowGone);
  void postEditing(fnd::NotificationName name, unsigned method);
};

// The toolkit's tree widget, hosted inside the outline view's widget. It draws rows through
// the view and hands input to it; the view keeps selection and expansion.
class OutlineTreeWidget : public QTreeView {
 public:
  OutlineTreeWidget(OutlineView* view, QWidget* parent);
  void detach() { view_ = nullptr; }
  bool isDetached() const { return !view_; }
  double scrollOffset() const;
  // Whether a point of the view lies on the scroller or an editor rather than on the rows.
  bool isOnChrome(const fnd::Point& viewPoint) const;
  bool isEditing() const { return state() == QAbstractItemView::EditingState; }
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  // Ends an open rename: with `commit` the typed name goes to the data source first.
  void endEditing(bool commit);

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  friend struct OutlineView::Impl;
  fnd::Point viewPoint(const QPointF& viewportPos) const;
  Event mouseEvent(QMouseEvent* e, EventType type, int clicks) const;
  // Where a drag would drop: into `parent` before `row` (-1: onto the parent), shown at `mark`.
  struct DropProposal {
    OutlineModel* model = nullptr;
    QModelIndex parent;
    int row = -1;
    fnd::Rect mark;
  };
  // Tells the model where the drag comes from and what it allows, and where it would drop.
  DropProposal proposeDrop(QDropEvent* event);
  // Where a drag would drop, in viewport pixels (null: nowhere).
  void showDropMark(const fnd::Rect& mark);
  QRect dropMark_;
  OutlineView* view_;
};

}  // namespace kesto::ui
