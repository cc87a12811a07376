#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

#include <functional>

namespace kesto {

// An icon button on a black ground: on it shows its image, off its alternate image, and while
// pressed always its image with a blue glow. A click flips the state and runs the action.
class BlackCell : public ui::View {
 public:
  using ui::View::View;
  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image);
  const ui::Image& alternateImage() const { return alternateImage_; }
  void setAlternateImage(const ui::Image& image);
  int state() const { return state_; }
  void setState(int state);
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted);
  void setAction(std::function<void()> action) { action_ = std::move(action); }

  // The image drawn now.
  const ui::Image& displayedImage() const;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  bool acceptsFirstMouse(const ui::Event&) override { return true; }
  void mouseDown(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;

 private:
  ui::Image image_;
  ui::Image alternateImage_;
  int state_ = 0;
  bool highlighted_ = false;
  std::function<void()> action_;
};

}  // namespace kesto
