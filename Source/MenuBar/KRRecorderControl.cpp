#include "MenuBar/KRRecorderControl.h"

#include "MenuBar/KRSharedImageProvider.h"
#include "MenuBar/KeyCodeNames.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/KeyboardLayout.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/UI/Window.h"
#include "Views/TextLabel.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {

constexpr std::uint64_t kModifierBits[] = {kr::CocoaCommand, kr::CocoaOption, kr::CocoaControl, kr::CocoaShift,
                                           kr::CocoaFunction};
constexpr double kButtonSize = 14;

bool isCancelKey(std::uint16_t keyCode) { return keyCode == 53 || keyCode == 51 || keyCode == 117; }

}  // namespace

// Follows the pointer over the current button: it draws nothing, and its clicks go on to the
// recorder.
class KRRecorderControl::TrackingArea : public ui::View {
 public:
  explicit TrackingArea(KRRecorderControl& owner) : ui::View(fnd::Rect()), owner_(owner) {}
  void viewDidMoveToWindow() override {
    hover_.clear();
    if (window() && nativeWidget()) hover_.observeViewHover(*this, [this](bool inside) { owner_.mouseEnteredButton(inside); });
  }

 private:
  KRRecorderControl& owner_;
  ui::PlatformObserver hover_;
};

KRRecorderControl::KRRecorderControl(const fnd::Rect& frame) : ui::View(frame), validator_(this) {
  setFrame(frame);
  trackingArea_ = std::make_shared<TrackingArea>(*this);
  addSubview(trackingArea_);
  resetTrackingRects();
  // Keys are named by the characters the layout gives them: a new layout renames them.
  layoutObserver_.observe(sys::KeyboardLayoutDidChangeNotification, [this](const fnd::Notification&) { setNeedsDisplay(); });
}

KRRecorderControl::~KRRecorderControl() {
  lifetime_.end();
  releaseKeyboard();
}

void KRRecorderControl::setFrame(const fnd::Rect& frame) {
  fnd::Rect f = frame;
  f.size.height = kHeight;
  if (f.size.width < kMinWidth) f.size.width = kMinWidth;
  ui::View::setFrame(f);
  resetTrackingRects();
}

std::uint32_t KRRecorderControl::cocoaToCarbonFlags(std::uint64_t flags) { return KRCocoaFlagsToCarbon(flags); }
std::uint64_t KRRecorderControl::carbonToCocoaFlags(std::uint32_t flags) { return KRCarbonFlagsToCocoa(flags); }

std::uint64_t KRRecorderControl::filteredCocoaFlags(std::uint64_t flags) const {
  std::uint64_t result = 0;
  for (std::uint64_t bit : kModifierBits)
    if ((requiredFlags_ & bit) || ((flags & bit) && (allowedFlags_ & bit))) result |= bit;
  return result;
}

bool KRRecorderControl::validModifierFlags(std::uint64_t flags) const {
  if (allowsKeyOnly_) return true;
  for (std::uint64_t bit : kModifierBits)
    if (flags & bit) return true;
  return false;
}

bool KRRecorderControl::isEmpty() const {
  return !validModifierFlags(keyCombo_.flags) || KRKeyCodeName(long(keyCombo_.code)).empty();
}

void KRRecorderControl::setKeyCombo(KeyCombo combo) {
  showKeyCombo(combo);
  comboDidChange();
}

void KRRecorderControl::comboDidChange() {
  resetTrackingRects();
  if (delegate_) delegate_->keyRecorderKeyComboDidChange(*this, keyCombo_);
  saveKeyCombo();
  if (valueBinding_) valueBinding_(objectValue());
}

void KRRecorderControl::setAutosaveName(std::string name) {
  autosaveName_ = std::move(name);
  loadKeyCombo();
}

