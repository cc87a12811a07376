#include "Platform/UI/ScrollView.h"

#include "Platform/UI/Action.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace kesto::ui {

namespace {

// A scroller that keeps its groove as a picture. The desktop style paints the groove as a
// gradient over the scroller's whole length, and the toolkit spreads a fill that tall over
// worker threads; a scroller repainted at every step of the wheel then waits for those threads
// each frame. The groove looks the same wherever the knob is, so it is painted once per size
// and look, and each frame the style paints only the knob and arrows over it (with the hover
// and press states the scroller gives it).
class GrooveKeepingStyle : public QProxyStyle {
 public:
  GrooveKeepingStyle() : QProxyStyle(QApplication::style()->name()) {}

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget) const override {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !slider || !widget || !(slider->subControls & SC_ScrollBarGroove)) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    const auto look = std::make_tuple(slider->rect.size(), ratio, slider->palette.cacheKey(),
                                      static_cast<int>(slider->state & State_Enabled), slider->orientation);
    if (groove_.isNull() || look != grooveLook_) {
      QStyleOptionSlider grooveOnly = *slider;
      grooveOnly.subControls = SC_ScrollBarGroove;
      grooveOnly.activeSubControls = SC_None;
      grooveOnly.state &= ~(State_MouseOver | State_Sunken);
      grooveOnly.rect = QRect(QPoint(0, 0), slider->rect.size());
      groove_ = QPixmap(slider->rect.size() * ratio);
      groove_.setDevicePixelRatio(ratio);
      // Opaque, so each frame copies it instead of blending it (which is again spread over
      // worker threads). The desktop style's groove covers the whole scroller anyway.
      groove_.fill(slider->palette.color(QPalette::Window));
      QPainter grooved(&groove_);
      QProxyStyle::drawComplexControl(control, &grooveOnly, &grooved, widget);
      grooveLook_ = look;
    }
    painter->drawPixmap(slider->rect.topLeft(), groove_);
    QStyleOptionSlider rest = *slider;
    rest.subControls &= ~SC_ScrollBarGroove;
    QProxyStyle::drawComplexControl(control, &rest, painter, widget);
  }

 private:
  mutable QPixmap groove_;
  mutable std::tuple<QSize, qreal, qint64, int, Qt::Orientation> grooveLook_;
};

class Scroller : public QScrollBar {
 public:
  Scroller(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {
    setStyle(&style_);
  }
  ~Scroller() override { setStyle(nullptr); }

 private:
  GrooveKeepingStyle style_;
};

}  // namespace

struct ScrollView::Impl {
  QScrollBar* vertical = nullptr;
  QScrollBar* horizontal = nullptr;
  bool reflecting = false;
  // Held only by the scroll view: callbacks left with other objects (a document view may
  // outlive its scroll view) reach it through weak references to this.
  std::shared_ptr<ScrollView*> self;
  ActionSet actions;
};

ScrollView::ScrollView(const fnd::Rect& frame) : View(frame), d_(std::make_unique<Impl>()) {
  d_->self = std::make_shared<ScrollView*>(this);
  // A line is a line of the desktop's text, as the wheel and the scroller arrows move in other
  // programs.
  lineScroll_ = std::max(1.0, std::round(QFontMetricsF(QApplication::font()).lineSpacing()));
  setBackgroundColor(Color::white());
  d_->vertical = new Scroller(Qt::Vertical, nativeWidget());
  d_->horizontal = new Scroller(Qt::Horizontal, nativeWidget());
  d_->vertical->hide();
  d_->horizontal->hide();
  auto scrolled = [this](bool vertical) {
    if (d_->reflecting || !clipView_) return;
    fnd::Rect doc = clipView_->documentRect();
    fnd::Point p = clipView_->bounds().origin;
    if (vertical) {
      double v = d_->vertical->value();
      p.y = clipView_->isFlipped() ? doc.origin.y + v
                                   : doc.origin.y + doc.size.height - clipView_->frame().size.height - v;
    } else {
      p.x = doc.origin.x + d_->horizontal->value();
    }
    clipView_->scrollToPoint(p);
  };
  QObject::connect(d_->vertical, &QScrollBar::valueChanged,
                   [scrolled](int) { qtbridge::guarded("scroller", [&] { scrolled(true); }); });
  QObject::connect(d_->horizontal, &QScrollBar::valueChanged,
                   [scrolled](int) { qtbridge::guarded("scroller", [&] { scrolled(false); }); });
  setContentView(std::make_shared<ClipView>(fnd::Rect(0, 0, frame.size.width, frame.size.height)));
  auto hasClip = [this] { return clipView_ != nullptr; };
  d_->actions.add(cmd::scrollPageDown, [this] { scrollByPages(1); }, hasClip);
  d_->actions.add(cmd::scrollPageUp, [this] { scrollByPages(-1); }, hasClip);
  d_->actions.add(cmd::scrollToBeginningOfDocument, [this] { scrollToEdge(true); }, hasClip);
  d_->actions.add(cmd::scrollToEndOfDocument, [this] { scrollToEdge(false); }, hasClip);
}

