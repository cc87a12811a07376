#include "Platform/UI/Panel.h"

#include "Platform/UI/Action.h"

#include <QWidget>

namespace kesto::ui {

Panel::Panel(const fnd::Rect& contentRect, unsigned styleMask) : Window(contentRect, styleMask) {
  if (styleMask & WindowStyle::NonactivatingPanel)
    static_cast<QWidget*>(nativeHandle())->setAttribute(Qt::WA_ShowWithoutActivating);
  // Taken on a sheet too, which the window commands are not.
  actions().add(cmd::cancelOperation, [this] { cancelOperation(); });
}

void Panel::setFloatingPanel(bool on) {
  floating_ = on;
  setLevel(on ? WindowLevel::Floating : WindowLevel::Normal);
}

bool Panel::isCancelKey(const Event& e) {
  if (e.type != EventType::KeyDown) return false;
  std::uint64_t mods = e.modifierFlags & (ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control |
                                          ModifierFlag::Shift);
  if (e.keyCode == KeyCode::Escape && mods == 0) return true;
  return mods == ModifierFlag::Command && (e.charactersIgnoringModifiers == "." || e.keyCode == 47);
}

void Panel::keyDown(const Event& event) {
  if (!isCancelKey(event)) return Window::keyDown(event);
  // A field or view before the panel may take the cancel for itself.
  Responder* first = firstResponder() ? firstResponder() : this;
  first->tryToPerform(cmd::cancelOperation, this);
}

void Panel::cancelOperation() {
  if (Window* parent = sheetParent()) parent->endSheet(*this, ModalResponse::Cancel);
  else if (styleMask() & WindowStyle::Closable) performClose();
  else orderOut();
}

}  // namespace kesto::ui