void KRRecorderControl::saveKeyCombo() const {
  if (autosaveName_.empty()) return;
  fnd::Dictionary record{{"keyCode", fnd::Value(std::int64_t(std::uint16_t(keyCombo_.code)))},
                         {"modifierFlags", fnd::Value(std::int64_t(keyCombo_.flags))},
                         {"modifiers", fnd::Value(std::int64_t(cocoaToCarbonFlags(keyCombo_.flags)))}};
  if (hasKeyChars_) {
    record["keyChars"] = fnd::Value(keyChars_);
    record["keyCharsIgnoringModifiers"] = fnd::Value(keyCharsIgnoringModifiers_);
  }
  fnd::UserDefaults::standard().setObject(fnd::Value(record), "KeyRecorder " + autosaveName_);
}

void KRRecorderControl::loadKeyCombo() {
  if (autosaveName_.empty()) return;
  const auto record = fnd::UserDefaults::standard().dictionaryForKey("KeyRecorder " + autosaveName_).value_or(fnd::Dictionary{});
  auto field = [&](const char* key) {
    auto it = record.find(key);
    return it == record.end() ? fnd::Value() : it->second;
  };
  const auto code = std::uint16_t(field("keyCode").intValue(0));
  std::uint64_t flags = 0;
  if (!field("modifierFlags").isNull()) flags = std::uint64_t(field("modifierFlags").intValue(0));
  else if (!field("modifiers").isNull()) flags = carbonToCocoaFlags(std::uint32_t(field("modifiers").intValue(0)));
  // A name with nothing stored loads key code 0 with the required flags, as the record reads.
  keyCombo_ = KeyCombo{filteredCocoaFlags(flags), code};
  hasKeyChars_ = !field("keyChars").isNull();
  if (hasKeyChars_) {
    keyChars_ = field("keyChars").stringIfString().value_or("");
    keyCharsIgnoringModifiers_ = field("keyCharsIgnoringModifiers").stringIfString().value_or("");
  }
  if (delegate_) delegate_->keyRecorderKeyComboDidChange(*this, keyCombo_);
  resetTrackingRects();
  setNeedsDisplay();
}

fnd::Value KRRecorderControl::objectValue() const {
  if (keyCombo_.code == -1 || keyCombo_.flags == 0) return fnd::Value();
  return fnd::Value(fnd::Dictionary{{"characters", fnd::Value(keyCharsIgnoringModifiers())},
                                    {"keyCode", fnd::Value(std::int64_t(keyCombo_.code))},
                                    {"modifierFlags", fnd::Value(std::int64_t(keyCombo_.flags))}});
}

void KRRecorderControl::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  coder.encodeObject(fnd::Value(autosaveName_), "autosaveName");
  coder.encodeInt64(std::int16_t(keyCombo_.code), "keyComboCode");
  coder.encodeInt64(std::int64_t(keyCombo_.flags), "keyComboFlags");
  coder.encodeInt64(std::int64_t(allowedFlags_), "allowedFlags");
  coder.encodeInt64(std::int64_t(requiredFlags_), "requiredFlags");
  if (hasKeyChars_) {
    coder.encodeObject(fnd::Value(keyChars_), "keyChars");
    coder.encodeObject(fnd::Value(keyCharsIgnoringModifiers_), "keyCharsIgnoringModifiers");
  }
  coder.encodeBool(allowsKeyOnly_, "allowsKeyOnly");
  coder.encodeBool(escapeKeysRecord_, "escapeKeysRecord");
  coder.encodeBool(animates_, "isAnimating");
  coder.encodeInt64(std::int16_t(style_), "style");
}

void KRRecorderControl::initWithCoder(fnd::KeyedUnarchiver& coder) {
  autosaveName_ = coder.decodeString("autosaveName").value_or("");
  keyCombo_.code = std::int16_t(coder.decodeInt64("keyComboCode", -1));
  keyCombo_.flags = std::uint64_t(coder.decodeInt64("keyComboFlags", 0));
  allowedFlags_ = std::uint64_t(coder.decodeInt64("allowedFlags", std::int64_t(kDefaultAllowedFlags))) | kr::CocoaFunction;
  requiredFlags_ = std::uint64_t(coder.decodeInt64("requiredFlags", 0));
  auto chars = coder.decodeString("keyChars"), ignoring = coder.decodeString("keyCharsIgnoringModifiers");
  hasKeyChars_ = chars.has_value();
  keyChars_ = chars.value_or("");
  keyCharsIgnoringModifiers_ = ignoring.value_or("");
  allowsKeyOnly_ = coder.decodeBool("allowsKeyOnly");
  escapeKeysRecord_ = coder.decodeBool("escapeKeysRecord");
  animates_ = coder.decodeBool("isAnimating");
  setStyle(int(coder.decodeInt64("style", 0)));
  loadKeyCombo();
  setNeedsDisplay();
}