ScrollView::~ScrollView() {
  // From here on the document's frame observer finds nobody.
  d_->self.reset();
}

void ScrollView::setContentView(std::shared_ptr<ClipView> clipView) {
  if (clipView_ == clipView) return;
  if (clipView_) clipView_->removeFromSuperview();
  clipView_ = std::move(clipView);
  if (clipView_) addSubview(clipView_);
  tile();
  if (clipView_) reflectScrolledClipView(clipView_.get());
}

const std::shared_ptr<View>& ScrollView::documentView() const {
  static const std::shared_ptr<View> none;
  return clipView_ ? clipView_->documentView() : none;
}

void ScrollView::setDocumentView(std::shared_ptr<View> view) {
  if (!clipView_) return;
  if (documentFrameToken_ && documentView()) documentView()->setFrameObserver(nullptr);
  clipView_->setDocumentView(view);
  if (view) {
    documentFrameToken_ = 1;
    std::weak_ptr<ScrollView*> weakSelf = d_->self;
    std::weak_ptr<ClipView> weakClip = clipView_;
    view->setFrameObserver([weakSelf, weakClip] {
      auto self = weakSelf.lock();
      auto clip = weakClip.lock();
      if (!self || !clip || (*self)->clipView_ != clip) return;
      // Keep the origin inside a document that shrank.
      clip->moveToPoint(clip->bounds().origin);
      (*self)->reflectScrolledClipView(clip.get());
    });
  }
  reflectScrolledClipView(clipView_.get());
}

fnd::Rect ScrollView::documentVisibleRect() const {
  return clipView_ ? clipView_->documentVisibleRect() : fnd::Rect();
}

fnd::Size ScrollView::contentSize() const { return clipView_ ? clipView_->frame().size : fnd::Size{}; }

void ScrollView::setHasVerticalScroller(bool on) {
  if (hasVertical_ == on) return;
  hasVertical_ = on;
  tile();
}

void ScrollView::setHasHorizontalScroller(bool on) {
  if (hasHorizontal_ == on) return;
  hasHorizontal_ = on;
  tile();
}

void ScrollView::setScrollerStyle(ScrollerStyle style) {
  scrollerStyle_ = style;
  tile();
}

void ScrollView::setDrawsBackground(bool on) { setDrawnProperty(drawsBackground_, on); }

void ScrollView::tile() {
  fnd::Size size = frame().size;
  lastTiledSize_ = size;
  int extent = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  bool legacy = scrollerStyle_ == ScrollerStyle::Legacy;
  double w = size.width - (legacy && hasVertical_ ? extent : 0);
  double h = size.height - (legacy && hasHorizontal_ ? extent : 0);
  if (clipView_) clipView_->setFrame(fnd::Rect(0, size.height - h, std::max(0.0, w), std::max(0.0, h)));
  int W = int(std::lround(size.width)), H = int(std::lround(size.height));
  d_->vertical->setGeometry(W - extent, 0, extent, std::max(0, int(std::lround(h))));
  d_->horizontal->setGeometry(0, H - extent, std::max(0, int(std::lround(w))), extent);
  d_->vertical->raise();
  d_->horizontal->raise();
  if (clipView_) reflectScrolledClipView(clipView_.get());
}

