// Alert windows: every way out of a question answers it exactly once.
#include "App/AlertWindow.h"
#include "App/ControlViews.h"

#include "Harness/TestSupport.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {
namespace {

TEST(AlertWindow, ClosingFromTheTitleBarAnswersWithTheLastButtonOnce) {
  WindowAlertPresenter presenter;
  std::vector<int> answers;
  presenter.askQuestion("The library cannot be opened", "why", {"Quit"}, [&](int i) { answers.push_back(i); });
  presenter.askQuestion("Replace?", "which", {"Replace", "Cancel"}, [&](int i) { answers.push_back(i + 10); });
  auto windows = presenter.openWindows();
  ASSERT_EQ(windows.size(), 2u);
  windows[1]->performClose();
  windows[0]->performClose();
  EXPECT_EQ(answers, (std::vector<int>{11, 0}));
  EXPECT_TRUE(presenter.openWindows().empty());
  // A click that reaches a window already answered adds nothing.
  windows[0]->performClose();
  EXPECT_FALSE(presenter.clickButton(0));
  spin(0.05);
  EXPECT_EQ(answers.size(), 2u);
}

TEST(AlertWindow, ThePresenterCanGoWhileAnAnsweredWindowIsStillBeingRemoved) {
  auto presenter = std::make_unique<WindowAlertPresenter>();
  int answered = 0;
  presenter->askQuestion("Sync failed", "gone", {"OK"}, [&](int) { ++answered; });
  ASSERT_TRUE(presenter->clickButton(0));
  presenter.reset();  // as at quit, before the loop turns again
  spin(0.05);
  EXPECT_EQ(answered, 1);
}

TEST(AlertWindow, ALongMessageWrapsWhole) {
  ui::Font font;
  font.pointSize = 12;
  const std::string path = "/home/someone/.local/share/kesto/a-folder-name-long-enough-to-need-a-break/data.sqlite";
  const std::string message = "Kesto cannot open its library at " + path +
                              ". The store file is damaged or not a store: file is not a database";
  auto lines = TextLabel::wrappedLines(message, 420, font);
  ASSERT_GE(lines.size(), 3u);
  std::string joined;
  for (const auto& line : lines) {
    joined += line;
    EXPECT_LE(ui::GraphicsContext::sizeOfText(line, font).width, 420.0) << line;
  }
  EXPECT_EQ(joined, message);  // nothing lost or doubled at the breaks
  // A word wider than the line is broken between characters, never inside a UTF-8 sequence.
  const std::string word = "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";
  auto broken = TextLabel::wrappedLines(word, 30, font);
  ASSERT_GT(broken.size(), 1u);
  joined.clear();
  for (const auto& line : broken) {
    ASSERT_FALSE(line.empty());
    EXPECT_NE(static_cast<unsigned char>(line[0]) & 0xC0, 0x80u);
    joined += line;
  }
  EXPECT_EQ(joined, word);
  // Line feeds in the message start new lines.
  EXPECT_EQ(TextLabel::wrappedLines("one\ntwo", 420, font), (std::vector<std::string>{"one\n", "two"}));

  // The alert grows to hold the whole message.
  WindowAlertPresenter presenter;
  presenter.showAlert("The library cannot be opened", "short", "Quit");
  presenter.showAlert("The library cannot be opened", message + " " + message, "Quit");
  auto windows = presenter.openWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_GT(windows[1]->frame().size.height, windows[0]->frame().size.height);
}

}  // namespace
}  // namespace kesto::test
