#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Net/URL.h"
#include "Platform/UI/View.h"

#include <memory>
#include <optional>

namespace kesto {

class WebImageDownloadRequest;
class WebImageView;

// Every message optional.
class WebImageViewDelegate {
 public:
  virtual ~WebImageViewDelegate() = default;
  virtual void imageViewDownloadImageSuccessed(WebImageView& view, const ui::Image& image, const fnd::Data& data) {}
  virtual void imageViewDownloadImageFailed(WebImageView& view) {}
};

// An image view that loads its picture from a URL, one load at a time. The image is drawn
// stretched over the bounds. A failed load keeps the image shown (the caller's placeholder).
class WebImageView : public ui::View {
 public:
  explicit WebImageView(const fnd::Rect& frame = fnd::Rect());
  ~WebImageView() override;

  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image);

  // Cancels the load in flight and starts one for `url`; a cache hit shows before returning. A
  // load of the same URL in flight goes on.
  void setImageURL(const net::URL& url);
  // The URL of the load in flight.
  std::optional<net::URL> imageURL() const;
  // Cancels and forgets the load in flight; the image shown stays.
  void cancelWebImageLoad();
  const std::shared_ptr<WebImageDownloadRequest>& imageRequest() const { return imageRequest_; }

  // Not owned; whoever sets it clears it.
  WebImageViewDelegate* webCacheDelegate() const { return webCacheDelegate_; }
  void setWebCacheDelegate(WebImageViewDelegate* delegate) { webCacheDelegate_ = delegate; }

  bool wantsUpdateLayer() const override { return true; }
  void updateLayer() override;

 private:
  void detach();
  struct Receiver;
  friend struct Receiver;
  ui::Image image_;
  std::shared_ptr<WebImageDownloadRequest> imageRequest_;
  std::unique_ptr<Receiver> receiver_;
  WebImageViewDelegate* webCacheDelegate_ = nullptr;
};

// Image helpers.
namespace imageadditions {
// A new image of exactly `size` with the whole image scaled into it (main thread).
ui::Image resizeImage(const ui::Image& image, const fnd::Size& size);
// JPEG bytes at quality 60; empty for a null image.
fnd::Data compressImage(const ui::Image& image);
// Writes compressImage's bytes to `path`; false when nothing could be written.
bool saveAsJpegWithName(const ui::Image& image, const std::string& path);
}  // namespace imageadditions

}  // namespace kesto
