#include "Platform/UI/OutlineView.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/OutlineView_p.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/WidgetHostView_p.h"
#include "Platform/UI/Window.h"
#include "Platform/Foundation/Strings.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kesto::ui {

namespace {
// The disclosure triangle's box and the gap before the text.
constexpr double kOutlineCellWidth = 16.0;
constexpr double kTextInset = 18.0;
// Typed characters within this time extend the type-select string.
constexpr double kTypeSelectInterval = 1.0;

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The text of an object value: strings as they are, other values in their written form.
std::string displayText(const fnd::Value& v) {
  if (v.isString()) return v.string();
  return v.isNull() ? std::string() : v.description();
}

Color highlightColor(bool focused) {
  if (!focused) return Color::white(0.82);
  return fromQColor(QApplication::palette().color(QPalette::Active, QPalette::Highlight));
}
// Visits `start` and, while `visit` answers true, its children, depth-first in row order. The
// root stands for every top-level node (a null item means all of them).
template <class Visit>
void walkFrom(OutlineNode* start, OutlineNode* root, Visit visit) {
  if (!start) return;
  std::vector<OutlineNode*> work;
  auto pushChildren = [&](OutlineNode* n) {
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) work.push_back(it->get());
  };
  if (start == root) pushChildren(start);
  else work.push_back(start);
  while (!work.empty()) {
    OutlineNode* n = work.back();
    work.pop_back();
    if (visit(n)) pushChildren(n);
  }
}
}  // namespace

// ---- DragPayload ----

void DragPayload::setString(const std::string& type, const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  for (auto& e : entries)
    if (e.first == type) {
      e.second = std::move(bytes);
      return;
    }
  entries.emplace_back(type, std::move(bytes));
}

std::optional<std::string> DragPayload::string(const std::string& type) const {
  for (auto& e : entries)
    if (e.first == type) return std::string(e.second.begin(), e.second.end());
  return std::nullopt;
}

// ---- Impl: the loaded tree and the visible rows ----

std::unique_ptr<OutlineNode> OutlineView::Impl::makeNode(OutlineItem item, OutlineNode* parent, int index) {
  auto n = std::make_unique<OutlineNode>();
  n->item = item;
  n->parent = parent;
  n->indexInParent = index;
  n->level = parent ? parent->level + 1 : -1;
  return n;
}

void OutlineView::Impl::registerNode(OutlineNode* node) {
  if (node->item) nodes.emplace(node->item, node);
}

void OutlineView::Impl::forgetSubtree(OutlineNode* node) {
  for (auto& c : node->children) forgetSubtree(c.get());
  if (node->item) {
    auto it = nodes.find(node->item);
    if (it != nodes.end() && it->second == node) nodes.erase(it);
  }
  selected.erase(node);
}

void OutlineView::Impl::load(OutlineNode* node) {
  if (node->loaded) return;
  node->loaded = true;
  auto* ds = view->dataSource();
  if (!ds) return;
  long count = std::max(0L, ds->outlineViewNumberOfChildrenOfItem(*view, node->item));
  node->children.reserve(size_t(count));
  for (long i = 0; i < count; ++i) {
    node->children.push_back(makeNode(ds->outlineViewChildOfItem(*view, i, node->item), node, int(i)));
    registerNode(node->children.back().get());
  }
}

void OutlineView::Impl::ensureRows() {
  if (!rowsDirty) return;
  rowsDirty = false;
  for (auto* n : rows) n->row = -1;
  rows.clear();
  if (!root) return;
  // Depth-first over expanded nodes, without recursion (deep trees come from sync files).
  std::vector<std::pair<OutlineNode*, size_t>> stack{{root.get(), 0}};
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next >= node->children.size()) {
      stack.pop_back();
      continue;
    }
    OutlineNode* child = node->children[next++].get();
    child->row = long(rows.size());
    rows.push_back(child);
    if (child->expanded && child->loaded && !child->children.empty()) stack.emplace_back(child, 0);
  }
  tops.assign(1, 0.0);
  tops.reserve(rows.size() + 1);
  for (auto* n : rows) tops.push_back(tops.back() + heightOf(n));
  // Row views follow the rows, on the next layout pass (never while drawing).
  if (view->isViewBased() && !tiling) view->setNeedsLayout();
}

double OutlineView::Impl::heightOf(OutlineNode* node) {
  if (!(view->delegateMethods_ & OutlineViewDelegate::HeightOfRowByItem) || !view->delegate_) return view->rowHeight_;
  if (node->height < 0) {
    // Whole pixels, so the tree widget's rows and ours agree; a nonsense answer gets one pixel.
    double h = std::round(view->delegate_->outlineViewHeightOfRowByItem(*view, node->item));
    node->height = std::isfinite(h) ? std::clamp(h, 1.0, 100000.0) : 1.0;
  }
  return node->height;
}

OutlineNode* OutlineView::Impl::nodeForItem(OutlineItem item) const {
  if (!item) return root.get();
  auto it = nodes.find(item);
  return it == nodes.end() ? nullptr : it->second;
}

OutlineNode* OutlineView::Impl::nodeAtRow(long row) {
  ensureRows();
  if (row < 0 || row >= long(rows.size())) return nullptr;
  return rows[size_t(row)];
}

void OutlineView::Impl::syncExpansion(OutlineNode* node) {
  if (!tree || !node || node == root.get()) return;
  QModelIndex index = model->indexFor(node);
  if (tree->isExpanded(index) != node->expanded) tree->setExpanded(index, node->expanded);
}

void OutlineView::Impl::mirrorSelection() {
  // The toolkit's selection follows ours, for assistive technology and the current item; the
  // tree never changes it itself.
  if (!tree || !tree->selectionModel()) return;
  ensureRows();
  QItemSelection sel;
  OutlineNode* last = nullptr;
  for (OutlineNode* n : selected) {
    QModelIndex i = model->indexFor(n);
    sel.select(i, i);
    if (!last || n->row > last->row) last = n;
  }
  tree->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
  if (last) tree->selectionModel()->setCurrentIndex(model->indexFor(last), QItemSelectionModel::NoUpdate);
}

void OutlineView::Impl::dropHiddenSelection() {
  ensureRows();
  for (auto it = selected.begin(); it != selected.end();) {
    if ((*it)->row < 0) it = selected.erase(it);
    else ++it;
  }
}

// ---- The model ----

OutlineNode* OutlineModel::nodeFor(const QModelIndex& index) const {
  auto* d = ImplAccess::of(*view_);
  if (!index.isValid()) return d->root.get();
  return static_cast<OutlineNode*>(index.internalPointer());
}

QModelIndex OutlineModel::indexFor(const OutlineNode* node) const {
  if (!node || !node->parent) return QModelIndex();
  return createIndex(node->indexInParent, 0, const_cast<OutlineNode*>(node));
}

QModelIndex OutlineModel::index(int row, int column, const QModelIndex& parent) const {
  OutlineNode* p = nodeFor(parent);
  if (!p || column != 0 || row < 0) return QModelIndex();
  ImplAccess::of(*view_)->load(p);
  if (size_t(row) >= p->children.size()) return QModelIndex();
  return createIndex(row, 0, p->children[size_t(row)].get());
}

QModelIndex OutlineModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return QModelIndex();
  return indexFor(nodeFor(child)->parent);
}

int OutlineModel::rowCount(const QModelIndex& parent) const {
  OutlineNode* p = nodeFor(parent);
  if (!p || parent.column() > 0) return 0;
  // Children of a collapsed item stay unasked until it opens.
  if (p != ImplAccess::of(*view_)->root.get() && !p->expanded && !p->loaded) return 0;
  ImplAccess::of(*view_)->load(p);
  return int(p->children.size());
}

bool OutlineModel::hasChildren(const QModelIndex& parent) const {
  OutlineNode* p = nodeFor(parent);
  if (!p) return false;
  if (p == ImplAccess::of(*view_)->root.get()) return rowCount(parent) > 0;
  return view_->isExpandable(p->item);
}

QVariant OutlineModel::data(const QModelIndex& index, int role) const {
  OutlineNode* n = nodeFor(index);
  if (!index.isValid() || !n) return QVariant();
  auto* ds = view_->dataSource();
  switch (role) {
    case Qt::EditRole:
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
      if (!ds) return QVariant();
      return QString::fromStdString(displayText(ds->outlineViewObjectValueForItem(*view_, n->item)));
    }
    case Qt::SizeHintRole:
      return QSize(-1, int(std::lround(ImplAccess::of(*view_)->heightOf(n))));
    default:
      return QVariant();
  }
}

