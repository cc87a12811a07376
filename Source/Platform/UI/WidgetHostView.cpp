#include "Platform/UI/WidgetHostView_p.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <cmath>

namespace kesto::ui {

namespace {

Qt::KeyboardModifiers qtModifiers(std::uint64_t flags) {
  Qt::KeyboardModifiers m;
  if (flags & ModifierFlag::Shift) m |= Qt::ShiftModifier;
  if (flags & ModifierFlag::Command) m |= Qt::ControlModifier;
  if (flags & ModifierFlag::Option) m |= Qt::AltModifier;
  if (flags & ModifierFlag::Control) m |= Qt::MetaModifier;
  return m;
}

// The toolkit key for one of our key codes (0 when it has none), the reverse of the bridge's
// own mapping.
int qtKeyForKeyCode(std::uint16_t code, std::uint64_t flags) {
  if (code == KeyCode::Invalid) return 0;
  if (code == KeyCode::Tab && (flags & ModifierFlag::Shift)) return Qt::Key_Backtab;
  static const int candidates[] = {
      Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab, Qt::Key_Space, Qt::Key_Backspace,
      Qt::Key_Escape, Qt::Key_Delete, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp,
      Qt::Key_PageDown, Qt::Key_Left, Qt::Key_Right, Qt::Key_Down, Qt::Key_Up, Qt::Key_Minus,
      Qt::Key_Equal, Qt::Key_Comma, Qt::Key_Period, Qt::Key_Slash, Qt::Key_Semicolon,
      Qt::Key_Apostrophe, Qt::Key_BracketLeft, Qt::Key_BracketRight, Qt::Key_Backslash,
      Qt::Key_QuoteLeft};
  for (int key : candidates)
    if (qtbridge::keyCodeForQtKey(key) == code) return key;
  for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key)
    if (qtbridge::keyCodeForQtKey(key) == code) return key;
  for (int key = Qt::Key_0; key <= Qt::Key_9; ++key)
    if (qtbridge::keyCodeForQtKey(key) == code) return key;
  return 0;
}

bool isPassiveReason(Qt::FocusReason reason) {
  return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

}  // namespace

// Paints the host's drawOverWidget above the hosted widget; input passes through it.
class OverWidget : public QWidget {
 public:
  OverWidget(QWidget* parent, WidgetHostView* owner, std::function<void(GraphicsContext&, const fnd::Rect&)> draw)
      : QWidget(parent), owner_(owner), draw_(std::move(draw)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent* e) override {
    QPainter painter(this);
    fnd::Rect b = owner_->bounds();
    const bool flipped = owner_->isFlipped();
    // This widget's pixel (0, 0) is the bounds' top-left corner.
    QTransform t = flipped ? QTransform(1, 0, 0, 1, -b.origin.x, -b.origin.y)
                           : QTransform(1, 0, 0, -1, -b.origin.x, b.origin.y + b.size.height);
    painter.setTransform(t);
    GraphicsContext::Impl impl;
    impl.painter = &painter;
    GraphicsContext context(&impl, flipped, b.size.height);
    QRectF dirty = t.inverted().mapRect(QRectF(e->rect()));
    qtbridge::guarded("drawing", [&] { draw_(context, fnd::Rect(dirty.x(), dirty.y(), dirty.width(), dirty.height())); });
  }

 private:
  WidgetHostView* owner_;
  std::function<void(GraphicsContext&, const fnd::Rect&)> draw_;
};

struct WidgetHostView::Impl : QObject {
  explicit Impl(WidgetHostView* o) : owner(o) {}

  WidgetHostView* owner;
  QPointer<QWidget> widget;
  // The toolkit event passing through the view's handlers, and whether it reached the widget.
  QEvent* pending = nullptr;
  QPointer<QWidget> pendingTarget;
  bool pendingDelivered = false;
  // Where a press made from code went, so its release follows it.
  QPointer<QWidget> pressTarget;
  QPointer<QWidget> over;
  bool focused = false;
  bool mouseRefused = false;
  QString accessibleName, accessibleDescription;

  bool owns(const QWidget* w) const {
    return widget && w && (w == widget || (widget->isAncestorOf(w) && w->window() == widget->window()));
  }

  void watch(QWidget* w) {
    if (w->isWindow() && w != widget) return;  // pop-ups of the widget keep their own input
    w->installEventFilter(this);
    for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) watch(child);
  }

