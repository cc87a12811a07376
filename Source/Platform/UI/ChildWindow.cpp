#include "Platform/UI/ChildWindow.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/X11Focus_p.h"

#include <QBitmap>
#include <QElapsedTimer>
#include <QEvent>
#include <QPainter>
#include <QGuiApplication>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QRegion>
#include <QVariantAnimation>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace kesto::ui {

namespace {

QWidget* widgetOf(const Window* w) { return w ? static_cast<QWidget*>(w->nativeHandle()) : nullptr; }

QRectF toQ(const fnd::Rect& r) { return QRectF(r.origin.x, r.origin.y, r.size.width, r.size.height); }
fnd::Rect fromQ(const QRectF& r) { return fnd::Rect(r.x(), r.y(), r.width(), r.height()); }

// One running animation; replacing it drops the old completion.
void replace(QPointer<QVariantAnimation>& slot, QVariantAnimation* next) {
  if (slot) {
    QObject::disconnect(slot, &QAbstractAnimation::finished, nullptr, nullptr);
    slot->stop();
    slot->deleteLater();
  }
  slot = next;
}

}  // namespace

struct ChildWindow::Private : QObject {
  ChildWindow* owner = nullptr;
  QWidget* widget = nullptr;
  QPointer<QWidget> parent;
  QPoint parentOrigin;
  double alpha = 1.0;
  QPointer<QVariantAnimation> alphaAnimation, frameAnimation;
  QImage shapeImage;

