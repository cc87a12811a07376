#pragma once

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

#include <functional>
#include <string>
#include <vector>

namespace kesto::ui {

// A row of segments, each with an image and/or a label, drawn by the view itself (the toolkit
// has no segmented control). A click selects a segment according to the tracking mode and
// runs the action. Subclasses change the look through drawRect / drawSegment.
class SegmentedControl : public View {
 public:
  enum class TrackingMode { SelectOne = 0, SelectAny = 1, Momentary = 2 };

  explicit SegmentedControl(const fnd::Rect& frame = fnd::Rect());

  long segmentCount() const { return long(segments_.size()); }
  void setSegmentCount(long count);
  // Indexes outside the segments are ignored (setters) or answer empty values (getters).
  Image imageForSegment(long segment) const;
  void setImage(const Image& image, long segment);
  std::string labelForSegment(long segment) const;
  void setLabel(const std::string& label, long segment);
  // 0: the segments share the width equally.
  double widthForSegment(long segment) const;
  void setWidth(double width, long segment);
  bool isEnabledForSegment(long segment) const;
  void setEnabled(bool enabled, long segment);
  bool isSelectedForSegment(long segment) const;
  void setSelected(bool selected, long segment);
  long selectedSegment() const;  // the lowest selected, -1 when none
  void setSelectedSegment(long segment);
  TrackingMode trackingMode() const { return trackingMode_; }
  void setTrackingMode(TrackingMode mode) { trackingMode_ = mode; }

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  void setAction(std::function<void()> action) { action_ = std::move(action); }

  // The segment's rectangle in this view's coordinates.
  fnd::Rect frameOfSegment(long segment) const;
  long segmentAtPoint(const fnd::Point& point) const;

  void drawRect(GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  // Draws every segment without bezel or border.
  void drawInterior(GraphicsContext& context, const fnd::Rect& dirtyRect);
  virtual void drawSegment(long segment, GraphicsContext& context, const fnd::Rect& frame);

  void mouseDown(const Event& event) override;
  void mouseUp(const Event& event) override;

 private:
  struct Segment {
    Image image;
    std::string label;
    double width = 0;
    bool enabled = true;
    bool selected = false;
  };
  bool valid(long segment) const { return segment >= 0 && segment < segmentCount(); }

  std::vector<Segment> segments_;
  TrackingMode trackingMode_ = TrackingMode::SelectOne;
  bool enabled_ = true;
  long pressed_ = -1;
  std::function<void()> action_;
};

// An image's shape as a template glyph of the given size, upright: a light embossed underlay,
// then the shape filled with a vertical gradient (blue when highlighted, grey otherwise; half
// opacity when disabled) with a dark inner shadow along its upper edges.
Image templateGlyph(const Image& image, const fnd::Size& size, bool highlighted, bool enabled);

}  // namespace kesto::ui
