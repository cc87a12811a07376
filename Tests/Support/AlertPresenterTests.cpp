#include "Harness/TestSupport.h"
#include "Support/AlertPresenter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kesto::test {
namespace {

// Records what reached it; questions take `answer`.
struct Recorder : AlertPresenter {
  std::vector<std::string> alerts, questions;
  int answer = 0;
  void showAlert(const std::string& title, const std::string&, const std::string&) override { alerts.push_back(title); }
  void askQuestion(const std::string& title, const std::string&, const std::vector<std::string>&,
                   std::function<void(int)> completion) override {
    questions.push_back(title);
    if (completion) completion(answer);
  }
};

struct PresenterScope {
  explicit PresenterScope(std::shared_ptr<AlertPresenter> p) { AlertPresenter::setShared(std::move(p)); }
  ~PresenterScope() { AlertPresenter::setShared(nullptr); }
};

TEST(SupportAlertPresenter, WithNobodyToAskTheCancellingAnswerIsTaken) {
  AlertPresenter::setShared(nullptr);
  auto answerTo = [](const std::vector<std::string>& buttons) {
    int chosen = -2;
    AlertPresenter::ask("Delete?", "All of it", buttons, [&](int i) { chosen = i; });
    return chosen;
  };
  EXPECT_EQ(answerTo({"Delete", "Cancel", "Later"}), 1) << "\"Cancel\" wherever it stands";
  EXPECT_EQ(answerTo({"Replace", "Keep"}), 1) << "else the last button";
  EXPECT_EQ(answerTo({}), 0);
  AlertPresenter::ask("No completion", "", {"OK"}, {});  // nothing to call, nothing breaks
  AlertPresenter::inform("Saved", "done");
}

TEST(SupportAlertPresenter, TheRegisteredPresenterShowsEverything) {
  auto recorder = std::make_shared<Recorder>();
  PresenterScope scope(recorder);
  recorder->answer = 0;
  int chosen = -1;
  AlertPresenter::ask("Replace?", "", {"Replace", "Cancel"}, [&](int i) { chosen = i; });
  AlertPresenter::alert("Failed", "why");
  AlertPresenter::inform("Saved", "where");
  EXPECT_EQ(chosen, 0) << "the presenter's answer, not the fallback's";
  EXPECT_EQ(recorder->questions, std::vector<std::string>{"Replace?"});
  EXPECT_EQ(recorder->alerts, (std::vector<std::string>{"Failed", "Saved"})) << "information falls back to an alert";
}

TEST(SupportAlertPresenter, ACallFromAnotherThreadBreaksTheContractButIsStillShown) {
  auto recorder = std::make_shared<Recorder>();
  PresenterScope scope(recorder);
  ContractPolicyScope policy(fnd::AssertionPolicy::Record);
  std::thread([] { AlertPresenter::alert("From a worker", "late"); }).join();
  ASSERT_EQ(fnd::recordedFailures().size(), 1u);
  EXPECT_NE(fnd::recordedFailures()[0].reason.find("AlertPresenter::alert"), std::string::npos);
  EXPECT_EQ(recorder->alerts, std::vector<std::string>{"From a worker"});
}

}  // namespace
}  // namespace kesto::test