fnd::Array KRRecorderControl::encodeUnkeyed() const {
  return {fnd::Value(autosaveName_), fnd::Value(std::int64_t(std::int16_t(keyCombo_.code))),
          fnd::Value(std::int64_t(keyCombo_.flags)), fnd::Value(std::int64_t(allowedFlags_)),
          fnd::Value(std::int64_t(requiredFlags_))};
}

bool KRRecorderControl::initWithUnkeyedValues(const fnd::Array& values) {
  if (values.size() != 5 || !values[0].isString()) return false;
  for (std::size_t i = 1; i < 5; ++i)
    if (!values[i].isInteger()) return false;
  autosaveName_ = values[0].string();
  keyCombo_ = KeyCombo{std::uint64_t(values[2].intValue(0)), std::int16_t(values[1].intValue(-1))};
  allowedFlags_ = std::uint64_t(values[3].intValue(0)) | kr::CocoaFunction;
  requiredFlags_ = std::uint64_t(values[4].intValue(0));
  hasKeyChars_ = false;
  loadKeyCombo();
  setNeedsDisplay();
  return true;
}

void KRRecorderControl::showKeyCombo(KeyCombo combo) {
  keyCombo_ = KeyCombo{filteredCocoaFlags(combo.flags), combo.code};
  hasKeyChars_ = false;
  resetTrackingRects();
  setNeedsDisplay();
}

void KRRecorderControl::refilter() {
  if (recording_) {
    recordingFlags_ = filteredCocoaFlags(recordingFlags_);
  } else {
    std::uint64_t filtered = filteredCocoaFlags(keyCombo_.flags);
    if (filtered != keyCombo_.flags) {
      keyCombo_.flags = filtered;
      if (keyCombo_.code >= 0) comboDidChange();
    }
  }
  setNeedsDisplay();
}

void KRRecorderControl::setAllowedFlags(std::uint64_t flags) {
  allowedFlags_ = flags;
  refilter();
}

void KRRecorderControl::setRequiredFlags(std::uint64_t flags) {
  requiredFlags_ = flags;
  refilter();
}

void KRRecorderControl::setAllowsKeyOnly(bool allows, bool escapeKeysRecord) {
  allowsKeyOnly_ = allows;
  escapeKeysRecord_ = escapeKeysRecord;
}

void KRRecorderControl::setEnabled(bool enabled) {
  enabled_ = enabled;
  if (!enabled && recording_) endRecording();
  resetTrackingRects();
  setNeedsDisplay();
}

std::string KRRecorderControl::removeButtonImageName() const {
  if (mouseInButton_ && mouseDown_) return "KRRemoveShortcutPressed";
  if (mouseInButton_ != mouseDown_) return "KRRemoveShortcutRollover";
  return "KRRemoveShortcut";
}

void KRRecorderControl::mouseEnteredButton(bool inside) {
  mouseInButton_ = inside;
  setNeedsDisplay();
}

void KRRecorderControl::resetTrackingRects() {
  if (!trackingArea_) return;
  const fnd::Rect area = recording_ ? snapbackButtonRect() : removeButtonRect();
  const bool shown = enabled_ && area.size.width > 0;
  trackingArea_->setFrame(shown ? area : fnd::Rect());
  trackingArea_->setHidden(!shown);
  if (!shown) mouseInButton_ = false;
}

void KRRecorderControl::viewDidMoveToWindow() {
  resetTrackingRects();
  keyObserver_.removeAll();
  // Keys typed while the window is not key are another window's or another program's: recording
  // ends with the window's key status, as when the recorder is no longer first responder.
  if (ui::Window* w = window())
    keyObserver_.observe(ui::WindowDidResignKeyNotification, [this](const fnd::Notification&) { stopRecordingNow(); }, w);
}

