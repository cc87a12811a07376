#include "MenuBar/KeyCodeNames.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/System/KeyboardLayout.h"

#include <map>
#include <unordered_map>

namespace kesto {

namespace {

const std::unordered_map<long, std::string>& specialKeys() {
  static const std::unordered_map<long, std::string> table = [] {
    std::unordered_map<long, std::string> t;
    const long functionKeys[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105, 107, 113, 106, 64, 79, 80};
    for (std::size_t i = 0; i < std::size(functionKeys); ++i) t[functionKeys[i]] = "F" + std::to_string(i + 1);
    t[49] = "Space";
    t[51] = "Backspace";
    t[117] = "Delete";
    t[71] = "Num Lock";
    t[123] = "Left";
    t[124] = "Right";
    t[126] = "Up";
    t[125] = "Down";
    t[119] = "End";
    t[115] = "Home";
    t[53] = "Escape";
    t[121] = "Page Down";
    t[116] = "Page Up";
    t[36] = "Return";
    t[76] = "Enter";
    t[48] = "Tab";
    t[114] = "Insert";
    return t;
  }();
  return table;
}

bool isPadKey(long keyCode) {
  switch (keyCode) {
    case 65: case 67: case 69: case 75: case 78: case 81: case 82: case 83: case 84: case 85: case 86:
    case 87: case 88: case 89: case 91: case 92: return true;
    default: return false;
  }
}

struct ReverseMap {
  std::map<std::string, long> names;
  bool built = false;
  fnd::ScopedObserver layoutObserver;
};

ReverseMap& reverseMap() {
  static ReverseMap map;
  return map;
}

std::string joined(std::initializer_list<std::pair<bool, const char*>> parts, const char* separator) {
  std::string text;
  for (const auto& [present, name] : parts) {
    if (!present) continue;
    if (!text.empty()) text += separator;
    text += name;
  }
  return text;
}

}  // namespace

std::string KRKeyCodeName(long keyCode) {
  // The code is read as the 16-bit value key events carry.
  auto code = static_cast<std::int16_t>(keyCode);
  if (code < 0 || keyCode != code) return {};
  auto special = specialKeys().find(code);
  if (special != specialKeys().end()) return special->second;
  std::string character = sys::KeyboardLayout::characterForKeyCode(code);
  if (character.empty()) return {};
  std::string name = fnd::uppercase(character);
  return isPadKey(code) ? "Pad " + name : name;
}

std::string KRCarbonFlagsGlyphs(std::uint32_t f) {
  return joined({{(f & kr::CarbonControl) != 0, "Super"},
                 {(f & kr::CarbonOption) != 0, "Alt"},
                 {(f & kr::CarbonShift) != 0, "Shift"},
                 {(f & kr::CarbonCommand) != 0, "Ctrl"}},
                "+");
}

std::string KRCocoaFlagsGlyphs(std::uint64_t f) { return KRCarbonFlagsGlyphs(KRCocoaFlagsToCarbon(f)); }

std::string KRCarbonShortcutString(std::uint32_t carbonFlags, long keyCode) {
  std::string glyphs = KRCarbonFlagsGlyphs(carbonFlags), name = KRKeyCodeName(keyCode);
  return glyphs.empty() ? name : glyphs + "+" + name;
}

std::string KRCocoaShortcutString(std::uint64_t cocoaFlags, long keyCode) {
  return KRCarbonShortcutString(KRCocoaFlagsToCarbon(cocoaFlags), keyCode);
}

std::string KRCarbonShortcutWords(std::uint32_t f, long keyCode) {
  std::string words;
  if (f & kr::CarbonCommand) words += "Ctrl + ";
  if (f & kr::CarbonOption) words += "Alt + ";
  if (f & kr::CarbonControl) words += "Super + ";
  if (f & kr::CarbonShift) words += "Shift + ";
  return words + KRKeyCodeName(keyCode);
}

std::string KRCocoaShortcutWords(std::uint64_t cocoaFlags, long keyCode) {
  return KRCarbonShortcutWords(KRCocoaFlagsToCarbon(cocoaFlags), keyCode);
}

namespace {
// Each modifier in both forms; the function-key bit is the same in both.
constexpr std::pair<std::uint64_t, std::uint32_t> kModifierPairs[] = {
    {kr::CocoaCommand, kr::CarbonCommand}, {kr::CocoaOption, kr::CarbonOption}, {kr::CocoaControl, kr::CarbonControl},
    {kr::CocoaShift, kr::CarbonShift}, {kr::CocoaFunction, kr::CarbonFunction}};
}  // namespace

std::uint64_t KRCarbonFlagsToCocoa(std::uint32_t f) {
  std::uint64_t c = 0;
  for (const auto& [cocoa, carbon] : kModifierPairs)
    if (f & carbon) c |= cocoa;
  return c;
}

std::uint32_t KRCocoaFlagsToCarbon(std::uint64_t f) {
  std::uint32_t c = 0;
  for (const auto& [cocoa, carbon] : kModifierPairs)
    if (f & cocoa) c |= carbon;
  return c;
}

std::string KRKeyCharacterForCocoaFlags(long keyCode, std::uint64_t cocoaFlags) {
  if (keyCode < 0) return KRKeyCodeName(keyCode);
  std::string c = sys::KeyboardLayout::characterForKeyCode(int(keyCode), (cocoaFlags & kr::CocoaShift) != 0,
                                                           (cocoaFlags & kr::CocoaOption) != 0);
  return c.empty() ? KRKeyCodeName(keyCode) : fnd::capitalized(c);
}

std::string KRKeyCharacterForCarbonFlags(long keyCode, std::uint32_t carbonFlags) {
  return KRKeyCharacterForCocoaFlags(keyCode, KRCarbonFlagsToCocoa(carbonFlags));
}

std::optional<long> KRKeyCodeTransformer::reverseTransformedValue(const std::string& name) {
  KESTO_ASSERT_MAIN_THREAD();
  auto& map = reverseMap();
  if (!map.built) {
    regenerateStringToKeyCodeMapping();
    map.layoutObserver.observe(sys::KeyboardLayoutDidChangeNotification,
                               [](const fnd::Notification&) { regenerateStringToKeyCodeMapping(); });
  }
  auto it = map.names.find(name);
  if (it == map.names.end()) return std::nullopt;
  return it->second;
}

void KRKeyCodeTransformer::regenerateStringToKeyCodeMapping() {
  KESTO_ASSERT_MAIN_THREAD();
  auto& map = reverseMap();
  map.names.clear();
  map.built = true;
  for (long code = 0; code < 128; ++code) {
    std::string name = KRKeyCodeName(code);
    if (!name.empty()) map.names[name] = code;
  }
}

}  // namespace kesto
