#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Color.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Responder.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::ui {

class GraphicsContext;
class Window;
class ViewWidget;
class Animator;

// A rectangle of the window's view tree. Frames and bounds are doubles in points, in the
// superview's coordinates; views are unflipped (origin bottom left, y upwards) unless isFlipped
// says otherwise. Each view is drawn by a native widget placed from its frame, clipped to its
// superview's widget, so a document of any height never meets the toolkit's widget size limit.
// Views are shared objects: a superview keeps its subviews alive.
class View : public Responder, public std::enable_shared_from_this<View> {
 public:
  enum AutoresizingMask : unsigned {
    NotSizable = 0,
    MinXMargin = 1,
    WidthSizable = 2,
    MaxXMargin = 4,
    MinYMargin = 8,
    HeightSizable = 16,
    MaxYMargin = 32,
  };
  enum class Ordering { Below = -1, Above = 1 };

  explicit View(const fnd::Rect& frame = fnd::Rect());
  ~View() override;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Geometry.
  const fnd::Rect& frame() const { return frame_; }
  virtual void setFrame(const fnd::Rect& frame);
  void setFrameOrigin(const fnd::Point& origin);
  void setFrameSize(const fnd::Size& size);
  fnd::Rect bounds() const { return fnd::Rect(boundsOrigin_, frame_.size); }
  virtual void setBoundsOrigin(const fnd::Point& origin);
  virtual bool isFlipped() const { return false; }

  // Hierarchy. Adding a view that has a superview moves it.
  View* superview() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  void addSubview(std::shared_ptr<View> view);
  void addSubview(std::shared_ptr<View> view, Ordering place, View* relativeTo);
  void removeFromSuperview();
  bool isDescendantOf(const View* view) const;
  Window* window() const { return window_; }
  // Finds the deepest visible view under a point given in the superview's coordinates.
  virtual View* hitTest(const fnd::Point& pointInSuperview);

