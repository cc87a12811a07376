#include "FakeHotKeyBackend.h"

#include "Harness/TestDialogResponder.h"
#include "Harness/TestSupport.h"
#include "MenuBar/KRRecorderControl.h"
#include "MenuBar/KRSharedImageProvider.h"
#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/UI/Window.h"
#include "MenuBar/KeyCodeNames.h"
#include "Platform/System/KeyboardLayout.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Image.h"

#include "Platform/Foundation/UserDefaults.h"

#include <gtest/gtest.h>

// Last: the toolkit's headers define names other headers use.
#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace kesto::test {
namespace {

class RecordingDelegate : public KRRecorderDelegate {
 public:
  bool keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl&, long code, std::uint64_t flags, std::string&) override {
    return code == vetoed.code && flags == vetoed.flags;
  }
  void keyRecorderKeyComboDidChange(KRRecorderControl&, KeyCombo combo) override { changes.push_back(combo); }
  KeyCombo vetoed{0, -2};
  std::vector<KeyCombo> changes;
};

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::KeyboardLayout::setLayoutForTesting("us");
    GlobalHotKeyCenter::sharedCenter().setBackend(backend);
    responder = TestDialogResponder::install();
    recorder.setDelegate(&delegate);
  }
  void TearDown() override {
    TestDialogResponder::uninstall();
    GlobalHotKeyCenter::sharedCenter().setBackend(nullptr);
    sys::KeyboardLayout::setLayoutForTesting("");
  }
  static ui::Event key(std::uint16_t code, std::uint64_t flags, const std::string& chars) {
    ui::Event e = ui::Event::key(code, flags, chars);
    e.charactersIgnoringModifiers = chars;
    return e;
  }
  void startRecording() {
    recorder.keyDown(key(ui::KeyCode::Space, 0, " "));
    ASSERT_TRUE(recorder.isRecording());
  }

  std::shared_ptr<FakeHotKeyBackend> backend = std::make_shared<FakeHotKeyBackend>();
  std::shared_ptr<TestDialogResponder> responder;
  RecordingDelegate delegate;
  KRRecorderControl recorder{fnd::Rect(0, 0, 160, 22)};
};

constexpr std::uint64_t kSuperAltCtrl = 0x1C0000;

TEST_F(Recorder, RecordsAComboWithModifiersAndTellsTheDelegateOnce) {
  EXPECT_EQ(recorder.displayedText(), "Click to record shortcut");
  startRecording();
  EXPECT_EQ(recorder.displayedText(), "Type shortcut");
  // Modifiers held so far show while recording.
  ui::Event held = key(ui::KeyCode::Invalid, 0x140000, "");
  held.type = ui::EventType::FlagsChanged;
  recorder.flagsChanged(held);
  EXPECT_EQ(recorder.displayedText(), "Super+Ctrl+");
  // A plain letter is no shortcut: recording goes on.
  EXPECT_FALSE(recorder.performKeyEquivalent(key(ui::KeyCode::P, 0, "p")));
  EXPECT_TRUE(recorder.isRecording());
  recorder.keyDown(key(ui::KeyCode::P, kSuperAltCtrl, "p"));
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  ASSERT_EQ(delegate.changes.size(), 1u);
  EXPECT_EQ(delegate.changes[0], (KeyCombo{kSuperAltCtrl, 35}));
  EXPECT_EQ(recorder.keyComboString(), "Super+Alt+Ctrl+P");
  EXPECT_EQ(recorder.displayedText(), "Super+Alt+Ctrl+P");
  // Key code 0 records like any other.
  startRecording();
  recorder.keyDown(key(ui::KeyCode::A, 0x100000, "a"));
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{0x100000, 0}));
}