  void applyShapeImage() {
    if (shapeImage.isNull() || widget->size().isEmpty()) return;
    QImage scaled = shapeImage.scaled(widget->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    widget->setMask(QBitmap::fromImage(scaled.createAlphaMask()));
  }

  QMetaObject::Connection xChanged, yChanged;

  // Follow the parent by the amount it moved, wherever the child stands. The native window
  // reports moves made by the window manager and by us alike.
  void parentMoved() {
    if (!parent || !parent->windowHandle()) return;
    QPoint now = parent->windowHandle()->geometry().topLeft();
    QPoint delta = now - parentOrigin;
    parentOrigin = now;
    if (!delta.isNull()) widget->move(widget->pos() + delta);
  }

  void unfollow() {
    QObject::disconnect(xChanged);
    QObject::disconnect(yChanged);
    if (parent) parent->removeEventFilter(this);
  }

  bool eventFilter(QObject* object, QEvent* event) override {
    if (object == widget && event->type() == QEvent::Resize) applyShapeImage();
    if (object != parent) return false;
    switch (event->type()) {
      case QEvent::WindowActivate:
      case QEvent::Show:
        if (widget->isVisible()) widget->raise();
        break;
      default: break;
    }
    return false;
  }

  void start(QPointer<QVariantAnimation>& slot, QVariantAnimation* animation, std::function<void()> completion) {
    replace(slot, animation);
    QObject::connect(animation, &QAbstractAnimation::finished, animation, [animation, completion = std::move(completion)] {
      animation->deleteLater();
      if (completion) qtbridge::guarded("window animation", completion);
    });
    animation->start();
  }
};

ChildWindow::ChildWindow(const fnd::Rect& contentRect)
    : Window(contentRect, WindowStyle::Borderless), p_(std::make_unique<Private>()) {
  p_->owner = this;
  p_->widget = widgetOf(this);
  p_->widget->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
  // Translucency must be asked for before the native window exists.
  if (isCompositing()) p_->widget->setAttribute(Qt::WA_TranslucentBackground);
}

ChildWindow::~ChildWindow() {
  replace(p_->alphaAnimation, nullptr);
  replace(p_->frameAnimation, nullptr);
  p_->unfollow();
}

void ChildWindow::setParentWindow(Window* parent) {
  p_->unfollow();
  p_->parent = widgetOf(parent);
  if (!p_->parent) return;
  p_->parent->installEventFilter(p_.get());
  p_->parent->winId();
  p_->widget->winId();
  QWindow* parentHandle = p_->parent->windowHandle();
  p_->parentOrigin = parentHandle->geometry().topLeft();
  p_->xChanged = QObject::connect(parentHandle, &QWindow::xChanged, p_.get(), [p = p_.get()] { p->parentMoved(); });
  p_->yChanged = QObject::connect(parentHandle, &QWindow::yChanged, p_.get(), [p = p_.get()] { p->parentMoved(); });
  // Window managers keep a transient window above the one it belongs to.
  if (QWindow* handle = p_->widget->windowHandle()) handle->setTransientParent(p_->parent->windowHandle());
  if (p_->widget->isVisible()) p_->widget->raise();
}

Window* ChildWindow::parentWindow() const {
  if (!p_->parent) return nullptr;
  Window* w = Window::fromNativeHandle(p_->parent.data());
  auto all = Application::shared().windows();
  return std::find(all.begin(), all.end(), w) != all.end() ? w : nullptr;
}

double ChildWindow::alphaValue() const { return p_->alpha; }

void ChildWindow::setAlphaValue(double alpha) {
  p_->alpha = std::clamp(alpha, 0.0, 1.0);
  p_->widget->setWindowOpacity(p_->alpha);
}

void ChildWindow::setShape(const Path& outline, double lineWidth) {
  if (isCompositing()) return;
  // Painted the way views paint (aliased, y-up content flipped to widget pixels), so the mask
  // holds exactly the pixels the outline's fill and stroke cover.
  QBitmap bitmap(p_->widget->size());
  if (bitmap.isNull()) return;
  bitmap.fill(Qt::color0);
  QPainter painter(&bitmap);
  painter.setTransform(QTransform(1, 0, 0, -1, 0, p_->widget->height()));
  painter.setPen(lineWidth > 0 ? QPen(Qt::color1, lineWidth) : QPen(Qt::NoPen));
  painter.setBrush(Qt::color1);
  painter.drawPath(toQPath(outline));
  painter.end();
  p_->widget->setMask(bitmap);
}

void ChildWindow::setShapeImage(const Image& image) {
  if (isCompositing() || image.isNull()) return;
  if (p_->shapeImage.isNull()) p_->widget->installEventFilter(p_.get());
  p_->shapeImage = ImplAccess::of(image)->image;
  p_->applyShapeImage();
}

void ChildWindow::animateAlpha(double to, double seconds, std::function<void()> completion) {
  auto* animation = new QVariantAnimation;
  animation->setStartValue(p_->alpha);
  animation->setEndValue(std::clamp(to, 0.0, 1.0));
  animation->setDuration(std::max(1, int(seconds * 1000)));
  QObject::connect(animation, &QVariantAnimation::valueChanged, p_.get(),
                   [this](const QVariant& v) { setAlphaValue(v.toDouble()); });
  p_->start(p_->alphaAnimation, animation, std::move(completion));
}

void ChildWindow::animateFrame(const std::vector<fnd::Rect>& keyFrames, double seconds, std::function<void()> completion) {
  if (keyFrames.empty()) return;
  auto* animation = new QVariantAnimation;
  if (keyFrames.size() == 1) {
    animation->setStartValue(toQ(frame()));
    animation->setEndValue(toQ(keyFrames[0]));
  } else {
    for (std::size_t i = 0; i < keyFrames.size(); ++i)
      animation->setKeyValueAt(double(i) / double(keyFrames.size() - 1), toQ(keyFrames[i]));
  }
  animation->setDuration(std::max(1, int(seconds * 1000)));
  QObject::connect(animation, &QVariantAnimation::valueChanged, p_.get(),
                   [this](const QVariant& v) { setFrame(fromQ(v.toRectF()), true); });
  p_->start(p_->frameAnimation, animation, std::move(completion));
}

bool ChildWindow::isAnimating() const { return p_->alphaAnimation || p_->frameAnimation; }

void ChildWindow::finishAnimations() {
  for (auto* slot : {&p_->alphaAnimation, &p_->frameAnimation}) {
    QPointer<QVariantAnimation> a = *slot;
    if (a && a->state() == QAbstractAnimation::Running) a->setCurrentTime(a->totalDuration());
  }
}

bool ChildWindow::isCompositing() {
  if (QGuiApplication::platformName() != "xcb") return false;
  // Asked on every reshape of an animating window: one server round trip every few seconds is
  // enough to notice a compositor starting or stopping.
  static QElapsedTimer checked;
  static bool cached = false;
  if (checked.isValid() && checked.elapsed() < 2000) return cached;
  checked.start();
  cached = queryCompositingManager();
  return cached;
}

bool ChildWindow::queryCompositingManager() {
  xcb_connection_t* c = x11::connection();
  if (!c) return false;
  const xcb_atom_t cm = x11::knownAtom(c, "_NET_WM_CM_S0");
  if (cm == XCB_NONE) return false;
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, cm), nullptr);
  bool composited = owner && owner->owner != XCB_NONE;
  std::free(owner);
  return composited;
}

