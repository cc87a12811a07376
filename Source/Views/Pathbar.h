#pragma once

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/View.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

class Pathbar;

// One segment of a path bar; its title is its text.
class PathbarComponentCell {
 public:
  explicit PathbarComponentCell(std::string title) : title_(std::move(title)) {}
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

 private:
  std::string title_;
};

// A breadcrumb bar drawn from six named image slices over a fill. The last segment, the current
// place, is always highlighted, and so is the one being pressed; neighbouring segments overlap by
// 12 points so that the arrow-shaped end of one lies over the start of the next. A click on a
// segment sends the action to the target; the owner asks clickedPathComponentCell which one.
// Indexes outside the segments are ignored.
class Pathbar : public ui::View {
 public:
  static constexpr double kOverlap = 12.0;
  static constexpr double kTitlePadding = 6.0;

  explicit Pathbar(const fnd::Rect& frame = fnd::Rect());

  const std::vector<std::shared_ptr<PathbarComponentCell>>& pathComponentCells() const { return cells_; }
  void setPathComponentCells(std::vector<std::shared_ptr<PathbarComponentCell>> cells);
  std::vector<std::shared_ptr<PathbarComponentCell>> mutablePathComponentCells() const { return cells_; }

  void addItemWithTitle(const std::string& title);
  void insertItemWithTitle(const std::string& title, std::int64_t index);
  // The cell's index, or -1 when it is not one of this bar's.
  int indexOfComponentCell(const PathbarComponentCell* cell) const;
  void removeItemAtIndex(std::int64_t index);
  void removeLastItem();
  void removeAllItems();

  bool isFirstItem(const PathbarComponentCell* cell) const;
  bool isLastItem(const PathbarComponentCell* cell) const;
  bool isHighlighted(const PathbarComponentCell* cell) const;

  // Where each segment stands (bar coordinates), in order.
  std::vector<fnd::Rect> segmentFrames() const;
  PathbarComponentCell* clickedPathComponentCell() const { return clicked_.get(); }

  void setTarget(ui::Responder* target) { target_ = target; }
  void setAction(ui::Command command) { action_ = command; }

  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  void mouseDown(const ui::Event& event) override;
  void mouseDragged(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;

 private:
  static ui::Font titleFont();
  int segmentAt(const fnd::Point& point) const;
  void drawSegmentBackground(ui::GraphicsContext& context, const PathbarComponentCell* cell, const fnd::Rect& frame);
  void cellsChanged();

  std::vector<std::shared_ptr<PathbarComponentCell>> cells_;
  std::shared_ptr<PathbarComponentCell> pressed_;
  bool pressedInside_ = false;
  std::shared_ptr<PathbarComponentCell> clicked_;
  ui::Responder* target_ = nullptr;
  ui::Command action_;
};

}  // namespace kesto
