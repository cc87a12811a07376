// Typing into the library search field: each key goes through the field's hooks, its action and
// a repaint. Reports the longest single stall of the event loop (a frame is 16 ms).
#include "Platform/UI/Window.h"
#include "Views/TextLabel.h"
#include "Views/WrenSearchField.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <memory>

using namespace kesto;

namespace {

struct Counting : ui::TextEditingDelegate {
  int changes = 0;
  void controlTextDidChange(ui::Control&) override { ++changes; }
};

void BM_TypingIntoSearchField(benchmark::State& state) {
  ui::Window window(fnd::Rect(0, 0, 600, 100));
  auto field = std::make_shared<WrenSearchField>(fnd::Rect(20, 30, 400, 26));
  window.contentView()->addSubview(field);
  field->awakeFromNib();
  Counting delegate;
  field->setDelegate(&delegate);
  std::string last;
  field->setAction([&] { last = field->stringValue(); });
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(field.get());
  QApplication::processEvents();
  const QString text = QString::fromUtf8("bookmarks über café ");
  double longest = 0, total = 0;
  int keys = 0;
  for (auto _ : state) {
    for (int i = 0; i < int(state.range(0)); ++i) {
      QChar c = text[i % text.size()];
      QWidget* target = QApplication::focusWidget();
      auto start = std::chrono::steady_clock::now();
      QKeyEvent down(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(target, &down);
      QKeyEvent up(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(target, &up);
      target->repaint();
      QApplication::processEvents();
      double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      longest = std::max(longest, ms);
      total += ms;
      ++keys;
    }
    field->setStringValue("");
  }
  benchmark::DoNotOptimize(last);
  state.counters["longest_stall_ms"] = longest;
  state.counters["mean_key_ms"] = keys ? total / keys : 0;
}

}  // namespace

BENCHMARK(BM_TypingIntoSearchField)->Arg(200)->Unit(benchmark::kMillisecond);

namespace {

// A title from a crafted file can be tens of megabytes: one label drawing it, one line and
// wrapping. Drawing measures only what can show, so this stays within a frame or two.
void BM_DrawingAHugeTitle(benchmark::State& state) {
  // Two texts in turn, so each drawing is made anew rather than taken from the kept picture.
  const std::string huge[2] = {std::string(20u * 1024 * 1024, 'w'), std::string(20u * 1024 * 1024, 'm')};
  TextLabel label(fnd::Rect(0, 0, 300, 60));
  label.setWraps(state.range(0) != 0);
  std::size_t turn = 0;
  for (auto _ : state) {
    label.setStringValue(huge[turn++ % 2]);
    auto image = label.snapshot();
    benchmark::DoNotOptimize(image);
  }
}

}  // namespace

BENCHMARK(BM_DrawingAHugeTitle)->Arg(0)->Arg(1)->ArgName("wraps")->Unit(benchmark::kMillisecond);
