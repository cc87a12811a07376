#include "Platform/UI/Dragging.h"

#include "Platform/Foundation/StandardPaths.h"
#include "Platform/UI/Dragging_p.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/Pasteboard_p.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QDir>
#include <QDrag>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>

#include <algorithm>
#include <memory>

#include <unistd.h>

namespace kesto::ui {

namespace {

// The view whose drag is running, so drop targets in this application can ask for it.
std::weak_ptr<View> currentSource;

Qt::DropActions toQtActions(unsigned mask) {
  Qt::DropActions actions;
  if (mask & DragOperation::Copy) actions |= Qt::CopyAction;
  if (mask & (DragOperation::Move | DragOperation::Generic | DragOperation::Private)) actions |= Qt::MoveAction;
  if (mask & DragOperation::Link) actions |= Qt::LinkAction;
  return actions;
}

unsigned fromQtActions(Qt::DropActions actions) {
  unsigned mask = DragOperation::None;
  if (actions & Qt::CopyAction) mask |= DragOperation::Copy;
  if (actions & Qt::MoveAction) mask |= DragOperation::Move | DragOperation::Generic;
  if (actions & Qt::LinkAction) mask |= DragOperation::Link;
  return mask;
}

// One operation out of a target's answer, as the toolkit names it.
Qt::DropAction toQtAction(unsigned operation) {
  if (operation & DragOperation::Copy) return Qt::CopyAction;
  if (operation & (DragOperation::Move | DragOperation::Generic | DragOperation::Private)) return Qt::MoveAction;
  if (operation & DragOperation::Link) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

DraggingInfo infoFor(View* view, const QDropEvent* event, const fnd::Point& location) {
  DraggingInfo info;
  info.pasteboard = &Pasteboard::drag();
  info.locationInWindow = location;
  info.modifierFlags = qtbridge::modifierFlags(event->modifiers());
  unsigned mask = fromQtActions(event->possibleActions());
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) mask &= DragOperation::Copy;
  info.sourceOperationMask = mask;
  info.source = currentSource.lock().get();
  info.fromThisApplication = info.source || event->source();
  info.destinationWindow = view->window();
  return info;
}

// Tells the toolkit the target's answer, keeping within what the source allows.
void answer(QDropEvent* event, unsigned operation) {
  Qt::DropAction action = toQtAction(operation);
  if (action == Qt::IgnoreAction) {
    event->ignore();
    return;
  }
  if (!(event->possibleActions() & action)) action = event->proposedAction();
  event->setDropAction(action);
  event->accept();
}

DraggingDestination* destinationOf(View* view) { return view ? dynamic_cast<DraggingDestination*>(view) : nullptr; }

QString linkFileName(const std::string& url, const std::string& title) {
  QString name = QString::fromStdString(title).simplified();
  if (name.isEmpty()) name = QUrl(QString::fromStdString(url)).host();
  // No folders, no hidden files, nothing a file system refuses.
  for (QChar& c : name)
    if (c == '/' || c == '\\' || c.category() == QChar::Other_Control) c = '-';
  while (name.startsWith('.')) name.remove(0, 1);
  name = name.left(80).trimmed();
  if (name.isEmpty()) name = "Link";
  return name;
}

// Desktop entry values are one line: backslashes and line breaks are escaped.
std::string escapeDesktopValue(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

DraggingDestination::~DraggingDestination() = default;

void DraggingDestination::registerForDraggedTypes(const std::vector<std::string>& types) {
  for (const auto& t : types)
    if (std::find(draggedTypes_.begin(), draggedTypes_.end(), t) == draggedTypes_.end()) draggedTypes_.push_back(t);
  if (auto* view = dynamic_cast<View*>(this)) view->nativeWidget()->setAcceptDrops(!draggedTypes_.empty());
}

void DraggingDestination::unregisterDraggedTypes() {
  draggedTypes_.clear();
  if (auto* view = dynamic_cast<View*>(this)) view->nativeWidget()->setAcceptDrops(false);
}

std::string desktopLinkFileContents(const std::string& url, const std::string& title) {
  std::string name = title.empty() ? url : title;
  return "[Desktop Entry]\nType=Link\nName=" + escapeDesktopValue(name) + "\nURL=" + escapeDesktopValue(url) +
         "\nIcon=text-html\n";
}

std::optional<std::string> writeDesktopLinkFile(const std::string& url, const std::string& title,
                                                const std::string& directory) {
  QDir dir(QString::fromStdString(directory));
  if (!dir.exists() && !QDir().mkpath(dir.path())) return std::nullopt;
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  QString base = linkFileName(url, title);
  QString path = dir.filePath(base + ".desktop");
  for (int n = 2; QFile::exists(path) && n < 100; ++n) path = dir.filePath(base + QString(" (%1).desktop").arg(n));
  QFile file(path);
  if (!file.open(QIODevice::NewOnly | QIODevice::WriteOnly)) return std::nullopt;
  std::string contents = desktopLinkFileContents(url, title);
  if (file.write(contents.data(), qint64(contents.size())) != qint64(contents.size())) return std::nullopt;
  return path.toStdString();
}

std::string dragLinkFolder() {
  return fnd::StandardPaths::temporaryDirectory() + "/kesto-links-" + std::to_string(getpid());
}

void removeDragLinkFiles() { QDir(QString::fromStdString(dragLinkFolder())).removeRecursively(); }

unsigned beginDraggingSession(View& view, const std::vector<PasteboardItem>& items, const Image& image,
                              const fnd::Point& imageOffset, unsigned allowedOperations) {
  Pasteboard::drag().writeObjects(items);
  // Link files of earlier drags have been taken by now.
  std::string folder = dragLinkFolder();
  removeDragLinkFiles();
  auto* drag = new QDrag(view.nativeWidget());
  drag->setMimeData(pasteboard::desktopMimeData(items, [&](const std::string& url, const std::string& title) {
    return writeDesktopLinkFile(url, title, folder);
  }));
  if (!image.isNull()) {
    drag->setPixmap(QPixmap::fromImage(ImplAccess::of(image)->image));
    drag->setHotSpot(QPoint(int(imageOffset.x), int(imageOffset.y)));
  }
  Qt::DropActions actions = toQtActions(allowedOperations);
  if (!actions) actions = Qt::CopyAction;
  Qt::DropAction preferred = (actions & Qt::MoveAction) ? Qt::MoveAction : Qt::CopyAction;
  currentSource = view.weak_from_this();
  Qt::DropAction done = drag->exec(actions, preferred);
  currentSource.reset();
  // The toolkit deletes the drag itself, and on X11 only once the drop target has read the data
  // (it asks for it after the drop): deleting it here would leave every offered type empty.
  return done == Qt::IgnoreAction ? DragOperation::None : (fromQtActions(done) & allowedOperations);
}

namespace dragging {

void enter(View* view, QDragEnterEvent* event, const fnd::Point& location) {
  DraggingDestination* target = destinationOf(view);
  if (!target) return event->ignore();
  auto items = pasteboard::fromMimeData(event->mimeData());
  bool wanted = false;
  for (const auto& item : items)
    for (const auto& t : item.types())
      for (const auto& r : target->registeredDraggedTypes()) wanted = wanted || t == r;
  if (!wanted) return event->ignore();
  Pasteboard::drag().writeObjects(items);
  unsigned op = DragOperation::None;
  qtbridge::guarded("drag entered", [&] { op = target->draggingEntered(infoFor(view, event, location)); });
  target->lastOperation_ = op;
  // Entering is accepted even when the answer is None, so the target keeps hearing the moves
  // (its answer may change with the place) and the exit.
  event->accept();
  Qt::DropAction action = toQtAction(op);
  if (action != Qt::IgnoreAction && (event->possibleActions() & action)) event->setDropAction(action);
}

void move(View* view, QDragMoveEvent* event, const fnd::Point& location) {
  DraggingDestination* target = destinationOf(view);
  if (!target) return event->ignore();
  unsigned op = target->lastOperation_;
  qtbridge::guarded("drag updated", [&] { op = target->draggingUpdated(infoFor(view, event, location)); });
  target->lastOperation_ = op;
  answer(event, op);
}

void leave(View* view) {
  DraggingDestination* target = destinationOf(view);
  if (!target) return;
  target->lastOperation_ = DragOperation::None;
  qtbridge::guarded("drag exited", [&] { target->draggingExited(nullptr); });
}

void drop(View* view, QDropEvent* event, const fnd::Point& location) {
  DraggingDestination* target = destinationOf(view);
  if (!target || target->lastOperation_ == DragOperation::None) return event->ignore();
  auto keep = view->weak_from_this().lock();
  DraggingInfo info = infoFor(view, event, location);
  bool done = false;
  qtbridge::guarded("drop", [&] {
    if (target->prepareForDragOperation(info) && target->performDragOperation(info)) {
      done = true;
      target->concludeDragOperation(info);
    }
  });
  unsigned op = target->lastOperation_;
  target->lastOperation_ = DragOperation::None;
  if (done) answer(event, op);
  else event->ignore();
}

}  // namespace dragging

}  // namespace kesto::ui
