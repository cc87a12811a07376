#pragma once

#include "Model/RemoteImageView.h"

#include <memory>
#include <optional>
#include <string>

namespace kesto::test {

// A thumbnail view that remembers what the library core told it. install() registers it as
// the core's thumbnail view for the rest of the test.
class RecordingImageView : public RemoteImageView {
 public:
  void setImageURL(const std::optional<std::string>& url) override { imageURL = url; }
  void setImageData(const std::optional<fnd::Data>& image) override { imageData = image; }
  std::optional<std::string> imageURL;
  std::optional<fnd::Data> imageData;
  double x = 0, y = 0, width = 0, height = 0;

  static void install() {
    registerRemoteImageViewFactory([](double x, double y, double width, double height) {
      auto view = std::make_shared<RecordingImageView>();
      view->x = x;
      view->y = y;
      view->width = width;
      view->height = height;
      return std::static_pointer_cast<RemoteImageView>(view);
    });
  }
};

}  // namespace kesto::test
