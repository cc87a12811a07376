#pragma once

#include "Platform/UI/Command.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/StandardCommands.h"

#include <string>
#include <string_view>

namespace kesto::ui {

class MenuItem;

// An object in the responder chain. Unhandled events and action messages travel to the next
// responder; actions are commands, named by their selector text ("moveUp:", "selectAll:", ...).
class Responder {
 public:
  virtual ~Responder();

  Responder* nextResponder() const { return next_; }
  virtual void setNextResponder(Responder* next) { next_ = next; }

  virtual bool acceptsFirstResponder() { return false; }
  virtual bool becomeFirstResponder() { return true; }
  virtual bool resignFirstResponder() { return true; }

  // Default event handling hands the event to the next responder.
  virtual void mouseDown(const Event& event);
  virtual void mouseUp(const Event& event);
  virtual void mouseDragged(const Event& event);
  virtual void mouseMoved(const Event& event);
  virtual void rightMouseDown(const Event& event);
  virtual void rightMouseUp(const Event& event);
  virtual void keyDown(const Event& event);
  virtual void keyUp(const Event& event);
  // A modifier key pressed or released alone.
  virtual void flagsChanged(const Event& event) {}
  virtual void scrollWheel(const Event& event);

  // Runs the action when this responder implements it; answers whether it did.
  virtual bool performAction(Command selector, Responder* sender) { return false; }
  // Whether performAction takes this selector. Menus and key equivalents look for the receiver
  // of an action with it, so a responder that overrides performAction overrides this too.
  virtual bool respondsToAction(Command selector) const { return false; }
  // Asked of the receiver found for a menu item's action before the item shows or its key
  // equivalent is sent: answers whether the item is enabled (it may also set the item's state).
  virtual bool validateMenuItem(MenuItem& item) { return true; }
  // Offers the action to this responder and then along the chain; answers whether one took it.
  bool tryToPerform(Command selector, Responder* sender = nullptr);
  // The key-binding entry point: `interpretKeyEvents` turns a key into commands and sends them
  // here. The default offers each to the chain.
  virtual void doCommandBySelector(Command selector);
  // Translates a key event with the standard bindings (arrows, Shift-arrows, Return, Escape,
  // Tab, Delete, Home/End, Page keys) and sends the command through doCommandBySelector.
  // Answers false when the key has no binding.
  bool interpretKeyEvents(const Event& event);

  // The command bound to a key event, or none.
  static Command selectorForKeyEvent(const Event& event);

 private:
  Responder* next_ = nullptr;
};

}  // namespace kesto::ui