bool OutlineModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  OutlineNode* n = nodeFor(index);
  auto* ds = view_->dataSource();
  if (!index.isValid() || !n || role != Qt::EditRole || !ds ||
      !(ds->implementedOutlineDataSourceMethods() & OutlineViewDataSource::SetObjectValue))
    return false;
  ds->outlineViewSetObjectValueForItem(*view_, fnd::Value(value.toString().toStdString()), n->item);
  emit dataChanged(index, index);
  return true;
}

Qt::ItemFlags OutlineModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
  if (!index.isValid()) return f;
  return f | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
}

QStringList OutlineModel::mimeTypes() const { return {QString::fromLatin1(DragPayload::PlainText)}; }

DragPayload OutlineModel::payloadFromMime(const QMimeData* data) {
  DragPayload payload;
  if (!data) return payload;
  for (const QString& format : data->formats()) {
    QByteArray bytes = data->data(format);
    payload.entries.emplace_back(format.toStdString(), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  return payload;
}

QMimeData* OutlineModel::mimeFromPayload(const DragPayload& payload) {
  auto* mime = new QMimeData;
  for (auto& [type, bytes] : payload.entries)
    mime->setData(QString::fromStdString(type),
                  QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
  return mime;
}

QMimeData* OutlineModel::mimeData(const QModelIndexList& indexes) const {
  fnd::IndexSet rows;
  for (auto& i : indexes)
    if (OutlineNode* n = nodeFor(i); n && i.isValid()) rows.add(view_->rowForItem(n->item));
  auto payload = view_->dragPayloadForRows(rows);
  return payload ? mimeFromPayload(*payload) : nullptr;
}

namespace {
// Qt's (row, parent) proposal in outline terms: row -1 is onto the parent item.
OutlineItem proposedItem(OutlineModel const* model, const QModelIndex& parent) {
  OutlineNode* n = model->nodeFor(parent);
  return n ? n->item : nullptr;
}
}  // namespace

bool OutlineModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                   const QModelIndex& parent) const {
  OutlineDraggingInfo info;
  info.payload = payloadFromMime(data);
  info.sourceOperationMask = dragSourceMask;
  info.source = dragSource;
  lastValidatedOperation = view_->validateDrop(info, proposedItem(this, parent), row < 0 ? -1 : row);
  return lastValidatedOperation != DragOperation::None;
}

bool OutlineModel::dropMimeData(const QMimeData* data, Qt::DropAction, int row, int, const QModelIndex& parent) {
  OutlineDraggingInfo info;
  info.payload = payloadFromMime(data);
  info.sourceOperationMask = dragSourceMask;
  info.source = dragSource;
  return view_->acceptDrop(info, proposedItem(this, parent), row < 0 ? -1 : row);
}

// ---- The tree widget ----

OutlineTreeWidget::OutlineTreeWidget(OutlineView* view, QWidget* parent) : QTreeView(parent), view_(view) {
  setHeaderHidden(true);
  setFrameShape(QFrame::NoFrame);
  setUniformRowHeights(true);
  setIndentation(0);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  setAutoScroll(true);
  setMouseTracking(false);
  setFocusPolicy(Qt::StrongFocus);
  // Expansion belongs to the outline view; a collapse from anywhere else is undone.
  connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    auto* n = static_cast<OutlineNode*>(index.internalPointer());
    if (!view_ || !n || !n->expanded) return;
    QPersistentModelIndex kept(index);
    QMetaObject::invokeMethod(this, [this, kept] {
      if (kept.isValid()) setExpanded(kept, true);
    }, Qt::QueuedConnection);
  });
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (view_) view_->setBoundsOrigin(fnd::Point{0, double(value)});
  });
}

double OutlineTreeWidget::scrollOffset() const { return verticalScrollBar()->value(); }

void OutlineTreeWidget::endEditing(bool commit) {
  if (!isEditing()) return;
  QWidget* editor = QApplication::focusWidget();
  if (!editor || !viewport()->isAncestorOf(editor)) {
    editor = nullptr;
    for (auto* e : viewport()->findChildren<QLineEdit*>())
      if (e->isVisible()) editor = e;
  }
  if (!editor) return;
  if (commit) commitData(editor);
  closeEditor(editor, commit ? QAbstractItemDelegate::NoHint : QAbstractItemDelegate::RevertModelCache);
  setFocus(Qt::OtherFocusReason);
}

// ---- The rename editor ----

OutlineEditDelegate::OutlineEditDelegate(OutlineView* view, OutlineTreeWidget* tree)
    : QStyledItemDelegate(tree), view_(view), tree_(tree) {}

QWidget* OutlineEditDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  auto* n = static_cast<OutlineNode*>(index.internalPointer());
  if (editor && n && view_) {
    ImplAccess::of(*view_)->ensureRows();
    editor->setFont(toQFont(view_->preparedCellAtRow(n->row).font));
  }
  return editor;
}

void OutlineEditDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex& index) const {
  auto* n = static_cast<OutlineNode*>(index.internalPointer());
  if (!view_ || !n) return QStyledItemDelegate::updateEditorGeometry(editor, option, index);
  ImplAccess::of(*view_)->ensureRows();
  // Where the row's text is drawn (after the triangle, the icon and the indentation), as high
  // as the row, less the badge; the line edit's own margin is taken back on the left.
  fnd::Rect text = view_->frameOfCellAtRow(n->row), row = view_->rectOfRow(n->row);
  if (text.size.width <= 0 || row.size.height <= 0) return QStyledItemDelegate::updateEditorGeometry(editor, option, index);
  const int margin = 3;
  editor->setGeometry(int(std::lround(text.origin.x)) - margin, int(std::lround(row.origin.y - tree_->scrollOffset())),
                      std::max(40, int(std::lround(text.size.width)) + margin), int(std::lround(row.size.height)));
}

bool OutlineTreeWidget::isOnChrome(const fnd::Point& p) const {
  QPoint at(int(std::floor(p.x)), int(std::floor(p.y - scrollOffset())));
  if (!viewport()->geometry().contains(at)) return true;
  return viewport()->childAt(at - viewport()->pos()) != nullptr;
}

fnd::Point OutlineTreeWidget::viewPoint(const QPointF& p) const {
  return fnd::Point{p.x(), p.y() + scrollOffset()};
}

void OutlineTreeWidget::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  if (!view_) return;
  OutlineNode* n = static_cast<OutlineNode*>(index.internalPointer());
  if (!n) return;
  ImplAccess::of(*view_)->ensureRows();
  long row = n->row;
  if (row < 0) return;
  painter->save();
  GraphicsContext::Impl impl;
  impl.painter = painter;
  painter->setTransform(QTransform::fromTranslate(0, -scrollOffset()), true);
  GraphicsContext ctx(&impl, true, view_->frame().size.height);
  QRectF clip = QRectF(option.rect).translated(0, scrollOffset());
  qtbridge::guarded("drawing a row", [&] {
    view_->drawRow(row, ctx, fnd::Rect(0, clip.y(), view_->frame().size.width, clip.height()));
  });
  painter->restore();
}

Event OutlineTreeWidget::mouseEvent(QMouseEvent* e, EventType type, int clicks) const {
  Event ev;
  ev.type = type;
  ev.locationInWindow = view_->convertPointToView(viewPoint(e->position()), nullptr);
  ev.modifierFlags = qtbridge::modifierFlags(e->modifiers());
  ev.clickCount = clicks;
  ev.timestamp = e->timestamp() / 1000.0;
  return ev;
}

// Left presses and keys reach the view through the host's filter; the right button comes here.
void OutlineTreeWidget::mousePressEvent(QMouseEvent* e) {
  if (!view_ || e->button() != Qt::RightButton) return QTreeView::mousePressEvent(e);
  e->accept();
  int clicks = qtbridge::clickCountForPress(e->button(), e->globalPosition(), e->timestamp() / 1000.0);
  qtbridge::deliver(view_, mouseEvent(e, EventType::RightMouseDown, clicks));
}

void OutlineTreeWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (!view_ || e->button() != Qt::RightButton) return QTreeView::mouseReleaseEvent(e);
  e->accept();
  qtbridge::deliver(view_, mouseEvent(e, EventType::RightMouseUp, 1));
}

void OutlineTreeWidget::focusInEvent(QFocusEvent* e) {
  QTreeView::focusInEvent(e);
  viewport()->update();
}

bool OutlineTreeWidget::viewportEvent(QEvent* event) {
  if (view_ && event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    std::string tip;
    qtbridge::guarded("tool tip", [&] { tip = view_->toolTipAtPoint(viewPoint(help->pos())); });
    if (tip.empty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), QString::fromStdString(tip), viewport());
    return true;
  }
  if (event->type() == QEvent::FocusOut || event->type() == QEvent::FocusIn) viewport()->update();
  return QTreeView::viewportEvent(event);
}

