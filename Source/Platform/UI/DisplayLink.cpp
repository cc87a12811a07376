#include "Platform/UI/DisplayLink.h"

#include "Platform/UI/Screen.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kesto::ui {

namespace {
bool manualMode = false;
std::vector<DisplayLink::Impl*>& runningLinks() {
  static std::vector<DisplayLink::Impl*> links;
  return links;
}
}  // namespace

struct DisplayLink::Impl {
  std::function<void()> callback;
  QTimer* timer = nullptr;
  bool running = false;
  int display = 0;

  int intervalMs() const {
    Screen s(display);
    double rate = s.isValid() ? s.refreshRate() : 60.0;
    return std::max(1, int(std::lround(1000.0 / rate)));
  }
  void fire() {
    if (!running) return;
    // Copy: the callback may stop or destroy the link.
    auto cb = callback;
    if (cb) qtbridge::guarded("display link", cb);
  }
};

DisplayLink::DisplayLink() : d_(std::make_unique<Impl>()) {
  d_->display = Screen::primary().number();
}

DisplayLink::~DisplayLink() {
  stop();
  delete d_->timer;
}

void DisplayLink::setOutputCallback(std::function<void()> callback) { d_->callback = std::move(callback); }

void DisplayLink::start() {
  if (d_->running) return;
  d_->running = true;
  runningLinks().push_back(d_.get());
  if (manualMode) return;
  if (!d_->timer) {
    d_->timer = new QTimer();
    d_->timer->setTimerType(Qt::PreciseTimer);
    Impl* impl = d_.get();
    QObject::connect(d_->timer, &QTimer::timeout, [impl] { impl->fire(); });
  }
  d_->timer->start(d_->intervalMs());
}

void DisplayLink::stop() {
  if (!d_->running) return;
  d_->running = false;
  auto& links = runningLinks();
  links.erase(std::remove(links.begin(), links.end(), d_.get()), links.end());
  if (d_->timer) d_->timer->stop();
}

bool DisplayLink::isRunning() const { return d_->running; }

void DisplayLink::setCurrentDisplay(int screenNumber) {
  d_->display = screenNumber;
  if (d_->timer && d_->timer->isActive()) d_->timer->setInterval(d_->intervalMs());
}

int DisplayLink::currentDisplay() const { return d_->display; }

void DisplayLink::setManualMode(bool manual) { manualMode = manual; }
bool DisplayLink::isManualMode() { return manualMode; }

int DisplayLink::step() {
  auto links = runningLinks();
  int n = 0;
  for (Impl* impl : links) {
    // A callback may stop other links; deliver only to those still running.
    auto& live = runningLinks();
    if (std::find(live.begin(), live.end(), impl) == live.end()) continue;
    impl->fire();
    ++n;
  }
  return n;
}

}  // namespace kesto::ui
