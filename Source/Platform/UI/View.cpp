#include "Platform/UI/View.h"

#include "Platform/UI/Animator.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Window.h"
#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/X11Focus_p.h"

#include <QAbstractNativeEventFilter>
#include <QAbstractScrollArea>
#include <QGraphicsOpacityEffect>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>

#include <map>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kesto::ui {

namespace {

// Views waiting for their coalesced layout pass.
std::vector<std::weak_ptr<View>>& pendingLayouts() {
  static std::vector<std::weak_ptr<View>> pending;
  return pending;
}
bool layoutFlushScheduled = false;

void flushPendingLayouts() {
  layoutFlushScheduled = false;
  auto pending = std::move(pendingLayouts());
  pendingLayouts().clear();
  for (auto& weak : pending) {
    if (auto v = weak.lock()) qtbridge::guarded("layout", [&] { v->layoutSubtreeIfNeeded(); });
  }
}

std::vector<View*> stackingOrder(const std::vector<std::shared_ptr<View>>& subviews) {
  std::vector<View*> order;
  order.reserve(subviews.size());
  for (auto& s : subviews) order.push_back(s.get());
  std::stable_sort(order.begin(), order.end(),
                   [](View* a, View* b) { return a->zPosition() < b->zPosition(); });
  return order;
}

// The keyboard a view holds never outlasts its window's focus: when the focus leaves that window
// (another program takes it, or one of ours), or the window goes, the grab ends at once and the
// view hears of it. Under X11 at the server's focus-out itself, so keys typed after it, already
// on their way to us, never reach the view as the grab's.
class KeyboardGrabWatch : public QObject, public QAbstractNativeEventFilter {
 public:
  static KeyboardGrabWatch& shared() {
    static auto* watch = new KeyboardGrabWatch();  // lives for the process
    return *watch;
  }

  void watch(QWidget* grabber, std::function<void()> lost) {
    stop();
    grabber_ = grabber;
    top_ = grabber->window();
    lost_ = std::move(lost);
    grabber_->installEventFilter(this);
    if (top_ != grabber_) top_->installEventFilter(this);
    if (!filtering_ && x11::connection()) {
      filtering_ = true;
      QCoreApplication::instance()->installNativeEventFilter(this);
    }
  }

  void stop() {
    if (grabber_) grabber_->removeEventFilter(this);
    if (top_) top_->removeEventFilter(this);
    grabber_.clear();
    top_.clear();
    lost_ = nullptr;
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (!top_ || type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_FOCUS_OUT) return false;
    auto* out = reinterpret_cast<xcb_focus_out_event_t*>(event);
    QWindow* handle = top_->windowHandle();
    if (!handle || !handle->handle() || out->event != xcb_window_t(handle->winId())) return false;
    // Into a window inside this one, the focus stays.
    if (x11::isFocusChange(*out) && out->detail != XCB_NOTIFY_DETAIL_INFERIOR) lose();
    return false;
  }

  bool eventFilter(QObject* object, QEvent* event) override {
    const bool gone = event->type() == QEvent::Hide || (object == top_ && event->type() == QEvent::WindowDeactivate);
    if (gone && (object == grabber_ || object == top_)) lose();
    return false;
  }

 private:
  void lose() {
    QPointer<QWidget> grabber = grabber_;
    std::function<void()> lost = std::move(lost_);
    stop();
    if (grabber && QWidget::keyboardGrabber() == grabber) grabber->releaseKeyboard();
    if (xcb_connection_t* c = x11::connection()) xcb_flush(c);
    if (lost) qtbridge::guarded("keyboard grab lost", lost);
  }

  QPointer<QWidget> grabber_, top_;
  std::function<void()> lost_;
  bool filtering_ = false;
};

}  // namespace

// Running fade transitions: an overlay showing the old look, fading out over the new one.
struct View::Transitions {
  std::map<std::string, QPointer<QVariantAnimation>> byKey;
};

namespace {
class FadeOverlay : public QWidget {
 public:
  FadeOverlay(QWidget* parent, QPixmap pixmap) : QWidget(parent), pixmap_(std::move(pixmap)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(parent->rect());
  }
  double opacity = 1.0;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setOpacity(opacity);
    p.drawPixmap(0, 0, pixmap_);
  }