void OutlineTreeWidget::contextMenuEvent(QContextMenuEvent* e) {
  // Mouse requests arrive as presses; this is the menu key, asking about the selected row.
  if (!view_ || e->reason() != QContextMenuEvent::Keyboard) return;
  e->accept();
  long row = view_->selectedRow();
  fnd::Rect r = view_->rectOfRow(row);
  Event ev;
  ev.type = EventType::RightMouseDown;
  ev.locationInWindow = view_->convertPointToView(fnd::Point{r.origin.x + 10, r.origin.y + r.size.height / 2}, nullptr);
  ev.window = view_->window();
  qtbridge::guarded("context menu", [&] { view_->menuForEvent(ev, view_->itemAtRow(row)); });
}

namespace {
std::uint64_t operationsFor(Qt::DropActions actions, Qt::KeyboardModifiers modifiers) {
  if (modifiers & (Qt::ControlModifier | Qt::AltModifier)) return DragOperation::Copy;
  std::uint64_t mask = 0;
  if (actions & Qt::CopyAction) mask |= DragOperation::Copy;
  if (actions & Qt::MoveAction) mask |= DragOperation::Move | DragOperation::Generic;
  if (actions & Qt::LinkAction) mask |= DragOperation::Link;
  return mask;
}

Qt::DropAction actionFor(std::uint64_t op) {
  if (op & DragOperation::Copy) return Qt::CopyAction;
  if (op & (DragOperation::Move | DragOperation::Generic)) return Qt::MoveAction;
  if (op & DragOperation::Link) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

// Where a drop at a point is proposed: onto a row's middle, between rows near their edges.
// `mark` is where the proposal is shown: the row's rectangle (onto) or a line (between).
void proposal(OutlineView* view, const fnd::Point& p, QModelIndex& parent, int& row, fnd::Rect& mark) {
  auto* d = ImplAccess::of(*view);
  long r = view->rowAtPoint(fnd::Point{1, p.y});
  row = -1;
  mark = fnd::Rect();
  if (r < 0) {
    parent = QModelIndex();
    return;
  }
  OutlineNode* n = d->nodeAtRow(r);
  fnd::Rect rect = view->rectOfRow(r);
  double y = p.y - rect.origin.y, h = rect.size.height;
  double indent = view->frameOfCellAtRow(r).origin.x;
  if (y < h * 0.25) {
    parent = d->model->indexFor(n->parent);
    row = n->indexInParent;
    mark = fnd::Rect(indent, rect.origin.y - 1, rect.size.width - indent, 2);
  } else if (y > h * 0.75 && !(n->expanded && !n->children.empty())) {
    parent = d->model->indexFor(n->parent);
    row = n->indexInParent + 1;
    mark = fnd::Rect(indent, rect.origin.y + h - 1, rect.size.width - indent, 2);
  } else {
    parent = d->model->indexFor(n);
    mark = rect;
  }
}
}  // namespace

void OutlineTreeWidget::dragEnterEvent(QDragEnterEvent* e) {
  if (view_) {
    OutlineDraggingInfo info;
    info.payload = OutlineModel::payloadFromMime(e->mimeData());
    info.sourceOperationMask = operationsFor(e->possibleActions(), e->modifiers());
    auto* source = dynamic_cast<OutlineTreeWidget*>(e->source());
    info.source = source ? source->view_ : nullptr;
    info.locationInView = viewPoint(e->position());
    qtbridge::guarded("drag entering", [&] { view_->draggingEntered(info); });
  }
  dragMoveEvent(e);
}

OutlineTreeWidget::DropProposal OutlineTreeWidget::proposeDrop(QDropEvent* e) {
  DropProposal drop;
  drop.model = ImplAccess::of(*view_)->model;
  drop.model->dragSourceMask = operationsFor(e->possibleActions(), e->modifiers());
  auto* source = dynamic_cast<OutlineTreeWidget*>(e->source());
  drop.model->dragSource = source ? source->view_ : nullptr;
  proposal(view_, viewPoint(e->position()), drop.parent, drop.row, drop.mark);
  return drop;
}

void OutlineTreeWidget::dragMoveEvent(QDragMoveEvent* e) {
  if (!view_) return e->ignore();
  DropProposal drop = proposeDrop(e);
  OutlineModel* model = drop.model;
  bool ok = false;
  qtbridge::guarded("drop validation",
                    [&] { ok = model->canDropMimeData(e->mimeData(), e->dropAction(), drop.row, 0, drop.parent); });
  Qt::DropAction action = ok ? actionFor(model->lastValidatedOperation & model->dragSourceMask) : Qt::IgnoreAction;
  if (action == Qt::IgnoreAction && ok) action = actionFor(model->lastValidatedOperation);
  if (ok && action != Qt::IgnoreAction) {
    e->setDropAction(action);
    e->accept();
  } else {
    e->ignore();
    drop.mark = fnd::Rect();
  }
  showDropMark(drop.mark);
}

void OutlineTreeWidget::dragLeaveEvent(QDragLeaveEvent* e) {
  showDropMark(fnd::Rect());
  QTreeView::dragLeaveEvent(e);
}

void OutlineTreeWidget::showDropMark(const fnd::Rect& mark) {
  QRect r = mark.isEmpty() ? QRect()
                           : QRect(int(mark.origin.x), int(mark.origin.y - scrollOffset()), int(mark.size.width),
                                   int(mark.size.height));
  if (r == dropMark_) return;
  dropMark_ = r;
  viewport()->update();
}

void OutlineTreeWidget::paintEvent(QPaintEvent* e) {
  QTreeView::paintEvent(e);
  if (dropMark_.isNull()) return;
  QPainter p(viewport());
  QColor accent = palette().color(QPalette::Active, QPalette::Highlight);
  if (dropMark_.height() <= 2) p.fillRect(dropMark_, accent);
  else p.setPen(QPen(accent, 2)), p.drawRoundedRect(QRectF(dropMark_).adjusted(1, 1, -1, -1), 4, 4);
}

void OutlineTreeWidget::dropEvent(QDropEvent* e) {
  if (!view_) return e->ignore();
  const DropProposal drop = proposeDrop(e);
  showDropMark(fnd::Rect());
  bool ok = false;
  qtbridge::guarded("drop", [&] {
    if (drop.model->canDropMimeData(e->mimeData(), e->dropAction(), drop.row, 0, drop.parent))
      ok = drop.model->dropMimeData(e->mimeData(), e->dropAction(), drop.row, 0, drop.parent);
  });
  if (ok) {
    e->setDropAction(actionFor(drop.model->lastValidatedOperation));
    e->accept();
  } else {
    e->ignore();
  }
}

void OutlineView::Impl::startDrag() {
  fnd::IndexSet rowsToDrag;
  if (pressedRow >= 0 && view->isRowSelected(pressedRow)) rowsToDrag = view->selectedRowIndexes();
  else rowsToDrag.add(pressedRow);
  auto payload = view->dragPayloadForRows(rowsToDrag);
  if (!payload || !tree) return;
  std::vector<OutlineItem> items;
  rowsToDrag.forEach([&](std::int64_t r) {
    if (OutlineItem item = view->itemAtRow(long(r))) items.push_back(item);
    return true;
  });
  auto desktopPoint = [] {
    QPoint p = QCursor::pos();
    return fnd::Point{double(p.x()), double(p.y())};
  };
  view->draggingSessionWillBegin(*payload, desktopPoint(), items);
  auto* drag = new QDrag(tree);
  drag->setMimeData(OutlineModel::mimeFromPayload(*payload));
  fnd::Rect r = view->rectOfRow(pressedRow);
  QPixmap pixmap = tree->viewport()->grab(QRect(0, int(r.origin.y - tree->scrollOffset()), int(r.size.width),
                                                int(r.size.height)));
  drag->setPixmap(pixmap);
  drag->setHotSpot(QPoint(int(pressPoint.x), int(pressPoint.y - r.origin.y)));
  // The drag runs its own loop; the view may be gone when it returns.
  QPointer<OutlineTreeWidget> alive(tree);
  Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
  if (!alive || alive->isDetached()) return;
  std::uint64_t operation = done == Qt::CopyAction   ? DragOperation::Copy
                            : done == Qt::MoveAction ? DragOperation::Move
                            : done == Qt::LinkAction ? DragOperation::Link
                                                     : DragOperation::None;
  view->draggingSessionEnded(*payload, desktopPoint(), operation);
}

// ---- OutlineView ----

OutlineView::OutlineView(const fnd::Rect& frame) : WidgetHostView(frame), d_(std::make_unique<Impl>()) {
  d_->view = this;
  d_->root = d_->makeNode(nullptr, nullptr, 0);
  d_->model = new OutlineModel(this);
  d_->tree = new OutlineTreeWidget(this, nullptr);
  d_->tree->setModel(d_->model);
  d_->model->setParent(d_->tree);
  d_->tree->setItemDelegate(new OutlineEditDelegate(this, d_->tree));
  setHostedWidget(*this, d_->tree);
}

OutlineView::~OutlineView() {
  if (d_->tree) {
    d_->tree->detach();
    d_->tree->setModel(nullptr);
  }
}

void OutlineView::setDataSource(OutlineViewDataSource* dataSource) {
  dataSource_ = dataSource;
  dataSourceMethods_ = dataSource ? dataSource->implementedOutlineDataSourceMethods() : 0;
}

void OutlineView::setDelegate(OutlineViewDelegate* delegate) {
  bool wasViewBased = isViewBased();
  if (wasViewBased && delegate != delegate_)
    while (!d_->tiled.empty()) d_->untile(d_->tiled.begin()->first, false);
  delegate_ = delegate;
  delegateMethods_ = delegate ? delegate->implementedOutlineDelegateMethods() : 0;
  // Heights are asked afresh of the new delegate.
  for (auto& [item, node] : d_->nodes) node->height = -1;
  d_->rowsDirty = true;
  // The tree lays its rows out again on the next turn: a delegate and data source going away
  // together may be half gone now.
  bool uniform = !(delegateMethods_ & OutlineViewDelegate::HeightOfRowByItem);
  if (d_->tree && (d_->tree->uniformRowHeights() != uniform || !uniform)) {
    d_->tree->setUniformRowHeights(uniform);
    QMetaObject::invokeMethod(d_->tree, [tree = d_->tree] { tree->doItemsLayout(); }, Qt::QueuedConnection);
  }
  if (isViewBased()) setNeedsLayout();
}

bool OutlineView::isViewBased() const {
  return delegate_ && (delegateMethods_ & OutlineViewDelegate::ViewForItem);
}

void OutlineView::rememberPersistentObject(OutlineNode* node) {
  if (dataSource_ && (dataSourceMethods_ & OutlineViewDataSource::PersistentObjectForItem) && node->item)
    node->persistent = dataSource_->outlineViewPersistentObjectForItem(*this, node->item);
}

void OutlineView::reloadData() {
  auto* d = d_.get();
  fnd::IndexSet keptRows = selectedRowIndexes();
  std::unordered_set<OutlineItem> expanded;
  // The data source may hand out new items on each reload: the persistent objects of the open
  // ones find them again.
  bool persistent = dataSource_ && (dataSourceMethods_ & OutlineViewDataSource::PersistentObjectForItem);
  std::vector<fnd::Value> expandedObjects;
  for (auto& [item, node] : d->nodes) {
    if (!node->expanded) continue;
    expanded.insert(item);
    if (persistent && !node->persistent.isNull()) expandedObjects.push_back(node->persistent);
  }
  d->model->beginReset();
  d->nodes.clear();
  d->selected.clear();
  d->rows.clear();
  d->root = d->makeNode(nullptr, nullptr, 0);
  d->load(d->root.get());
  if (!expandedObjects.empty() && (dataSourceMethods_ & OutlineViewDataSource::ItemForPersistentObject))
    for (auto& v : expandedObjects)
      if (OutlineItem item = dataSource_->outlineViewItemForPersistentObject(*this, v)) expanded.insert(item);
  auto wasExpanded = [&](OutlineItem item) {
    if (expanded.count(item)) return true;
    if (expandedObjects.empty() || (dataSourceMethods_ & OutlineViewDataSource::ItemForPersistentObject)) return false;
    fnd::Value v = dataSource_->outlineViewPersistentObjectForItem(*this, item);
    return !v.isNull() && std::find(expandedObjects.begin(), expandedObjects.end(), v) != expandedObjects.end();
  };
  // Items that come back keep their expansion (asked again only where they were open).
  std::vector<OutlineNode*> stack;
  for (auto& c : d->root->children) stack.push_back(c.get());
  std::vector<OutlineNode*> reopened;
  while (!stack.empty()) {
    OutlineNode* n = stack.back();
    stack.pop_back();
    if (!n->item || !wasExpanded(n->item) || !isExpandable(n->item)) continue;
    n->expanded = true;
    rememberPersistentObject(n);
    d->load(n);
    reopened.push_back(n);
    for (auto& c : n->children) stack.push_back(c.get());
  }
  d->rowsDirty = true;
  d->model->endReset();
  for (OutlineNode* n : reopened) d->syncExpansion(n);
  d->ensureRows();
  keptRows.forEach([&](std::int64_t r) {
    if (OutlineNode* n = d->nodeAtRow(long(r))) d->selected.insert(n);
    return true;
  });
  if (!(selectedRowIndexes() == keptRows)) notifySelectionChanged();
  else d->mirrorSelection();
  setNeedsDisplay();
}

void OutlineView::reloadItem(OutlineItem item, bool reloadChildren) {
  auto* d = d_.get();
  OutlineNode* n = d->nodeForItem(item);
  if (!n) return;
  if (!reloadChildren || !n->loaded) {
    if (n != d->root.get()) d->model->changed(d->model->indexFor(n));
    return;
  }
  // Children come back fresh; those still there keep their expansion and selection.
  std::unordered_set<OutlineItem> expanded, selectedItems;
  std::vector<OutlineNode*> walk{n};
  while (!walk.empty()) {
    OutlineNode* w = walk.back();
    walk.pop_back();
    for (auto& c : w->children) {
      if (c->expanded) expanded.insert(c->item);
      if (d->selected.count(c.get())) selectedItems.insert(c->item);
      walk.push_back(c.get());
    }
  }
  fnd::IndexSet before = selectedRowIndexes();
  QModelIndex parent = d->model->indexFor(n);
  if (!n->children.empty()) {
    d->model->beginRemove(parent, 0, int(n->children.size()) - 1);
    // The row list must not outlive the nodes it points at.
    d->ensureRows();
    for (auto* r : d->rows) r->row = -1;
    d->rows.clear();
    d->rowsDirty = true;
    for (auto& c : n->children) d->forgetSubtree(c.get());
    n->children.clear();
    d->rowsDirty = true;
    d->model->endRemove();
  }
  n->loaded = false;
  long count = dataSource_ ? std::max(0L, dataSource_->outlineViewNumberOfChildrenOfItem(*this, item)) : 0;
  if (count > 0) d->model->beginInsert(parent, 0, int(count) - 1);
  d->load(n);
  std::vector<OutlineNode*> reopened;
  walk.assign({n});
  while (!walk.empty()) {
    OutlineNode* w = walk.back();
    walk.pop_back();
    for (auto& c : w->children) {
      if (selectedItems.count(c->item)) d->selected.insert(c.get());
      if (expanded.count(c->item) && isExpandable(c->item)) {
        c->expanded = true;
        rememberPersistentObject(c.get());
        d->load(c.get());
        reopened.push_back(c.get());
        walk.push_back(c.get());
      }
    }
  }
  d->rowsDirty = true;
  if (count > 0) d->model->endInsert();
  for (OutlineNode* r : reopened) d->syncExpansion(r);
  if (n != d->root.get()) d->model->changed(parent);
  if (!(selectedRowIndexes() == before)) notifySelectionChanged();
  else d->mirrorSelection();
  setNeedsDisplay();
}

long OutlineView::numberOfRows() const {
  d_->ensureRows();
  return long(d_->rows.size());
}

OutlineItem OutlineView::itemAtRow(long row) const {
  OutlineNode* n = d_->nodeAtRow(row);
  return n ? n->item : nullptr;
}

long OutlineView::rowForItem(OutlineItem item) const {
  if (!item) return -1;
  OutlineNode* n = d_->nodeForItem(item);
  if (!n) return -1;
  d_->ensureRows();
  return n->row;
}

long OutlineView::levelForRow(long row) const {
  OutlineNode* n = d_->nodeAtRow(row);
  return n ? n->level : -1;
}

long OutlineView::levelForItem(OutlineItem item) const {
  OutlineNode* n = item ? d_->nodeForItem(item) : nullptr;
  return n ? n->level : -1;
}

OutlineItem OutlineView::parentForItem(OutlineItem item) const {
  OutlineNode* n = item ? d_->nodeForItem(item) : nullptr;
  return n && n->parent ? n->parent->item : nullptr;
}

bool OutlineView::isExpandable(OutlineItem item) const {
  if (!item) return true;
  return dataSource_ && dataSource_->outlineViewIsItemExpandable(const_cast<OutlineView&>(*this), item);
}

bool OutlineView::isItemExpanded(OutlineItem item) const {
  OutlineNode* n = d_->nodeForItem(item);
  return n && (n == d_->root.get() || n->expanded);
}

bool OutlineView::shouldExpandItem(OutlineItem item) {
  if (delegateMethods_ & OutlineViewDelegate::ShouldExpandItem) return delegate_->outlineViewShouldExpandItem(*this, item);
  return true;
}

bool OutlineView::shouldCollapseItem(OutlineItem item) {
  if (delegateMethods_ & OutlineViewDelegate::ShouldCollapseItem)
    return delegate_->outlineViewShouldCollapseItem(*this, item);
  return true;
}

void OutlineView::expandItem(OutlineItem item, bool expandChildren) {
  auto* d = d_.get();
  bool changed = false;
  walkFrom(d->nodeForItem(item), d->root.get(), [&](OutlineNode* n) {
    if (!isExpandable(n->item)) return false;
    if (!n->expanded) {
      if (!shouldExpandItem(n->item)) return false;
      if (delegateMethods_ & OutlineViewDelegate::ItemWillExpand) delegate_->outlineViewItemWillExpand(*this, n->item);
      d->load(n);
      n->expanded = true;
      rememberPersistentObject(n);
      d->rowsDirty = true;
      d->syncExpansion(n);
      changed = true;
      if (delegateMethods_ & OutlineViewDelegate::ItemDidExpand) delegate_->outlineViewItemDidExpand(*this, n->item);
    }
    if (expandChildren) d->load(n);
    return expandChildren;
  });
  if (changed) setNeedsDisplay();
}

void OutlineView::collapseItem(OutlineItem item, bool collapseChildren) {
  auto* d = d_.get();
  bool changed = false;
  walkFrom(d->nodeForItem(item), d->root.get(), [&](OutlineNode* n) {
    if (!n->expanded || !shouldCollapseItem(n->item)) return collapseChildren;
    if (delegateMethods_ & OutlineViewDelegate::ItemWillCollapse) delegate_->outlineViewItemWillCollapse(*this, n->item);
    n->expanded = false;
    d->rowsDirty = true;
    d->syncExpansion(n);
    changed = true;
    if (delegateMethods_ & OutlineViewDelegate::ItemDidCollapse) delegate_->outlineViewItemDidCollapse(*this, n->item);
    return collapseChildren;
  });
  if (!changed) return;
  // Rows hidden by the collapse leave the selection.
  size_t before = d->selected.size();
  d->dropHiddenSelection();
  if (d->selected.size() != before) notifySelectionChanged();
  setNeedsDisplay();
}

// ---- View-based rows ----

void OutlineView::Impl::untile(long row, bool rowGone) {
  auto it = tiled.find(row);
  if (it == tiled.end()) return;
  OutlineRowViews views = std::move(it->second);
  tiled.erase(it);
  views.rowView->removeFromSuperview();
  if (view->delegate_ && (view->delegateMethods_ & OutlineViewDelegate::DidRemoveRowView))
    view->delegate_->outlineViewDidRemoveRowViewForRow(*view, *views.rowView, rowGone ? -1 : row);
}

void OutlineView::Impl::tileRows() {
  if (tiling) return;
  tiling = true;
  ensureRows();
  long first = 0, last = -1;
  if (view->isViewBased() && !rows.empty()) {
    fnd::Rect visible = view->bounds();
    first = std::max(0L, view->rowAtPoint(fnd::Point{0, visible.origin.y}));
    last = view->rowAtPoint(fnd::Point{0, visible.origin.y + visible.size.height - 0.5});
    if (last < 0) last = long(rows.size()) - 1;
  }
  // Rows that scrolled away or now show another item give up their views.
  std::vector<std::pair<long, bool>> leaving;
  for (auto& [row, views] : tiled) {
    bool moved = row >= long(rows.size()) || rows[size_t(row)]->item != views.item;
    if (moved || row < first || row > last) leaving.emplace_back(row, moved && view->rowForItem(views.item) < 0);
  }
  for (auto [row, gone] : leaving) untile(row, gone);
  auto* delegate = view->delegate_;
  unsigned methods = view->delegateMethods_;
  for (long row = first; row <= last; ++row) {
    OutlineItem item = rows[size_t(row)]->item;
    fnd::Rect rowRect = view->rectOfRow(row);
    auto it = tiled.find(row);
    if (it == tiled.end()) {
      OutlineRowViews views;
      views.item = item;
      if (methods & OutlineViewDelegate::RowViewForItem) views.rowView = delegate->outlineViewRowViewForItem(*view, item);
      if (!views.rowView) views.rowView = std::make_shared<View>();
      views.cellView = delegate->outlineViewViewForItem(*view, item);
      view->addSubview(views.rowView);
      if (views.cellView) views.rowView->addSubview(views.cellView);
      it = tiled.emplace(row, std::move(views)).first;
      it->second.rowView->setFrame(rowRect);
      if (methods & OutlineViewDelegate::DidAddRowView)
        delegate->outlineViewDidAddRowViewForRow(*view, *it->second.rowView, row);
    }
    OutlineRowViews& views = it->second;
    views.rowView->setFrame(rowRect);
    if (views.cellView) {
      // Over the row's text cell: after the indentation and the triangle, as high as the row.
      fnd::Rect cell = view->frameOfCellAtRow(row);
      views.cellView->setFrame(fnd::Rect(cell.origin.x, 0, std::max(0.0, cell.size.width), rowRect.size.height));
    }
  }
  tiling = false;
}

View* OutlineView::viewAtRow(long row, bool makeIfNecessary) {
  if (makeIfNecessary) d_->tileRows();
  auto it = d_->tiled.find(row);
  return it == d_->tiled.end() ? nullptr : it->second.cellView.get();
}

View* OutlineView::rowViewAtRow(long row, bool makeIfNecessary) {
  if (makeIfNecessary) d_->tileRows();
  auto it = d_->tiled.find(row);
  return it == d_->tiled.end() ? nullptr : it->second.rowView.get();
}

void OutlineView::layout() {
  WidgetHostView::layout();
  if (isViewBased() || !d_->tiled.empty()) d_->tileRows();
}

void OutlineView::setFrame(const fnd::Rect& frame) {
  WidgetHostView::setFrame(frame);
  if (isViewBased()) setNeedsLayout();
}

void OutlineView::setBoundsOrigin(const fnd::Point& origin) {
  WidgetHostView::setBoundsOrigin(origin);
  if (isViewBased()) setNeedsLayout();
}

void OutlineView::noteHeightOfRowsWithIndexesChanged(const fnd::IndexSet& rows) {
  rows.forEach([&](std::int64_t r) {
    if (OutlineNode* n = d_->nodeAtRow(long(r))) n->height = -1;
    return true;
  });
  d_->rowsDirty = true;
  if (d_->tree) d_->tree->doItemsLayout();
  setNeedsDisplay();
}

void OutlineView::setRowHeight(double height) {
  rowHeight_ = std::max(1.0, height);
  d_->rowsDirty = true;
  if (d_->tree) d_->tree->doItemsLayout();
  setNeedsDisplay();
}

void OutlineView::setIndentationPerLevel(double indentation) {
  indentation_ = std::max(0.0, indentation);
  setNeedsDisplay();
}

fnd::Rect OutlineView::rectOfRow(long row) const {
  if (row < 0 || row >= numberOfRows()) return fnd::Rect();
  double width = frame().size.width;
  // A vertical scroller, when the rows overflow, takes its width from the rows.
  if (d_->tree && d_->tops.back() > frame().size.height)
    width -= d_->tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, d_->tree);
  double top = d_->tops[size_t(row)];
  return fnd::Rect(0, top, std::max(0.0, width), d_->tops[size_t(row) + 1] - top);
}

