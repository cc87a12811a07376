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

bool Responder::tryToPerform(Command selector, Responder* sender) {
  for (Responder* r = this; r; r = r->next_)
    if (r->performAction(selector, sender)) return true;
  return false;
}

void Responder::doCommandBySelector(Command selector) { tryToPerform(selector, this); }

Command Responder::selectorForKeyEvent(const Event& e) {
  bool shift = e.hasModifier(ModifierFlag::Shift);
  bool option = e.hasModifier(ModifierFlag::Option);
  bool command = e.hasModifier(ModifierFlag::Command);
  switch (e.keyCode) {
    case KeyCode::LeftArrow:
      if (command) return shift ? cmd::moveToBeginningOfLineAndModifySelection : cmd::moveToBeginningOfLine;
      if (option) return shift ? cmd::moveWordLeftAndModifySelection : cmd::moveWordLeft;
      return shift ? cmd::moveLeftAndModifySelection : cmd::moveLeft;
    case KeyCode::RightArrow:
      if (command) return shift ? cmd::moveToEndOfLineAndModifySelection : cmd::moveToEndOfLine;
      if (option) return shift ? cmd::moveWordRightAndModifySelection : cmd::moveWordRight;
      return shift ? cmd::moveRightAndModifySelection : cmd::moveRight;
    case KeyCode::UpArrow:
      if (command) return shift ? cmd::moveToBeginningOfDocumentAndModifySelection : cmd::moveToBeginningOfDocument;
      return shift ? cmd::moveUpAndModifySelection : cmd::moveUp;
    case KeyCode::DownArrow:
      if (command) return shift ? cmd::moveToEndOfDocumentAndModifySelection : cmd::moveToEndOfDocument;
      return shift ? cmd::moveDownAndModifySelection : cmd::moveDown;
    case KeyCode::Return:
    case KeyCode::KeypadEnter: return cmd::insertNewline;
    case KeyCode::Tab: return shift ? cmd::insertBacktab : cmd::insertTab;
    case KeyCode::Escape: return cmd::cancelOperation;
    case KeyCode::Delete: return cmd::deleteBackward;
    case KeyCode::ForwardDelete: return cmd::deleteForward;
    case KeyCode::Home: return cmd::scrollToBeginningOfDocument;
    case KeyCode::End: return cmd::scrollToEndOfDocument;
    case KeyCode::PageUp: return cmd::scrollPageUp;
    case KeyCode::PageDown: return cmd::scrollPageDown;
    default: return {};
  }
}

bool Responder::interpretKeyEvents(const Event& e) {
  Command selector = selectorForKeyEvent(e);
  if (selector.empty()) return false;
  doCommandBySelector(selector);
  return true;
}

}  // namespace kesto::ui
