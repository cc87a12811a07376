// Another program's window to drag links from in end-to-end tests: a window titled
// "KestoLinkSource" whose whole area starts a drag of the link given as the first argument (with
// its address as plain text too, as browsers offer it). It prints the operation the drop
// target answered and quits once the drag has ended.
#include "Platform/UI/Application.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace kesto;

class LinkSource : public ui::View {
 public:
  LinkSource(const fnd::Rect& frame, std::string url) : ui::View(frame), url_(std::move(url)) {}
  void mouseDown(const ui::Event&) override {}
  void mouseDragged(const ui::Event&) override {
    if (started_) return;
    started_ = true;
    ui::PasteboardItem item;
    item.setURL(url_, "A dragged page");
    item.setString(url_);
    unsigned done = ui::beginDraggingSession(*this, {item}, ui::Image::named("drag_thumbnail"), fnd::Point{32, 24});
    std::printf("drag ended: %u\n", done);
    std::fflush(stdout);
    ui::Application::postToMain([] { ui::Application::shared().terminate(); });
  }

 private:
  std::string url_;
  bool started_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s URL\n", argv[0]);
    return 2;
  }
  const std::string url = argv[1];
  std::unique_ptr<ui::Window> window;
  return ui::applicationMain(argc, argv, [&]() -> std::optional<int> {
    window = std::make_unique<ui::Window>(fnd::Rect(40, 40, 260, 160));
    window->setTitle("KestoLinkSource");
    auto source = std::make_shared<LinkSource>(fnd::Rect(0, 0, 260, 160), url);
    source->setBackgroundColor(ui::Color::rgb(0.95, 0.8, 0.4));
    window->contentView()->addSubview(source);
    window->makeKeyAndOrderFront();
    return std::nullopt;
  }, [&] { window.reset(); });
}
