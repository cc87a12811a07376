#pragma once

#include "Platform/UI/View.h"

#include <memory>
#include <string>

namespace kesto::ui {

// A view whose content is one of the toolkit's own widgets (a text field, a list, a button), so
// editing, input methods, the clipboard, focus and accessibility behave as everywhere else on
// the desktop. The widget fills the view's frame and is shown, hidden and faded with the view.
//
// Focus is shared both ways: the widget taking the keyboard focus makes the view its window's
// first responder, and making the view first responder focuses the widget. Tab moves along the
// toolkit's focus chain (the order in which the widgets entered the window).
//
// Presses and keys that reach the widget pass through the view's mouseDown / mouseUp / keyDown
// first. The base implementations hand the event on to the widget, so a subclass acts before
// or after the widget by calling the base at the right moment, or swallows the event by not
// calling it. A key or click the widget leaves unused travels on along the responder chain.
class WidgetHostView : public View {
 public:
  explicit WidgetHostView(const fnd::Rect& frame = fnd::Rect());
  ~WidgetHostView() override;

  bool acceptsFirstResponder() override;
  bool becomeFirstResponder() override;
  // True while the widget (or one of its parts) holds the keyboard focus.
  bool hasKeyboardFocus() const;
  // Ends what the widget's focus began (a text control's editing) once the focus has left it
  // where the toolkit sends no focus event: a window that is not active moves no focus. Nothing
  // while the widget still holds the focus, or when it held none.
  void focusDidLeave();

  // Whether a click gives the widget the keyboard focus (on by default for widgets that take
  // focus at all). Off, the widget is still reached with Tab or from code.
  bool takesFocusOnClick() const { return clickFocus_; }
  void setTakesFocusOnClick(bool on);

  // For a control that only shows a value: neither a click nor Tab ever gives the widget (or
  // any part of it) the keyboard focus.
  void refuseKeyboardFocus();
  // For a control inside a view that takes the clicks itself (a cell of a list): the widget (and
  // any part of it) never receives the mouse. Presses, drags and right clicks come to this view's
  // handlers as they come to a drawn view, and the widget's own context menu never opens.
  void refuseMouse();

  // Greyed out and deaf to input when disabled.
  bool isEnabled() const;
  void setEnabled(bool enabled);

  // What assistive technology reads for the widget.
  std::string accessibilityLabel() const;
  void setAccessibilityLabel(const std::string& label);
  std::string accessibilityHelp() const;
  void setAccessibilityHelp(const std::string& help);

  void mouseDown(const Event& event) override;
  void mouseUp(const Event& event) override;
  void mouseDragged(const Event& event) override;
  void keyDown(const Event& event) override;
  void keyUp(const Event& event) override;

  // Draws drawOverWidget above the widget (mouse input still reaches the widget).
  void setDrawsOverWidget(bool draws);
  void setNeedsDisplayOverWidget();

  struct Impl;
  Impl* hostImpl() const { return host_.get(); }

 protected:
  // Drawing above the widget, in the view's coordinates, once setDrawsOverWidget is on.
  virtual void drawOverWidget(GraphicsContext& context, const fnd::Rect& dirtyRect) {}
  // The widget gained or lost the keyboard focus. A window losing activation or a pop-up
  // opening takes nothing away: the widget still holds the focus when the window comes back.
  virtual void widgetDidGainFocus() {}
  virtual void widgetDidLoseFocus() {}

 private:
  friend struct Impl;
  std::unique_ptr<Impl> host_;
  bool clickFocus_ = true;
};

}  // namespace kesto::ui