TEST_F(Recorder, AutosavedComboIsStoredLoadedAndBound) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.removeObject("KeyRecorder test");
  std::vector<fnd::Value> bound;
  recorder.bindValue([&](const fnd::Value& v) { bound.push_back(v); });
  // A name with nothing stored loads key code 0 with no flags, and the delegate hears of it.
  recorder.setAutosaveName("test");
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{0, 0}));
  ASSERT_EQ(delegate.changes.size(), 1u);
  EXPECT_TRUE(recorder.objectValue().isNull()) << "no modifiers: no value";
  startRecording();
  recorder.keyDown(key(ui::KeyCode::P, kSuperAltCtrl, "p"));
  auto record = defaults.dictionaryForKey("KeyRecorder test");
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["keyCode"].intValue(), 35);
  EXPECT_EQ((*record)["modifierFlags"].intValue(), std::int64_t(kSuperAltCtrl));
  EXPECT_EQ((*record)["modifiers"].intValue(), 0x1900);
  EXPECT_EQ((*record)["keyCharsIgnoringModifiers"].stringIfString().value_or(""), "p");
  ASSERT_EQ(bound.size(), 1u);
  EXPECT_EQ(bound[0]["keyCode"].intValue(), 35);
  EXPECT_EQ(bound[0]["modifierFlags"].intValue(), std::int64_t(kSuperAltCtrl));
  EXPECT_EQ(bound[0]["characters"].stringIfString().value_or(""), "p");

  // Another recorder of that name starts with it; only Carbon modifiers stored still load.
  KRRecorderControl other;
  other.setAutosaveName("test");
  EXPECT_EQ(other.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  EXPECT_EQ(other.keyCharsIgnoringModifiers(), "p");
  defaults.setObject(fnd::Value(fnd::Dictionary{{"keyCode", 11}, {"modifiers", 0x300}}), "KeyRecorder carbon");
  other.setAutosaveName("carbon");
  EXPECT_EQ(other.keyCombo(), (KeyCombo{0x120000, 11}));
  // Clearing stores the cleared combination too.
  recorder.setKeyCombo(KeyCombo{0, -1});
  EXPECT_TRUE(bound.back().isNull());
  EXPECT_EQ((*defaults.dictionaryForKey("KeyRecorder test"))["modifierFlags"].intValue(), 0);
  defaults.removeObject("KeyRecorder test");
  defaults.removeObject("KeyRecorder carbon");
}

TEST_F(Recorder, TheAnimatedStyleSlidesIntoAndOutOfRecording) {
  recorder.setStyle(7);
  EXPECT_EQ(recorder.style(), 0) << "an unknown style is the plain one";
  recorder.setAnimates(true);
  startRecording();  // the plain style switches at once, animated or not
  recorder.keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  EXPECT_FALSE(recorder.isRecording());

  recorder.setStyle(1);
  recorder.keyDown(key(ui::KeyCode::Space, 0, " "));
  EXPECT_TRUE(recorder.isAnimatingNow());
  EXPECT_FALSE(recorder.isRecording()) << "recording starts when the slide ends";
  ASSERT_TRUE(runUntil([&] { return recorder.isRecording(); }, 30));
  EXPECT_FALSE(recorder.isAnimatingNow());
  recorder.keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  EXPECT_TRUE(recorder.isRecording());
  ASSERT_TRUE(runUntil([&] { return !recorder.isRecording(); }, 30));
  EXPECT_TRUE(delegate.changes.empty());
  // A key typed during the slide is recorded, not lost.
  recorder.keyDown(key(ui::KeyCode::Space, 0, " "));
  ASSERT_TRUE(recorder.isAnimatingNow());
  recorder.keyDown(key(ui::KeyCode::P, kSuperAltCtrl, "p"));
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  EXPECT_FALSE(recorder.isAnimatingNow());
  EXPECT_DOUBLE_EQ(KREaseInOut(0), 0);
  EXPECT_DOUBLE_EQ(KREaseInOut(0.5), 0.5);
  EXPECT_NEAR(KREaseInOut(1), 1, 1e-12);
}

