#include "App/AlertWindow.h"

#include "App/ControlViews.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/Window.h"

#include <algorithm>
#include <cmath>

namespace kesto {

struct WindowAlertPresenter::Shown : ui::WindowDelegate {
  ~Shown() override {
    if (window) window->setDelegate(nullptr);
  }
  bool windowShouldClose(ui::Window&) override {
    if (!buttons.empty()) buttons.back()->performClick();
    return false;  // the click has taken the window away
  }
  std::unique_ptr<ui::Window> window;
  std::vector<std::shared_ptr<PushButton>> buttons;
};

WindowAlertPresenter::WindowAlertPresenter() = default;
WindowAlertPresenter::~WindowAlertPresenter() { *alive_ = false; }

void WindowAlertPresenter::showAlert(const std::string& title, const std::string& message, const std::string& button) {
  askQuestion(title, message, {button}, {});
}

void WindowAlertPresenter::askQuestion(const std::string& title, const std::string& message,
                                       const std::vector<std::string>& buttons, std::function<void(int)> completion) {
  auto shown = std::make_shared<Shown>();
  // The window grows to show the whole message (a path and a reason can be long), up to a bound.
  const double width = 460;
  ui::Font bodyFont;
  bodyFont.pointSize = 12;
  const double step = TextLabel::lineHeight(bodyFont);
  const std::size_t lines = std::min<std::size_t>(12, TextLabel::wrappedLines(message, width - 40, bodyFont).size());
  const double bodyHeight = std::max(70.0, std::ceil(step * static_cast<double>(lines)));
  const double height = bodyHeight + 100;
  shown->window = std::make_unique<ui::Window>(fnd::Rect(200, 300, width, height),
                                               ui::WindowStyle::Titled | ui::WindowStyle::Closable);
  shown->window->setTitle(title);
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, width, height));
  content->setBackgroundColor(ui::Color::white(0.95));
  shown->window->setContentView(content);
  auto heading = std::make_shared<TextLabel>(fnd::Rect(20, height - 40, width - 40, 22));
  ui::Font bold;
  bold.pointSize = 14;
  bold.bold = true;
  heading->setFont(bold);
  heading->setStringValue(title);
  content->addSubview(heading);
  auto body = std::make_shared<TextLabel>(fnd::Rect(20, 56, width - 40, bodyHeight));
  body->setFont(bodyFont);
  body->setWraps(true);
  body->setStringValue(message);
  content->addSubview(body);
  std::vector<std::string> labels = buttons.empty() ? std::vector<std::string>{"OK"} : buttons;
  double x = width - 20;
  std::weak_ptr<Shown> weak = shown;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    x -= 100;
    auto button = std::make_shared<PushButton>(fnd::Rect(x, 14, 92, 28));
    button->setTitle(labels[i]);
    std::weak_ptr<bool> alive = alive_;
    button->setAction([this, weak, alive, completion, i] {
      auto s = weak.lock();
      if (!s || !s->window->isVisible()) return;  // answered once only
      s->window->orderOut();
      // The window goes after this click has been delivered, unless the presenter went first.
      Shown* done = s.get();
      fnd::DispatchQueue::main().async([this, alive, done] {
        if (auto a = alive.lock(); !a || !*a) return;
        shown_.erase(std::remove_if(shown_.begin(), shown_.end(), [done](const auto& e) { return e.get() == done; }),
                     shown_.end());
      });
      if (completion) completion(static_cast<int>(i));
    });
    content->addSubview(button);
    shown->buttons.push_back(button);
    x -= 8;
  }
  shown->window->setDelegate(shown.get());
  shown_.push_back(shown);
  shown->window->makeKeyAndOrderFront();
}

std::vector<ui::Window*> WindowAlertPresenter::openWindows() const {
  std::vector<ui::Window*> out;
  for (const auto& s : shown_)
    if (s->window->isVisible()) out.push_back(s->window.get());
  return out;
}

bool WindowAlertPresenter::clickButton(int index) {
  for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
    auto s = *it;
    if (!s->window->isVisible()) continue;
    if (index < 0 || static_cast<std::size_t>(index) >= s->buttons.size()) return false;
    s->buttons[static_cast<std::size_t>(index)]->performClick();
    return true;
  }
  return false;
}

}  // namespace kesto
