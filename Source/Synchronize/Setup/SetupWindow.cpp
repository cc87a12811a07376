#include "Synchronize/Setup/SetupWindow.h"

#include "Platform/UI/Animator.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"

#include <algorithm>

namespace kesto {

namespace {

// The faded picture at the left: drawn at 30 % opacity, scaled to fit, proportions kept.
class FadedImageView : public ui::View {
 public:
  using View::View;
  void setImage(const ui::Image& image) {
    image_ = image;
    setNeedsDisplay();
  }
  void drawRect(ui::GraphicsContext& context, const fnd::Rect&) override {
    if (image_.isNull()) return;
    const fnd::Size size = image_.size();
    if (size.width <= 0 || size.height <= 0) return;
    const fnd::Rect b = bounds();
    const double scale = std::min(b.size.width / size.width, b.size.height / size.height);
    const double w = size.width * scale, h = size.height * scale;
    context.drawImage(image_, fnd::Rect(b.midX() - w / 2, b.midY() - h / 2, w, h), 0.3);
  }

 private:
  ui::Image image_;
};

}  // namespace

const std::shared_ptr<ui::View>& SetupWindowStageViewController::loadedView() {
  if (!view()) {
    setView(loadView());
    viewDidLoad();
  }
  return view();
}

void SetupWindowStageViewController::buttonStatesChanged() {
  if (setupWindow_) setupWindow_->observeValueChange(this);
}

std::unique_ptr<SetupWindow> SetupWindow::create(std::vector<Stage> stages,
                                                 std::function<void(bool)> completionHandler) {
  if (stages.empty() || !completionHandler) return nullptr;
  std::unique_ptr<SetupWindow> window(new SetupWindow(std::move(stages), std::move(completionHandler)));
  // Stage 0, without animation.
  window->next();
  return window;
}

SetupWindow::SetupWindow(std::vector<Stage> stages, std::function<void(bool)> completionHandler)
    : ui::Panel(fnd::Rect(0, 0, kWidth, kHeight), ui::WindowStyle::Titled | ui::WindowStyle::Closable),
      viewControllers_(std::move(stages)),
      completionHandler_(std::move(completionHandler)) {
  for (const auto& stage : viewControllers_)
    if (stage) stage->setSetupWindow(this);
  buildContent();
}

SetupWindow::~SetupWindow() {
  lifetime_.end();
  for (const auto& stage : viewControllers_)
    if (stage && stage->setupWindow() == this) stage->setSetupWindow(nullptr);
}

void SetupWindow::buildContent() {
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, kWidth, kHeight));
  cancelButton_ = ui::addPushButton(*content, fnd::Rect(145, 13, 97, 32), "Cancel", [this] { cancel(); });
  backButton_ = ui::addPushButton(*content, fnd::Rect(372, 13, 97, 32), "Back", [this] { back(); });
  nextButton_ = ui::addPushButton(*content, fnd::Rect(469, 13, 97, 32), "Continue", [this] { next(); });
  // The faded picture keeps to the column left of the stages, level with their middle: drawn
  // under them it would show through their texts and fields.
  auto image = std::make_shared<FadedImageView>(fnd::Rect(10, 166, 128, 128));
  imageView_ = image;
  image->setImage(ui::Image::named("user-bookmarks"));
  contentBox_ = std::make_shared<ui::View>(fnd::Rect(148, 57, 415, 345));
  content->addSubview(imageView_);
  content->addSubview(contentBox_);
  setContentView(content);
}

void SetupWindow::setBackgroundImage(const ui::Image& image) {
  backgroundImage_ = image;
  static_cast<FadedImageView&>(*imageView_).setImage(image);
}

SetupWindowStageViewController* SetupWindow::currentViewController() const {
  if (currentStage_ < 0 || currentStage_ >= static_cast<long>(viewControllers_.size())) return nullptr;
  return viewControllers_[static_cast<std::size_t>(currentStage_)].get();
}

void SetupWindow::setViewControllers(std::vector<Stage> stages) {
  viewControllers_ = std::move(stages);
  for (const auto& stage : viewControllers_)
    if (stage) stage->setSetupWindow(this);
}

void SetupWindow::addNextViewController(Stage stage) {
  if (!stage) return;
  stage->setSetupWindow(this);
  const auto at = static_cast<std::size_t>(std::clamp<long>(currentStage_ + 1, 0, static_cast<long>(viewControllers_.size())));
  viewControllers_.insert(viewControllers_.begin() + static_cast<std::ptrdiff_t>(at), std::move(stage));
}