  void place() {
    if (!widget) return;
    fnd::Point clip = owner->widgetOffset();
    fnd::Size size = owner->frame().size;
    QRect g(int(std::lround(-clip.x)), int(std::lround(-clip.y)), std::max(0, int(std::lround(size.width))),
            std::max(0, int(std::lround(size.height))));
    widget->setGeometry(g);
    if (over) {
      over->setGeometry(g);
      over->raise();
    }
  }

  // From a point in a part of the widget to the window's coordinates.
  fnd::Point windowLocation(QWidget* part, const QPointF& local) const {
    QPointF p = part == widget ? local : QPointF(part->mapTo(widget.data(), local.toPoint()));
    fnd::Rect b = owner->bounds();
    double y = owner->isFlipped() ? b.origin.y + p.y() : b.origin.y + b.size.height - p.y();
    return owner->convertPointToView(fnd::Point{b.origin.x + p.x(), y}, nullptr);
  }

  // From the window's coordinates to the widget's own pixels.
  QPointF widgetLocation(const fnd::Point& inWindow) const {
    fnd::Point v = owner->convertPointFromView(inWindow, nullptr);
    fnd::Rect b = owner->bounds();
    double dy = owner->isFlipped() ? v.y - b.origin.y : b.origin.y + b.size.height - v.y;
    return QPointF(v.x - b.origin.x, dy);
  }

  QWidget* focusPart() const {
    QWidget* f = QApplication::focusWidget();
    return owns(f) ? f : widget.data();
  }

  // Hands the pending toolkit event to the widget part it was meant for, without passing the
  // filters again and without the toolkit's propagation to parents (unused keys travel along
  // the responder chain instead). Answers whether the widget used it.
  bool deliverPending() {
    if (!pending || pendingDelivered || !pendingTarget) return false;
    pendingDelivered = true;
    pending->accept();
    static_cast<QObject*>(pendingTarget.data())->event(pending);
    return pending->isAccepted();
  }

  bool deliverMade(QWidget* target, QEvent* e) {
    if (!target) return false;
    e->accept();
    static_cast<QObject*>(target)->event(e);
    return e->isAccepted();
  }

  bool passKey(const Event& ev, QEvent::Type type) {
    if (pending) return deliverPending();
    QString text = QString::fromStdString(ev.characters);
    QKeyEvent made(type, qtKeyForKeyCode(ev.keyCode, ev.modifierFlags), qtModifiers(ev.modifierFlags), text,
                   ev.isARepeat);
    return deliverMade(focusPart(), &made);
  }

  // Answers whether the widget used the event.
  bool passMouse(const Event& ev, QEvent::Type type) {
    if (pending) return deliverPending();
    if (!widget) return false;
    QPointF at = widgetLocation(ev.locationInWindow);
    QWidget* target = pressTarget;
    if (type == QEvent::MouseButtonPress || !target) {
      QWidget* child = widget->childAt(at.toPoint());
      target = child ? child : widget.data();
    }
    if (type == QEvent::MouseButtonPress) pressTarget = target;
    QPointF local = target == widget ? at : QPointF(target->mapFrom(widget.data(), at.toPoint()));
    Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent made(type, local, target->mapToGlobal(local), button, buttons, qtModifiers(ev.modifierFlags));
    bool used = deliverMade(target, &made);
    if (type == QEvent::MouseButtonRelease) pressTarget = nullptr;
    return used;
  }

  // Runs one of the view's handlers for a toolkit event, keeping the view alive meanwhile.
  void route(QWidget* part, QEvent* e, const std::function<void()>& handler) {
    auto keep = owner->weak_from_this().lock();
    QEvent* savedPending = pending;
    QPointer<QWidget> savedTarget = pendingTarget;
    bool savedDelivered = pendingDelivered;
    pending = e;
    pendingTarget = part;
    pendingDelivered = false;
    qtbridge::guarded("hosted widget event", handler);
    pending = savedPending;
    pendingTarget = savedTarget;
    pendingDelivered = savedDelivered;
    // Handled here, whatever the widget made of it: the toolkit must not hand it to parents.
    e->accept();
  }

  Event mouseEvent(QWidget* part, QMouseEvent* m, EventType type, int clicks) const {
    Event ev;
    ev.type = type;
    ev.window = owner->window();
    ev.locationInWindow = windowLocation(part, m->position());
    ev.modifierFlags = qtbridge::modifierFlags(m->modifiers());
    ev.clickCount = clicks;
    ev.timestamp = m->timestamp() / 1000.0;
    return ev;
  }