// ---- PlatformObserver

struct PlatformObserver::Private : QObject {
  struct Watched {
    QPointer<QWidget> widget;
    std::function<void()> changed;
  };
  struct Hovered {
    QPointer<QWidget> widget;
    std::function<void(bool)> changed;
  };
  std::vector<Watched> views;
  std::vector<Hovered> hovers;
  QMetaObject::Connection activation;
  QPointer<QWidget> pressesOutsideOf;
  std::function<void()> pressedOutside;
  bool pressTold = false;  // one press reaches the filter once for each widget it goes up through

  bool eventFilter(QObject* object, QEvent* event) override {
    std::vector<std::function<void()>> due;
    if (event->type() == QEvent::MouseButtonPress && pressedOutside && object->isWidgetType()) {
      auto* top = static_cast<QWidget*>(object)->window();
      if (pressesOutsideOf && top != pressesOutsideOf && !pressTold) {
        pressTold = true;
        QTimer::singleShot(0, this, [this] {
          pressTold = false;
          if (auto fn = pressedOutside) qtbridge::guarded("press outside observer", fn);
        });
      }
      return false;
    }
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
      for (const auto& w : views)
        if (w.widget == object) due.push_back(w.changed);
    } else if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
      bool inside = event->type() == QEvent::Enter;
      for (const auto& h : hovers)
        if (h.widget == object) due.push_back([fn = h.changed, inside] { fn(inside); });
    }
    // Copies: an observer may clear the registrations.
    for (const auto& fn : due) qtbridge::guarded("platform observer", fn);
    return false;
  }
};

PlatformObserver::PlatformObserver() : p_(std::make_unique<Private>()) {}
PlatformObserver::~PlatformObserver() { clear(); }

void PlatformObserver::observeViewFrame(View& view, std::function<void()> changed) {
  QWidget* w = view.nativeWidget();
  w->installEventFilter(p_.get());
  p_->views.push_back({w, std::move(changed)});
}

void PlatformObserver::observeViewHover(View& view, std::function<void(bool)> changed) {
  QWidget* w = view.nativeWidget();
  w->setAttribute(Qt::WA_Hover);
  w->installEventFilter(p_.get());
  p_->hovers.push_back({w, std::move(changed)});
}

void PlatformObserver::observeApplicationActivation(std::function<void(bool)> changed) {
  QObject::disconnect(p_->activation);
  auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!gui) return;
  p_->activation = QObject::connect(gui, &QGuiApplication::applicationStateChanged, p_.get(),
                                    [changed = std::move(changed)](Qt::ApplicationState state) {
                                      qtbridge::guarded("activation observer", [&] { changed(state == Qt::ApplicationActive); });
                                    });
}

void PlatformObserver::observePressesOutside(Window& window, std::function<void()> pressed) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  p_->pressesOutsideOf = static_cast<QWidget*>(window.nativeHandle());
  p_->pressedOutside = std::move(pressed);
  app->installEventFilter(p_.get());
}

void PlatformObserver::clear() {
  if (p_->pressedOutside) {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(p_.get());
    p_->pressedOutside = nullptr;
    p_->pressesOutsideOf = nullptr;
  }
  for (auto& w : p_->views)
    if (w.widget) w.widget->removeEventFilter(p_.get());
  for (auto& h : p_->hovers)
    if (h.widget) h.widget->removeEventFilter(p_.get());
  p_->views.clear();
  p_->hovers.clear();
  QObject::disconnect(p_->activation);
}

bool PlatformObserver::isApplicationActive() { return Application::shared().isActive(); }

}  // namespace kesto::ui
