#pragma once

#include "MenuBar/KRValidator.h"
#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/View.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kesto {

// A recorded combination: Cocoa modifier flags and a key code, -1 for none.
struct KeyCombo {
  std::uint64_t flags = 0;
  std::int64_t code = -1;
  bool operator==(const KeyCombo&) const = default;
};

class KRRecorderControl;

class KRRecorderDelegate {
 public:
  virtual ~KRRecorderDelegate() = default;
  // True vetoes the combination; `reason` completes the alert's explanation.
  virtual bool keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl& recorder, long keyCode, std::uint64_t cocoaFlags,
                                                 std::string& reason) {
    return false;
  }
  // Told after every change of the combination.
  virtual void keyRecorderKeyComboDidChange(KRRecorderControl& recorder, KeyCombo combo) {}
};

// The shortcut recorder: a rounded field that shows the current combination with a remove
// button at its right end; clicked (or given Space while focused) it records, shows the
// modifiers held so far and a snap-back button, and takes the next key pressed with valid
// modifiers. Each candidate goes through the validator; a taken one is explained in an alert
// and recording goes on. Escape, Backspace and Delete without modifiers end recording unchanged.
class KRRecorderControl : public ui::View, public fnd::Coding, private KRValidatorDelegate {
 public:
  static constexpr double kHeight = 22, kMinWidth = 50;
  static constexpr std::uint64_t kDefaultAllowedFlags = 0x9E0000;

  explicit KRRecorderControl(const fnd::Rect& frame = fnd::Rect(0, 0, 160, kHeight));
  ~KRRecorderControl() override;

  KRRecorderDelegate* delegate() const { return delegate_; }
  void setDelegate(KRRecorderDelegate* delegate) { delegate_ = delegate; }

  const KeyCombo& keyCombo() const { return keyCombo_; }
  // Stores the combination (flags filtered) and tells the delegate.
  void setKeyCombo(KeyCombo combo);
  // The name the combination is kept under in user defaults ("KeyRecorder <name>"): setting it
  // loads what is stored there (and tells the delegate); every later change is saved there.
  const std::string& autosaveName() const { return autosaveName_; }
  void setAutosaveName(std::string name);
  // The combination as a value: {"characters", "keyCode", "modifierFlags"}, or null when there is
  // no combination or it has no modifiers.
  fnd::Value objectValue() const;
  // The "value" binding: called with objectValue() after the delegate hears of each change.
  void bindValue(std::function<void(const fnd::Value&)> setter) { valueBinding_ = std::move(setter); }
  // Shows a combination decided elsewhere (the stored hot key) without telling the delegate.
  void showKeyCombo(KeyCombo combo);

