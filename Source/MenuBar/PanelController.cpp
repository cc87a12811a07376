#include "MenuBar/PanelController.h"

#include "MenuBar/MenubarController.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextField.h"

#include <cmath>
#include <sstream>

namespace kesto {

namespace {

std::string rectText(const fnd::Rect& r) {
  std::ostringstream out;
  out << "{{" << r.minX() << ", " << r.minY() << "}, {" << r.size.width << ", " << r.size.height << "}}";
  return out.str();
}

}  // namespace

// ---- the window and its background ----

Panel::Panel(PanelController& controller)
    : ui::ChildWindow(fnd::Rect(0, 0, PanelController::kPanelWidth, PanelController::kPanelHeight)),
      controller_(controller) {
  setLevel(ui::WindowLevel::PopUpMenu);
}

void Panel::keyDown(const ui::Event& event) {
  if (event.keyCode == ui::KeyCode::Escape) return controller_.cancelOperation();
  ui::ChildWindow::keyDown(event);
}

void BackgroundView::setArrowX(std::int64_t x) {
  arrowX_ = x;
  setNeedsDisplay();
}

ui::Path BackgroundView::backgroundPath() const {
  const fnd::Rect b = bounds();
  const fnd::Rect c(b.minX() + kLineThickness, b.minY() + kLineThickness, b.size.width - 2 * kLineThickness,
                    b.size.height - 2 * kLineThickness);
  const double top = c.maxY(), base = top - kArrowHeight, r = kCornerRadius, x = double(arrowX_);
  ui::Path path;
  path.moveTo({x, top});
  path.lineTo({x + kArrowHalfWidth, base});
  path.lineTo({c.maxX() - r, base});
  path.curveTo({c.maxX(), base - r}, {c.maxX(), base}, {c.maxX(), base});
  path.lineTo({c.maxX(), c.minY() + r});
  path.curveTo({c.maxX() - r, c.minY()}, {c.maxX(), c.minY()}, {c.maxX(), c.minY()});
  path.lineTo({c.minX() + r, c.minY()});
  path.curveTo({c.minX(), c.minY() + r}, {c.minX(), c.minY()}, {c.minX(), c.minY()});
  path.lineTo({c.minX(), base - r});
  path.curveTo({c.minX() + r, base}, {c.minX(), base}, {c.minX(), base});
  path.lineTo({x - kArrowHalfWidth, base});
  path.close();
  return path;
}

void BackgroundView::drawRect(ui::GraphicsContext& g, const fnd::Rect&) {
  const ui::Path path = backgroundPath();
  g.setFillColor(ui::Color::white(0.9, 0.9));
  g.fillPath(path);
  // Stroked twice as wide inside a clip to the shape: only the inner half shows.
  g.saveState();
  g.clipToPath(path);
  ui::Path border = path;
  border.setLineWidth(2.0);
  g.setStrokeColor(ui::Color::white(0.5, 0.8));
  g.strokePath(border);
  g.restoreState();
}

// ---- the controller ----

PanelController::PanelController(PanelControllerDelegate* delegate) : delegate_(delegate) {
  panel_ = std::make_unique<Panel>(*this);
  background_ = std::make_shared<BackgroundView>(fnd::Rect(0, 0, kPanelWidth, kPanelHeight));
  background_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  panel_->setContentView(background_);
  searchField_ = std::make_shared<ui::SearchField>(fnd::Rect(kFieldInset, 0, kPanelWidth - 2 * kFieldInset, 24));
  searchField_->setAction([this] { runSearch(); });
  background_->addSubview(searchField_);
  textField_ = std::make_shared<ui::TextField>(fnd::Rect(kFieldInset, kFieldInset, kPanelWidth - 2 * kFieldInset, 100));
  textField_->setWraps(true);
  background_->addSubview(textField_);
  panel_->setDelegate(this);
  layoutPanel();
}

PanelController::~PanelController() {
  lifetime_.end();
  panel_->setDelegate(nullptr);
}

void PanelController::setHasActivePanel(bool active, const ui::Event* trigger) {
  if (active == hasActivePanel_) return;
  hasActivePanel_ = active;
  if (active) openPanel(trigger);
  else closePanel();
}

fnd::Rect PanelController::screenFrame(const ui::Window& window) const {
  if (screenFrame_) return *screenFrame_;
  return window.screen().frame();
}

fnd::Rect PanelController::statusRectForWindow(const ui::Window& window) const {
  if (StatusItemView* view = delegate_ ? delegate_->statusItemViewForPanelController(const_cast<PanelController&>(*this)) : nullptr)
    if (auto rect = view->globalRect()) return fnd::Rect(rect->minX(), rect->minY() - rect->size.height, rect->size.width, rect->size.height);
  const fnd::Rect screen = screenFrame(window);
  return fnd::Rect(std::round((screen.size.width - StatusItemView::kLength) / 2), screen.size.height - 2 * kStatusBarThickness,
                   StatusItemView::kLength, kStatusBarThickness);
}

fnd::Rect PanelController::panelRect(const fnd::Rect& status, const fnd::Rect& screen, double height) {
  fnd::Rect panel(std::round(status.midX() - kPanelWidth / 2), status.maxY() - height, kPanelWidth, height);
  const double excess = panel.maxX() - (screen.maxX() - BackgroundView::kArrowHeight);
  if (excess > 0) panel.origin.x -= excess;
  return panel;
}

double PanelController::openingDuration(const ui::Event* event) {
  if (!event || event->type != ui::EventType::LeftMouseDown) return kOpenDuration;
  const std::uint64_t flags = event->modifierFlags & 0xFFFF0000;
  const bool slow = flags == ui::ModifierFlag::Shift || flags == (ui::ModifierFlag::Shift | ui::ModifierFlag::Option);
  return slow ? kOpenDuration * 10 : kOpenDuration;
}

void PanelController::openPanel(const ui::Event* trigger) {
  Panel& window = *panel_;
  const fnd::Rect screen = screenFrame(window);
  const fnd::Rect status = statusRectForWindow(window);
  const fnd::Rect panel = panelRect(status, screen, window.frame().size.height);
  ui::Application::shared().activateIgnoringOtherApps();
  window.setAlphaValue(0);
  window.setFrame(status, true);
  window.makeKeyAndOrderFront();
  const double duration = openingDuration(trigger);
  if (trigger && (trigger->modifierFlags & 0xFFFF0000) == (ui::ModifierFlag::Shift | ui::ModifierFlag::Option))
    fnd::logInfo("Icon is at " + rectText(status) + "\n\tMenu is on screen " + rectText(screen) +
                 "\n\tWill be animated to " + rectText(panel));
  window.animateFrame({panel}, duration);
  window.animateAlpha(1.0, duration);
  ViewUpdater::updateMenuBookmarks();
}

void PanelController::closePanel() {
  panel_->animateAlpha(0, kCloseDuration);
  fnd::DispatchQueue::main().after(kCloseDelay, lifetime_.whileAlive([this] { panel_->close(); }));
}

void PanelController::windowDidResignKey(ui::Window& window) {
  if (window.isVisible()) setHasActivePanel(false);
}

void PanelController::layoutPanel() {
  Panel& window = *panel_;
  const fnd::Rect status = statusRectForWindow(window);
  background_->setArrowX(std::int64_t(std::round(status.midX()) - window.frame().minX()));
  const fnd::Rect bg = background_->bounds();
  const double searchHeight = searchField_->frame().size.height;
  const fnd::Rect search(kFieldInset, bg.size.height - BackgroundView::kArrowHeight - kFieldInset - searchHeight,
                         bg.size.width - 2 * kFieldInset, searchHeight);
  const fnd::Rect text(kFieldInset, kFieldInset, bg.size.width - 2 * kFieldInset,
                       bg.size.height - BackgroundView::kArrowHeight - 36.0 - searchHeight);
  // A field with no room is hidden rather than given a negative size.
  for (auto& [field, rect] : {std::pair{static_cast<ui::View*>(searchField_.get()), search},
                              std::pair{static_cast<ui::View*>(textField_.get()), text}}) {
    const bool empty = rect.size.width <= 0 || rect.size.height <= 0;
    field->setHidden(empty);
    if (!empty) field->setFrame(rect);
  }
}

}  // namespace kesto
