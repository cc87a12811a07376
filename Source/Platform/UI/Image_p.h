#pragma once

#include "Platform/UI/Image.h"

#include <QImage>
#include <QSize>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace kesto::ui {
struct Image::Impl {
  QImage image;
  // Artwork that can be drawn afresh at any pixel size (theme icons, our drawings): drawing it
  // renders it at the size it covers on the device, so it stays sharp at every scale.
  std::function<QImage(const QSize& pixels)> source = {};
  // Renderings by pixel size, shared by the copies of the image.
  struct Renders {
    std::mutex mutex;
    std::map<std::pair<int, int>, QImage> bySize;
  };
  std::shared_ptr<Renders> renders = std::make_shared<Renders>();

  // The image to draw at `pixels`: the source's rendering, or the bitmap itself.
  QImage atPixelSize(const QSize& pixels) const;
  // The bitmap at exactly `pixels`, scaled as a painter stretching it without smoothing would
  // (kept, so a view drawn again and again at the same size scales it once); artwork is
  // rendered at that size.
  QImage scaledTo(const QSize& pixels) const;
};
}  // namespace kesto::ui
