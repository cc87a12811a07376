#include "Platform/UI/TextControl.h"

#include "Platform/UI/Window.h"

namespace kesto::ui {

void TextControl::setDelegate(TextEditingDelegate* delegate) {
  delegate_ = delegate;
  delegateAlive_ = delegate ? delegate->lifetime() : fnd::Lifetime::Watch();
}

void TextControl::setEditable(bool editable) {
  editable_ = editable;
  applyReadOnly(!editable_ || refused_);
}

void TextControl::endEditing() {
  if (Window* w = window(); w && w->firstResponder() == this) w->makeFirstResponder(nullptr);
  // A window that is not active moves no focus, so no focus event closes the session.
  focusDidLeave();
}

void TextControl::widgetDidGainFocus() {
  session_ = true;
  began_ = false;
  refused_ = editable_ && delegate() && !delegate()->controlTextShouldBeginEditing(*this);
  if (refused_) applyReadOnly(true);
}

void TextControl::widgetDidLoseFocus() {
  if (!session_) return;
  session_ = false;
  if (refused_) {
    refused_ = false;
    applyReadOnly(!editable_);
    return;
  }
  if (auto* d = delegate()) d->controlTextDidEndEditing(*this);
}

void TextControl::userDidChangeText() {
  if (!began_) {
    began_ = true;
    if (auto* d = delegate()) d->controlTextDidBeginEditing(*this);
  }
  if (auto* d = delegate()) d->controlTextDidChange(*this);
}

void TextControl::keyDown(const Event& event) {
  Command selector = selectorForKeyEvent(event);
  if (!selector.empty() && delegate() && delegate()->controlTextViewDoCommandBySelector(*this, selector)) return;
  Control::keyDown(event);
}

}  // namespace kesto::ui
