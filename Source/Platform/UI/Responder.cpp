#include "Platform/UI/Responder.h"

namespace kesto::ui {

Responder::~Responder() = default;

void Responder::mouseDown(const Event& e) { if (next_) next_->mouseDown(e); }
void Responder::mouseUp(const Event& e) { if (next_) next_->mouseUp(e); }
void Responder::mouseDragged(const Event& e) { if (next_) next_->mouseDragged(e); }
void Responder::mouseMoved(const Event& e) { if (next_) next_->mouseMoved(e); }
void Responder::rightMouseDown(const Event& e) { if (next_) next_->rightMouseDown(e); }
void Responder::rightMouseUp(const Event& e) { if (next_) next_->rightMouseUp(e); }
void Responder::keyDown(const Event& e) {
  if (next_) next_->keyDown(e);
}
void Responder::keyUp(const Event& e) { if (next_) next_->keyUp(e); }
void Responder::scrollWheel(const Event& e) { if (next_) next_->scrollWheel(e); }

bool Responder::tryToPerform(std::string_view selector, Responder* sender) {
  for (Responder* r = this; r; r = r->next_)
    if (r->performAction(selector, sender)) return true;
  return false;
}

void Responder::doCommandBySelector(std::string_view selector) { tryToPerform(selector, this); }

std::string Responder::selectorForKeyEvent(const Event& e) {
  bool shift = e.hasModifier(ModifierFlag::Shift);
  bool option = e.hasModifier(ModifierFlag::Option);
  bool command = e.hasModifier(ModifierFlag::Command);
  switch (e.keyCode) {
    case KeyCode::LeftArrow:
      if (command) return shift ? "moveToBeginningOfLineAndModifySelection:" : "moveToBeginningOfLine:";
      if (option) return shift ? "moveWordLeftAndModifySelection:" : "moveWordLeft:";
      return shift ? "moveLeftAndModifySelection:" : "moveLeft:";
    case KeyCode::RightArrow:
      if (command) return shift ? "moveToEndOfLineAndModifySelection:" : "moveToEndOfLine:";
      if (option) return shift ? "moveWordRightAndModifySelection:" : "moveWordRight:";
      return shift ? "moveRightAndModifySelection:" : "moveRight:";
    case KeyCode::UpArrow:
      if (command) return shift ? "moveToBeginningOfDocumentAndModifySelection:" : "moveToBeginningOfDocument:";
      return shift ? "moveUpAndModifySelection:" : "moveUp:";
    case KeyCode::DownArrow:
      if (command) return shift ? "moveToEndOfDocumentAndModifySelection:" : "moveToEndOfDocument:";
      return shift ? "moveDownAndModifySelection:" : "moveDown:";
    case KeyCode::Return:
    case KeyCode::KeypadEnter: return "insertNewline:";
    case KeyCode::Tab: return shift ? "insertBacktab:" : "insertTab:";
    case KeyCode::Escape: return "cancelOperation:";
    case KeyCode::Delete: return "deleteBackward:";
    case KeyCode::ForwardDelete: return "deleteForward:";
    case KeyCode::Home: return "scrollToBeginningOfDocument:";
    case KeyCode::End: return "scrollToEndOfDocument:";
    case KeyCode::PageUp: return "scrollPageUp:";
    case KeyCode::PageDown: return "scrollPageDown:";
    default: return {};
  }
}

bool Responder::interpretKeyEvents(const Event& e) {
  std::string selector = selectorForKeyEvent(e);
  if (selector.empty()) return false;
  doCommandBySelector(selector);
  return true;
}

}  // namespace kesto::ui
