#include "FakeHotKeyBackend.h"

#include "MenuBar/BlockHotKeyCenter.h"
#include "MenuBar/KeyCodeNames.h"
#include "Platform/Foundation/Assert.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

constexpr std::uint64_t kCommand = kr::CocoaCommand, kShift = kr::CocoaShift;

// A target that handles the actions it is given and records each call.
class RecordingTarget : public BlockHotKeyTarget {
 public:
  explicit RecordingTarget(std::vector<std::string> handled) : handled_(std::move(handled)) {}
  bool respondsToAction(const std::string& action) const override {
    return std::find(handled_.begin(), handled_.end(), action) != handled_.end();
  }
  void performAction(const std::string& action, const ui::Event& event, const fnd::Value& object) override {
    calls.push_back(action + ":" + object.stringIfString().value_or("") + ":" + std::to_string(int(event.type)));
  }
  std::vector<std::string> calls;

 private:
  std::vector<std::string> handled_;
};

class BlockHotKeys : public ::testing::Test {
 protected:
  void SetUp() override { GlobalHotKeyCenter::sharedCenter().setBackend(backend); }
  void TearDown() override {
    center.unregisterHotKeysMatchingPredicate([](const BlockHotKey&) { return true; });
    GlobalHotKeyCenter::sharedCenter().setBackend(nullptr);
  }
  std::shared_ptr<FakeHotKeyBackend> backend = std::make_shared<FakeHotKeyBackend>();
  BlockHotKeyCenter center;
};

TEST_F(BlockHotKeys, ADuplicateIsRefusedWhateverItInvokesAndFlagsCarbonDropsStillCount) {
  int runs = 0;
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(35, kCommand, [&](const ui::Event&) { ++runs; }));
  auto target = std::make_shared<RecordingTarget>(std::vector<std::string>{"go"});
  EXPECT_FALSE(center.registerHotKeyWithKeyCode(35, kCommand, target, "go", fnd::Value()));
  EXPECT_FALSE(BlockHotKeyCenter().registerHotKeyWithKeyCode(35, kCommand, [](const ui::Event&) {}))
      << "every centre shares one registry";
  // The function-key bit is no modifier the desktop knows: a second entry with the same grab.
  EXPECT_TRUE(center.registerHotKeyWithKeyCode(35, kCommand | kr::CocoaFunction, [](const ui::Event&) {}));
  ASSERT_EQ(backend->grabs.size(), 2u);
  for (const auto& [id, grab] : backend->grabs) EXPECT_EQ(grab.combo, std::make_pair(std::int64_t(35), kr::CarbonCommand));
  EXPECT_TRUE(center.hasRegisteredHotKeyWithKeyCode(35, kCommand));
  EXPECT_FALSE(center.hasRegisteredHotKeyWithKeyCode(35, kShift));
  // A refusal by the desktop answers false and takes no number.
  backend->takenElsewhere.insert({11, kr::CarbonShift});
  ASSERT_FALSE(center.registeredHotKeys().empty());
  const auto before = center.registeredHotKeys().back()->hotKeyID();
  EXPECT_FALSE(center.registerHotKeyWithKeyCode(11, kShift, [](const ui::Event&) {}));
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(12, kShift, [](const ui::Event&) {}));
  ASSERT_FALSE(center.registeredHotKeys().empty());
  EXPECT_EQ(center.registeredHotKeys().back()->hotKeyID(), before + 1);
  EXPECT_EQ(center.registeredHotKeys().size(), 3u);
}