  bool eventFilter(QObject* obj, QEvent* e) override {
    if (!obj->isWidgetType()) return false;
    auto* part = static_cast<QWidget*>(obj);
    if (!owns(part)) return false;
    switch (e->type()) {
      case QEvent::ChildPolished: {
        auto* child = static_cast<QChildEvent*>(e)->child();
        if (child->isWidgetType()) watch(static_cast<QWidget*>(child));
        return false;
      }
      case QEvent::FocusIn: {
        // Focus coming back with the window's activation is the same focus as before (its
        // loss was not counted), so it only counts when the widget did not hold it.
        qtbridge::guarded("focus change", [&] {
          auto keep = owner->weak_from_this().lock();
          if (Window* w = owner->window(); w && w->firstResponder() != owner) w->makeFirstResponder(owner);
          if (!focused) {
            focused = true;
            owner->widgetDidGainFocus();
          }
        });
        return false;
      }
      case QEvent::FocusOut: {
        auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (isPassiveReason(reason) || owns(QApplication::focusWidget()) || !focused) return false;
        focused = false;
        qtbridge::guarded("focus change", [&] {
          auto keep = owner->weak_from_this().lock();
          owner->widgetDidLoseFocus();
        });
        return false;
      }
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        auto* k = static_cast<QKeyEvent*>(e);
        Event ev = qtbridge::keyEvent(k, e->type() == QEvent::KeyPress ? EventType::KeyDown : EventType::KeyUp);
        if (ev.type == EventType::FlagsChanged) return false;
        ev.window = owner->window();
        route(part, e, [&] {
          if (ev.type == EventType::KeyDown) owner->keyDown(ev);
          else owner->keyUp(ev);
        });
        return true;
      }
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        auto* m = static_cast<QMouseEvent*>(e);
        if (m->button() != Qt::LeftButton) return false;
        int clicks = qtbridge::clickCountForPress(m->button(), m->globalPosition(), m->timestamp() / 1000.0);
        Event ev = mouseEvent(part, m, EventType::LeftMouseDown, clicks);
        route(part, e, [&] { owner->mouseDown(ev); });
        return true;
      }
      case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(e);
        if (m->button() != Qt::LeftButton) return false;
        Event ev = mouseEvent(part, m, EventType::LeftMouseUp, 1);
        route(part, e, [&] { owner->mouseUp(ev); });
        return true;
      }
      case QEvent::MouseMove: {
        auto* m = static_cast<QMouseEvent*>(e);
        if (!(m->buttons() & Qt::LeftButton)) return false;
        Event ev = mouseEvent(part, m, EventType::LeftMouseDragged, 0);
        route(part, e, [&] { owner->mouseDragged(ev); });
        return true;
      }
      default: return false;
    }
  }
};

WidgetHostView::WidgetHostView(const fnd::Rect& frame) : View(frame), host_(std::make_unique<Impl>(this)) {
  nativeWidget()->geometryObserver = [impl = host_.get()] { impl->place(); };
}

WidgetHostView::~WidgetHostView() {
  if (ViewWidget* vw = nativeWidget()) {
    vw->geometryObserver = nullptr;
    vw->setFocusProxy(nullptr);
  }
  // The widget dies with the native view, later; until then it must not reach the handlers
  // connected to its signals, which belong to the controls being destroyed.
  if (QWidget* w = host_->widget) {
    w->blockSignals(true);
    for (QObject* child : w->findChildren<QObject*>()) child->blockSignals(true);
    w->hide();
  }
  delete host_->over.data();
}

void setHostedWidget(WidgetHostView& view, QWidget* widget) {
  auto* impl = view.hostImpl();
  if (impl->widget == widget) return;
  if (impl->widget) {
    view.nativeWidget()->setFocusProxy(nullptr);
    delete impl->widget.data();
  }
  impl->widget = widget;
  impl->focused = false;
  if (!widget) return;
  widget->setParent(view.nativeWidget());
  if (!impl->accessibleName.isEmpty()) widget->setAccessibleName(impl->accessibleName);
  if (!impl->accessibleDescription.isEmpty()) widget->setAccessibleDescription(impl->accessibleDescription);
  view.setTakesFocusOnClick(view.takesFocusOnClick());
  if (widget->focusPolicy() != Qt::NoFocus) view.nativeWidget()->setFocusProxy(widget);
  impl->watch(widget);
  if (impl->mouseRefused) widget->setAttribute(Qt::WA_TransparentForMouseEvents);
  impl->place();
  widget->show();
  if (impl->over) impl->over->raise();
}

