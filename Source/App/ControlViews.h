#pragma once

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/View.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// The few plain controls the main window needs until the styled controls arrive: a text
// label, an image box and a push button. All are flipped (text reads top down).

// A plain container whose subviews are placed top down.
class FlippedView : public ui::View {
 public:
  using ui::View::View;
  bool isFlipped() const override { return true; }
};

class TextLabel : public ui::View {
 public:
  explicit TextLabel(const fnd::Rect& frame = fnd::Rect());
  bool isFlipped() const override { return true; }
  const std::string& stringValue() const { return text_; }
  void setStringValue(const std::string& text);
  void setFont(const ui::Font& font);
  void setTextColor(const ui::Color& color);
  void setAlignment(ui::TextAlignment alignment);
  // A wrapping label breaks its text into lines that fit its width (at spaces and slashes, or
  // anywhere in a word too long for a line); the last line that fits its height is cut short.
  void setWraps(bool wraps);
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

  // The lines `text` takes at `width` in `font`; joined they give the text back.
  static std::vector<std::string> wrappedLines(const std::string& text, double width, const ui::Font& font);
  // The height of one line of `font`.
  static double lineHeight(const ui::Font& font);

 private:
  bool wraps_ = false;
  std::string text_;
  ui::Font font_;
  ui::Color color_ = ui::Color::white(0.1);
  ui::TextAlignment alignment_ = ui::TextAlignment::Left;
};

class ImageBox : public ui::View {
 public:
  explicit ImageBox(const fnd::Rect& frame = fnd::Rect());
  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image);
  // The name of the image shown (empty for none), as the cells and buttons set it.
  const std::string& imageName() const { return imageName_; }
  void setImageNamed(const std::string& name);
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  ui::Image image_;
  std::string imageName_;
};

class PushButton : public ui::View {
 public:
  explicit PushButton(const fnd::Rect& frame = fnd::Rect());
  bool isFlipped() const override { return true; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);
  const std::string& imageName() const { return imageName_; }
  void setImageNamed(const std::string& name);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  void setAction(std::function<void()> action) { action_ = std::move(action); }
  // Runs the action as a click would (nothing when disabled or hidden).
  void performClick();
  bool acceptsFirstMouse(const ui::Event&) override { return true; }
  void mouseDown(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  std::string title_;
  std::string imageName_;
  bool enabled_ = true;
  bool pressed_ = false;
  std::function<void()> action_;
};

// Images by the names the interface uses (the interface layer's artwork); unknown names give a
// null image.
ui::Image imageNamed(const std::string& name);

}  // namespace kesto
