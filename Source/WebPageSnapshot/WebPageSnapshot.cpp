#include "WebPageSnapshot/WebPageSnapshot.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/WebEngine/OffscreenWebView.h"

#include <algorithm>

namespace kesto {

fnd::Rect WebPageSnapshot::snapshotRect(fnd::Size document) {
  return fnd::Rect(0, 0, document.width, std::min(document.height, document.width));
}

fnd::Size WebPageSnapshot::displaySize(fnd::Size document) {
  if (document.width <= 0) return fnd::Size{kDisplayWidth, 0};
  return fnd::Size{kDisplayWidth, kDisplayWidth * std::min(document.height, document.width) / document.width};
}

WebPageSnapshot::WebPageSnapshot(CompletionBlock completionBlock)
    : completionBlock_(std::move(completionBlock)),
      webView_(std::make_unique<ui::OffscreenWebView>(int(kViewSize), int(kViewSize))) {
  webView_->setMainFrameLoadHandler([this](bool) { webViewDidFinishLoadForFrame(); });
}

WebPageSnapshot::~WebPageSnapshot() = default;

void WebPageSnapshot::takeSnapshotOfWebPageAtURL(const std::string& url, CompletionBlock completionBlock) {
  std::shared_ptr<WebPageSnapshot> snapshot(new WebPageSnapshot(std::move(completionBlock)));
  snapshot->self_ = snapshot;
  snapshot->beginDownloadFromURL(url);
}

void WebPageSnapshot::beginDownloadFromURL(const std::string& url) { webView_->loadURL(url); }

void WebPageSnapshot::webViewDidFinishLoadForFrame() {
  // The block is called once: a later load of the main frame (a redirect by script) is not asked.
  if (taking_) return;
  taking_ = true;
  webView_->documentSize([this](fnd::Size document) {
    // The document is at most as wide as the view, so its top part is what the view shows.
    document.width = std::min(document.width, kViewSize);
    webView_->snapshot(snapshotRect(document), [this, document](ui::Image picture) { finish(picture, document); });
  });
}

void WebPageSnapshot::finish(const ui::Image& picture, fnd::Size document) {
  auto block = std::move(completionBlock_);
  completionBlock_ = nullptr;
  if (block) block(picture, displaySize(document));
  // Let go of ourselves from the main loop: the view's own signal may still be on the stack.
  auto self = std::move(self_);
  fnd::DispatchQueue::main().async([self] {});
}

}  // namespace kesto