long OutlineView::rowAtPoint(const fnd::Point& point) const {
  if (point.y < 0 || point.x < 0 || point.x > frame().size.width) return -1;
  long count = numberOfRows();
  auto& tops = d_->tops;
  long row = long(std::upper_bound(tops.begin(), tops.end(), point.y) - tops.begin()) - 1;
  return row >= 0 && row < count ? row : -1;
}

fnd::Rect OutlineView::frameOfCellAtRow(long row) {
  fnd::Rect r = rectOfRow(row);
  if (r.size.width <= 0) return fnd::Rect();
  double x = double(levelForRow(row)) * indentation_ + kTextInset;
  return fnd::Rect(x, r.origin.y, std::max(0.0, r.size.width - x), r.size.height);
}

fnd::Rect OutlineView::frameOfOutlineCellAtRow(long row) {
  fnd::Rect r = rectOfRow(row);
  OutlineItem item = itemAtRow(row);
  if (r.size.width <= 0 || !isExpandable(item)) return fnd::Rect();
  return fnd::Rect(double(levelForRow(row)) * indentation_, r.origin.y, kOutlineCellWidth, r.size.height);
}

void OutlineView::scrollRowToVisible(long row) {
  OutlineNode* n = d_->nodeAtRow(row);
  if (!n || !d_->tree) return;
  d_->tree->scrollTo(d_->model->indexFor(n), QAbstractItemView::EnsureVisible);
}

