#include "Platform/UI/ViewWidget_p.h"

#include "Platform/Foundation/Log.h"
#include "Platform/UI/Dragging_p.h"
#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"

#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QStyleHints>
#include <QTextEdit>
#include <QWheelEvent>
#include <QApplication>

#include <cmath>

namespace kesto::ui {

ViewWidget::ViewWidget(View* view) : view_(view) {
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
}

namespace {
void paintViewAt(View* view, QPainter& painter, const QRect& dirty, fnd::Point clip);
}  // namespace

void paintView(View* view, QPainter& painter, const QRect& dirty) {
  paintViewAt(view, painter, dirty, view->widgetOffset());
}

namespace {
// The shadows of the subviews that have one, under where they stand (they paint after this
// view): the rounded bounds grown a little at each of `blur` steps, in translucent layers.
void paintSubviewShadows(View* view, QPainter& painter, bool flipped) {
  for (const auto& sub : view->subviews()) {
    const auto& shadow = sub->shadow();
    if (!shadow || sub->isHidden() || shadow->color.alpha <= 0) continue;
    const QRectF frame = toQRect(sub->frame());
    const double r = sub->cornerRadius();
    const QPointF offset(shadow->offset.width, flipped ? -shadow->offset.height : shadow->offset.height);
    const int steps = std::max(1, int(std::ceil(shadow->blurRadius)));
    QColor c = toQColor(shadow->color);
    c.setAlphaF(c.alphaF() / steps);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < steps; ++i) {
      const double grow = shadow->blurRadius * (steps - i) / steps;
      QPainterPath layer;
      layer.addRoundedRect(frame.adjusted(-grow, -grow, grow, grow).translated(offset), r + grow, r + grow);
      painter.fillPath(layer, c);
    }
    painter.restore();
  }
}

// `clip` is where the widget's pixels start in the view: past the part its superview cuts off.
void paintViewAt(View* view, QPainter& painter, const QRect& dirty, fnd::Point clip) {
  fnd::Rect b = view->bounds();
  bool flipped = view->isFlipped();
  // View coordinates to widget pixels.
  QTransform t = flipped ? QTransform(1, 0, 0, 1, -b.origin.x - clip.x, -b.origin.y - clip.y)
                         : QTransform(1, 0, 0, -1, -b.origin.x - clip.x,
                                      b.origin.y + b.size.height - clip.y);
  painter.setTransform(t);
  if (view->wantsUpdateLayer() && view->needsDisplay()) view->updateLayer();
  QRectF bounds = toQRect(b);
  QPainterPath shape;
  if (view->cornerRadius() > 0) shape.addRoundedRect(bounds, view->cornerRadius(), view->cornerRadius());
  else shape.addRect(bounds);
  if (view->backgroundColor() && view->drawsBackground()) {
    // A rectangle is filled as one, clipped to what is painted; as a path it went through the
    // path filler over the whole bounds (a list's document view is millions of pixels tall).
    if (view->cornerRadius() > 0) painter.fillPath(shape, toQColor(*view->backgroundColor()));
    else painter.fillRect(bounds, toQColor(*view->backgroundColor()));
  }
  if (!view->layerContents().isNull()) {
    painter.save();
    // A plain rectangle clips as one: a path would send every pixel through the slow blending.
    if (view->cornerRadius() > 0) painter.setClipPath(shape, Qt::IntersectClip);
    else painter.setClipRect(bounds, Qt::IntersectClip);
    // Layer contents are upright images stretched over the bounds. Over whole pixels they are
    // scaled once and then copied: a list scrolling draws each picture at every step.
    QRectF device = t.mapRect(bounds);
    painter.setTransform(QTransform());
    const Image::Impl& contents = *ImplAccess::of(view->layerContents());
    const QRect whole = device.toAlignedRect();
    if (!contents.source && QRectF(whole) == device && painter.device()->devicePixelRatioF() == 1.0)
      painter.drawImage(whole.topLeft(), contents.scaledTo(whole.size()));
    else
      painter.drawImage(device, contents.image);
    painter.restore();
  }
  if (!view->wantsUpdateLayer()) {
    GraphicsContext::Impl impl;
    impl.painter = &painter;
    GraphicsContext ctx(&impl, flipped, b.size.height);
    QRectF dirtyView = t.inverted().mapRect(QRectF(dirty));
    painter.save();
    view->drawRect(ctx, fnd::Rect(dirtyView.x(), dirtyView.y(), dirtyView.width(), dirtyView.height()));
    painter.restore();
    painter.setTransform(t);
  }
  if (view->borderColor() && view->borderWidth() > 0) {
    double w = view->borderWidth();
    QPainterPath inner;
    QRectF r = bounds.adjusted(w / 2, w / 2, -w / 2, -w / 2);
    if (view->cornerRadius() > 0) inner.addRoundedRect(r, view->cornerRadius(), view->cornerRadius());
    else inner.addRect(r);
    painter.strokePath(inner, QPen(toQColor(*view->borderColor()), w));
  }
  paintSubviewShadows(view, painter, flipped);
  view->setNeedsDisplayFlag(false);
}
}  // namespace

