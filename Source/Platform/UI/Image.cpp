#include "Platform/UI/Image.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"

#include <QBuffer>

namespace kesto::ui {

Image::Image() = default;
Image::Image(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
Image::Image(int width, int height, const Color& fill)
    : impl_(std::make_shared<Impl>(Impl{QImage(width, height, QImage::Format_ARGB32_Premultiplied)})) {
  impl_->image.fill(toQColor(fill));
}
Image::~Image() = default;
Image::Image(const Image&) = default;
Image& Image::operator=(const Image&) = default;

Image Image::fromData(const std::vector<std::uint8_t>& data) {
  QImage img;
  if (data.empty() || !img.loadFromData(data.data(), int(data.size()))) return Image();
  return Image(std::make_shared<Impl>(Impl{img}));
}

Image Image::fromFile(const std::string& path) {
  QImage img;
  if (!img.load(QString::fromStdString(path))) return Image();
  return Image(std::make_shared<Impl>(Impl{img}));
}

bool Image::isNull() const { return !impl_ || impl_->image.isNull(); }

fnd::Size Image::size() const {
  if (isNull()) return {};
  return fnd::Size{double(impl_->image.width()), double(impl_->image.height())};
}

Color Image::pixelColor(int x, int y) const {
  if (isNull() || !impl_->image.valid(x, y)) return Color::clear();
  return fromQColor(impl_->image.pixelColor(x, y));
}

std::vector<std::uint8_t> Image::encoded(const std::string& format, int quality) const {
  if (isNull()) return {};
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!impl_->image.save(&buffer, format.c_str(), quality)) return {};
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool Image::writeToFile(const std::string& path) const {
  return !isNull() && impl_->image.save(QString::fromStdString(path));
}

bool Image::operator==(const Image& other) const {
  if (isNull() || other.isNull()) return isNull() == other.isNull();
  return impl_ == other.impl_ || impl_->image == other.impl_->image;
}

}  // namespace kesto::ui