 private:
  QPixmap pixmap_;
};
}  // namespace

// The superview's background colour at 1 - alpha over the view, above everything in it, and
// never in the way of the pointer: see setAlphaValueOverPlainBackdrop.
namespace {
class VeilWidget : public QWidget {
 public:
  VeilWidget(QWidget* parent, View* view) : QWidget(parent), view_(view) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(parent->rect());
    parent->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return false;
  }
  void paintEvent(QPaintEvent* event) override {
    const View* behind = view_->superview();
    if (!behind || !behind->backgroundColor() || view_->alphaValue() >= 1.0) return;
    QColor colour = toQColor(*behind->backgroundColor());
    colour.setAlphaF(static_cast<float>(colour.alphaF() * (1.0 - view_->alphaValue())));
    QPainter(this).fillRect(event->rect(), colour);
  }

 private:
  View* view_;
};
}  // namespace

struct View::Veil {
  QPointer<VeilWidget> widget;
};

void View::setAlphaValueOverPlainBackdrop(double alpha) {
  setAlphaValue(1.0);
  alpha_ = std::clamp(alpha, 0.0, 1.0);
  if (alpha_ >= 1.0) return;
  veil_ = std::make_unique<Veil>();
  veil_->widget = new VeilWidget(widget_, this);
  veil_->widget->show();
  raiseVeil();
}

void View::raiseVeil() {
  if (veil_ && veil_->widget) veil_->widget->raise();
}

void View::addFadeTransition(const std::string& key, double duration) {
  if (!transitions_) transitions_ = std::make_unique<Transitions>();
  if (auto it = transitions_->byKey.find(key); it != transitions_->byKey.end()) {
    if (it->second) delete it->second.data();
    transitions_->byKey.erase(it);
  }
  auto* anim = new QVariantAnimation(widget_);
  anim->setStartValue(1.0);
  anim->setEndValue(0.0);
  anim->setDuration(std::max(1, int(duration * 1000)));
  // Only a view on screen has an old look worth fading out; the transition still runs its time.
  if (widget_->isVisible()) {
    QPointer<FadeOverlay> overlay = new FadeOverlay(widget_, widget_->grab());
    overlay->show();
    QObject::connect(anim, &QVariantAnimation::valueChanged, anim, [overlay](const QVariant& v) {
      if (!overlay) return;
      overlay->opacity = v.toDouble();
      overlay->update();
    });
    QObject::connect(anim, &QObject::destroyed, [overlay] { delete overlay.data(); });
  }
  QObject::connect(anim, &QVariantAnimation::finished, anim, [anim] { anim->deleteLater(); });
  transitions_->byKey[key] = anim;
  anim->start();
}

void View::removeAllAnimations() {
  if (!transitions_) return;
  for (auto& [key, anim] : transitions_->byKey)
    if (anim) delete anim.data();
  transitions_->byKey.clear();
}

std::vector<std::string> View::animationKeys() const {
  std::vector<std::string> keys;
  if (!transitions_) return keys;
  for (auto& [key, anim] : transitions_->byKey)
    if (anim && anim->state() == QAbstractAnimation::Running) keys.push_back(key);
  return keys;
}

View::View(const fnd::Rect& frame) : frame_(frame) {
  widget_ = new ViewWidget(this);
  widget_->hide();
  updateWidgetGeometry();
}

void View::setPointerPassesThrough(bool passes) {
  // The toolkit looks for no receiver of the pointer among a widget that lets it through and
  // its children; a drop would otherwise end on the covering view, which takes none.
  widget_->setAttribute(Qt::WA_TransparentForMouseEvents, passes);
}

View::~View() {
  // A fade or move still running would outlive the view and keep its memory.
  AnimationContext::stopAnimations(this);
  for (auto& sub : subviews_) {
    sub->superview_ = nullptr;
    sub->setWindowRecursively(nullptr);
    if (sub->widget_) {
      sub->widget_->hide();
      sub->widget_->setParent(nullptr);
    }
  }
  releaseKeyboard();
  if (widget_) {
    widget_->detach();
    widget_->hide();
    widget_->setParent(nullptr);
    // The widget may be inside its own event handler (a cell reset during its click).
    widget_->deleteLater();
  }
}

