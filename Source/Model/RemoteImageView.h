#pragma once

#include "Platform/Foundation/Value.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

// An image view that loads its picture from a URL (the bookmark thumbnail view). The library
// core makes them through the registered factory; the application registers one that makes
// real views at start-up.
class RemoteImageView {
 public:
  virtual ~RemoteImageView() = default;
  // Cancels the running load and starts one for `url` (nothing: just cancels).
  virtual void setImageURL(const std::optional<std::string>& url) = 0;
  // Shows encoded image data directly (nothing clears the view).
  virtual void setImageData(const std::optional<fnd::Data>& image) = 0;
};

// Makes the thumbnail image views; until one is registered the views show nothing.
using RemoteImageViewFactory = std::function<std::shared_ptr<RemoteImageView>(double x, double y, double width, double height)>;
void registerRemoteImageViewFactory(RemoteImageViewFactory factory);
std::shared_ptr<RemoteImageView> makeRemoteImageView(double x, double y, double width, double height);

}  // namespace kesto
