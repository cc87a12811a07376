#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kesto {

// Modifier flags in their two forms. Cocoa flags are what key events and the shortcut recorder
// carry; Carbon flags are what hot-key registration and the stored preference use. On this
// desktop command is Ctrl, option is Alt and control is Super.
namespace kr {
constexpr std::uint64_t CocoaCommand = 0x100000, CocoaOption = 0x80000, CocoaControl = 0x40000,
                        CocoaShift = 0x20000, CocoaFunction = 0x800000;
constexpr std::uint32_t CarbonCommand = 0x100, CarbonShift = 0x200, CarbonOption = 0x800, CarbonControl = 0x1000,
                        CarbonFunction = 0x800000;
}  // namespace kr

// The global shortcut used when none was recorded: Super+Alt+Ctrl+P (control-option-command P).
inline constexpr long kDefaultHotKeyCode = 35;
inline constexpr std::uint32_t kDefaultHotKeyFlags = kr::CarbonControl | kr::CarbonOption | kr::CarbonCommand;

// The name of a key code: a fixed name for the special keys ("F1", "Space", "Left"), else the
// character the key types in the current keyboard layout, upper-cased ("Pad 1" for keypad keys).
// Empty (no name) for a negative code or a key that types nothing.
std::string KRKeyCodeName(long keyCode);

// The modifiers present, as the desktop writes them, in the order Super, Alt, Shift, Ctrl
// (control, option, shift, command), joined by "+"; empty without modifiers.
std::string KRCarbonFlagsGlyphs(std::uint32_t carbonFlags);
std::string KRCocoaFlagsGlyphs(std::uint64_t cocoaFlags);
// The modifiers followed by the key name: "Super+Alt+Ctrl+P".
std::string KRCarbonShortcutString(std::uint32_t carbonFlags, long keyCode);
std::string KRCocoaShortcutString(std::uint64_t cocoaFlags, long keyCode);
// Readable words: "Ctrl + ", "Alt + ", "Super + ", "Shift + " for the modifiers present (command,
// option, control, shift), then the key name.
std::string KRCarbonShortcutWords(std::uint32_t carbonFlags, long keyCode);
std::string KRCocoaShortcutWords(std::uint64_t cocoaFlags, long keyCode);

// Each known modifier bit to its counterpart; the function-key bit passes unchanged, every other
// bit is dropped.
std::uint64_t KRCarbonFlagsToCocoa(std::uint32_t carbonFlags);
std::uint32_t KRCocoaFlagsToCarbon(std::uint64_t cocoaFlags);

// The character the key types with the Shift and Option (AltGr) of the flags, capitalised;
// the key's name when the layout gives none.
std::string KRKeyCharacterForCocoaFlags(long keyCode, std::uint64_t cocoaFlags);
std::string KRKeyCharacterForCarbonFlags(long keyCode, std::uint32_t carbonFlags);

// Key code and name both ways; the reverse map follows the keyboard layout (rebuilt when the
// layout changes), and where two keys share a name the higher key code wins. Main thread only.
class KRKeyCodeTransformer {
 public:
  static std::string transformedValue(long keyCode) { return KRKeyCodeName(keyCode); }
  static std::optional<long> reverseTransformedValue(const std::string& name);
  static void regenerateStringToKeyCodeMapping();
};

}  // namespace kesto
