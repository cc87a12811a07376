#include "Platform/WebEngine/OffscreenWebView.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/UI/Image_p.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

#include <vector>

namespace kesto::ui {

namespace {
// Before the page is read back, it has drawn: asked of the page itself, which marks the second
// animation frame after the request (its first frame with the loaded page is then done). A fixed
// wait alone is too short on a loaded machine, where the first frame can take seconds. A page
// that never draws (no animation frames) is read back after the longest wait.
constexpr const char* kMarkDrawnScript =
    "window.kestoFramesDrawn = false;"
    "requestAnimationFrame(function () {"
    "  requestAnimationFrame(function () { window.kestoFramesDrawn = true; });"
    "});";
constexpr const char* kDrawnScript = "window.kestoFramesDrawn === true";
constexpr int kDrawnPollMs = 50;
constexpr int kLongestDrawWaitMs = 20000;
// Then time for the drawn frame to reach the view.
constexpr int kDrawDelayMs = 200;
// The document's box: the layout's width, and the content's height (in standards mode the root
// element is as tall as its content; a body taller than it counts too).
constexpr const char* kDocumentSizeScript =
    "[document.documentElement.scrollWidth,"
    " Math.ceil(Math.max(document.documentElement.getBoundingClientRect().height,"
    "                    document.body ? document.body.getBoundingClientRect().bottom : 0))]";
// Every view still there. The engine must see each page go before its profile does, or it can stall
// while the program exits; a snapshot still in flight, or a deletion still waiting for the main loop
// when the program quits without turning it again, would otherwise leave one behind.
std::vector<QPointer<QWebEngineView>>& liveViews() {
  static std::vector<QPointer<QWebEngineView>> views;
  return views;
}

void deleteLiveViews() {
  auto views = std::move(liveViews());
  for (auto& view : views) delete view.data();
}

// Clean-up routines run last registered first. The engine and the scene graph that draws a view
// register theirs when they start, which a view's page, its showing and its first drawing do:
// registering ours again after each of those keeps the views' deletion ahead of them all.
void deleteViewsFirstAtExit() {
  qRemovePostRoutine(deleteLiveViews);
  qAddPostRoutine(deleteLiveViews);
}

void keepTrackOf(QWebEngineView* view) {
  deleteViewsFirstAtExit();
  auto& views = liveViews();
  std::erase_if(views, [](const QPointer<QWebEngineView>& gone) { return gone.isNull(); });
  views.emplace_back(view);
}
}  // namespace

struct OffscreenWebView::Impl {
  QPointer<QWebEngineView> view;
  std::function<void(bool)> loaded;
};

OffscreenWebView::OffscreenWebView(int width, int height) : d_(std::make_unique<Impl>()) {
  KESTO_ASSERT_MAIN_THREAD();
  d_->view = new QWebEngineView;
  d_->view->setAttribute(Qt::WA_DontShowOnScreen);
  // The picture is of the page, not of the view's scroll bars.
  d_->view->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
  d_->view->resize(width, height);
  d_->view->show();
  keepTrackOf(d_->view);
  QObject::connect(d_->view, &QWebEngineView::loadFinished, d_->view, [impl = d_.get()](bool ok) {
    if (impl->loaded) impl->loaded(ok);
  });
}

OffscreenWebView::~OffscreenWebView() {
  // The view may be inside one of its own signals: the toolkit deletes it when that is over, or at
  // exit at the latest.
  if (d_->view) d_->view->deleteLater();
}

void OffscreenWebView::setMainFrameLoadHandler(std::function<void(bool)> handler) {
  KESTO_ASSERT_MAIN_THREAD();
  d_->loaded = std::move(handler);
}

void OffscreenWebView::loadURL(const std::string& url) {
  KESTO_ASSERT_MAIN_THREAD();
  d_->view->load(QUrl(QString::fromStdString(url)));
}

void OffscreenWebView::documentSize(std::function<void(fnd::Size)> done) {
  KESTO_ASSERT_MAIN_THREAD();
  QPointer<QWebEngineView> view = d_->view;
  d_->view->page()->runJavaScript(kDocumentSizeScript, [view, done = std::move(done)](const QVariant& result) {
    if (!view) return;
    const auto values = result.toList();
    fnd::Size size{double(view->width()), double(view->height())};
    if (values.size() == 2) size = fnd::Size{values[0].toDouble(), values[1].toDouble()};
    done(size);
  });
}

namespace {
// Asks the page every kDrawnPollMs whether it has drawn, until it has or `deadline` passed, then
// runs `then` (unless the view went meanwhile). Scripts run in a world of their own, out of the
// page's way.
void whenDrawn(QPointer<QWebEngineView> view, QDeadlineTimer deadline, std::function<void()> then) {
  if (!view) return;
  if (deadline.hasExpired()) return then();
  view->page()->runJavaScript(kDrawnScript, QWebEngineScript::ApplicationWorld,
                              [view, deadline, then = std::move(then)](const QVariant& drawn) mutable {
                                if (!view) return;
                                if (drawn.toBool()) return then();
                                QTimer::singleShot(kDrawnPollMs, view, [view, deadline, then = std::move(then)] {
                                  whenDrawn(view, deadline, then);
                                });
                              });
}
}  // namespace

void OffscreenWebView::snapshot(const fnd::Rect& part, std::function<void(Image)> done) {
  KESTO_ASSERT_MAIN_THREAD();
  QPointer<QWebEngineView> view = d_->view;
  const QRect rect(int(part.origin.x), int(part.origin.y), int(part.width()), int(part.height()));
  auto read = [view, rect, done = std::move(done)] {
    QTimer::singleShot(kDrawDelayMs, view, [view, rect, done] {
      if (!view) return;
      deleteViewsFirstAtExit();
      done(Image(std::make_shared<Image::Impl>(Image::Impl{view->grab(rect).toImage()})));
    });
  };
  view->page()->runJavaScript(kMarkDrawnScript, QWebEngineScript::ApplicationWorld);
  whenDrawn(view, QDeadlineTimer(kLongestDrawWaitMs), std::move(read));
}

void OffscreenWebView::prepareEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  flags += " --disable-gpu";
  if (geteuid() == 0) flags += " --no-sandbox";
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

}  // namespace kesto::ui
