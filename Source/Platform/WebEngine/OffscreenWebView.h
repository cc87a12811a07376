#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Image.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto::ui {

// A web view that is never shown on screen: it loads a page at its size and draws what it shows
// into an image. Main thread only; the application object must exist (see prepareEngine).
class OffscreenWebView {
 public:
  OffscreenWebView(int width, int height);
  ~OffscreenWebView();
  OffscreenWebView(const OffscreenWebView&) = delete;
  OffscreenWebView& operator=(const OffscreenWebView&) = delete;

  // Runs when a load of the main frame ends (true when it loaded); frames inside the page do not
  // call it.
  void setMainFrameLoadHandler(std::function<void(bool loaded)> handler);
  void loadURL(const std::string& url);
  // The laid-out document: the layout's width and the content's height, in points. `done` runs
  // later, on the main thread.
  void documentSize(std::function<void(fnd::Size size)> done);
  // The part of what the view shows (top-left origin, in points), read once the page has drawn
  // (it says so), however long that takes on a loaded machine, or after 20 s at the latest; `done`
  // runs later, on the main thread.
  void snapshot(const fnd::Rect& part, std::function<void(Image image)> done);

  // The engine's switches, before the application object is made: contexts shared for its
  // compositor, no GPU, and no sandbox for root (which the sandbox refuses to run as).
  static void prepareEngine();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::ui
