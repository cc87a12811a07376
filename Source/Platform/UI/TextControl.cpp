#include "Platform/UI/TextControl.h"

#include "Platform/UI/Window.h"

namespace kesto::ui {

void TextControl::setEditable(bool editable) {
  editable_ = editable;
  applyReadOnly(!editable_ || refused_);
}

void TextControl::endEditing() {
  if (Window* w = window(); w && w->firstResponder() == this) w->makeFirstResponder(nullptr);
  else if (session_) widgetDidLoseFocus();
}

void TextControl::widgetDidGainFocus() {
  session_ = true;
  began_ = false;
  refused_ = editable_ && delegate_ && !delegate_->controlTextShouldBeginEditing(*this);
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
  if (delegate_) delegate_->controlTextDidEndEditing(*this);
}

void TextControl::userDidChangeText() {
  if (!began_) {
    began_ = true;
    if (delegate_) delegate_->controlTextDidBeginEditing(*this);
  }
  if (delegate_) delegate_->controlTextDidChange(*this);
}

void TextControl::keyDown(const Event& event) {
  std::string selector = selectorForKeyEvent(event);
  if (!selector.empty() && delegate_ && delegate_->controlTextViewDoCommandBySelector(*this, selector)) return;
  Control::keyDown(event);
}

}  // namespace kesto::ui
