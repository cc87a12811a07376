#pragma once

#include "Platform/Foundation/Geometry.h"

#include <cstdint>
#include <string>

namespace kesto::ui {

class Window;

// Modifier bits as the rest of the system stores and compares them. Ctrl is Command, Alt is
// Option and Super is Control, so shortcuts read the same everywhere.
namespace ModifierFlag {
constexpr std::uint64_t CapsLock = 0x10000;
constexpr std::uint64_t Shift = 0x20000;
constexpr std::uint64_t Control = 0x40000;
constexpr std::uint64_t Option = 0x80000;
constexpr std::uint64_t Command = 0x100000;
constexpr std::uint64_t NumericPad = 0x200000;
constexpr std::uint64_t Function = 0x800000;
constexpr std::uint64_t DeviceIndependentMask = 0xffff0000;
}  // namespace ModifierFlag

// Virtual key codes by physical key position (ANSI layout).
namespace KeyCode {
constexpr std::uint16_t A = 0, S = 1, D = 2, F = 3, H = 4, G = 5, Z = 6, X = 7, C = 8, V = 9,
                        B = 11, Q = 12, W = 13, E = 14, R = 15, Y = 16, T = 17, O = 31, U = 32,
                        I = 34, P = 35, L = 37, J = 38, K = 40, N = 45, M = 46;
constexpr std::uint16_t Return = 36, Tab = 48, Space = 49, Delete = 51, Escape = 53,
                        ForwardDelete = 117, Home = 115, End = 119, PageUp = 116, PageDown = 121,
                        LeftArrow = 123, RightArrow = 124, DownArrow = 125, UpArrow = 126,
                        KeypadEnter = 76, F2 = 120;
constexpr std::uint16_t Invalid = 0xffff;
// The keys of the letters a-z and digits 0-9 (index 0 is "a" and "0").
std::uint16_t forLetter(int index);
std::uint16_t forDigit(int index);
}  // namespace KeyCode

enum class EventType {
  LeftMouseDown = 1,
  LeftMouseUp = 2,
  RightMouseDown = 3,
  RightMouseUp = 4,
  MouseMoved = 5,
  LeftMouseDragged = 6,
  RightMouseDragged = 7,
  KeyDown = 10,
  KeyUp = 11,
  FlagsChanged = 12,
  ScrollWheel = 22,
};

// One input event. Locations are in the window's coordinates (origin bottom left, y upwards).
struct Event {
  EventType type = EventType::LeftMouseDown;
  Window* window = nullptr;
  fnd::Point locationInWindow;
  std::uint64_t modifierFlags = 0;
  int clickCount = 0;
  std::uint16_t keyCode = KeyCode::Invalid;
  std::string characters;
  std::string charactersIgnoringModifiers;
  bool isARepeat = false;
  double deltaX = 0, deltaY = 0;  // scroll wheel (positive moves content down/right)
  // Scroll deltas in points (a touchpad); false: in lines (a notched wheel, already times the
  // desktop's lines per notch), which a scroll view turns into points with its line height.
  bool hasPreciseScrollingDeltas = true;
  double timestamp = 0;

  bool hasModifier(std::uint64_t flag) const { return (modifierFlags & flag) != 0; }

  static Event mouse(EventType type, fnd::Point location, std::uint64_t flags = 0,
                     int clickCount = 1, Window* window = nullptr);
  static Event key(std::uint16_t keyCode, std::uint64_t flags = 0, std::string characters = {},
                   Window* window = nullptr);
  static Event scroll(fnd::Point location, double deltaX, double deltaY, Window* window = nullptr);
  // The modifier keys held now (for actions that act differently with a key held).
  static std::uint64_t currentModifierFlags();
  // The desktop's longest time between the clicks of a double click, in seconds.
  static double doubleClickInterval();
};

}  // namespace kesto::ui
