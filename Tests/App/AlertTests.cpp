// Alert windows: every way out of a question answers it exactly once.
#include "App/AlertWindow.h"

#include "Harness/TestSupport.h"
#include "Platform/UI/Window.h"

#include <gtest/gtest.h>

#include <memory>
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

}  // namespace
}  // namespace kesto::test