void KRRecorderControl::takeKeyboard(bool take) {
  if (!globalHotKeys_) return;
  if (!take) return releaseKeyboard();
  // Held only while the window has the focus: given up, recording is over.
  grabKeyboard(lifetime_.whileAlive([this] { stopRecordingNow(); }));
}

void KRRecorderControl::stopRecordingNow() {
  releaseKeyboard();
  if (animatingNow_) {
    animatingNow_ = false;
    progress_ = 0;
    ++tickGeneration_;
  }
  if (recording_) endRecording();
  setNeedsDisplay();
}

std::string KRRecorderControl::keyComboString() const {
  if (isEmpty()) return {};
  std::string glyphs = KRCocoaFlagsGlyphs(keyCombo_.flags), name = KRKeyCodeName(long(keyCombo_.code));
  return glyphs.empty() ? name : glyphs + "+" + name;
}

std::string KRRecorderControl::keyChars() const {
  return hasKeyChars_ ? keyChars_ : KRKeyCodeName(long(keyCombo_.code));
}

std::string KRRecorderControl::keyCharsIgnoringModifiers() const {
  return hasKeyChars_ ? keyCharsIgnoringModifiers_ : KRKeyCharacterForCocoaFlags(long(keyCombo_.code), keyCombo_.flags);
}

std::string KRRecorderControl::displayedText() const { return displayedText(recording_); }

std::string KRRecorderControl::displayedText(bool recordingLayer) const {
  if (!recordingLayer) {
    std::string text = keyComboString();
    return text.empty() ? "Click to record shortcut" : text;
  }
  if (!validModifierFlags(recordingFlags_)) return mouseInButton_ ? "Use old shortcut" : "Type shortcut";
  std::string glyphs = KRCocoaFlagsGlyphs(recordingFlags_);
  return glyphs.empty() ? "Type shortcut" : glyphs + "+";
}

fnd::Rect KRRecorderControl::removeButtonRect() const {
  if (isEmpty() || !enabled_) return fnd::Rect();
  fnd::Rect b = bounds();
  return fnd::Rect(b.maxX() - kButtonSize - 4, (b.maxY() - kButtonSize) / 2, kButtonSize, kButtonSize);
}

fnd::Rect KRRecorderControl::snapbackButtonRect() const {
  fnd::Rect b = bounds();
  return fnd::Rect(b.maxX() - kButtonSize - 2, (b.maxY() - kButtonSize) / 2 + 1, kButtonSize, kButtonSize);
}

void KRRecorderControl::setStyle(int style) { style_ = styleSupportsAnimation(style) ? 1 : 0; }

void KRRecorderControl::startRecordingTransition() { transition(true); }
void KRRecorderControl::endRecordingTransition() { transition(false); }

void KRRecorderControl::transition(bool towardsRecording) {
  if (!(animates_ && style_ == 1)) return towardsRecording ? startRecording() : endRecording();
  towardsRecording_ = towardsRecording;
  animatingNow_ = true;
  progress_ = 0;
  scheduleTick();
}

void KRRecorderControl::scheduleTick() {
  // A newer transition replaces the ticks of the one before.
  const std::uint64_t generation = ++tickGeneration_;
  fnd::DispatchQueue::main().after(kTickInterval, lifetime_.whileAlive([this, generation] {
    if (generation == tickGeneration_) tick();
  }));
}

void KRRecorderControl::tick() {
  progress_ += 2.0 / 21.0;
  if (progress_ >= 0.998) {
    animatingNow_ = false;
    progress_ = 0;
    return towardsRecording_ ? startRecording() : endRecording();
  }
  setNeedsDisplay();
  scheduleTick();
}

void KRRecorderControl::startRecording() {
  recording_ = true;
  recordingFlags_ = filteredCocoaFlags(0);
  takeKeyboard(true);
  resetTrackingRects();
  setNeedsDisplay();
}

void KRRecorderControl::endRecording() {
  recording_ = false;
  recordingFlags_ = 0;
  mouseInButton_ = false;
  takeKeyboard(false);
  resetTrackingRects();
  setNeedsDisplay();
}

