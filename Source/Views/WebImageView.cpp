#include "Views/WebImageView.h"

#include "Platform/Foundation/FileManager.h"
#include "Views/ImageMemoryCache.h"
#include "Views/WebImageDownloadRequest.h"

namespace kesto {

struct WebImageView::Receiver : WebImageDownloadRequestDelegate {
  WebImageView* view;
  explicit Receiver(WebImageView* v) : view(v) {}

  unsigned webImageDownloadRequestCapabilities() const override { return ReceivesSuccess | ReceivesFailure; }

  void webImageDownloadRequestDownloadSuccessedWithData(WebImageDownloadRequest& request, const fnd::Data& data,
                                                        bool) override {
    if (view->imageRequest_.get() != &request) return;  // a superseded load
    auto keep = view->weak_from_this().lock();  // the delegate may let the view go
    if (!data.empty()) {
      // A picture shown before (the list scrolled back to it) is not decoded again.
      ui::Image image = ImageMemoryCache::webImages().imageForData(request.URLString(), data);
      view->setImage(image);
      if (view->webCacheDelegate_) view->webCacheDelegate_->imageViewDownloadImageSuccessed(*view, image, data);
    } else if (view->webCacheDelegate_) {
      view->webCacheDelegate_->imageViewDownloadImageFailed(*view);
    }
    view->detach();
  }

  void webImageDownloadRequestFailedWithError(WebImageDownloadRequest& request, const fnd::Error&) override {
    if (view->imageRequest_.get() != &request) return;
    auto keep = view->weak_from_this().lock();  // the delegate may let the view go
    if (view->webCacheDelegate_) view->webCacheDelegate_->imageViewDownloadImageFailed(*view);
    view->detach();
  }
};

WebImageView::WebImageView(const fnd::Rect& frame) : ui::View(frame), receiver_(std::make_unique<Receiver>(this)) {}

WebImageView::~WebImageView() { cancelWebImageLoad(); }

void WebImageView::setImage(const ui::Image& image) {
  image_ = image;
  setLayerContents(image);
  setNeedsDisplay();
}

void WebImageView::updateLayer() {}

void WebImageView::detach() {
  if (!imageRequest_) return;
  auto request = std::move(imageRequest_);
  imageRequest_.reset();
  request->setDelegate(nullptr);
}

void WebImageView::setImageURL(const net::URL& url) {
  // A list refreshes its cells many times while a new bookmark is filled in: the load already
  // under way for the same picture goes on, instead of a new request to the same address each time.
  if (imageRequest_ && imageRequest_->URLString() == url.absoluteString()) return;
  cancelWebImageLoad();
  auto request = WebImageDownloadRequest::requestWithURL(url);
  request->setDelegate(receiver_.get());
  imageRequest_ = request;
  request->start();
}

std::optional<net::URL> WebImageView::imageURL() const {
  if (!imageRequest_) return std::nullopt;
  return imageRequest_->URL();
}

void WebImageView::cancelWebImageLoad() {
  if (!imageRequest_) return;
  imageRequest_->cancel();
  detach();
}

namespace imageadditions {

ui::Image resizeImage(const ui::Image& image, const fnd::Size& size) {
  auto canvas = std::make_shared<ui::View>(fnd::Rect(0, 0, size.width, size.height));
  canvas->setLayerContents(image);
  return canvas->snapshot();
}

fnd::Data compressImage(const ui::Image& image) {
  if (image.isNull()) return {};
  return image.encoded("jpg", 60);
}

bool saveAsJpegWithName(const ui::Image& image, const std::string& path) {
  fnd::Data data = compressImage(image);
  if (data.empty()) return false;
  return fnd::FileManager::writeFile(path, data, false);
}

}  // namespace imageadditions

}  // namespace kesto
