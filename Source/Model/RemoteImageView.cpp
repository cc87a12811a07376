#include "Model/RemoteImageView.h"

#include <mutex>

namespace kesto {

namespace {

std::mutex gFactoryMutex;
RemoteImageViewFactory& imageViewFactory() {
  static RemoteImageViewFactory f;
  return f;
}

// Stands in until the application registers its views: there is nothing to show on.
class DetachedImageView : public RemoteImageView {
 public:
  void setImageURL(const std::optional<std::string>&) override {}
  void setImageData(const std::optional<fnd::Data>&) override {}
};

}  // namespace

void registerRemoteImageViewFactory(RemoteImageViewFactory factory) {
  std::lock_guard lock(gFactoryMutex);
  imageViewFactory() = std::move(factory);
}

std::shared_ptr<RemoteImageView> makeRemoteImageView(double x, double y, double width, double height) {
  RemoteImageViewFactory factory;
  {
    std::lock_guard lock(gFactoryMutex);
    factory = imageViewFactory();
  }
  if (factory) return factory(x, y, width, height);
  return std::make_shared<DetachedImageView>();
}

}  // namespace kesto