void OutlineView::scrollRowToCenter(long row) {
  OutlineNode* n = d_->nodeAtRow(row);
  if (!n || !d_->tree) return;
  d_->tree->scrollTo(d_->model->indexFor(n), QAbstractItemView::PositionAtCenter);
}

fnd::IndexSet OutlineView::selectedRowIndexes() const {
  d_->ensureRows();
  fnd::IndexSet set;
  for (OutlineNode* n : d_->selected)
    if (n->row >= 0) set.add(n->row);
  return set;
}

long OutlineView::selectedRow() const {
  auto s = selectedRowIndexes();
  return s.isEmpty() ? -1 : long(s.lastIndex());
}

bool OutlineView::isRowSelected(long row) const {
  OutlineNode* n = d_->nodeAtRow(row);
  return n && d_->selected.count(n);
}

long OutlineView::numberOfSelectedRows() const { return long(selectedRowIndexes().count()); }

bool OutlineView::isGroupItem(OutlineItem item) {
  return (delegateMethods_ & OutlineViewDelegate::IsGroupItem) && delegate_->outlineViewIsGroupItem(*this, item);
}

bool OutlineView::shouldSelectItem(OutlineItem item) {
  if (delegateMethods_ & OutlineViewDelegate::ShouldSelectItem) return delegate_->outlineViewShouldSelectItem(*this, item);
  return true;
}