TEST_F(Recorder, CancelKeysEndRecordingWithoutAChange) {
  recorder.showKeyCombo({kSuperAltCtrl, 35});
  for (std::uint16_t cancel : {ui::KeyCode::Escape, ui::KeyCode::Delete, ui::KeyCode::ForwardDelete}) {
    startRecording();
    EXPECT_TRUE(recorder.performKeyEquivalent(key(cancel, 0, "")));
    EXPECT_FALSE(recorder.isRecording());
  }
  EXPECT_TRUE(delegate.changes.empty());
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  // With keys alone allowed, Escape still cancels unless it is to be recorded too.
  recorder.setAllowsKeyOnly(true, false);
  startRecording();
  recorder.keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  EXPECT_TRUE(delegate.changes.empty());
  recorder.setAllowsKeyOnly(true, true);
  startRecording();
  recorder.keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  ASSERT_EQ(delegate.changes.size(), 1u);
  EXPECT_EQ(delegate.changes[0], (KeyCombo{0, ui::KeyCode::Escape}));
}

TEST_F(Recorder, ATakenComboIsExplainedAndNeverStored) {
  recorder.showKeyCombo({kSuperAltCtrl, 35});
  delegate.vetoed = {0x120000, 11};
  startRecording();
  EXPECT_TRUE(recorder.performKeyEquivalent(key(ui::KeyCode::B, 0x120000, "B")));
  // Another program's grab refuses too.
  backend->takenElsewhere.insert({40, 0x1800});
  EXPECT_TRUE(recorder.performKeyEquivalent(key(ui::KeyCode::K, 0xC0000, "k")));
  EXPECT_TRUE(recorder.isRecording());
  ASSERT_TRUE(runUntil([&] { return responder->alerts.size() >= 2; }, 30));
  ASSERT_EQ(responder->alerts.size(), 2u);
  EXPECT_EQ(responder->alerts[0].message, "The key combination Shift+Ctrl+B can't be used!");
  EXPECT_EQ(responder->alerts[0].style, ui::AlertStyle::Critical);
  EXPECT_NE(responder->alerts[1].informative.find("system-wide"), std::string::npos);
  EXPECT_TRUE(delegate.changes.empty());
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
}

TEST_F(Recorder, ANewKeyboardLayoutRenamesTheShownKey) {
  recorder.showKeyCombo({kSuperAltCtrl, 16});
  EXPECT_EQ(recorder.displayedText(), "Super+Alt+Ctrl+Y");
  recorder.setNeedsDisplayFlag(false);
  sys::KeyboardLayout::setLayoutForTesting("de");
  EXPECT_TRUE(recorder.needsDisplay());
  EXPECT_EQ(recorder.displayedText(), "Super+Alt+Ctrl+Z");
}

TEST_F(Recorder, FlagsAreFilteredAndTheFieldKeepsItsSize) {
  EXPECT_EQ(recorder.filteredCocoaFlags(0x1E0100), 0x1E0000u);
  recorder.setRequiredFlags(kr::CocoaShift);
  EXPECT_EQ(recorder.filteredCocoaFlags(0), kr::CocoaShift);
  recorder.setAllowedFlags(kr::CocoaCommand);
  EXPECT_EQ(recorder.filteredCocoaFlags(0x1C0000), kr::CocoaCommand | kr::CocoaShift);
  recorder.setFrame(fnd::Rect(0, 0, 30, 40));
  EXPECT_EQ(recorder.frame().size.width, 50);
  EXPECT_EQ(recorder.frame().size.height, 22);
}

