#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Color.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Path.h"

#include <memory>
#include <string>

namespace kesto::ui {

enum class TextAlignment { Left, Center, Right };
// Where text too wide for its rectangle loses characters for the ellipsis.
enum class TextTruncation { End, Middle };

struct Font {
  std::string family;  // empty: the system font
  double pointSize = 13.0;
  bool bold = false;
  bool italic = false;
};

// Drawing in a view's own coordinates (the context applies the view's flipping), over the
// toolkit's painter. Text and images are always drawn upright.
class GraphicsContext {
 public:
  ~GraphicsContext();
  GraphicsContext(const GraphicsContext&) = delete;
  GraphicsContext& operator=(const GraphicsContext&) = delete;

  void saveState();
  void restoreState();
  void setFillColor(const Color& color);
  void setStrokeColor(const Color& color);
  void fillRect(const fnd::Rect& rect);  // with the fill colour, replacing what is under it
  void frameRect(const fnd::Rect& rect, double lineWidth = 1.0);
  void fillPath(const Path& path);
  void strokePath(const Path& path);
  void fillGradient(const Gradient& gradient, const fnd::Rect& rect, double angleDegrees = 90.0);
  // Fills `path` with `image` repeated as a pattern (composited over what is there), its tiles
  // starting at `phase`: a texture.
  void fillPathWithPattern(const Path& path, const Image& image, const fnd::Point& phase = fnd::Point());
  void drawImage(const Image& image, const fnd::Rect& rect, double alpha = 1.0);
  void drawText(const std::string& text, const fnd::Rect& rect, const Font& font,
                const Color& color, TextAlignment alignment = TextAlignment::Left,
                TextTruncation truncation = TextTruncation::End);
  static fnd::Size sizeOfText(const std::string& text, const Font& font);
  // The start of `text` that can show on `lines` lines of `width` points (no drawn character is
  // narrower than a point), ended with an ellipsis when cut; the whole text when it is short.
  // Drawing and eliding a long text (a title from a crafted file) then never measure the rest.
  static std::string prefixThatCanShow(const std::string& text, double width, std::size_t lines = 1);
  void clipToRect(const fnd::Rect& rect);
  void clipToPath(const Path& path);
  // A shadow under everything filled until the state is restored.
  void setShadow(const fnd::Size& offset, double blurRadius, const Color& color);
  void clearShadow();
  bool isFlipped() const { return flipped_; }

  struct Impl;
  GraphicsContext(Impl* impl, bool flipped, double height);

 private:
  Impl* impl_;
  bool flipped_;
  double height_;
};

}  // namespace kesto::ui