void View::setFrame(const fnd::Rect& frame) {
  if (frame == frame_) return;
  fnd::Size oldSize = frame_.size;
  frame_ = frame;
  updateWidgetGeometry();
  if (!(oldSize == frame.size)) {
    if (autoresizesSubviews_) resizeSubviewsWithOldSize(oldSize);
    setNeedsLayout(true);
    if (widget_) widget_->update();
  }
  if (frameObserver_) frameObserver_();
}

void View::setFrameOrigin(const fnd::Point& origin) { setFrame(fnd::Rect(origin, frame_.size)); }
void View::setFrameSize(const fnd::Size& size) { setFrame(fnd::Rect(frame_.origin, size)); }

void View::setBoundsOrigin(const fnd::Point& origin) {
  if (origin == boundsOrigin_) return;
  boundsOrigin_ = origin;
  updateSubviewGeometries();
  if (widget_) widget_->update();
}

void View::addSubview(std::shared_ptr<View> view) {
  if (!view || view.get() == this) return;
  if (view->superview_ == this) {
    // Moving to the front among equals.
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    subviews_.erase(it);
    subviews_.push_back(view);
    restack();
    return;
  }
  if (view->superview_) view->removeFromSuperview();
  if (view->window_ != window_) view->viewWillMoveToWindow(window_);
  subviews_.push_back(view);
  view->superview_ = this;
  if (!view->explicitNext_) view->Responder::setNextResponder(this);
  view->widget_->setParent(widget_);
  view->updateWidgetGeometry();
  bool higherSibling = std::any_of(subviews_.begin(), subviews_.end(),
                                   [&](auto& s) { return s->zPosition_ > view->zPosition_; });
  if (higherSibling) restack();
  else view->widget_->raise();
  raiseVeil();
  Window* old = view->window_;
  view->setWindowRecursively(window_);
  view->viewDidMoveToSuperview();
  if (old != window_) view->viewDidMoveToWindow();
}

void View::addSubview(std::shared_ptr<View> view, Ordering place, View* relativeTo) {
  if (!view) return;
  addSubview(view);
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  subviews_.erase(it);
  auto rel = std::find_if(subviews_.begin(), subviews_.end(),
                          [&](auto& s) { return s.get() == relativeTo; });
  if (rel == subviews_.end()) {
    if (place == Ordering::Above) subviews_.push_back(view);
    else subviews_.insert(subviews_.begin(), view);
  } else {
    if (place == Ordering::Above) ++rel;
    subviews_.insert(rel, view);
  }
  restack();
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  auto keep = weak_from_this().lock();
  if (window_) viewWillMoveToWindow(nullptr);
  auto it = std::find(parent->subviews_.begin(), parent->subviews_.end(), keep);
  if (it != parent->subviews_.end()) parent->subviews_.erase(it);
  superview_ = nullptr;
  if (!explicitNext_) Responder::setNextResponder(nullptr);
  widget_->hide();
  widget_->setParent(nullptr);
  Window* old = window_;
  if (old && old->firstResponder() && isDescendantOrSelf(old->firstResponder()))
    old->makeFirstResponder(old);
  setWindowRecursively(nullptr);
  updateWidgetGeometry();
  viewDidMoveToSuperview();
  if (old) viewDidMoveToWindow();
}

bool View::isDescendantOrSelf(const Responder* responder) const {
  for (auto* r = dynamic_cast<const View*>(responder); r; r = r->superview_)
    if (r == this) return true;
  return false;
}

bool View::isDescendantOf(const View* view) const {
  for (auto* v = this; v; v = v->superview_)
    if (v == view) return true;
  return false;
}

void View::setWindowRecursively(Window* window) {
  window_ = window;
  // Every descendant hears of the move, before and after; the hooks may change the subviews,
  // so the walk goes over a copy and skips views that left meanwhile.
  auto subs = subviews_;
  for (auto& s : subs) {
    if (s->superview_ != this) continue;
    const bool moves = s->window_ != window;
    if (moves) s->viewWillMoveToWindow(window);
    s->setWindowRecursively(window);
    if (moves && s->superview_ == this) s->viewDidMoveToWindow();
  }
}

