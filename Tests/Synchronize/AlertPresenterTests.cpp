#include "TestAlertResponder.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

TEST(AlertPresenterTest, WithoutAPresenterQuestionsTakeTheCancellingAnswer) {
  AlertPresenter::setShared(nullptr);
  int chosen = -2;
  AlertPresenter::ask("Kesto Restore", "Continue?", {"Yes", "No"}, [&](int i) { chosen = i; });
  EXPECT_EQ(chosen, 1);
  AlertPresenter::alert("Share", "saved");  // logged, never crashes
}

TEST(AlertPresenterTest, TheRegisteredResponderSeesAlertsAndAnswers) {
  auto responder = TestAlertResponder::install();
  responder->answer = 0;
  int chosen = -2;
  AlertPresenter::ask("Q", "M", {"Yes", "No"}, [&](int i) { chosen = i; });
  AlertPresenter::alert("Share", "saved", "OK");
  EXPECT_EQ(chosen, 0);
  ASSERT_EQ(responder->shown.size(), 2u);
  EXPECT_EQ(responder->shown[1].message, "saved");
  TestAlertResponder::uninstall();
}

}  // namespace
}  // namespace kesto::test