QWidget* hostedWidget(const WidgetHostView& view) { return view.hostImpl()->widget.data(); }

QEvent* pendingNativeEvent(const WidgetHostView& view) {
  auto* impl = view.hostImpl();
  return impl->pendingDelivered ? nullptr : impl->pending;
}

void WidgetHostView::setDrawsOverWidget(bool draws) {
  if (draws == bool(host_->over)) return;
  if (!draws) {
    delete host_->over.data();
    return;
  }
  host_->over = new OverWidget(nativeWidget(), this,
                               [this](GraphicsContext& c, const fnd::Rect& r) { drawOverWidget(c, r); });
  host_->place();
  host_->over->show();
}

void WidgetHostView::setNeedsDisplayOverWidget() {
  if (host_->over) host_->over->update();
}

bool WidgetHostView::acceptsFirstResponder() {
  QWidget* w = host_->widget;
  return w && w->isEnabled() && w->focusPolicy() != Qt::NoFocus;
}

bool WidgetHostView::becomeFirstResponder() {
  if (host_->widget && !hasKeyboardFocus()) host_->widget->setFocus(Qt::OtherFocusReason);
  return true;
}

bool WidgetHostView::hasKeyboardFocus() const { return host_->owns(QApplication::focusWidget()); }

void WidgetHostView::focusDidLeave() {
  if (!host_->focused || hasKeyboardFocus()) return;
  // Counted as lost: the focus coming back to the widget later begins anew.
  host_->focused = false;
  auto keep = weak_from_this().lock();
  widgetDidLoseFocus();
}

void WidgetHostView::setTakesFocusOnClick(bool on) {
  clickFocus_ = on;
  QWidget* w = host_->widget;
  if (!w || w->focusPolicy() == Qt::NoFocus) return;
  w->setFocusPolicy(on ? Qt::StrongFocus : Qt::TabFocus);
}

void WidgetHostView::refuseKeyboardFocus() {
  clickFocus_ = false;
  QWidget* w = host_->widget;
  if (!w) return;
  w->setFocusPolicy(Qt::NoFocus);
  for (QWidget* part : w->findChildren<QWidget*>()) part->setFocusPolicy(Qt::NoFocus);
}

void WidgetHostView::refuseMouse() {
  host_->mouseRefused = true;
  // The presses then land on the view's own native widget, which hands them to the view; the
  // toolkit looks for no receiver among the parts of a widget that lets the mouse through.
  if (QWidget* w = host_->widget) w->setAttribute(Qt::WA_TransparentForMouseEvents);
}

bool WidgetHostView::isEnabled() const { return !host_->widget || host_->widget->isEnabled(); }
void WidgetHostView::setEnabled(bool enabled) {
  if (host_->widget) host_->widget->setEnabled(enabled);
}

std::string WidgetHostView::accessibilityLabel() const { return host_->accessibleName.toStdString(); }
void WidgetHostView::setAccessibilityLabel(const std::string& label) {
  host_->accessibleName = QString::fromStdString(label);
  if (host_->widget) host_->widget->setAccessibleName(host_->accessibleName);
}

std::string WidgetHostView::accessibilityHelp() const { return host_->accessibleDescription.toStdString(); }
void WidgetHostView::setAccessibilityHelp(const std::string& help) {
  host_->accessibleDescription = QString::fromStdString(help);
  if (host_->widget) host_->widget->setAccessibleDescription(host_->accessibleDescription);
}

// What the widget leaves unused (a click on a plain label) goes on along the responder chain.
void WidgetHostView::mouseDown(const Event& event) {
  if (!host_->passMouse(event, QEvent::MouseButtonPress)) View::mouseDown(event);
}
void WidgetHostView::mouseUp(const Event& event) {
  if (!host_->passMouse(event, QEvent::MouseButtonRelease)) View::mouseUp(event);
}
void WidgetHostView::mouseDragged(const Event& event) {
  if (!host_->passMouse(event, QEvent::MouseMove)) View::mouseDragged(event);
}

void WidgetHostView::keyDown(const Event& event) {
  if (!host_->passKey(event, QEvent::KeyPress)) View::keyDown(event);
}

void WidgetHostView::keyUp(const Event& event) {
  if (!host_->passKey(event, QEvent::KeyRelease)) View::keyUp(event);
}

}  // namespace kesto::ui