  std::uint64_t allowedFlags() const { return allowedFlags_; }
  void setAllowedFlags(std::uint64_t flags);
  std::uint64_t requiredFlags() const { return requiredFlags_; }
  void setRequiredFlags(std::uint64_t flags);
  bool allowsKeyOnly() const { return allowsKeyOnly_; }
  void setAllowsKeyOnly(bool allows, bool escapeKeysRecord = false);
  bool escapeKeysRecord() const { return escapeKeysRecord_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  // While recording, the desktop's own shortcuts (and other programs' hot keys) are kept from
  // firing: the recorder holds the keyboard until recording ends.
  bool canCaptureGlobalHotKeys() const { return globalHotKeys_; }
  void setCanCaptureGlobalHotKeys(bool capture) { globalHotKeys_ = capture; }

  // Archiving, keyed ("KRRecorderCell": "autosaveName", "keyComboCode", "keyComboFlags",
  // "allowedFlags", "requiredFlags", "keyChars" and "keyCharsIgnoringModifiers" when typed,
  // "allowsKeyOnly", "escapeKeysRecord", "isAnimating", "style") and unkeyed (the autosave name,
  // code, flags, allowed and required flags, in that order). Reading back adds the function-key
  // bit to the allowed flags and then loads the autosave record.
  std::string codingClassName() const override { return "KRRecorderCell"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  void initWithCoder(fnd::KeyedUnarchiver& coder);
  fnd::Array encodeUnkeyed() const;
  // False (nothing changed) when the values are not five of the right types.
  bool initWithUnkeyedValues(const fnd::Array& values);

  bool isRecording() const { return recording_; }
  std::uint64_t recordingFlags() const { return recordingFlags_; }
  // "Super+Alt+Ctrl+P", or empty for no combination.
  std::string keyComboString() const;
  std::string keyChars() const;
  std::string keyCharsIgnoringModifiers() const;
  // The text the field shows now.
  std::string displayedText() const;

  // Style 1 can slide between the idle and recording looks; style 0 switches at once. Any other
  // style is 0.
  static bool styleSupportsAnimation(int style) { return style == 1; }
  int style() const { return style_; }
  void setStyle(int style);
  // The slide, when the style supports it: about eleven steps of 1/30 s.
  bool animates() const { return animates_; }
  void setAnimates(bool animates) { animates_ = animates; }
  bool isAnimatingNow() const { return animatingNow_; }
  static constexpr double kTickInterval = 1.0 / 30.0;

  static std::uint32_t cocoaToCarbonFlags(std::uint64_t flags);
  static std::uint64_t carbonToCocoaFlags(std::uint32_t flags);
  std::uint64_t filteredCocoaFlags(std::uint64_t flags) const;

  // The buttons at the right end, in the view's coordinates; zero when absent.
  fnd::Rect removeButtonRect() const;
  fnd::Rect snapbackButtonRect() const;
  // The remove button's image: "KRRemoveShortcutPressed" while pressed with the pointer on it,
  // "KRRemoveShortcutRollover" with the pointer on it (or pressed and dragged off it), else
  // "KRRemoveShortcut".
  std::string removeButtonImageName() const;
  bool mouseInsideTrackingArea() const { return mouseInButton_; }
  // The pointer entering or leaving the current button (the window reports it).
  void mouseEnteredButton(bool inside);
  // Puts the area that follows the pointer over the current button (none when disabled).
  void resetTrackingRects();

  // A key press as the control's window delivers it: true when the recorder took it.
  bool performKeyEquivalent(const ui::Event& event);

  void setFrame(const fnd::Rect& frame) override;
  bool acceptsFirstResponder() override { return true; }
  bool acceptsFirstMouse(const ui::Event&) override { return true; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  bool claimsKeyEquivalents() const override { return recording_; }
  void keyDown(const ui::Event& event) override;
  void flagsChanged(const ui::Event& event) override;
  void mouseDown(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;
  void mouseDragged(const ui::Event& event) override;
  void viewDidMoveToWindow() override;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  bool shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator& validator, long keyCode, std::uint64_t cocoaFlags,
                                               std::string& reason) override;
  bool validModifierFlags(std::uint64_t flags) const;
  bool isEmpty() const;
  void startRecording();
  void endRecording();
  // Start or end recording, sliding there first when animated.
  void startRecordingTransition();
  void endRecordingTransition();
  void transition(bool towardsRecording);
  void scheduleTick();
  void tick();
  void drawLayer(ui::GraphicsContext& g, bool recordingLayer, double dy, double textAlpha);
  std::string displayedText(bool recordingLayer) const;
  void refilter();
  // Tells the delegate, saves under the autosave name and pushes the value binding.
  void comboDidChange();
  void saveKeyCombo() const;
  void loadKeyCombo();

  void takeKeyboard(bool take);
  // Ends recording (or the slide towards it) at once without a change, the keyboard let go.
  void stopRecordingNow();

  class TrackingArea;
  std::shared_ptr<TrackingArea> trackingArea_;
  KRRecorderDelegate* delegate_ = nullptr;
  bool globalHotKeys_ = false;
  KRValidator validator_;
  KeyCombo keyCombo_;
  std::string autosaveName_;
  int style_ = 0;
  bool animates_ = false, animatingNow_ = false, towardsRecording_ = false;
  double progress_ = 0;
  std::uint64_t tickGeneration_ = 0;
  std::function<void(const fnd::Value&)> valueBinding_;
  std::string keyChars_, keyCharsIgnoringModifiers_;
  bool hasKeyChars_ = false;
  std::uint64_t allowedFlags_ = kDefaultAllowedFlags, requiredFlags_ = 0, recordingFlags_ = 0;
  bool allowsKeyOnly_ = false, escapeKeysRecord_ = false, enabled_ = true;
  bool recording_ = false, mouseDown_ = false, mouseInButton_ = false;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
  fnd::ScopedObserver layoutObserver_;
  fnd::ScopedObserver keyObserver_;
};

// Eases an animation's progress (0 to 1) in and out.
double KREaseInOut(double t);

}  // namespace kesto