  // Appearance.
  bool isHidden() const { return hidden_; }
  virtual void setHidden(bool hidden);
  bool isHiddenOrHasHiddenAncestor() const;
  // Whether the views inside this one (at any depth) that scroll wholly out of sight stay shown
  // at no size instead of being hidden. Every show makes the toolkit ask the window system where
  // the pointer is, and a cell scrolling in or out would show or hide each of its parts in turn:
  // on a loaded machine those round trips, not the drawing, decide how smoothly a list scrolls.
  // This view itself is still hidden when it leaves sight.
  bool keepsClippedSubviewsShown() const { return keepsClippedSubviewsShown_; }
  void setKeepsClippedSubviewsShown(bool keep) { keepsClippedSubviewsShown_ = keep; }
  double alphaValue() const { return alpha_; }
  void setAlphaValue(double alpha);
  // The look setAlphaValue gives, for a view whose own opaque background covers it in front of a
  // superview that shows its plain background colour there: a veil of that colour drawn over the
  // view instead of an offscreen pass of everything in it each time any of it is drawn (a
  // spinner turning in a toolbar would redraw the whole toolbar through that pass every frame).
  // alphaValue() answers `alpha`; setAlphaValue takes the veil away.
  void setAlphaValueOverPlainBackdrop(double alpha);
  // Siblings are stacked by z position (stable: equal values keep insertion order).
  double zPosition() const { return zPosition_; }
  void setZPosition(double z);
  void setWantsLayer(bool wants) { wantsLayer_ = wants; }
  bool wantsLayer() const { return wantsLayer_; }
  const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<Color> color);
  // Whether the background colour is painted (a scroll view can keep one it does not draw).
  virtual bool drawsBackground() const { return true; }
  const std::optional<Color>& borderColor() const { return borderColor_; }
  void setBorderColor(std::optional<Color> color);
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double width);
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);
  // The layer's contents image, stretched over the bounds.
  const Image& layerContents() const { return layerContents_; }
  void setLayerContents(const Image& image);
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  // A view drawn over others that is never in the pointer's way: presses, wheels and drags
  // (a drop onto what lies beneath) go to the views under it. Its hitTest says the same.
  void setPointerPassesThrough(bool passes);
  // A soft shadow under the view's bounds (rounded as its corners), painted by its superview:
  // the offset on screen (y upwards, so a negative height falls below), a blur radius and a
  // colour.
  struct Shadow {
    fnd::Size offset;
    double blurRadius = 0;
    Color color;
  };
  const std::optional<Shadow>& shadow() const { return shadow_; }
  void setShadow(std::optional<Shadow> shadow);

  // Resizing.
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
  virtual void resizeSubviewsWithOldSize(const fnd::Size& oldSize);
  virtual void resizeWithOldSuperviewSize(const fnd::Size& oldSize);

  // Drawing. Views whose wantsUpdateLayer answers true are drawn from their layer properties
  // (set in updateLayer); the others through drawRect.
  bool needsDisplay() const { return needsDisplay_; }
  void setNeedsDisplayFlag(bool needs) { needsDisplay_ = needs; }  // without a redraw request
  void setNeedsDisplay(bool needs = true);
  virtual bool wantsUpdateLayer() const { return false; }
  virtual void updateLayer() {}
  virtual void drawRect(GraphicsContext& context, const fnd::Rect& dirtyRect) {}
  // Views answering true are drawn once into a kept picture, which later paints copy (a list
  // scrolling repaints every cell at each step); the picture is drawn again only after
  // setNeedsDisplay or at a new size. Only for views whose drawing follows from their own
  // state, each change of which asks for display.
  virtual bool keepsDrawing() const { return false; }
  // A view that fills its whole bounds with an opaque colour hides what lies beneath it: told
  // so, the toolkit no longer paints the window's background and the views under it there
  // first (a scrolling list repaints its whole area at every step). Asked again at each request
  // for display, which every change of those properties makes.
  void updateOpaqueness();
  // Renders this view and its subviews as they appear on screen (tests probe its pixels).
  Image snapshot();

  // Layout. `layout` runs from layoutSubtreeIfNeeded, which a resize schedules shortly after.
  bool needsLayout() const { return needsLayout_; }
  void setNeedsLayout(bool needs = true);
  void layoutSubtreeIfNeeded();
  virtual void layout() {}

  // Conversion between this view and another of the same window (nullptr: the window).
  fnd::Point convertPointFromView(const fnd::Point& point, const View* view) const;
  fnd::Point convertPointToView(const fnd::Point& point, const View* view) const;
  fnd::Rect convertRectFromView(const fnd::Rect& rect, const View* view) const;
  fnd::Rect convertRectToView(const fnd::Rect& rect, const View* view) const;
  // The part of the bounds not clipped by any superview.
  fnd::Rect visibleRect() const;

  // Responder.
  virtual bool acceptsFirstMouse(const Event& event) { return false; }
  virtual bool canBecomeKeyView() { return acceptsFirstResponder(); }
  // While true, key presses reach this view (when it is first responder) before the menus'
  // key equivalents: a shortcut recorder takes Ctrl+Q as a combination, not as Quit.
  virtual bool claimsKeyEquivalents() const { return false; }
  // Takes every key pressed on the desktop until released, the desktop's own shortcuts and
  // other programs' hot keys included (under X11 an active grab of the keyboard); answers
  // whether the view holds the keyboard. Only a view in a window can take it, and only while
  // that window has the focus: when another program or window takes it, or the window (or the
  // view) is hidden, the keyboard is let go at once and `lost` is told.
  bool grabKeyboard(std::function<void()> lost = nullptr);
  void releaseKeyboard();
  bool hasKeyboardGrab() const;
  void setNextResponder(Responder* next) override;

  // Window and hierarchy hooks.
  virtual void viewWillMoveToWindow(Window* window) {}
  virtual void viewDidMoveToWindow() {}
  virtual void viewDidMoveToSuperview() {}
  virtual void awakeFromNib() {}

  // The proxy whose changes animate under the current animation context.
  Animator animator();

  // One observer told after every frame change (the enclosing clip view uses it).
  void setFrameObserver(std::function<void()> observer) { frameObserver_ = std::move(observer); }

  std::string toolTip() const { return toolTip_; }
  void setToolTip(const std::string& tip);
  virtual std::string description() const;

  // Layer-style transitions: a fade from the current look to the next one over `duration`,
  // stored under `key` (a new one under the same key replaces it).
  void addFadeTransition(const std::string& key, double duration);
  void removeAllAnimations();
  std::vector<std::string> animationKeys() const;

  // Native widget of this view, for the platform layer's own use.
  ViewWidget* nativeWidget() const { return widget_; }
  // Where the bounds origin's top-left lies inside the native widget (platform layer only).
  fnd::Point widgetOffset() const { return clipOffset_; }

 protected:
  // Stores a property the drawing follows from and asks for display.
  template <typename T>
  void setDrawnProperty(T& property, T value) {
    property = std::move(value);
    setNeedsDisplay(true);
  }

 private:
  friend class ViewWidget;
  friend class Window;
  void setWindowRecursively(Window* window);
  void updateWidgetGeometry();
  void updateSubviewGeometries();
  void restack();
  fnd::Point toSuperview(const fnd::Point& p) const;
  fnd::Point fromSuperview(const fnd::Point& p) const;
  fnd::Point topDownOffset(const fnd::Point& p) const;
  bool isDescendantOrSelf(const Responder* responder) const;

  fnd::Rect frame_;
  fnd::Point boundsOrigin_;
  View* superview_ = nullptr;
  Window* window_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
  ViewWidget* widget_ = nullptr;
  fnd::Point clipOffset_;
  bool explicitNext_ = false;
  bool hidden_ = false;
  bool keepsClippedSubviewsShown_ = false;
  bool wantsLayer_ = false;
  bool opaque_ = false;
  bool needsDisplay_ = false;
  bool needsLayout_ = false;
  bool autoresizesSubviews_ = true;
  unsigned autoresizingMask_ = NotSizable;
  double alpha_ = 1.0;
  double zPosition_ = 0.0;
  double borderWidth_ = 0.0;
  double cornerRadius_ = 0.0;
  std::optional<Color> backgroundColor_;
  std::optional<Color> borderColor_;
  std::optional<Shadow> shadow_;
  Image layerContents_;
  std::string toolTip_;
  std::function<void()> frameObserver_;
  struct Transitions;
  std::unique_ptr<Transitions> transitions_;
  struct Veil;
  std::unique_ptr<Veil> veil_;
  void raiseVeil();
};

}  // namespace kesto::ui
