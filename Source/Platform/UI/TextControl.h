#pragma once

#include "Platform/UI/Color.h"
#include "Platform/UI/Control.h"
#include "Platform/UI/TextEditingDelegate.h"

#include <string>

namespace kesto::ui {

// The editing session shared by text fields, text views and token fields: the delegate's hooks
// in order (should-begin as the focus arrives, did-begin at the first change, did-change,
// did-end as the focus leaves) and the command hook for bound keys.
class TextControl : public Control {
 public:
  using Control::Control;

  // Not owned; a delegate that goes away first is cleared.
  TextEditingDelegate* delegate() const { return delegateAlive_ ? delegate_ : nullptr; }
  void setDelegate(TextEditingDelegate* delegate);

  virtual std::string stringValue() const = 0;
  virtual void setStringValue(const std::string& text) = 0;

  bool isEditable() const { return editable_; }
  void setEditable(bool editable);
  // True while a session is open (the control holds the keyboard focus).
  bool isEditing() const { return session_; }
  // True while a session is open in which the user has changed the text.
  bool isChangedWhileEditing() const { return session_ && began_; }
  // Closes the session and hands the focus back to the window.
  void endEditing();

  void keyDown(const Event& event) override;

 protected:
  // Subclasses report each change the user made.
  void userDidChangeText();
  // Makes the widget read-only or writable.
  virtual void applyReadOnly(bool readOnly) = 0;
  void widgetDidGainFocus() override;
  void widgetDidLoseFocus() override;

 private:
  TextEditingDelegate* delegate_ = nullptr;
  fnd::Lifetime::Watch delegateAlive_;
  bool editable_ = true;
  bool session_ = false;
  bool refused_ = false;
  bool began_ = false;
};

}  // namespace kesto::ui
