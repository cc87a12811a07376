#pragma once

#include "Platform/UI/Image.h"

#include <QImage>

namespace kesto::ui {
struct Image::Impl {
  QImage image;
};
}  // namespace kesto::ui
