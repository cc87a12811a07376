#include "Platform/UI/Event.h"

namespace kesto::ui {

std::uint16_t KeyCode::forLetter(int index) {
  static const std::uint16_t letters[26] = {A, B, C, D, E, F, G, H, I, J, K, L, M,
                                            N, O, P, Q, R, S, T, U, V, W, X, Y, Z};
  return index >= 0 && index < 26 ? letters[index] : Invalid;
}

std::uint16_t KeyCode::forDigit(int index) {
  static const std::uint16_t digits[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
  return index >= 0 && index < 10 ? digits[index] : Invalid;
}

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