TEST_F(Recorder, TheRemoveButtonClearsAndTheSnapBackKeepsTheCombo) {
  recorder.showKeyCombo({kSuperAltCtrl, 35});
  fnd::Rect remove = recorder.removeButtonRect();
  ASSERT_GT(remove.size.width, 0);
  fnd::Point inside{remove.midX(), remove.midY()};
  recorder.mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, inside));
  recorder.mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, inside));
  ASSERT_EQ(delegate.changes.size(), 1u);
  EXPECT_EQ(delegate.changes[0].code, -1);
  EXPECT_EQ(recorder.displayedText(), "Click to record shortcut");
  EXPECT_EQ(recorder.removeButtonRect().size.width, 0);  // nothing to remove

  // A click in the field records; the snap-back button ends it unchanged.
  recorder.showKeyCombo({kSuperAltCtrl, 35});
  fnd::Point field{10, 11};
  recorder.mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, field));
  recorder.mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, field));
  ASSERT_TRUE(recorder.isRecording());
  fnd::Rect snap = recorder.snapbackButtonRect();
  fnd::Point back{snap.midX(), snap.midY()};
  recorder.mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, back));
  recorder.mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, back));
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  EXPECT_EQ(delegate.changes.size(), 1u);
}

TEST_F(Recorder, TheShownComboSitsInTheMiddleOfTheField) {
  // Text draws from the top of its rectangle; the field centres one line of it.
  recorder.showKeyCombo({kSuperAltCtrl, 35});
  const ui::Image shot = recorder.snapshot();
  double sum = 0, dark = 0;
  for (int y = 0; y < 22; ++y)
    for (int x = 20; x < 120; ++x)
      if (shot.pixelColor(x, y).red < 0.4) sum += y, ++dark;
  ASSERT_GT(dark, 20);
  EXPECT_NEAR(sum / dark, 11.0, 2.5);
}


// The remove button's look follows the pointer: rollover over it, pressed while held on it,
// rollover again when dragged off while held; the images are a circle darker for each.
TEST_F(Recorder, TheRemoveButtonRollsOverAndPresses) {
  const auto alphaAt = [](const std::string& name) {
    const ui::Image image = KRSharedImageProvider::supportingImageWithName(name);
    EXPECT_EQ(image.size(), (fnd::Size{14, 14})) << name;
    return image.pixelColor(2, 7).alpha;  // inside the circle, off the cross
  };
  EXPECT_NEAR(alphaAt("KRRemoveShortcut"), 0.25, 0.03);
  EXPECT_NEAR(alphaAt("KRRemoveShortcutRollover"), 0.35, 0.03);
  EXPECT_NEAR(alphaAt("KRRemoveShortcutPressed"), 0.45, 0.03);
  EXPECT_GT(KRSharedImageProvider::supportingImageWithName("KRRemoveShortcut").pixelColor(7, 7).red, 0.8)
      << "the white cross";
  const ui::Image snap = KRSharedImageProvider::supportingImageWithName("KRSnapback");
  EXPECT_GT(snap.pixelColor(4, 6).alpha, 0.5) << "the arrow's head";
  EXPECT_TRUE(KRSharedImageProvider::supportingImageWithName("KRNothing").isNull());

  recorder.showKeyCombo({kSuperAltCtrl, 35});
  const fnd::Rect r = recorder.removeButtonRect();
  const fnd::Point on{r.midX(), r.midY()}, off{20, 11};
  // The drawn button: darker as the look changes.
  const auto drawn = [&] { return recorder.snapshot().pixelColor(int(r.minX() + 2), 11).red; };
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcut");
  const double idle = drawn();
  recorder.mouseEnteredButton(true);
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcutRollover");
  const double over = drawn();
  EXPECT_LT(over, idle - 0.05);
  recorder.mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, on));
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcutPressed");
  EXPECT_LT(drawn(), over - 0.05);
  recorder.mouseDragged(ui::Event::mouse(ui::EventType::LeftMouseDragged, off));
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcutRollover");
  recorder.mouseDragged(ui::Event::mouse(ui::EventType::LeftMouseDragged, on));
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcutPressed");
  // Let go off the button: nothing removed, and the pointer is not over it.
  recorder.mouseDragged(ui::Event::mouse(ui::EventType::LeftMouseDragged, off));
  recorder.mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, off));
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcut");
  EXPECT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  if (recorder.isRecording()) recorder.keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  recorder.mouseEnteredButton(false);
  EXPECT_EQ(recorder.removeButtonImageName(), "KRRemoveShortcut");

  // In a window the pointer is followed over the button itself: the area that tracks it stands
  // on the remove button of a combination shown, on the snap-back button while recording.
  ui::Window window(fnd::Rect(100, 100, 300, 100));
  auto shown = std::make_shared<KRRecorderControl>(fnd::Rect(10, 40, 200, 22));
  window.contentView()->addSubview(shown);
  window.makeKeyAndOrderFront();
  ASSERT_FALSE(shown->subviews().empty());
  ui::View& area = *shown->subviews().front();
  EXPECT_TRUE(area.isHidden()) << "no combination, no button";
  shown->showKeyCombo({kSuperAltCtrl, 35});
  EXPECT_FALSE(area.isHidden());
  EXPECT_EQ(area.frame(), shown->removeButtonRect());
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(static_cast<QWidget*>(static_cast<void*>(area.nativeWidget())), &enter);
  EXPECT_TRUE(shown->mouseInsideTrackingArea());
  EXPECT_EQ(shown->removeButtonImageName(), "KRRemoveShortcutRollover");
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(static_cast<QWidget*>(static_cast<void*>(area.nativeWidget())), &leave);
  EXPECT_FALSE(shown->mouseInsideTrackingArea());
  shown->keyDown(key(ui::KeyCode::Space, 0, " "));
  EXPECT_EQ(area.frame(), shown->snapbackButtonRect());
  shown->keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  shown->setEnabled(false);
  EXPECT_TRUE(area.isHidden()) << "disabled: nothing tracked";
  window.orderOut();
}