void ViewWidget::paintEvent(QPaintEvent* event) {
  if (!view_) return;
  view_->updateOpaqueness();
  if (!view_->keepsDrawing()) {
    drawing_ = QPixmap();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    qtbridge::guarded("drawing", [&] { paintView(view_, painter, event->rect()); });
    return;
  }
  qtbridge::guarded("drawing", [&] {
    const fnd::Size size = view_->bounds().size;
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(size.width * ratio)), static_cast<int>(std::ceil(size.height * ratio)));
    if (pixels.isEmpty()) return;
    if (view_->needsDisplay() || drawing_.size() != pixels || drawing_.devicePixelRatio() != ratio) {
      drawing_ = QPixmap(pixels);
      drawing_.setDevicePixelRatio(ratio);
      drawing_.fill(Qt::transparent);
      QPainter kept(&drawing_);
      kept.setRenderHint(QPainter::Antialiasing, false);
      const QSize whole(static_cast<int>(std::ceil(size.width)), static_cast<int>(std::ceil(size.height)));
      paintViewAt(view_, kept, QRect(QPoint(0, 0), whole), fnd::Point{});
    }
    QPainter painter(this);
    const fnd::Point clip = view_->widgetOffset();
    painter.drawPixmap(QPointF(-clip.x, -clip.y), drawing_);
    view_->setNeedsDisplayFlag(false);
  });
}

namespace qtbridge {

void deliverUnguarded(View* view, Event event);

std::uint64_t modifierFlags(Qt::KeyboardModifiers m) {
  std::uint64_t f = 0;
  if (m & Qt::ShiftModifier) f |= ModifierFlag::Shift;
  if (m & Qt::ControlModifier) f |= ModifierFlag::Command;
  if (m & Qt::AltModifier) f |= ModifierFlag::Option;
  if (m & Qt::MetaModifier) f |= ModifierFlag::Control;
  if (m & Qt::KeypadModifier) f |= ModifierFlag::NumericPad;
  return f;
}

}  // namespace qtbridge

std::uint64_t Event::currentModifierFlags() {
  return qtbridge::modifierFlags(QGuiApplication::queryKeyboardModifiers());
}

double Event::doubleClickInterval() { return QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0; }

