#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/Foundation/Value.h"
#include "Platform/UI/Color.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class GraphicsContext;

// A bitmap image (shared, copy-on-write). Sizes are in pixels, which equal points here. Artwork
// (named images and theme icons) is drawn afresh at the pixel size it covers, so it stays sharp.
class Image {
 public:
  Image();
  Image(int width, int height, const Color& fill = Color::clear());
  ~Image();
  Image(const Image&);
  Image& operator=(const Image&);

  // Bytes as in fnd::Data.
  static Image fromData(const std::vector<std::uint8_t>& data);
  // Makes these codecs fnd::transcodeToPNG's (the application's start does it).
  static void installPNGTranscoder();
  static Image fromFile(const std::string& path);
  // The application's image by name: the desktop icon theme's icon where the name stands for a
  // standard one, otherwise the application's own drawing. A null image for an unknown name.
  // Names ending in "_selected" give the highlighted look of the image without the suffix.
  static Image named(const std::string& name);
  // An icon of the desktop's icon theme by name, or an image file by absolute path (as desktop
  // entries give them); null when there is none.
  static Image iconNamed(const std::string& nameOrPath);
  // A bitmap from rows of red, green, blue and alpha bytes (not premultiplied), `width` * 4 bytes
  // a row; null when the bytes do not fill it.
  static Image fromRGBA(int width, int height, const std::vector<std::uint8_t>& bytes);
  // An image of `size` points drawn by `draw` (unflipped: y grows upwards) at whatever pixel size
  // it is drawn at, so it stays sharp when scaled.
  static Image drawn(const fnd::Size& size, std::function<void(GraphicsContext&)> draw);

  bool isNull() const;
  fnd::Size size() const;
  Color pixelColor(int x, int y) const;
  // The image made small enough to fit `width` x `height` pixels, its proportions kept and
  // smoothed; itself when it fits already.
  Image scaledToFit(int width, int height) const;
  // PNG (the default) or "jpg" bytes; empty on failure.
  std::vector<std::uint8_t> encoded(const std::string& format = "png", int quality = -1) const;
  bool writeToFile(const std::string& path) const;
  bool operator==(const Image& other) const;

  struct Impl;
  explicit Image(std::shared_ptr<Impl> impl);

 private:
  friend struct ImplAccess;
  Impl* impl() const { return impl_.get(); }
  std::shared_ptr<Impl> impl_;
};

// An image carried in a Value (a decoded response body, for one).
class ImageObject final : public fnd::Object {
 public:
  explicit ImageObject(Image image) : image_(std::move(image)) {}
  const Image& image() const { return image_; }

 private:
  Image image_;
};

}  // namespace kesto::ui
