#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/UIForward.h"
#include "Platform/UI/ViewController.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class SetupWindow;

// A stage of the set-up assistant. Every operation is optional: the defaults stand for a stage
// that does not answer (Continue and Back enabled, the standard titles, no reaction).
class SetupWindowStageViewController : public ui::ViewController {
 public:
  ~SetupWindowStageViewController() override = default;

  virtual void setSetupWindow(SetupWindow* window) { setupWindow_ = window; }
  SetupWindow* setupWindow() const { return setupWindow_; }

  // Observable: a change is announced with buttonStatesChanged().
  virtual std::optional<bool> canContinue() const { return std::nullopt; }
  virtual std::optional<bool> canGoBack() const { return std::nullopt; }
  virtual std::optional<std::string> continueButtonTitle() const { return std::nullopt; }
  virtual std::optional<std::string> backButtonTitle() const { return std::nullopt; }

  virtual void willProgressToNextStage() {}
  virtual void willRevertToPreviousStage() {}
  virtual void willProgressToStage() {}
  virtual void willRevertToStage() {}
  virtual void didProgressToNextStage() {}
  virtual void didProgressToStage() {}
  virtual void didRevertToPreviousStage() {}
  virtual void didRevertToStage() {}

  // The stage's view, built on first use (the interface file's loading), then viewDidLoad.
  const std::shared_ptr<ui::View>& loadedView();
  // Sent once the view is on screen in the window.
  virtual void viewDidAppear() {}

 protected:
  virtual std::shared_ptr<ui::View> loadView() = 0;
  virtual void viewDidLoad() {}
  // canContinue or canGoBack changed: the window looking at this stage updates its buttons.
  void buttonStatesChanged();

 private:
  SetupWindow* setupWindow_ = nullptr;
};

// The step-by-step assistant: one stage at a time from an ordered list, with Cancel, Back and
// Continue, sliding between stages. The completion handler hears true when the user goes past
// the last stage, false on Cancel (or Escape); it closes the window.
class SetupWindow : public ui::Panel {
 public:
  using Stage = std::shared_ptr<SetupWindowStageViewController>;
  static constexpr double kWidth = 580, kHeight = 420, kStageWidth = 400, kStageHeight = 330;

  // No window (null) for an empty list or a missing handler.
  static std::unique_ptr<SetupWindow> create(std::vector<Stage> stages, std::function<void(bool)> completionHandler);
  ~SetupWindow() override;

  void addNextViewController(Stage stage);
  void addFinalViewController(Stage stage);
  void setViewControllers(std::vector<Stage> stages);
  const std::vector<Stage>& viewControllers() const { return viewControllers_; }
  long currentStage() const { return currentStage_; }
  SetupWindowStageViewController* currentViewController() const;

  void next() { shift(+1); }
  void back() { shift(-1); }
  void progressToNextStage() { shift(+1); }
  void revertToPreviousStage() { shift(-1); }
  void shift(int direction);
  void cancel();
  void cancelOperation() override;

  bool animates() const { return animates_; }
  void setAnimates(bool animates) { animates_ = animates; }
  const ui::Image& backgroundImage() const { return backgroundImage_; }
  void setBackgroundImage(const ui::Image& image);

  void recalculateButtonEnabledStates();
  void resetButtonTitles();
  // The observed stage announced a change (the stage's buttonStatesChanged).
  void observeValueChange(SetupWindowStageViewController* stage);

  ui::Button& cancelButton() const { return *cancelButton_; }
  ui::Button& backButton() const { return *backButton_; }
  ui::Button& nextButton() const { return *nextButton_; }
  ui::View& contentBox() const { return *contentBox_; }
  ui::View& imageView() const { return *imageView_; }

 private:
  SetupWindow(std::vector<Stage> stages, std::function<void(bool)> completionHandler);
  void buildContent();
  static void finishShift(const Stage& previous, const Stage& next, int direction);

  std::vector<Stage> viewControllers_;
  long currentStage_ = -1;
  bool animates_ = true;
  std::function<void(bool)> completionHandler_;
  ui::Image backgroundImage_;
  std::shared_ptr<ui::View> imageView_, contentBox_;
  std::shared_ptr<ui::Button> cancelButton_, backButton_, nextButton_;
  SetupWindowStageViewController* observed_ = nullptr;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