View* View::hitTest(const fnd::Point& pointInSuperview) {
  if (hidden_) return nullptr;
  fnd::Point p = fromSuperview(pointInSuperview);
  if (superview_ && !bounds().contains(p)) return nullptr;
  auto order = stackingOrder(subviews_);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (View* hit = (*it)->hitTest(p)) return hit;
  }
  return this;
}

void View::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  hidden_ = hidden;
  updateWidgetGeometry();
}

bool View::isHiddenOrHasHiddenAncestor() const {
  for (auto* v = this; v; v = v->superview_)
    if (v->hidden_) return true;
  return false;
}

void View::setAlphaValue(double alpha) {
  alpha = std::clamp(alpha, 0.0, 1.0);
  if (veil_) {
    delete veil_->widget.data();
    veil_.reset();
    alpha_ = 1.0;
  }
  if (alpha == alpha_) return;
  alpha_ = alpha;
  updateOpaqueness();
  // An opacity effect costs an offscreen pass, so only translucent views get one.
  if (alpha_ < 1.0) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget_->graphicsEffect());
    if (!effect) {
      effect = new QGraphicsOpacityEffect(widget_);
      widget_->setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha_);
  } else {
    widget_->setGraphicsEffect(nullptr);
  }
}

void View::setZPosition(double z) {
  if (z == zPosition_) return;
  zPosition_ = z;
  if (superview_) superview_->restack();
}

void View::restack() {
  for (View* v : stackingOrder(subviews_)) v->widget_->raise();
  raiseVeil();
}

void View::setBackgroundColor(std::optional<Color> color) { setDrawnProperty(backgroundColor_, color); }
void View::setBorderColor(std::optional<Color> color) { setDrawnProperty(borderColor_, color); }
void View::setBorderWidth(double width) { setDrawnProperty(borderWidth_, width); }
void View::setCornerRadius(double radius) { setDrawnProperty(cornerRadius_, radius); }
void View::setLayerContents(const Image& image) { setDrawnProperty(layerContents_, image); }
void View::setShadow(std::optional<Shadow> shadow) {
  shadow_ = std::move(shadow);
  // The superview paints it.
  if (superview_) superview_->setNeedsDisplay();
}

void View::resizeSubviewsWithOldSize(const fnd::Size& oldSize) {
  auto subs = subviews_;
  for (auto& s : subs) s->resizeWithOldSuperviewSize(oldSize);
}

namespace {
// Shares `delta` among the flexible parts of one axis in proportion to their current sizes
// (evenly when they are all 0).
void distribute(double& minMargin, double& size, double& maxMargin, double delta, bool flexMin,
                bool flexSize, bool flexMax) {
  double* parts[3] = {&minMargin, &size, &maxMargin};
  bool flex[3] = {flexMin, flexSize, flexMax};
  double total = 0;
  int count = 0;
  for (int i = 0; i < 3; ++i)
    if (flex[i]) {
      total += std::max(0.0, *parts[i]);
      ++count;
    }
  if (count == 0) {
    // Nothing flexible: the far margin takes the change, so the view keeps its place.
    maxMargin += delta;
    return;
  }
  for (int i = 0; i < 3; ++i) {
    if (!flex[i]) continue;
    double share = total > 0 ? delta * std::max(0.0, *parts[i]) / total : delta / count;
    *parts[i] += share;
  }
}
}  // namespace

void View::resizeWithOldSuperviewSize(const fnd::Size& oldSize) {
  if (!superview_ || autoresizingMask_ == NotSizable) return;
  fnd::Size newSize = superview_->frame_.size;
  fnd::Rect f = frame_;
  double left = f.origin.x, width = f.size.width, right = oldSize.width - f.origin.x - f.size.width;
  distribute(left, width, right, newSize.width - oldSize.width, autoresizingMask_ & MinXMargin,
             autoresizingMask_ & WidthSizable, autoresizingMask_ & MaxXMargin);
  double bottom = f.origin.y, height = f.size.height,
         top = oldSize.height - f.origin.y - f.size.height;
  distribute(bottom, height, top, newSize.height - oldSize.height, autoresizingMask_ & MinYMargin,
             autoresizingMask_ & HeightSizable, autoresizingMask_ & MaxYMargin);
  setFrame(fnd::Rect(left, bottom, width, height));
}

