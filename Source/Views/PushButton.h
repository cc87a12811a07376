#pragma once

#include "Platform/UI/Image.h"
#include "Views/PressableView.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

// A push button with a title and an optional image, drawn by the view itself; flipped.
class PushButton : public PressableView {
 public:
  explicit PushButton(const fnd::Rect& frame = fnd::Rect());
  // A button showing the named image, with its tool tip, added to `parent` (a bar's buttons).
  static std::shared_ptr<PushButton> addImageButton(ui::View& parent, const fnd::Rect& frame, const std::string& image,
                                                    const std::string& toolTip);
  bool isFlipped() const override { return true; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);
  const std::string& imageName() const { return imageName_; }
  void setImageNamed(const std::string& name);
  // An image of its own in place of the named one (until the next setImageNamed).
  void setImage(const ui::Image& image);
  const ui::Image& image() const { return image_; }
  // A picture button: the image fills the button, keeping its proportions (a thumbnail).
  void setImageFills(bool fills) { imageFills_ = fills; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  void setAction(std::function<void()> action) { action_ = std::move(action); }
  // Runs the action as a click would (nothing when disabled or hidden).
  void performClick() override;
  bool acceptsFirstMouse(const ui::Event&) override { return true; }
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 protected:
  bool acceptsPress() const override { return enabled_; }

 private:
  std::string title_;
  std::string imageName_;
  ui::Image image_;
  bool enabled_ = true;
  bool imageFills_ = false;
  std::function<void()> action_;
};

}  // namespace kesto