bool KRRecorderControl::becomeFirstResponder() {
  setNeedsDisplay();
  return true;
}

bool KRRecorderControl::resignFirstResponder() {
  if (recording_) endRecordingTransition();
  setNeedsDisplay();
  return true;
}

bool KRRecorderControl::shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator&, long keyCode, std::uint64_t cocoaFlags,
                                                                std::string& reason) {
  return delegate_ && delegate_->keyRecorderIsKeyCodeAndFlagsTaken(*this, keyCode, cocoaFlags, reason);
}

bool KRRecorderControl::performKeyEquivalent(const ui::Event& event) {
  // A key typed while the field is still sliding into recording is the first key recorded.
  if (animatingNow_ && towardsRecording_) {
    animatingNow_ = false;
    ++tickGeneration_;
    startRecording();
  }
  std::uint64_t flags = filteredCocoaFlags(event.modifierFlags);
  bool cancel = isCancelKey(event.keyCode);
  bool valid = validModifierFlags(cancel ? event.modifierFlags & ui::ModifierFlag::DeviceIndependentMask : flags);
  if (!recording_ && event.characters == " ") {
    if (enabled_) startRecordingTransition();
    return true;
  }
  if (!recording_ || (!valid && !cancel)) return false;
  if (cancel && !valid) {
    endRecordingTransition();
    return true;
  }
  if (cancel && valid && allowsKeyOnly_ && (flags == 0 || flags == kr::CocoaFunction) && !escapeKeysRecord_) {
    endRecordingTransition();
    return true;
  }
  std::string ignoring = fnd::uppercase(event.charactersIgnoringModifiers);
  if (ignoring.empty() && KRKeyCodeName(event.keyCode).empty()) {
    endRecording();
    return true;
  }
  std::optional<KRError> error;
  if (validator_.isKeyCodeAndFlagsTaken(event.keyCode, KRCocoaFlagsToCarbon(flags), &error)) {
    // Shown once this key press is through; recording goes on behind it.
    auto clearFlags = lifetime_.whileAlive([this] {
      recordingFlags_ = filteredCocoaFlags(0);
      setNeedsDisplay();
    });
    // The alert takes the keys while it is shown: the keyboard is the recorder's again after.
    auto keyboard = lifetime_.whileAlive([this](bool take) { takeKeyboard(take && recording_); });
    ui::Application::postToMain([clearFlags, error, keyboard] {
      keyboard(false);
      ui::Alert alert = alertWithNonRecoverableError(error);
      alert.setAlertStyle(ui::AlertStyle::Critical);
      alert.runModal();
      clearFlags();
      keyboard(true);
    });
    return true;
  }
  keyCombo_ = KeyCombo{flags, event.keyCode};
  keyChars_ = event.characters;
  keyCharsIgnoringModifiers_ = event.charactersIgnoringModifiers;
  hasKeyChars_ = true;
  endRecording();
  comboDidChange();
  return true;
}

void KRRecorderControl::keyDown(const ui::Event& event) {
  if (!performKeyEquivalent(event)) ui::View::keyDown(event);
}

void KRRecorderControl::flagsChanged(const ui::Event& event) {
  if (!recording_) return;
  recordingFlags_ = filteredCocoaFlags(event.modifierFlags);
  setNeedsDisplay();
}

void KRRecorderControl::mouseDown(const ui::Event& event) {
  fnd::Point p = convertPointFromView(event.locationInWindow, nullptr);
  fnd::Rect button = recording_ ? snapbackButtonRect() : removeButtonRect();
  mouseDown_ = button.size.width > 0 && button.contains(p);
  mouseInButton_ = mouseDown_;
  setNeedsDisplay();
}

void KRRecorderControl::mouseDragged(const ui::Event& event) {
  fnd::Point p = convertPointFromView(event.locationInWindow, nullptr);
  fnd::Rect button = recording_ ? snapbackButtonRect() : removeButtonRect();
  mouseInButton_ = button.size.width > 0 && button.contains(p);
  setNeedsDisplay();
}