void View::setNeedsDisplay(bool needs) {
  needsDisplay_ = needs;
  if (!needs || !widget_) return;
  updateOpaqueness();
  widget_->update();
  // A hosted list or text view draws in its scroll area's viewport, which the host's update does
  // not reach: what its rows show (a badge) changes without a reload.
  for (auto* area : widget_->findChildren<QAbstractScrollArea*>(Qt::FindDirectChildrenOnly)) area->viewport()->update();
}

void View::updateOpaqueness() {
  if (!widget_) return;
  const bool opaque = backgroundColor_ && backgroundColor_->alpha >= 1.0 && drawsBackground() &&
                      cornerRadius_ <= 0 && alpha_ >= 1.0;
  if (widget_->testAttribute(Qt::WA_OpaquePaintEvent) != opaque) widget_->setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

Image View::snapshot() {
  if (auto* w = window()) w->displayIfNeeded();
  layoutSubtreeIfNeeded();
  QPixmap pixmap = widget_->grab();
  return Image(std::make_shared<Image::Impl>(Image::Impl{pixmap.toImage()}));
}

void View::setNeedsLayout(bool needs) {
  needsLayout_ = needs;
  if (!needs) return;
  pendingLayouts().push_back(weak_from_this());
  if (!layoutFlushScheduled) {
    layoutFlushScheduled = true;
    QTimer::singleShot(0, [] { flushPendingLayouts(); });
  }
}

void View::layoutSubtreeIfNeeded() {
  auto keep = weak_from_this().lock();
  if (needsLayout_) {
    needsLayout_ = false;
    layout();
  }
  auto subs = subviews_;
  for (auto& s : subs)
    if (!s->hidden_) s->layoutSubtreeIfNeeded();
}

fnd::Point View::topDownOffset(const fnd::Point& p) const {
  double dy = isFlipped() ? p.y - boundsOrigin_.y : boundsOrigin_.y + frame_.size.height - p.y;
  return fnd::Point{p.x - boundsOrigin_.x, dy};
}

fnd::Point View::toSuperview(const fnd::Point& p) const {
  fnd::Point d = topDownOffset(p);
  bool parentFlipped = superview_ && superview_->isFlipped();
  double y = parentFlipped ? frame_.origin.y + d.y : frame_.origin.y + frame_.size.height - d.y;
  return fnd::Point{frame_.origin.x + d.x, y};
}

fnd::Point View::fromSuperview(const fnd::Point& q) const {
  bool parentFlipped = superview_ && superview_->isFlipped();
  double dx = q.x - frame_.origin.x;
  double dy = parentFlipped ? q.y - frame_.origin.y : frame_.origin.y + frame_.size.height - q.y;
  double y = isFlipped() ? boundsOrigin_.y + dy : boundsOrigin_.y + frame_.size.height - dy;
  return fnd::Point{boundsOrigin_.x + dx, y};
}

fnd::Point View::convertPointToView(const fnd::Point& point, const View* view) const {
  // Up to the root (window coordinates), then down to the other view.
  fnd::Point p = point;
  for (const View* v = this; v; v = v->superview_) {
    if (v == view) return p;
    p = v->toSuperview(p);
  }
  if (!view) return p;
  return view->convertPointFromView(p, nullptr);
}

fnd::Point View::convertPointFromView(const fnd::Point& point, const View* view) const {
  fnd::Point root = view ? view->convertPointToView(point, nullptr) : point;
  std::vector<const View*> chain;
  for (const View* v = this; v; v = v->superview_) chain.push_back(v);
  fnd::Point p = root;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = (*it)->fromSuperview(p);
  return p;
}

namespace {
fnd::Rect rectFromCorners(fnd::Point a, fnd::Point b) {
  return fnd::Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(a.x - b.x),
                   std::fabs(a.y - b.y));
}
}  // namespace