void SetupWindow::addFinalViewController(Stage stage) {
  if (!stage) return;
  stage->setSetupWindow(this);
  viewControllers_.push_back(std::move(stage));
}

void SetupWindow::shift(int direction) {
  const long count = static_cast<long>(viewControllers_.size());
  if ((direction > 0 && currentStage_ >= count) || (direction < 0 && currentStage_ <= 0)) return;
  Stage previous;
  if (currentStage_ >= 0 && currentStage_ < count) previous = viewControllers_[static_cast<std::size_t>(currentStage_)];
  // The stage being left may rebuild the list; everything below reads the list as changed.
  if (previous) {
    if (direction > 0) previous->willProgressToNextStage();
    else previous->willRevertToPreviousStage();
  }
  const long index = currentStage_ + direction;
  if (index >= static_cast<long>(viewControllers_.size())) {
    observed_ = nullptr;
    // A copy: the handler may close and drop this window.
    if (auto handler = completionHandler_) handler(true);
    return;
  }
  if (index < 0) return;
  Stage nextStage = viewControllers_[static_cast<std::size_t>(index)];
  if (!nextStage) return;
  const auto& nextView = nextStage->loadedView();
  if (direction > 0) nextStage->willProgressToStage();
  else nextStage->willRevertToStage();

  std::shared_ptr<ui::View> previousView = previous ? previous->view() : nullptr;
  if (!animates_ || !previous || !previousView) {
    if (nextView) nextView->setFrame(fnd::Rect(0, 0, kStageWidth, kStageHeight));
    if (previousView) previousView->removeFromSuperview();
    if (nextView) contentBox_->addSubview(nextView);
    nextStage->viewDidAppear();
    finishShift(previous, nextStage, direction);
  } else {
    const bool slow = (ui::Event::currentModifierFlags() & ui::ModifierFlag::Shift) != 0;
    if (nextView) {
      nextView->setFrame(fnd::Rect(direction * kStageWidth, 0, kStageWidth, kStageHeight));
      contentBox_->addSubview(nextView);
    }
    auto alive = lifetime_.watch();
    ui::AnimationContext::runAnimationGroup(
        [&](ui::AnimationContext& context) {
          if (slow) context.setDuration(3.0);
          if (nextView) ui::Animator(nextView.get()).setFrameOrigin(fnd::Point{0, 0});
          ui::Animator(previousView.get()).setFrameOrigin(fnd::Point{direction * -kStageWidth, 0});
        },
        [alive, previous, previousView, nextStage, direction] {
          // The stages hold on through the animation even when the list has moved on.
          if (previousView && previousView.get() != nextStage->view().get()) previousView->removeFromSuperview();
          if (alive) nextStage->viewDidAppear();
          finishShift(previous, nextStage, direction);
        });
  }
  // Buttons show the new stage at once, not after the slide.
  currentStage_ = index;
  observed_ = nextStage.get();
  recalculateButtonEnabledStates();
  resetButtonTitles();
}

void SetupWindow::finishShift(const Stage& previous, const Stage& next, int direction) {
  if (direction > 0) {
    if (previous) previous->didProgressToNextStage();
    next->didProgressToStage();
  } else {
    if (previous) previous->didRevertToPreviousStage();
    next->didRevertToStage();
  }
}

void SetupWindow::observeValueChange(SetupWindowStageViewController* stage) {
  if (stage && stage == observed_) recalculateButtonEnabledStates();
}

void SetupWindow::recalculateButtonEnabledStates() {
  auto* stage = currentViewController();
  nextButton_->setEnabled(!stage || stage->canContinue().value_or(true));
  backButton_->setEnabled(currentStage_ > 0 && (!stage || stage->canGoBack().value_or(true)));
}

void SetupWindow::resetButtonTitles() {
  auto* stage = currentViewController();
  nextButton_->setTitle(stage ? stage->continueButtonTitle().value_or("Continue") : "Continue");
  backButton_->setTitle(stage ? stage->backButtonTitle().value_or("Back") : "Back");
}

void SetupWindow::cancel() {
  if (auto* parent = sheetParent()) parent->endSheet(*this, ui::ModalResponse::Cancel);
  observed_ = nullptr;
  if (auto handler = completionHandler_) handler(false);
}

void SetupWindow::cancelOperation() { cancel(); }

}  // namespace kesto
