#include "App/WebRemoteImageView.h"

#include "Platform/Net/URL.h"
#include "Platform/UI/Image.h"
#include "Views/WebImageView.h"

namespace kesto {

WebRemoteImageView::WebRemoteImageView(const fnd::Rect& frame) : view_(std::make_shared<WebImageView>(frame)) {}

void WebRemoteImageView::setImageURL(const std::optional<std::string>& url) {
  std::optional<net::URL> parsed = url ? net::URL::fromString(*url) : std::nullopt;
  if (!parsed || (parsed->scheme() != "http" && parsed->scheme() != "https")) {
    // Only web addresses are loaded: a file: address must not read local files.
    view_->cancelWebImageLoad();
    return;
  }
  view_->setImageURL(*parsed);
}

void WebRemoteImageView::setImageData(const std::optional<fnd::Data>& image) {
  view_->setImage(image ? ui::Image::fromData(*image) : ui::Image());
}

void registerWebImageViews() {
  registerRemoteImageViewFactory([](double x, double y, double width, double height) -> std::shared_ptr<RemoteImageView> {
    return std::make_shared<WebRemoteImageView>(fnd::Rect(x, y, width, height));
  });
}

}  // namespace kesto