// With canCaptureGlobalHotKeys the recorder holds the keyboard while it records, so the
// desktop's shortcuts reach it; it lets go when recording ends, however it ends.
TEST_F(Recorder, RecordingHoldsTheKeyboardWhenAllowedTo) {
  ui::Window window(fnd::Rect(100, 100, 300, 100));
  auto shown = std::make_shared<KRRecorderControl>(fnd::Rect(10, 40, 200, 22));
  shown->setDelegate(&delegate);
  window.contentView()->addSubview(shown);
  window.makeKeyAndOrderFront();
  const auto record = [&] {
    shown->keyDown(key(ui::KeyCode::Space, 0, " "));
    ASSERT_TRUE(shown->isRecording());
  };
  // Not allowed: nothing held.
  record();
  EXPECT_FALSE(shown->hasKeyboardGrab());
  shown->keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  shown->setCanCaptureGlobalHotKeys(true);
  EXPECT_TRUE(shown->canCaptureGlobalHotKeys());
  // Ended by a combination, a cancel key, the snap-back button, or the focus going elsewhere.
  record();
  EXPECT_TRUE(shown->hasKeyboardGrab());
  shown->keyDown(key(35, kSuperAltCtrl, "p"));
  EXPECT_FALSE(shown->isRecording());
  EXPECT_FALSE(shown->hasKeyboardGrab());
  record();
  shown->keyDown(key(ui::KeyCode::Escape, 0, "\x1b"));
  EXPECT_FALSE(shown->hasKeyboardGrab());
  record();
  const fnd::Rect snap = shown->snapbackButtonRect();
  const fnd::Point back = shown->convertPointToView({snap.midX(), snap.midY()}, nullptr);
  shown->mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, back));
  shown->mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, back));
  EXPECT_FALSE(shown->isRecording());
  EXPECT_FALSE(shown->hasKeyboardGrab());
  record();
  shown->resignFirstResponder();
  EXPECT_FALSE(shown->hasKeyboardGrab());
  // Gone while recording, it leaves the keyboard free.
  record();
  ASSERT_TRUE(shown->hasKeyboardGrab());
  shown->removeFromSuperview();
  shown.reset();
  EXPECT_FALSE(ui::View(fnd::Rect()).hasKeyboardGrab());
  window.orderOut();
}

