// The clipboard and drag and drop with other X clients (run through
// Tests/Harness/e2e/exchange.sh); skipped offscreen.
#include "Harness/TestSupport.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"
#include "TestPasteboard.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace kesto;
using namespace kesto::ui;

namespace {

using test::linkItem;

bool underX11() { return QGuiApplication::platformName() == "xcb" && std::getenv("KESTO_E2E"); }

using test::runServing;
using test::screenshotCommand;

void screenshot(const std::string& name) { runServing(screenshotCommand(name)); }

struct DragSource : View {
  using View::View;
  std::vector<PasteboardItem> items;
  unsigned result = 1000;
  void mouseDown(const Event&) override {}
  void mouseDragged(const Event&) override {
    if (result != 1000) return;
    result = DragOperation::None;
    result = beginDraggingSession(*this, items, Image::named("drag_thumbnail"), fnd::Point{32, 24});
  }
};

struct DropTarget : View, DraggingDestination {
  using View::View;
  std::vector<std::string> urls;
  unsigned mask = 0;
  int entered = 0;
  bool fromThisApplication = false;
  View* source = nullptr;
  unsigned draggingEntered(const DraggingInfo& info) override {
    ++entered;
    setBackgroundColor(Color::rgb(0.3, 0.6, 1.0));
    return DragOperation::Copy;
  }
  void draggingExited(const DraggingInfo*) override { setBackgroundColor(Color::white(0.8)); }
  bool performDragOperation(const DraggingInfo& info) override {
    urls = info.draggingPasteboard().URLs();
    mask = info.draggingSourceOperationMask();
    fromThisApplication = info.fromThisApplication;
    source = info.draggingSource();
    setBackgroundColor(Color::rgb(0.2, 0.7, 0.3));
    return true;
  }
};

}  // namespace

TEST(X11Exchange, URLsCopyAndPasteBetweenKestoAndXclip) {
  if (!underX11()) GTEST_SKIP() << "needs the end-to-end X session";
  Window window(fnd::Rect(100, 300, 300, 200));
  window.setTitle("KestoClipboardProbe");
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(test::runUntil([&] { return window.isVisible(); }, 5));
  // Out: another client reads what we copied, in the formats browsers and editors ask for.
  ASSERT_TRUE(Pasteboard::general().writeObjects({linkItem("https://example.org/copied?a=1", "Copied page")}));
  auto [listStatus, list] = runServing("xclip -o -selection clipboard -t text/uri-list");
  EXPECT_EQ(listStatus, 0);
  EXPECT_EQ(list, "https://example.org/copied?a=1\r\n");
  auto [textStatus, text] = runServing("xclip -o -selection clipboard -t UTF8_STRING");
  EXPECT_EQ(textStatus, 0);
  EXPECT_EQ(text, "https://example.org/copied?a=1");
  auto [targetsStatus, targets] = runServing("xclip -o -selection clipboard -t TARGETS");
  EXPECT_NE(targets.find("_NETSCAPE_URL"), std::string::npos) << targets;
  // In: what xclip holds reads back as a URL.
  auto [inStatus, ignored] = runServing("sh -c 'printf \"https://from.xclip.example/p\\r\\n\" | xclip -selection clipboard -t text/uri-list -i >/dev/null 2>&1'");
  EXPECT_EQ(inStatus, 0);
  // We hear that we lost the clipboard through the event loop.
  const std::vector<std::string> expected{"https://from.xclip.example/p"};
  ASSERT_TRUE(test::runUntil([&] { return Pasteboard::general().URLs() == expected; }, 5));
  EXPECT_EQ(Pasteboard::general().stringForType(PasteboardType::String), "https://from.xclip.example/p");
  // Taking the clipboard back lets the background xclip go.
  Pasteboard::general().clearContents();
}

TEST(X11Exchange, ARealDragCarriesALinkFromOneWindowToAnother) {
  if (!underX11()) GTEST_SKIP() << "needs the end-to-end X session";
  Window from(fnd::Rect(60, 300, 300, 200)), to(fnd::Rect(600, 300, 300, 200));
  from.setTitle("KestoDragSource");
  to.setTitle("KestoDropTarget");
  auto source = std::make_shared<DragSource>(fnd::Rect(0, 0, 300, 200));
  source->setBackgroundColor(Color::rgb(0.95, 0.8, 0.4));
  source->items = {linkItem("https://example.org/dragged", "Dragged page")};
  from.contentView()->addSubview(source);
  auto target = std::make_shared<DropTarget>(fnd::Rect(0, 0, 300, 200));
  target->setBackgroundColor(Color::white(0.8));
  target->registerForDraggedTypes({PasteboardType::URL});
  to.contentView()->addSubview(target);
  from.makeKeyAndOrderFront();
  to.orderFront();
  ASSERT_TRUE(test::runUntil([&] { return from.isVisible() && to.isVisible(); }, 5));
  test::spin(0.5);
  std::string find = "$(xdotool search --sync --onlyvisible --name ";
  const std::string script =
      "src=" + find + "KestoDragSource | head -n1); dst=" + find + "KestoDropTarget | head -n1); "
      "xdotool mousemove --window $src 150 100 mousedown 1 sleep 0.2 mousemove_relative 20 0 sleep 0.2 "
      "mousemove_relative 20 0 sleep 0.3 mousemove --window $dst 100 100 sleep 0.3 keydown ctrl "
      "mousemove --window $dst 150 110 sleep 0.3 mousemove --window $dst 160 110 sleep 0.5; " +
      screenshotCommand("drag-over-target") + "; xdotool mouseup 1 sleep 0.2 keyup ctrl";
  auto [status, out] = runServing("sh -c " + test::shellQuoted(script));
  // The drag runs its own event loop inside the source's mouseDragged; all input comes from
  // this one command, which ends with the drop.
  EXPECT_EQ(status, 0) << out;
  ASSERT_TRUE(test::runUntil([&] { return !target->urls.empty(); }, 5));
  EXPECT_EQ(target->urls, std::vector<std::string>{"https://example.org/dragged"});
  EXPECT_GE(target->entered, 1);
  // Ctrl held at the drop narrows the source's operations to copying.
  EXPECT_EQ(target->mask, DragOperation::Copy);
  // The drag began in this program, in the source view: a list would not add it again.
  EXPECT_TRUE(target->fromThisApplication);
  EXPECT_EQ(target->source, source.get());
  ASSERT_TRUE(test::runUntil([&] { return source->result != DragOperation::None; }, 5));
  EXPECT_EQ(source->result, DragOperation::Copy);
  test::spin(0.3);
  screenshot("drag-dropped");
}