namespace qtbridge {

std::uint16_t keyCodeForQtKey(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return KeyCode::forLetter(key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return KeyCode::forDigit(key - Qt::Key_0);
  switch (key) {
    case Qt::Key_Return: return KeyCode::Return;
    case Qt::Key_Enter: return KeyCode::KeypadEnter;
    case Qt::Key_Tab: case Qt::Key_Backtab: return KeyCode::Tab;
    case Qt::Key_Space: return KeyCode::Space;
    case Qt::Key_Backspace: return KeyCode::Delete;
    case Qt::Key_Escape: return KeyCode::Escape;
    case Qt::Key_Delete: return KeyCode::ForwardDelete;
    case Qt::Key_Home: return KeyCode::Home;
    case Qt::Key_F2: return KeyCode::F2;
    case Qt::Key_End: return KeyCode::End;
    case Qt::Key_PageUp: return KeyCode::PageUp;
    case Qt::Key_PageDown: return KeyCode::PageDown;
    case Qt::Key_Left: return KeyCode::LeftArrow;
    case Qt::Key_Right: return KeyCode::RightArrow;
    case Qt::Key_Down: return KeyCode::DownArrow;
    case Qt::Key_Up: return KeyCode::UpArrow;
    case Qt::Key_Minus: return 27;
    case Qt::Key_Equal: return 24;
    case Qt::Key_Comma: return 43;
    case Qt::Key_Period: return 47;
    case Qt::Key_Slash: return 44;
    case Qt::Key_Semicolon: return 41;
    case Qt::Key_Apostrophe: return 39;
    case Qt::Key_BracketLeft: return 33;
    case Qt::Key_BracketRight: return 30;
    case Qt::Key_Backslash: return 42;
    case Qt::Key_QuoteLeft: return 50;
    default: return KeyCode::Invalid;
  }
}

std::uint16_t keyCodeForX11ScanCode(std::uint32_t scanCode) {
  // Indexed by evdev code (X11 key code minus 8), ANSI positions.
  static const std::uint16_t table[] = {
      KeyCode::Invalid, KeyCode::Escape,                    // 0, 1
      18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27, 24,       // 2-13: 1...0 - =
      KeyCode::Delete, KeyCode::Tab,                        // 14, 15
      KeyCode::Q, KeyCode::W, KeyCode::E, KeyCode::R, KeyCode::T, KeyCode::Y, KeyCode::U,
      KeyCode::I, KeyCode::O, KeyCode::P, 33, 30,           // 16-27: q...p [ ]
      KeyCode::Return, KeyCode::Invalid,                    // 28 return, 29 left ctrl
      KeyCode::A, KeyCode::S, KeyCode::D, KeyCode::F, KeyCode::G, KeyCode::H, KeyCode::J,
      KeyCode::K, KeyCode::L, 41, 39, 50,                   // 30-41: a...l ; ' `
      KeyCode::Invalid, 42,                                 // 42 left shift, 43 backslash
      KeyCode::Z, KeyCode::X, KeyCode::C, KeyCode::V, KeyCode::B, KeyCode::N, KeyCode::M,
      43, 47, 44,                                           // 44-53: z...m , . /
      KeyCode::Invalid, KeyCode::Invalid, KeyCode::Invalid, // 54-56
      KeyCode::Space,                                       // 57
  };
  if (scanCode < 8) return KeyCode::Invalid;
  std::uint32_t evdev = scanCode - 8;
  if (evdev < sizeof table / sizeof table[0]) return table[evdev];
  switch (evdev) {
    case 96: return KeyCode::KeypadEnter;
    case 102: return KeyCode::Home;
    case 103: return KeyCode::UpArrow;
    case 104: return KeyCode::PageUp;
    case 105: return KeyCode::LeftArrow;
    case 106: return KeyCode::RightArrow;
    case 107: return KeyCode::End;
    case 108: return KeyCode::DownArrow;
    case 109: return KeyCode::PageDown;
    case 111: return KeyCode::ForwardDelete;
    default: return KeyCode::Invalid;
  }
}

Event keyEvent(const QKeyEvent* e, EventType type) {
  Event ev;
  ev.type = type;
  // Under X11 the scan code names the physical key whatever the layout; elsewhere Qt's key.
  static const bool x11 = QGuiApplication::platformName() == "xcb";
  std::uint16_t physical = x11 ? keyCodeForX11ScanCode(e->nativeScanCode()) : KeyCode::Invalid;
  ev.keyCode = physical != KeyCode::Invalid ? physical : keyCodeForQtKey(e->key());
  switch (e->key()) {
    // A modifier on its own changes flags; it is no key press.
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_Meta:
    case Qt::Key_AltGr: case Qt::Key_CapsLock: case Qt::Key_Super_L: case Qt::Key_Super_R:
      ev.type = EventType::FlagsChanged;
      break;
    default: break;
  }
  ev.modifierFlags = modifierFlags(e->modifiers());
  ev.characters = e->text().toStdString();
  ev.isARepeat = e->isAutoRepeat();
  ev.timestamp = e->timestamp() / 1000.0;
  switch (e->key()) {
    case Qt::Key_Return: case Qt::Key_Enter: ev.charactersIgnoringModifiers = "\r"; break;
    case Qt::Key_Escape: ev.charactersIgnoringModifiers = "\x1b"; break;
    case Qt::Key_Space: ev.charactersIgnoringModifiers = " "; break;
    case Qt::Key_Tab: ev.charactersIgnoringModifiers = "\t"; break;
    default:
      if (e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        ev.charactersIgnoringModifiers = std::string(1, char('a' + (e->key() - Qt::Key_A)));
      else
        ev.charactersIgnoringModifiers = ev.characters;
  }
  if (ev.characters.empty() && !ev.charactersIgnoringModifiers.empty() &&
      !(ev.modifierFlags & (ModifierFlag::Command | ModifierFlag::Control)))
    ev.characters = ev.charactersIgnoringModifiers;
  return ev;
}

int clickCountForPress(Qt::MouseButton button, const QPointF& pos, double timestamp) {
  static Qt::MouseButton lastButton = Qt::NoButton;
  static QPointF lastPos;
  static double lastTime = -1e9;
  static int count = 0;
  double interval = QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0;
  int distance = QGuiApplication::styleHints()->mouseDoubleClickDistance();
  if (button == lastButton && timestamp - lastTime <= interval &&
      (pos - lastPos).manhattanLength() <= distance)
    ++count;
  else
    count = 1;
  lastButton = button;
  lastPos = pos;
  lastTime = timestamp;
  return count;
}

void guarded(const char* where, const std::function<void()>& fn) { fnd::runLoggingExceptions(fn, "exception in ", where); }

bool isTextEditor(const QWidget* widget) {
  return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
         qobject_cast<const QPlainTextEdit*>(widget);
}

void deliver(View* view, Event event) {
  guarded("event delivery", [&] { deliverUnguarded(view, event); });
}

void deliverUnguarded(View* view, Event event) {
  if (Window* w = view->window()) {
    event.window = w;
    w->sendEvent(event);
    return;
  }
  auto keep = view->weak_from_this().lock();
  switch (event.type) {
    case EventType::LeftMouseDown: view->mouseDown(event); break;
    case EventType::LeftMouseUp: view->mouseUp(event); break;
    case EventType::RightMouseDown: view->rightMouseDown(event); break;
    case EventType::RightMouseUp: view->rightMouseUp(event); break;
    case EventType::LeftMouseDragged: view->mouseDragged(event); break;
    case EventType::ScrollWheel: view->scrollWheel(event); break;
    case EventType::KeyDown: view->keyDown(event); break;
    case EventType::KeyUp: view->keyUp(event); break;
    default: break;
  }
}

}  // namespace qtbridge

namespace {
fnd::Point windowLocation(View* view, const QPointF& local, QWidget* widget) {
  // Widget pixels to view coordinates, then up to the window.
  fnd::Rect b = view->bounds();
  fnd::Point clip = view->widgetOffset();
  double x = local.x() + clip.x + b.origin.x;
  double dy = local.y() + clip.y;
  double y = view->isFlipped() ? b.origin.y + dy : b.origin.y + b.size.height - dy;
  return view->convertPointToView(fnd::Point{x, y}, nullptr);
}

Event mouseEvent(View* view, QWidget* w, QMouseEvent* e, EventType type, int clicks) {
  Event ev;
  ev.type = type;
  ev.locationInWindow = windowLocation(view, e->position(), w);
  ev.modifierFlags = qtbridge::modifierFlags(e->modifiers());
  ev.clickCount = clicks;
  ev.timestamp = e->timestamp() / 1000.0;
  return ev;
}
int lastClickCount = 1;
}  // namespace

void ViewWidget::mousePressEvent(QMouseEvent* e) {
  if (!view_) return;
  e->accept();
  lastClickCount = qtbridge::clickCountForPress(e->button(), e->globalPosition(), e->timestamp() / 1000.0);
  auto type = e->button() == Qt::RightButton ? EventType::RightMouseDown : EventType::LeftMouseDown;
  qtbridge::deliver(view_, mouseEvent(view_, this, e, type, lastClickCount));
}

void ViewWidget::mouseDoubleClickEvent(QMouseEvent* e) { mousePressEvent(e); }

void ViewWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (!view_) return;
  e->accept();
  auto type = e->button() == Qt::RightButton ? EventType::RightMouseUp : EventType::LeftMouseUp;
  qtbridge::deliver(view_, mouseEvent(view_, this, e, type, lastClickCount));
}

void ViewWidget::mouseMoveEvent(QMouseEvent* e) {
  if (!view_) return;
  e->accept();
  auto type = (e->buttons() & Qt::RightButton) ? EventType::RightMouseDragged : EventType::LeftMouseDragged;
  if (e->buttons() == Qt::NoButton) type = EventType::MouseMoved;
  qtbridge::deliver(view_, mouseEvent(view_, this, e, type, 0));
}

void ViewWidget::wheelEvent(QWheelEvent* e) {
  if (!view_) return;
  e->accept();
  Event ev;
  ev.type = EventType::ScrollWheel;
  ev.locationInWindow = windowLocation(view_, e->position(), this);
  ev.modifierFlags = qtbridge::modifierFlags(e->modifiers());
  QPoint px = e->pixelDelta();
  ev.hasPreciseScrollingDeltas = !px.isNull();
  // A notch is 120 eighths of a degree and moves as many lines as the desktop's setting says.
  QPointF delta = ev.hasPreciseScrollingDeltas ? QPointF(px)
                                               : QPointF(e->angleDelta()) / 120.0 * QApplication::wheelScrollLines();
  ev.deltaX = delta.x();
  ev.deltaY = delta.y();
  qtbridge::deliver(view_, ev);
}

bool ViewWidget::event(QEvent* e) {
  // A view that claims every key keeps the menus' key equivalents from taking them.
  if (e->type() == QEvent::ShortcutOverride && view_ && view_->claimsKeyEquivalents()) {
    e->accept();
    return true;
  }
  // Tab too, which the toolkit would spend on moving the focus.
  if (e->type() == QEvent::KeyPress && view_ && view_->claimsKeyEquivalents()) {
    keyPressEvent(static_cast<QKeyEvent*>(e));
    return true;
  }
  return QWidget::event(e);
}

void ViewWidget::keyPressEvent(QKeyEvent* e) {
  if (!view_) return;
  e->accept();
  qtbridge::deliver(view_, qtbridge::keyEvent(e, EventType::KeyDown));
}

void ViewWidget::keyReleaseEvent(QKeyEvent* e) {
  if (!view_) return;
  e->accept();
  qtbridge::deliver(view_, qtbridge::keyEvent(e, EventType::KeyUp));
}

// ---- Drops: the view itself decides, through its dragging-destination hooks.

void ViewWidget::dragEnterEvent(QDragEnterEvent* e) {
  if (!view_) return e->ignore();
  dragging::enter(view_, e, windowLocation(view_, e->position(), this));
}

void ViewWidget::dragMoveEvent(QDragMoveEvent* e) {
  if (!view_) return e->ignore();
  dragging::move(view_, e, windowLocation(view_, e->position(), this));
}

void ViewWidget::dragLeaveEvent(QDragLeaveEvent*) {
  if (view_) dragging::leave(view_);
}

void ViewWidget::dropEvent(QDropEvent* e) {
  if (!view_) return e->ignore();
  dragging::drop(view_, e, windowLocation(view_, e->position(), this));
}

}  // namespace kesto::ui
