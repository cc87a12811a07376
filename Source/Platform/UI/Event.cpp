#include "Platform/UI/Event.h"

namespace kesto::ui {

Event Event::mouse(EventType type, fnd::Point location, std::uint64_t flags, int clickCount,
                   Window* window) {
  Event e;
  e.type = type;
  e.locationInWindow = location;
  e.modifierFlags = flags;
  e.clickCount = clickCount;
  e.window = window;
  return e;
}

Event Event::key(std::uint16_t keyCode, std::uint64_t flags, std::string characters, Window* window) {
  Event e;
  e.type = EventType::KeyDown;
  e.keyCode = keyCode;
  e.modifierFlags = flags;
  e.characters = characters;
  e.charactersIgnoringModifiers = std::move(characters);
  e.window = window;
  return e;
}

Event Event::scroll(fnd::Point location, double deltaX, double deltaY, Window* window) {
  Event e;
  e.type = EventType::ScrollWheel;
  e.locationInWindow = location;
  e.deltaX = deltaX;
  e.deltaY = deltaY;
  e.window = window;
  return e;
}

}  // namespace kesto::ui