bool OutlineView::shouldEditItem(OutlineItem item) {
  if (delegateMethods_ & OutlineViewDelegate::ShouldEditItem) return delegate_->outlineViewShouldEditItem(*this, item);
  return true;
}

void OutlineView::selectRowIndexes(const fnd::IndexSet& indexes, bool byExtendingSelection) {
  auto* d = d_.get();
  d->ensureRows();
  std::unordered_set<OutlineNode*> next;
  if (byExtendingSelection && allowsMultipleSelection_) next = d->selected;
  bool single = !allowsMultipleSelection_;
  indexes.forEach([&](std::int64_t r) {
    OutlineNode* n = d->nodeAtRow(long(r));
    if (!n || (!d->selected.count(n) && !shouldSelectItem(n->item))) return true;
    if (single) next.clear();
    next.insert(n);
    return true;
  });
  if (delegate_ && (delegateMethods_ & OutlineViewDelegate::SelectionIndexesForProposedSelection)) {
    fnd::IndexSet proposed;
    for (OutlineNode* n : next) proposed.add(n->row);
    fnd::IndexSet answer = delegate_->outlineViewSelectionIndexesForProposedSelection(*this, proposed);
    next.clear();
    answer.forEach([&](std::int64_t r) {
      if (OutlineNode* n = d->nodeAtRow(long(r))) next.insert(n);
      // One row at most where the view selects one.
      return !single;
    });
  }
  if (next.empty() && !allowsEmptySelection_ && !d->selected.empty()) return;
  if (next == d->selected) return;
  d->selected = std::move(next);
  notifySelectionChanged();
  setNeedsDisplay();
  if (d->tree) d->tree->viewport()->update();
}

void OutlineView::deselectAll() {
  if (d_->selected.empty()) return;
  d_->selected.clear();
  notifySelectionChanged();
  if (d_->tree) d_->tree->viewport()->update();
}

void OutlineView::notifySelectionChanged() {
  d_->mirrorSelection();
  if (d_->tracking) {
    d_->changedWhileTracking = true;
    if (delegateMethods_ & OutlineViewDelegate::SelectionIsChanging) delegate_->outlineViewSelectionIsChanging(*this);
    return;
  }
  if (delegateMethods_ & OutlineViewDelegate::SelectionDidChange) delegate_->outlineViewSelectionDidChange(*this);
}

void OutlineView::editRow(long row) {
  OutlineNode* n = d_->nodeAtRow(row);
  if (!n || !d_->tree || !shouldEditItem(n->item)) return;
  if (!(dataSourceMethods_ & OutlineViewDataSource::SetObjectValue)) return;
  // Another row's open editor stores what it holds first (a new folder asked for while a name
  // is being edited): the new editor would not open beside it.
  if (isEditing()) {
    endEditing(true);
    n = d_->nodeAtRow(row);
    if (!n || isEditing()) return;
  }
  // The list takes the keys before its editor does: the editor's focus, coming from another
  // view of the window, would otherwise make the list the first responder, which focuses the
  // list's own widget and closes the editor as it opens.
  if (Window* w = window(); w && w->firstResponder() != this) {
    w->makeFirstResponder(this);
    n = d_->nodeAtRow(row);
    if (!n || isEditing()) return;
  }
  scrollRowToVisible(row);
  QModelIndex index = d_->model->indexFor(n);
  d_->tree->edit(index);
  auto* editor = qobject_cast<QLineEdit*>(d_->tree->indexWidget(index));
  if (!editor || d_->editSession) return;
  d_->editSession = true;
  d_->editChanged = false;
  d_->editor = editor;
  // The user's changes only: the text the editor starts with is no change.
  QObject::connect(editor, &QLineEdit::textEdited, d_->tree, [this] { textEditingChanged(); });
}

bool OutlineView::isEditing() const { return d_->tree && d_->tree->isEditing(); }

void OutlineView::endEditing(bool commit) {
  if (d_->tree) d_->tree->endEditing(commit);
}

std::string OutlineView::editingText() const {
  return d_->editor ? d_->editor->text().toStdString() : std::string();
}

void OutlineView::Impl::postEditing(fnd::NotificationName name, unsigned method) {
  if (!view->delegate_ || !(view->delegateMethods_ & method)) return;
  fnd::Notification n(name, view, fnd::Dictionary{{OutlineFieldEditorKey, fnd::Value(view->editingText())}});
  auto* delegate = view->delegate_;
  if (method == OutlineViewDelegate::TextDidBeginEditing) delegate->controlTextDidBeginEditing(n);
  else if (method == OutlineViewDelegate::TextDidChange) delegate->controlTextDidChange(n);
  else delegate->controlTextDidEndEditing(n);
}

void OutlineView::textEditingChanged() {
  if (!d_->editSession) return;
  if (!d_->editChanged) {
    d_->editChanged = true;
    d_->postEditing(ControlTextDidBeginEditingNotification, OutlineViewDelegate::TextDidBeginEditing);
  }
  d_->postEditing(ControlTextDidChangeNotification, OutlineViewDelegate::TextDidChange);
}

void OutlineView::textEditingEnded() {
  if (!d_->editSession) return;
  d_->editSession = false;
  d_->postEditing(ControlTextDidEndEditingNotification, OutlineViewDelegate::TextDidEndEditing);
  d_->editor = nullptr;
}

void OutlineTreeWidget::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  // The editor's text is read for the end message before the editor goes.
  if (view_) qtbridge::guarded("end of a rename", [&] { view_->textEditingEnded(); });
  QTreeView::closeEditor(editor, hint);
}

TextCell OutlineView::preparedCellAtRow(long row) {
  TextCell cell;
  OutlineNode* n = d_->nodeAtRow(row);
  if (!n) return cell;
  std::optional<TextCell> given;
  if (delegate_ && (delegateMethods_ & OutlineViewDelegate::DataCellForItem))
    given = delegate_->outlineViewDataCellForItem(*this, n->item);
  if (given) cell = std::move(*given);
  if (dataSource_) cell.stringValue = displayText(dataSource_->outlineViewObjectValueForItem(*this, n->item));
  cell.isHighlighted = d_->selected.count(n) > 0;
  if (!given && isGroupItem(n->item)) {
    cell.font = Font{{}, 11.0, true, false};
    cell.textColor = Color::white(0.45);
  }
  if (delegateMethods_ & OutlineViewDelegate::WillDisplayCell) delegate_->outlineViewWillDisplayCellForItem(*this, cell, n->item);
  return cell;
}

void OutlineView::drawRow(long row, GraphicsContext& context, const fnd::Rect& clipRect) {
  OutlineNode* n = d_->nodeAtRow(row);
  if (!n) return;
  fnd::Rect rowRect = rectOfRow(row);
  bool selected = d_->selected.count(n) > 0;
  // Selected rows are blue while the list is its window's first responder, grey otherwise.
  bool focused = window() && window()->firstResponder() == this;
  if (selected) {
    context.setFillColor(highlightColor(focused));
    context.fillRect(rowRect);
  }
  fnd::Rect tri = frameOfOutlineCellAtRow(row);
  if (tri.size.width > 0 && tri.size.height > 0) {
    // A small solid triangle: right when closed, down when open.
    double cx = tri.origin.x + tri.size.width / 2, cy = tri.origin.y + tri.size.height / 2;
    Path p;
    if (n->expanded) {
      p.moveTo({cx - 4, cy - 2});
      p.lineTo({cx + 4, cy - 2});
      p.lineTo({cx, cy + 3});
    } else {
      p.moveTo({cx - 2, cy - 4});
      p.lineTo({cx + 3, cy});
      p.lineTo({cx - 2, cy + 4});
    }
    p.close();
    context.setFillColor(selected && focused ? Color::white() : Color::white(0.45));
    context.fillPath(p);
  }
  // View-based rows show their text in the delegate's views.
  if (isViewBased()) return;
  TextCell cell = preparedCellAtRow(row);
  fnd::Rect frame = frameOfCellAtRow(row);
  if (frame.size.width <= 0 || cell.stringValue.empty()) return;
  Color color = cell.textColor.value_or(Color::black());
  if (selected && focused) color = Color::white();
  double textHeight = GraphicsContext::sizeOfText("Xg", cell.font).height;
  fnd::Rect textRect(frame.origin.x, frame.origin.y + (frame.size.height - textHeight) / 2, frame.size.width, textHeight);
  context.saveState();
  context.clipToRect(frame);
  context.drawText(cell.stringValue, textRect, cell.font, color, TextAlignment::Left, textTruncation_);
  context.restoreState();
}