// Keys typed while the recorder's window is not key belong to another window or program: the
// recording ends with the key status, without a change and with the keyboard let go at once,
// however the window loses it, and so does a slide towards recording under way.
TEST_F(Recorder, RecordingEndsWhenItsWindowStopsBeingKey) {
  ui::Window window(fnd::Rect(100, 100, 300, 100)), other(fnd::Rect(500, 100, 200, 100));
  auto shown = std::make_shared<KRRecorderControl>(fnd::Rect(10, 40, 200, 22));
  shown->setDelegate(&delegate);
  shown->setCanCaptureGlobalHotKeys(true);
  shown->showKeyCombo({kSuperAltCtrl, 35});
  window.contentView()->addSubview(shown);
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(shown.get());
  const auto record = [&] {
    window.makeKeyAndOrderFront();
    shown->keyDown(key(ui::KeyCode::Space, 0, " "));
    ASSERT_TRUE(shown->isRecording());
    ASSERT_TRUE(shown->hasKeyboardGrab());
  };
  const auto endedUnchanged = [&](const char* how) {
    EXPECT_FALSE(shown->isRecording()) << how;
    EXPECT_FALSE(shown->hasKeyboardGrab()) << how;
    EXPECT_EQ(shown->keyCombo(), (KeyCombo{kSuperAltCtrl, 35})) << how;
  };
  record();
  other.makeKeyAndOrderFront();
  endedUnchanged("another window key");
  // The toolkit's word of the focus in the program, then in another one (and back at the end).
  const auto focusIn = [](bool ours) {
    Q_EMIT qGuiApp->applicationStateChanged(ours ? Qt::ApplicationActive : Qt::ApplicationInactive);
  };
  std::shared_ptr<void> focusBack(nullptr, [&](void*) { focusIn(true); });
  focusIn(true);
  record();
  focusIn(false);
  endedUnchanged("another program focused");
  focusIn(true);
  record();
  window.orderOut();
  endedUnchanged("window hidden");
  // The focus going to a window of the toolkit's own ends the grab, and with it the recording
  // (the window has the toolkit's focus first).
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(test::runUntil([&] { return static_cast<QWidget*>(window.nativeHandle())->isActiveWindow(); }, 10));
  record();
  QWidget plain;
  plain.show();
  plain.activateWindow();
  EXPECT_TRUE(test::runUntil([&] { return !shown->isRecording(); }, 10));
  endedUnchanged("the keyboard grab lost");
  plain.hide();
  window.makeKeyAndOrderFront();
  // Sliding towards recording when the window resigns: it never records.
  shown->setStyle(1);
  shown->setAnimates(true);
  shown->keyDown(key(ui::KeyCode::Space, 0, " "));
  ASSERT_TRUE(shown->isAnimatingNow());
  other.makeKeyAndOrderFront();
  EXPECT_FALSE(shown->isAnimatingNow()) << "the slide goes on";
  endedUnchanged("resigned during the slide");
  EXPECT_TRUE(delegate.changes.empty());
  window.orderOut();
  other.orderOut();
}

