#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Image.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

namespace ui {
class OffscreenWebView;
}

// A small picture of the top of a web page: the page is laid out in an off-screen view 1000
// points wide and tall, and once its main frame has loaded, the top W by min(H, W) of the W by H
// document (at most square) goes to the completion block, with the size to show it at: 64
// points wide. A page that never finishes loading never calls the block. Main thread.
class WebPageSnapshot {
 public:
  using CompletionBlock = std::function<void(const ui::Image& image, fnd::Size displaySize)>;
  static constexpr double kViewSize = 1000.0;
  static constexpr double kDisplayWidth = 64.0;

  // The snapshot keeps itself until its block has been called.
  static void takeSnapshotOfWebPageAtURL(const std::string& url, CompletionBlock completionBlock);

  // The part of a W by H document taken: from its top, W by min(H, W).
  static fnd::Rect snapshotRect(fnd::Size document);
  // Its display size: 64 by 64 * min(H, W) / W.
  static fnd::Size displaySize(fnd::Size document);

  ~WebPageSnapshot();

 private:
  explicit WebPageSnapshot(CompletionBlock completionBlock);
  void beginDownloadFromURL(const std::string& url);
  void webViewDidFinishLoadForFrame();
  void finish(const ui::Image& picture, fnd::Size document);

  CompletionBlock completionBlock_;
  std::unique_ptr<ui::OffscreenWebView> webView_;
  std::shared_ptr<WebPageSnapshot> self_;
  bool taking_ = false;
};

}  // namespace kesto