void OutlineView::setTextTruncation(TextTruncation truncation) {
  textTruncation_ = truncation;
  setNeedsDisplay();
}

std::string OutlineView::toolTipAtPoint(const fnd::Point& point) {
  long row = rowAtPoint(point);
  if (row < 0) return {};
  if (delegate_ && (delegateMethods_ & OutlineViewDelegate::ToolTipForCell)) {
    TextCell cell = preparedCellAtRow(row);
    fnd::Rect rect = frameOfCellAtRow(row);
    std::string tip = delegate_->outlineViewToolTipForCellRectItemMouseLocation(*this, cell, rect, itemAtRow(row), point);
    if (!tip.empty()) return tip;
  }
  // Cell expansion: a title drawn shortened is shown whole.
  if (!isCellTextCut(row)) return {};
  if (delegate_ && (delegateMethods_ & OutlineViewDelegate::ShouldShowCellExpansion) &&
      !delegate_->outlineViewShouldShowCellExpansionForItem(*this, itemAtRow(row)))
    return {};
  return preparedCellAtRow(row).stringValue;
}

bool OutlineView::isCellTextCut(long row) {
  if (isViewBased() || row < 0 || row >= numberOfRows()) return false;
  TextCell cell = preparedCellAtRow(row);
  if (cell.stringValue.empty()) return false;
  return GraphicsContext::sizeOfText(cell.stringValue, cell.font).width > frameOfCellAtRow(row).size.width;
}

std::string OutlineView::typeSelectStringForRow(long row) {
  OutlineItem item = itemAtRow(row);
  if (delegateMethods_ & OutlineViewDelegate::TypeSelectStringForItem)
    return delegate_->outlineViewTypeSelectStringForItem(*this, item);
  return dataSource_ && item ? displayText(dataSource_->outlineViewObjectValueForItem(*this, item)) : std::string();
}

void OutlineView::keyDown(const Event& event) {
  // Keys for an open editor are the editor's; Return and Enter store the name, Escape keeps
  // the old one (the editor itself never sees them: keys reach it past its delegate's filter).
  if (isEditing()) {
    if (event.keyCode == KeyCode::Return || event.keyCode == KeyCode::KeypadEnter) d_->tree->endEditing(true);
    else if (event.keyCode == KeyCode::Escape) d_->tree->endEditing(false);
    else WidgetHostView::keyDown(event);
    return;
  }
  ++d_->editRequest;
  // F2, and Return as in the file manager, rename the one selected row; a row that cannot be
  // renamed lets the key travel on.
  const bool renameKey =
      event.keyCode == KeyCode::F2 || event.keyCode == KeyCode::Return || event.keyCode == KeyCode::KeypadEnter;
  if (renameKey && !event.hasModifier(ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control |
                                      ModifierFlag::Shift) &&
      numberOfSelectedRows() == 1 && beginEditingRow(selectedRow()))
    return;
  long count = numberOfRows();
  bool shift = event.hasModifier(ModifierFlag::Shift);
  auto selectOnly = [&](long row) { selectRowIndexes(fnd::IndexSet(row), false); };
  switch (event.keyCode) {
    case KeyCode::UpArrow:
    case KeyCode::DownArrow: {
      if (count == 0) return;
      int step = event.keyCode == KeyCode::UpArrow ? -1 : 1;
      auto sel = selectedRowIndexes();
      long from = sel.isEmpty() ? (step > 0 ? -1 : count) : long(step > 0 ? sel.lastIndex() : sel.firstIndex());
      long to = from + step;
      if (to < 0 || to >= count) return;  // at the end: the selection stays
      if (shift && allowsMultipleSelection_) selectRowIndexes(fnd::IndexSet(to), true);
      else selectOnly(to);
      scrollRowToVisible(to);
      return;
    }
    case KeyCode::LeftArrow:
    case KeyCode::RightArrow: {
      long row = selectedRow();
      OutlineItem item = itemAtRow(row);
      if (!item) return;
      bool all = event.hasModifier(ModifierFlag::Option);
      if (event.keyCode == KeyCode::RightArrow) {
        expandItem(item, all);
      } else if (isItemExpanded(item) && isExpandable(item)) {
        collapseItem(item, all);
      } else if (OutlineItem parent = parentForItem(item)) {
        long p = rowForItem(parent);
        if (p >= 0) selectOnly(p);
      }
      return;
    }
    case KeyCode::Home:
    case KeyCode::End:
      if (count > 0) scrollRowToVisible(event.keyCode == KeyCode::Home ? 0 : count - 1);
      return;
    case KeyCode::PageUp:
    case KeyCode::PageDown:
      // The page keys scroll; the selection stays.
      if (d_->tree)
        d_->tree->verticalScrollBar()->triggerAction(event.keyCode == KeyCode::PageUp ? QAbstractSlider::SliderPageStepSub
                                                                                       : QAbstractSlider::SliderPageStepAdd);
      return;
    default: break;
  }
  // Printable characters type-select; everything else travels on.
  const std::string& chars = event.characters;
  bool printable = !chars.empty() && static_cast<unsigned char>(chars[0]) >= 0x20 && chars[0] != 0x7f &&
                   !event.hasModifier(ModifierFlag::Command | ModifierFlag::Control);
  if (!printable || count == 0) {
    View::keyDown(event);
    return;
  }
  double t = now();
  if (t - d_->typedAt > kTypeSelectInterval) d_->typed.clear();
  if (delegate_ && (delegateMethods_ & OutlineViewDelegate::ShouldTypeSelectForEvent) &&
      !delegate_->outlineViewShouldTypeSelectForEventWithCurrentSearchString(*this, event, d_->typed)) {
    View::keyDown(event);
    return;
  }
  d_->typedAt = t;
  d_->typed += chars;
  std::string wanted = fnd::asciiLowercase(d_->typed);
  long start = selectedRow();
  // A longer string may still match the selected row; a fresh one starts past it.
  long first = (d_->typed.size() > chars.size() ? std::max(0L, start) : start + 1) % count;
  if (delegate_ && (delegateMethods_ & OutlineViewDelegate::NextTypeSelectMatch)) {
    // The delegate searches the whole table, from `first` round to the row before it.
    OutlineItem match = delegate_->outlineViewNextTypeSelectMatchFromItemToItemForString(
        *this, itemAtRow(first), itemAtRow((first + count - 1) % count), d_->typed);
    long row = rowForItem(match);
    if (row >= 0) {
      selectOnly(row);
      scrollRowToVisible(row);
    }
    return;
  }
  for (long i = 0; i < count; ++i) {
    long row = (first + i) % count;
    if (isGroupItem(itemAtRow(row))) continue;
    if (fnd::asciiLowercase(typeSelectStringForRow(row)).rfind(wanted, 0) == 0) {
      selectOnly(row);
      scrollRowToVisible(row);
      return;
    }
  }
}

namespace {
fnd::Point pointIn(const View* view, const Event& event) {
  return view->convertPointFromView(event.locationInWindow, nullptr);
}
}  // namespace

