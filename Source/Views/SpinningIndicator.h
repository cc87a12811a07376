#pragma once

#include "Platform/UI/Color.h"
#include "Platform/UI/View.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

// A ring of rounded spokes showing activity: spinning with a fading tail (indeterminate), or
// filling clockwise from the top spoke by spoke with `progress` (determinate). The spokes are
// drawn from the properties; the spin only turns them, one spoke per step (stepped) or
// steadily, one full turn per `animationDuration`.
class SpinningIndicator : public ui::View {
 public:
  // Names of the failures raised (as fnd contract failures) for values out of range.
  static constexpr const char* kInvalidProgressName = "Invalid `progress` property value";
  static constexpr const char* kInvalidProgressReason = "`progress` property needs to be between 0 and 1";
  // Spokes drawn at most; more would only overlap.
  static constexpr unsigned kMaximumDrawnLines = 360;

  explicit SpinningIndicator(const fnd::Rect& frame = fnd::Rect());
  ~SpinningIndicator() override;

  bool isIndeterminate() const { return indeterminate_; }
  void setIndeterminate(bool on);  // NO also stops the animation
  double progress() const { return progress_; }
  // Answers false and changes nothing for a value outside 0...1 (the failure is also raised
  // through the contract facility, which throws in tests and logs in the app).
  bool setProgress(double progress);
  // `progress` set through the animator: it moves there over the current animation context's
  // duration (at once when that is 0), the spokes filling or emptying one by one on the way. A
  // value outside 0...1 is refused as setProgress refuses it, and nothing moves.
  bool animateProgress(double progress);
  // How a change of `key` made through the animator runs: a plain basic animation (evenly over
  // the time) for "progress"; other keys of the indicator change at once.
  enum class DefaultAnimation { None, Basic };
  static DefaultAnimation defaultAnimationForKey(const std::string& key);
  bool animates() const { return animates_; }
  void setAnimates(bool on);
  bool hideWhenStopped() const { return hideWhenStopped_; }
  void setHideWhenStopped(bool on);
  bool steppedAnimation() const { return stepped_; }
  void setSteppedAnimation(bool on);
  double lengthOfLine() const { return lengthOfLine_; }
  void setLengthOfLine(double points);
  double widthOfLine() const { return widthOfLine_; }
  void setWidthOfLine(double points);
  unsigned numberOfLines() const { return numberOfLines_; }
  // Any count: 0 draws nothing and stands still, 1 is a still single spoke, and counts above
  // kMaximumDrawnLines are drawn as that many.
  void setNumberOfLines(unsigned count);
  double innerMargin() const { return innerMargin_; }
  void setInnerMargin(double points);
  double animationDuration() const { return animationDuration_; }
  void setAnimationDuration(double seconds);
  const ui::Color& color() const { return color_; }
  void setColor(const ui::Color& color);

  // The spin: key angles (radians, negative is clockwise) and key times (fractions of the
  // duration) of one turn. Stepped: 2N+2 values; each angle -2*pi*i/N held for 1/N.
  struct KeyFrames {
    std::vector<float> values;
    std::vector<double> keyTimes;
  };
  KeyFrames keyFrameAnimationForCurrentPreferences() const;
  bool isAnimationRunning() const;
  // Whether a clock turns it now: only while animating, shown and in a window.
  bool isTicking() const;
  void setHidden(bool hidden) override;
  // The rotation applied now (radians); tests step it with advanceAnimation.
  double currentRotation() const { return rotation_; }
  void advanceAnimation(double seconds);

  // The spokes filled now: indices and alpha, in drawing order (what progressImage paints).
  struct Spoke {
    int index;
    double alpha;
  };
  std::vector<Spoke> filledSpokes() const;
  // The spoke picture (without the spin rotation) at the view's size.
  ui::Image progressImage();

  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  void awakeFromNib() override;
  void viewDidMoveToWindow() override;

 private:
  // What a change of a setting brings up to date, in this order.
  enum Reload : unsigned { kReloadContent = 1, kReloadAnimation = 2, kReloadVisibility = 4 };
  template <typename T>
  void change(T& setting, T value, unsigned reload);
  void initLayers();
  void reloadIndicatorContent();
  void reloadAnimation();
  void reloadVisibility();
  double angleAt(double elapsed) const;
  unsigned drawnLines() const;

  bool indeterminate_ = true;
  double progress_ = 0;
  bool animates_ = true;
  bool hideWhenStopped_ = true;
  bool stepped_ = true;
  double lengthOfLine_ = 6.0;
  double widthOfLine_ = 3.0;
  unsigned numberOfLines_ = 8;
  double innerMargin_ = 4.0;
  double animationDuration_ = 0.6;
  ui::Color color_ = ui::Color::black();
  bool initialised_ = false;
  // The spoke picture as drawn last; kept while indeterminate/determinate flips until the next
  // redraw.
  std::vector<Spoke> drawnSpokes_;
  double rotation_ = 0;
  double elapsed_ = 0;
  struct Animation;
  std::unique_ptr<Animation> animation_;
};

}  // namespace kesto
