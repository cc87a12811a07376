#pragma once

#include "Platform/UI/Control.h"
#include "Platform/UI/Image.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto::ui {

// A button on the toolkit's own buttons. Push buttons run their action on a click; on/off
// buttons, check boxes and radio buttons also flip their state (radio buttons sharing a
// superview turn each other off); image buttons show only their image, flat.
// An on/off or image button shows its image while on and its alternate image while off.
class Button : public Control {
 public:
  enum class Kind { Push, OnOff, Checkbox, Radio, Image };
  explicit Button(const fnd::Rect& frame = fnd::Rect(), Kind kind = Kind::Push);

  Kind kind() const { return kind_; }
  std::string title() const;
  void setTitle(const std::string& title);
  // The title's colour; absent: the desktop's control text colour.
  std::optional<Color> titleColor() const { return titleColor_; }
  void setTitleColor(std::optional<Color> color);
  const Image& image() const { return image_; }
  void setImage(const Image& image);
  const Image& alternateImage() const { return alternateImage_; }
  void setAlternateImage(const Image& image);

  // 1 on, 0 off.
  int state() const;
  void setState(int state);
  // True while the button is held down.
  bool isHighlighted() const;
  // Clicks it as the user would (nothing while disabled).
  void performClick();

 private:
  void showImage();
  Kind kind_;
  std::optional<Color> titleColor_;
  Image image_;
  Image alternateImage_;
};

// A push button titled `title` that runs `action` on a click, added to `parent`: the shape of
// nearly every dialog and panel button.
std::shared_ptr<Button> addPushButton(View& parent, const fnd::Rect& frame, const std::string& title,
                                      std::function<void()> action = nullptr);

}  // namespace kesto::ui