void KRRecorderControl::mouseUp(const ui::Event& event) {
  fnd::Point p = convertPointFromView(event.locationInWindow, nullptr);
  fnd::Rect button = recording_ ? snapbackButtonRect() : removeButtonRect();
  bool inside = button.size.width > 0 && button.contains(p);
  mouseDown_ = false;
  // Still over the button after the click.
  mouseInButton_ = inside;
  if (inside) {
    if (recording_) endRecordingTransition();  // snap back: nothing changes
    else setKeyCombo(KeyCombo{});    // remove
  } else if (!recording_ && enabled_ && bounds().contains(p)) {
    startRecordingTransition();
  }
  if (enabled_ && window()) window()->makeFirstResponder(this);
  resetTrackingRects();
  setNeedsDisplay();
}

void KRRecorderControl::drawLayer(ui::GraphicsContext& g, bool recordingLayer, double dy, double textAlpha) {
  const fnd::Rect b = bounds().offsetBy(0, dy);
  const double radius = b.size.height / 2;
  fnd::Rect field = b;
  if (recordingLayer) {
    g.saveState();
    g.clipToPath(ui::Path::roundedRect(b, radius, radius));
    ui::Gradient gradient{{{0.0, ui::Color::rgb(0.16, 0.42, 0.80, 0.9)}, {1.0, ui::Color::rgb(0.36, 0.60, 0.93, 0.9)}}};
    g.fillGradient(gradient, b, 90);
    if (mouseInButton_) {
      g.setFillColor(ui::Color::white(0, mouseDown_ ? 0.4 : 0.2));
      g.fillRect(b);
    }
    g.restoreState();
    g.drawImage(KRSharedImageProvider::supportingImageWithName("KRSnapback"), snapbackButtonRect().offsetBy(0, dy));
    field = fnd::Rect(b.minX() + 9 - 7.5, b.minY() + 2, b.size.width - 18, b.size.height - 4);
  }
  ui::Path capsule = ui::Path::roundedRect(field, field.size.height / 2, field.size.height / 2);
  g.setFillColor(ui::Color::white());
  g.fillPath(capsule);
  if (!recordingLayer) {
    capsule.setLineWidth(1);
    g.setStrokeColor(ui::Color::white(0.6));
    g.strokePath(capsule);
    fnd::Rect r = removeButtonRect().offsetBy(0, dy);
    if (r.size.width > 0) g.drawImage(KRSharedImageProvider::supportingImageWithName(removeButtonImageName()), r);
  }
  const bool plain = recordingLayer || isEmpty();
  ui::Font font;
  font.pointSize = plain ? 12 : 11;
  double buttonWidth = recordingLayer ? snapbackButtonRect().size.width : removeButtonRect().size.width;
  double width = b.size.width - 6 - ((!recordingLayer && isEmpty()) ? 6 : buttonWidth + 6);
  // Text draws from the top of its rectangle: give it a line's height, centred in the capsule.
  const double line = std::min(TextLabel::lineHeight(font), b.size.height);
  fnd::Rect text(b.minX() + 6, b.minY() + (b.size.height - line) / 2, width, line);
  // The recording text sits a little lower in the animated style.
  if (style_ == 1 && recordingLayer) text = text.offsetBy(0, -3);
  const ui::Color color = plain ? ui::Color::white(0.45) : ui::Color::black();
  g.drawText(displayedText(recordingLayer), text, font, color.withAlpha(color.alphaComponent() * textAlpha),
             ui::TextAlignment::Center);
}

double KREaseInOut(double t) { return (std::sin(M_PI * t - M_PI / 2) + 1) / 2; }

void KRRecorderControl::drawRect(ui::GraphicsContext& g, const fnd::Rect&) {
  if (!animatingNow_) return drawLayer(g, recording_, 0, 1);
  // The idle layer slides up out of the field while the recording one comes up from below (and
  // back the other way); their texts cross-fade.
  const double h = bounds().size.height, eased = KREaseInOut(progress_);
  const double shown = towardsRecording_ ? eased : 1 - eased;
  g.saveState();
  g.clipToRect(bounds());
  drawLayer(g, false, h * shown, 1 - shown);
  drawLayer(g, true, -h * (1 - shown), shown);
  g.restoreState();
}

}  // namespace kesto