TEST_F(Recorder, KeyedAndUnkeyedArchivesKeepItsSettings) {
  recorder.setAllowedFlags(0x1E0000);  // without the function key
  recorder.setRequiredFlags(0x100000);
  recorder.setAllowsKeyOnly(true, true);
  startRecording();
  recorder.keyDown(key(35, kSuperAltCtrl, "p"));
  ASSERT_EQ(recorder.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  recorder.setStyle(1);
  recorder.setAnimates(true);

  fnd::KeyedArchiver coder;
  recorder.encodeWithCoder(coder);
  const fnd::Dictionary& keyed = coder.encodedValues();
  std::vector<std::string> keys;
  for (const auto& [k, v] : keyed) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"allowedFlags", "allowsKeyOnly", "autosaveName", "escapeKeysRecord",
                                            "isAnimating", "keyChars", "keyCharsIgnoringModifiers", "keyComboCode",
                                            "keyComboFlags", "requiredFlags", "style"}));
  auto data = fnd::KeyedArchiver::archivedDataWithRootObject(recorder);
  ASSERT_TRUE(data);
  auto reader = fnd::KeyedUnarchiver::forReadingFromData(*data, {"KRRecorderCell"});
  ASSERT_TRUE(reader);
  KRRecorderControl decoded;
  decoded.initWithCoder(*reader);
  EXPECT_EQ(decoded.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  EXPECT_EQ(decoded.keyChars(), "p");
  EXPECT_EQ(decoded.allowedFlags(), 0x1E0000u | 0x800000u) << "the function key is always allowed";
  EXPECT_EQ(decoded.requiredFlags(), 0x100000u);
  EXPECT_TRUE(decoded.allowsKeyOnly());
  EXPECT_TRUE(decoded.escapeKeysRecord());
  EXPECT_EQ(decoded.style(), 1);
  EXPECT_TRUE(decoded.animates());

  // Unkeyed: the autosave name, code, flags, allowed and required flags, in that order.
  const fnd::Array unkeyed = recorder.encodeUnkeyed();
  ASSERT_EQ(unkeyed.size(), 5u);
  EXPECT_EQ(unkeyed[0].string(), "");
  EXPECT_EQ(unkeyed[1].intValue(0), 35);
  EXPECT_EQ(std::uint64_t(unkeyed[2].intValue(0)), kSuperAltCtrl);
  EXPECT_EQ(std::uint64_t(unkeyed[3].intValue(0)), 0x1E0000u);
  EXPECT_EQ(std::uint64_t(unkeyed[4].intValue(0)), 0x100000u);
  KRRecorderControl plain;
  ASSERT_TRUE(plain.initWithUnkeyedValues(unkeyed));
  EXPECT_EQ(plain.keyCombo(), (KeyCombo{kSuperAltCtrl, 35}));
  EXPECT_EQ(plain.allowedFlags(), 0x9E0000u);
  EXPECT_EQ(plain.requiredFlags(), 0x100000u);
  EXPECT_FALSE(plain.initWithUnkeyedValues({fnd::Value(std::string("x"))}));
  EXPECT_FALSE(plain.initWithUnkeyedValues(
      {fnd::Value(3), fnd::Value(1), fnd::Value(2), fnd::Value(3), fnd::Value(4)}));  // a name that is no text
  EXPECT_EQ(plain.keyCombo(), (KeyCombo{kSuperAltCtrl, 35})) << "a wrong archive changes nothing";

  // No combination: code -1 goes through as a 16-bit number and back.
  recorder.setKeyCombo(KeyCombo{});
  fnd::KeyedArchiver empty;
  recorder.encodeWithCoder(empty);
  EXPECT_EQ(empty.encodedValues().at("keyComboCode").intValue(0), -1);
  EXPECT_FALSE(empty.encodedValues().count("keyChars")) << "no typed characters to keep";

  // A name loads its autosave record after the archived values.
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setObject(fnd::Value(fnd::Dictionary{{"keyCode", fnd::Value(40)}, {"modifierFlags", fnd::Value(0x180000)}}),
                     "KeyRecorder archived");
  fnd::Array named = unkeyed;
  named[0] = fnd::Value(std::string("archived"));
  KRRecorderControl loaded;
  ASSERT_TRUE(loaded.initWithUnkeyedValues(named));
  EXPECT_EQ(loaded.autosaveName(), "archived");
  EXPECT_EQ(loaded.keyCombo(), (KeyCombo{0x180000 | 0x100000, 40}));
  defaults.removeObject("KeyRecorder archived");
}

}  // namespace
}  // namespace kesto::test