TEST_F(BlockHotKeys, FiresOnReleaseWithATargetOrItsTask) {
  auto target = std::make_shared<RecordingTarget>(std::vector<std::string>{"open"});
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(35, kCommand, target, "open", fnd::Value("payload")));
  EXPECT_FALSE(backend->press(35, kr::CarbonCommand)) << "a press fires nothing";
  EXPECT_TRUE(target->calls.empty());
  EXPECT_TRUE(backend->release(35, kr::CarbonCommand));
  EXPECT_EQ(target->calls, std::vector<std::string>{"open:payload:11"});

  std::optional<ui::Event> seen;
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(40, kCommand | kShift, [&](const ui::Event& e) { seen = e; }));
  backend->release(40, kr::CarbonCommand | kr::CarbonShift);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->type, ui::EventType::KeyUp);
  EXPECT_EQ(seen->keyCode, 40);
  EXPECT_FALSE(seen->isARepeat);

  ASSERT_FALSE(center.registeredHotKeys().empty());
  auto key = center.registeredHotKeys().back();
  BlockHotKey copy = *key;
  EXPECT_EQ(copy, BlockHotKey(40, kCommand | kShift)) << "equal by key and flags only";
  EXPECT_EQ(copy.hash(), 40u + (kCommand | kShift));
  // A target that does not handle the action is not sent it.
  auto deaf = std::make_shared<RecordingTarget>(std::vector<std::string>{});
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(41, kCommand, deaf, "open", fnd::Value()));
  backend->release(41, kr::CarbonCommand);
  EXPECT_TRUE(deaf->calls.empty());
}

TEST_F(BlockHotKeys, UnregisteringByTargetActionKeyOrPredicate) {
  auto a = std::make_shared<RecordingTarget>(std::vector<std::string>{"one", "two"});
  auto b = std::make_shared<RecordingTarget>(std::vector<std::string>{"one"});
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(1, kCommand, a, "one", fnd::Value()));
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(2, kCommand, a, "two", fnd::Value()));
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(3, kCommand, b, "one", fnd::Value()));
  ASSERT_TRUE(center.registerHotKeyWithKeyCode(4, kCommand, [](const ui::Event&) {}));
  center.unregisterHotKeysWithTarget(a, "one");
  EXPECT_FALSE(center.hasRegisteredHotKeyWithKeyCode(1, kCommand));
  EXPECT_TRUE(center.hasRegisteredHotKeyWithKeyCode(2, kCommand)) << "another action of that target";
  EXPECT_TRUE(center.hasRegisteredHotKeyWithKeyCode(3, kCommand)) << "that action of another target";
  EXPECT_FALSE(backend->release(1, kr::CarbonCommand)) << "the desktop's grab is gone";
  center.unregisterHotKeysWithTarget(a);
  EXPECT_FALSE(center.hasRegisteredHotKeyWithKeyCode(2, kCommand));
  center.unregisterHotKeyWithKeyCode(4, kCommand);
  auto left = center.registeredHotKeys();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left.front()->keyCode(), 3);
  center.unregisterHotKey(left.front());
  EXPECT_FALSE(left.front()->isRegistered());
  EXPECT_TRUE(center.registeredHotKeys().empty());
  EXPECT_TRUE(backend->grabs.empty());
  // A look-alike the centre did not make is refused.
  EXPECT_THROW(center.unregisterHotKey(std::make_shared<BlockHotKey>(3, kCommand)), fnd::ContractViolation);
  // The key can be registered again once it is gone.
  EXPECT_TRUE(center.registerHotKeyWithKeyCode(3, kCommand, [](const ui::Event&) {}));
}

TEST(BlockHotKeyText, FlagsAndDescription) {
  EXPECT_EQ(modifierFlagsDescription(kr::CocoaOption | kr::CocoaControl | kShift | kCommand),
            "(NSControlKeyMask | NSCommandKeyMask | NSShiftKeyMask | NSAlternateKeyMask)");
  EXPECT_EQ(modifierFlagsDescription(kr::CocoaFunction), "ERROR: No valid flags");
  EXPECT_EQ(carbonModifierFlags(kr::CocoaControl | kr::CocoaOption | kr::CocoaFunction | 0x1),
            kr::CarbonControl | kr::CarbonOption);
  BlockHotKey key(35, kShift);
  const std::string text = key.description();
  EXPECT_EQ(text.rfind("<BlockHotKey: ", 0), 0u);
  EXPECT_NE(text.find(">\n\t(key: 35\n\tflags: (NSShiftKeyMask)\n\tinvokes: (block))"), std::string::npos) << text;
}

}  // namespace
}  // namespace kesto::test