void OutlineView::mouseDown(const Event& event) {
  auto* d = d_.get();
  fnd::Point p = pointIn(this, event);
  ++d->editRequest;
  d->pressOnSelectedRow = false;
  // The scroller and an open editor take their own presses.
  d->pressToWidget = d->tree && d->tree->isOnChrome(p);
  if (d->pressToWidget) {
    WidgetHostView::mouseDown(event);
    return;
  }
  if (event.hasModifier(ModifierFlag::Control)) {
    menuForEvent(event, itemAtRow(rowAtPoint(p)));
    return;
  }
  if (window() && window()->firstResponder() != this) window()->makeFirstResponder(this);
  long row = rowAtPoint(p);
  d->pressedRow = row;
  d->pressPoint = p;
  d->dragStarted = false;
  if (row < 0) {
    if (!event.hasModifier(ModifierFlag::Command | ModifierFlag::Shift)) selectRowIndexes(fnd::IndexSet(), false);
    return;
  }
  fnd::Rect tri = frameOfOutlineCellAtRow(row);
  if (tri.size.width > 0 && p.x >= tri.origin.x && p.x < tri.origin.x + tri.size.width) {
    OutlineItem item = itemAtRow(row);
    bool all = event.hasModifier(ModifierFlag::Option);
    if (isItemExpanded(item)) collapseItem(item, all);
    else expandItem(item, all);
    d->pressedRow = -1;
    return;
  }
  d->tracking = true;
  d->changedWhileTracking = false;
  const bool plain =
      !event.hasModifier(ModifierFlag::Command | ModifierFlag::Shift | ModifierFlag::Option | ModifierFlag::Control);
  const bool onTheSelectedRow = plain && numberOfSelectedRows() == 1 && isRowSelected(row);
  if (event.hasModifier(ModifierFlag::Command) && allowsMultipleSelection_) {
    fnd::IndexSet next = selectedRowIndexes();
    if (next.contains(row)) next.remove(row);
    else next.add(row);
    selectRowIndexes(next, false);
  } else if (event.hasModifier(ModifierFlag::Shift) && allowsMultipleSelection_ && selectedRow() >= 0) {
    auto sel = selectedRowIndexes();
    long anchor = row < sel.firstIndex() ? long(sel.lastIndex()) : long(sel.firstIndex());
    long lo = std::min(anchor, row), hi = std::max(anchor, row);
    selectRowIndexes(fnd::IndexSet(fnd::Range{lo, hi - lo + 1}), false);
  } else if (!isRowSelected(row) || numberOfSelectedRows() > 1) {
    selectRowIndexes(fnd::IndexSet(row), false);
  }
  // A double click renames the row it selected (the press starts no drag then).
  if (plain && event.clickCount == 2 && numberOfSelectedRows() == 1 && isRowSelected(row) && beginEditingRow(row)) {
    d->pressedRow = -1;
    return;
  }
  d->pressOnSelectedRow = onTheSelectedRow && event.clickCount == 1;
}

void OutlineView::mouseDragged(const Event& event) {
  auto* d = d_.get();
  if (d->pressToWidget) {
    WidgetHostView::mouseDragged(event);
    return;
  }
  if (d->pressedRow < 0 || d->dragStarted) return;
  fnd::Point p = pointIn(this, event);
  double dx = p.x - d->pressPoint.x, dy = p.y - d->pressPoint.y;
  int distance = QApplication::startDragDistance();
  if (draggingEnabled_ && (dataSourceMethods_ & OutlineViewDataSource::WriteItems)) {
    if (std::abs(dx) + std::abs(dy) < distance) return;
    d->dragStarted = true;
    d->tracking = false;
    if (d->changedWhileTracking) {
      d->changedWhileTracking = false;
      notifySelectionChanged();
    }
    d->startDrag();
    return;
  }
  // Without dragging, the press follows the pointer over the rows.
  long row = rowAtPoint(p);
  if (row >= 0 && !isRowSelected(row) && !event.hasModifier(ModifierFlag::Command | ModifierFlag::Shift))
    selectRowIndexes(fnd::IndexSet(row), false);
}

void OutlineView::mouseUp(const Event& event) {
  auto* d = d_.get();
  if (d->pressToWidget) {
    d->pressToWidget = false;
    WidgetHostView::mouseUp(event);
    return;
  }
  bool wasTracking = d->tracking;
  const bool renameLater = d->pressOnSelectedRow && !d->dragStarted && d->pressedRow >= 0 &&
                           rowAtPoint(pointIn(this, event)) == d->pressedRow;
  const OutlineItem pressedItem = itemAtRow(d->pressedRow);
  const long pressedRow = d->pressedRow;
  d->pressOnSelectedRow = false;
  d->tracking = false;
  d->pressedRow = -1;
  if (wasTracking && d->changedWhileTracking) {
    d->changedWhileTracking = false;
    notifySelectionChanged();
  }
  if (renameLater && selectedRowClicked_ && selectedRowClicked_(pressedRow)) return;
  if (!renameLater || !d->tree) return;
  // Only once no second press has made it a double click, and while nothing else has happened.
  const unsigned request = ++d->editRequest;
  QPointer<OutlineTreeWidget> tree(d->tree);
  QTimer::singleShot(int(Event::doubleClickInterval() * 1000), d->tree, [this, tree, request, pressedItem] {
    if (!tree || tree->isDetached() || d_->editRequest != request || isEditing()) return;
    if (window() && window()->firstResponder() != this) return;
    if (numberOfSelectedRows() == 1 && itemAtRow(selectedRow()) == pressedItem) beginEditingRow(selectedRow());
  });
}

bool OutlineView::beginEditingRow(long row) {
  OutlineItem item = itemAtRow(row);
  if (!item || isEditing() || !(dataSourceMethods_ & OutlineViewDataSource::SetObjectValue) || !shouldEditItem(item))
    return false;
  editRow(row);
  return isEditing();
}

void OutlineView::rightMouseDown(const Event& event) {
  ++d_->editRequest;
  menuForEvent(event, itemAtRow(rowAtPoint(pointIn(this, event))));
}

bool OutlineView::menuForEvent(const Event& event, OutlineItem item) {
  View::rightMouseDown(event);
  return false;
}

std::optional<DragPayload> OutlineView::dragPayloadForRows(const fnd::IndexSet& rows) {
  bool writers = dataSource_ && (dataSourceMethods_ & OutlineViewDataSource::PasteboardWriterForItem);
  if (!dataSource_ || !(writers || (dataSourceMethods_ & OutlineViewDataSource::WriteItems)) || rows.isEmpty())
    return std::nullopt;
  std::vector<OutlineItem> items;
  rows.forEach([&](std::int64_t r) {
    if (OutlineItem item = itemAtRow(long(r))) items.push_back(item);
    return true;
  });
  if (items.empty()) return std::nullopt;
  DragPayload payload;
  if (!writers) {
    if (!dataSource_->outlineViewWriteItemsToPasteboard(*this, items, payload) || payload.empty()) return std::nullopt;
    return payload;
  }
  // One drag carries one value per type: the items' texts go one per line, as lists of
  // addresses or names are read; another type keeps the first item's bytes.
  for (OutlineItem item : items) {
    auto written = dataSource_->outlineViewPasteboardWriterForItem(*this, item);
    if (!written) continue;
    for (auto& [type, bytes] : written->entries) {
      auto it = std::find_if(payload.entries.begin(), payload.entries.end(),
                             [&type = type](auto& e) { return e.first == type; });
      if (it == payload.entries.end()) payload.entries.emplace_back(type, bytes);
      else if (type.rfind("text/", 0) == 0) {
        it->second.push_back('\n');
        it->second.insert(it->second.end(), bytes.begin(), bytes.end());
      }
    }
  }
  if (payload.empty()) return std::nullopt;
  return payload;
}

void OutlineView::draggingSessionWillBegin(const DragPayload& payload, const fnd::Point& screenPoint,
                                           const std::vector<OutlineItem>& items) {
  if (dataSource_ && (dataSourceMethods_ & OutlineViewDataSource::DraggingSessionWillBegin))
    dataSource_->outlineViewDraggingSessionWillBeginAtPointForItems(*this, payload, screenPoint, items);
}

void OutlineView::draggingSessionEnded(const DragPayload& payload, const fnd::Point& screenPoint,
                                       std::uint64_t operation) {
  if (dataSource_ && (dataSourceMethods_ & OutlineViewDataSource::DraggingSessionEnded))
    dataSource_->outlineViewDraggingSessionEndedAtPointOperation(*this, payload, screenPoint, operation);
}

void OutlineView::draggingEntered(const OutlineDraggingInfo& info) {
  if (dataSource_ && (dataSourceMethods_ & OutlineViewDataSource::UpdateDraggingItemsForDrag))
    dataSource_->outlineViewUpdateDraggingItemsForDrag(*this, info);
}

std::uint64_t OutlineView::validateDrop(const OutlineDraggingInfo& info, OutlineItem item, long childIndex) {
  if (!dataSource_ || !(dataSourceMethods_ & OutlineViewDataSource::ValidateDrop)) return DragOperation::None;
  return dataSource_->outlineViewValidateDropProposedItemProposedChildIndex(*this, info, item, childIndex);
}

bool OutlineView::acceptDrop(const OutlineDraggingInfo& info, OutlineItem item, long childIndex) {
  if (!dataSource_ || !(dataSourceMethods_ & OutlineViewDataSource::AcceptDrop)) return false;
  return dataSource_->outlineViewAcceptDropItemChildIndex(*this, info, item, childIndex);
}

}  // namespace kesto::ui
