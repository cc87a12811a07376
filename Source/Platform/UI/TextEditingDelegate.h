#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Command.h"

namespace kesto::ui {

class Control;

// What a text control tells its delegate while the user edits it. An editing session opens
// when the control takes the keyboard focus and closes when it gives it up.
class TextEditingDelegate {
 public:
  TextEditingDelegate() = default;
  // A copy is a delegate of its own, with its own lifetime.
  TextEditingDelegate(const TextEditingDelegate&) {}
  TextEditingDelegate& operator=(const TextEditingDelegate&) { return *this; }
  virtual ~TextEditingDelegate() = default;
  // Controls keep this to notice the delegate going away before them.
  fnd::Lifetime::Watch lifetime() const { return lifetime_.watch(); }

  // Asked as a session opens; false keeps the text read-only until the focus leaves.
  virtual bool controlTextShouldBeginEditing(Control& control) { return true; }
  // The first change of a session.
  virtual void controlTextDidBeginEditing(Control& control) {}
  // Every change the user makes (typing, pasting, deleting, committing an input method).
  virtual void controlTextDidChange(Control& control) {}
  // The session closed with the focus leaving (a session that changed nothing closes too).
  virtual void controlTextDidEndEditing(Control& control) {}
  // A key bound to a command ("moveUp:", "moveDown:", "insertTab:", "insertNewline:",
  // "cancelOperation:", ...) is offered here first; true means handled, and the control does
  // nothing more with the key.
  virtual bool controlTextViewDoCommandBySelector(Control& control, Command selector) { return false; }

 private:
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto::ui