void ScrollView::setFrame(const fnd::Rect& frame) {
  bool sizeChanged = !(frame.size == this->frame().size);
  View::setFrame(frame);
  if (sizeChanged) tile();
}

void ScrollView::layout() {
  // Scrolling runs the layout callback too; only a new size needs the scrollers re-placed.
  if (!(frame().size == lastTiledSize_)) tile();
}

void ScrollView::reflectScrolledClipView(ClipView* clip) {
  if (!clip) return;
  fnd::Rect doc = clip->documentRect();
  fnd::Rect b = clip->bounds();
  d_->reflecting = true;
  double maxV = std::max(0.0, doc.size.height - b.size.height);
  double v = clip->isFlipped() ? b.origin.y - doc.origin.y : doc.origin.y + maxV - b.origin.y;
  d_->vertical->setRange(0, int(std::lround(maxV)));
  d_->vertical->setPageStep(std::max(1, int(b.size.height)));
  d_->vertical->setSingleStep(int(lineScroll_));
  d_->vertical->setValue(int(std::lround(v)));
  double maxH = std::max(0.0, doc.size.width - b.size.width);
  d_->horizontal->setRange(0, int(std::lround(maxH)));
  d_->horizontal->setPageStep(std::max(1, int(b.size.width)));
  d_->horizontal->setValue(int(std::lround(b.origin.x - doc.origin.x)));
  d_->reflecting = false;
  bool showV = hasVertical_ && (scrollerStyle_ == ScrollerStyle::Legacy || maxV > 0);
  bool showH = hasHorizontal_ && (scrollerStyle_ == ScrollerStyle::Legacy || maxH > 0);
  if (d_->vertical->isVisible() != showV) d_->vertical->setVisible(showV);
  if (d_->horizontal->isVisible() != showH) d_->horizontal->setVisible(showH);
}

void ScrollView::clipViewBoundsDidChange(ClipView* clip) {
  reflectScrolledClipView(clip);
  if (clip == clipView_.get()) layout();
}

void ScrollView::scrollWheel(const Event& event) {
  if (!clipView_) return;
  const double unit = event.hasPreciseScrollingDeltas ? 1.0 : lineScroll_;
  fnd::Point p = clipView_->bounds().origin;
  p.x -= event.deltaX * unit;
  p.y += (clipView_->isFlipped() ? -event.deltaY : event.deltaY) * unit;
  clipView_->scrollToPoint(clipView_->constrainScrollPoint(p));
}

void ScrollView::keyDown(const Event& event) {
  Command selector = Responder::selectorForKeyEvent(event);
  if (d_->actions.answers(selector) && performAction(selector, this)) return;
  View::keyDown(event);
}

bool ScrollView::respondsToAction(Command selector) const { return d_->actions.answers(selector); }

bool ScrollView::performAction(Command selector, Responder* sender) {
  return d_->actions.perform(selector, sender) || View::performAction(selector, sender);
}

void ScrollView::scrollByPages(int pages) {
  fnd::Rect visible = clipView_->bounds();
  // Pages overlap by one line so the reader keeps their place.
  double page = std::max(visible.size.height - lineScroll_, lineScroll_);
  fnd::Point p = visible.origin;
  p.y += (clipView_->isFlipped() ? page : -page) * pages;
  clipView_->scrollToPoint(clipView_->constrainScrollPoint(p));
}

void ScrollView::scrollToEdge(bool beginning) {
  fnd::Rect doc = clipView_->documentRect();
  fnd::Point p = clipView_->bounds().origin;
  // The beginning is the top: the smallest y in flipped coordinates, the largest otherwise.
  p.y = beginning == clipView_->isFlipped() ? doc.minY() : doc.maxY();
  clipView_->scrollToPoint(clipView_->constrainScrollPoint(p));
}

int ScrollView::verticalScrollerValue() const { return d_->vertical->value(); }
int ScrollView::verticalScrollerMaximum() const { return d_->vertical->maximum(); }
bool ScrollView::isVerticalScrollerShown() const { return !d_->vertical->isHidden(); }

}  // namespace kesto::ui