fnd::Rect View::convertRectToView(const fnd::Rect& r, const View* view) const {
  return rectFromCorners(convertPointToView(r.origin, view),
                         convertPointToView({r.origin.x + r.size.width, r.origin.y + r.size.height}, view));
}

fnd::Rect View::convertRectFromView(const fnd::Rect& r, const View* view) const {
  return rectFromCorners(convertPointFromView(r.origin, view),
                         convertPointFromView({r.origin.x + r.size.width, r.origin.y + r.size.height}, view));
}

fnd::Rect View::visibleRect() const {
  fnd::Rect r = convertRectToView(bounds(), nullptr);
  for (const View* a = superview_; a; a = a->superview_) {
    r = r.intersection(a->convertRectToView(a->bounds(), nullptr));
    if (r.isNull()) return fnd::Rect();
  }
  return convertRectFromView(r, nullptr);
}

void View::setNextResponder(Responder* next) {
  explicitNext_ = next != nullptr;
  Responder::setNextResponder(next ? next : superview_);
}

Animator View::animator() { return Animator(this); }

void View::setToolTip(const std::string& tip) {
  toolTip_ = tip;
  widget_->setToolTip(QString::fromStdString(tip));
}

std::string View::description() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", (const void*)this);
  return std::string("<View: ") + buf + "; frame = " + fnd::toString(frame_) + ">";
}

void View::updateWidgetGeometry() {
  if (!widget_) return;
  fnd::Point oldClip = clipOffset_;
  QSize oldSize = widget_->size();
  bool visible = !hidden_;
  if (!superview_) {
    clipOffset_ = fnd::Point{};
    widget_->setGeometry(0, 0, std::max(0, (int)std::lround(frame_.size.width)),
                         std::max(0, (int)std::lround(frame_.size.height)));
    // A root widget is shown only by its window.
  } else {
    View* p = superview_;
    double left = frame_.origin.x - p->boundsOrigin_.x - p->clipOffset_.x;
    double top = (p->isFlipped() ? frame_.origin.y - p->boundsOrigin_.y
                                 : p->boundsOrigin_.y + p->frame_.size.height -
                                       (frame_.origin.y + frame_.size.height)) -
                 p->clipOffset_.y;
    double right = left + frame_.size.width, bottom = top + frame_.size.height;
    QSize ps = p->widget_->size();
    double cl = std::max(left, 0.0), ct = std::max(top, 0.0);
    double cr = std::min(right, (double)ps.width()), cb = std::min(bottom, (double)ps.height());
    long L = std::lround(cl), T = std::lround(ct), R = std::lround(cr), B = std::lround(cb);
    if (R <= L || B <= T || frame_.size.width <= 0 || frame_.size.height <= 0) {
      bool keptShown = false;
      for (const View* a = p; a && !keptShown; a = a->superview_) keptShown = a->keepsClippedSubviewsShown_;
      if (!keptShown) visible = false;
      R = L;
      B = T;
    }
    clipOffset_ = fnd::Point{L - left, T - top};
    widget_->setGeometry((int)L, (int)T, (int)(R - L), (int)(B - T));
    if (widget_->isHidden() == visible) widget_->setVisible(visible);
  }
  if (!(oldClip == clipOffset_) || oldSize != widget_->size()) updateSubviewGeometries();
  if (widget_->geometryObserver) widget_->geometryObserver();
}

void View::updateSubviewGeometries() {
  for (auto& s : subviews_) s->updateWidgetGeometry();
}

bool View::grabKeyboard(std::function<void()> lost) {
  if (!widget_ || !window_) return false;
  widget_->grabKeyboard();
  if (!hasKeyboardGrab()) return false;
  KeyboardGrabWatch::shared().watch(widget_, std::move(lost));
  return true;
}

void View::releaseKeyboard() {
  if (!hasKeyboardGrab()) return;
  KeyboardGrabWatch::shared().stop();
  widget_->releaseKeyboard();
}

bool View::hasKeyboardGrab() const { return widget_ && QWidget::keyboardGrabber() == widget_; }

}  // namespace kesto::ui
