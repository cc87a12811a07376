#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"

#include "Harness/TestSupport.h"

#include "FileModes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using namespace kesto::fnd;

namespace {

std::string freshPath() { return kesto::test::makeTempDir("defaults") + "/defaults.plist"; }

}  // namespace

TEST(UserDefaults, AbsentIsDistinctFromNoAndZero) {
  const std::string path = freshPath();
  {
    UserDefaults d(path);
    EXPECT_TRUE(d.objectForKey("flag").isNull());
    EXPECT_FALSE(d.hasValueForKey("flag"));
    d.setBool(false, "flag");
    d.setInteger(0, "count");
    EXPECT_TRUE(d.hasValueForKey("flag"));
    EXPECT_TRUE(d.objectForKey("flag").isBoolean());
    EXPECT_FALSE(d.boolForKey("flag"));
    EXPECT_TRUE(d.hasValueForKey("count"));
    ASSERT_TRUE(d.synchronize());
  }
  UserDefaults again(path);
  EXPECT_TRUE(again.hasValueForKey("flag"));
  EXPECT_TRUE(again.objectForKey("flag").isBoolean());
  EXPECT_TRUE(again.objectForKey("count").isInteger());
  EXPECT_FALSE(again.hasValueForKey("never-set"));
  again.removeObject("flag");
  again.setObject(Value(), "count");  // null removes too
  EXPECT_FALSE(again.hasValueForKey("flag"));
  EXPECT_FALSE(again.hasValueForKey("count"));
}

TEST(UserDefaults, RoundTripsEveryKindThroughAPrivateXmlFile) {
  const std::string path = freshPath();
  const Dictionary nested{{"keyCode", Value(35)}, {"modifiers", Value(1835008)}};
  {
    UserDefaults d(path);
    d.setString("icloud", "CurrentSyncMethod");
    d.setDouble(2.5, "ratio");
    d.setInteger(-7, "sort");
    d.setObject(Value(Array{Value("a"), Value("b")}), "KestoDeletedObjects");
    d.setObject(Value(nested), "hotKey");
    d.setObject(Value(Data{0, 1, 2}), "blob");
    d.setObject(Value(Date(1000.0)), "when");
    ASSERT_TRUE(d.synchronize());
  }
  EXPECT_EQ(modeOf(path), 0600u);
  const std::string text = kesto::test::readFile(path);
  EXPECT_EQ(text.rfind("<?xml", 0), 0u);
  EXPECT_NE(text.find("<key>CurrentSyncMethod</key>"), std::string::npos);

  UserDefaults d(path);
  EXPECT_EQ(d.stringForKey("CurrentSyncMethod").value_or(""), "icloud");
  EXPECT_DOUBLE_EQ(d.doubleForKey("ratio"), 2.5);
  EXPECT_EQ(d.integerForKey("sort"), -7);
  EXPECT_EQ(d.stringArrayForKey("KestoDeletedObjects").value_or(std::vector<std::string>{}),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(d.dictionaryForKey("hotKey").value_or(Dictionary{}), nested);
  EXPECT_EQ(d.dataForKey("blob").value_or(Data{}), (Data{0, 1, 2}));
  EXPECT_TRUE(d.objectForKey("when").isDate());
  // Wrong types answer nothing rather than something made up.
  EXPECT_FALSE(d.arrayForKey("ratio"));
  EXPECT_FALSE(d.dictionaryForKey("KestoDeletedObjects"));
  EXPECT_FALSE(d.stringArrayForKey("hotKey"));
  EXPECT_FALSE(d.stringForKey("blob"));
  EXPECT_EQ(d.integerForKey("hotKey"), 0);
}

TEST(UserDefaults, TypedGettersConvertLikeThePlatform) {
  UserDefaults d(freshPath());
  d.setString("YES", "s1");
  d.setString("12 apples", "s2");
  d.setString("no", "s3");
  d.setInteger(3, "n");
  d.setBool(true, "b");
  EXPECT_TRUE(d.boolForKey("s1"));
  EXPECT_TRUE(d.boolForKey("s2"));
  EXPECT_FALSE(d.boolForKey("s3"));
  EXPECT_TRUE(d.boolForKey("n"));
  EXPECT_EQ(d.integerForKey("s2"), 12);
  EXPECT_EQ(d.integerForKey("b"), 1);
  EXPECT_EQ(d.stringForKey("n").value_or(""), "3");
  EXPECT_FALSE(d.boolForKey("missing"));
  EXPECT_FALSE(d.stringForKey("missing"));
}

TEST(UserDefaults, RegisteredValuesAreFallbacksNeverWritten) {
  const std::string path = freshPath();
  {
    UserDefaults d(path);
    d.registerDefaults({{"showALLTags", Value(true)}, {"sortKey", Value(2)}});
    d.registerDefaults({{"sortKey", Value(5)}});
    EXPECT_TRUE(d.boolForKey("showALLTags"));
    EXPECT_EQ(d.integerForKey("sortKey"), 5);
    d.setBool(false, "showALLTags");
    EXPECT_FALSE(d.boolForKey("showALLTags"));
    EXPECT_EQ(d.dictionaryRepresentation().size(), 2u);
    EXPECT_EQ(d.persistentValues().size(), 1u);
    d.removeObject("showALLTags");
    EXPECT_TRUE(d.boolForKey("showALLTags"));  // back to the registered value
    d.setInteger(1, "other");
    ASSERT_TRUE(d.synchronize());
  }
  UserDefaults d(path);
  EXPECT_FALSE(d.hasValueForKey("sortKey"));
  EXPECT_FALSE(d.hasValueForKey("showALLTags"));
  EXPECT_TRUE(d.hasValueForKey("other"));
}

TEST(UserDefaults, ChangesAreSavedShortlyWithoutSynchronize) {
  const std::string path = freshPath();
  UserDefaults d(path);
  d.setString("v", "k");
  EXPECT_TRUE(kesto::test::runUntil([&] { return !kesto::test::readFile(path).empty(); }, 10.0));
  UserDefaults other(path);
  EXPECT_EQ(other.stringForKey("k").value_or(""), "v");
}

TEST(UserDefaults, ReloadDropsUnsavedChangesAndSeesOtherWriters) {
  const std::string path = freshPath();
  UserDefaults a(path);
  a.setInteger(1, "k");
  ASSERT_TRUE(a.synchronize());
  UserDefaults b(path);
  b.setInteger(2, "k");
  ASSERT_TRUE(b.synchronize());
  a.setInteger(9, "unsaved");
  a.reloadFromDisk();
  EXPECT_EQ(a.integerForKey("k"), 2);
  EXPECT_FALSE(a.hasValueForKey("unsaved"));
}

TEST(UserDefaults, PostsChangeNotifications) {
  UserDefaults d(freshPath());
  int posts = 0;
  ScopedObserver observer;
  observer.observe(
      kUserDefaultsDidChangeNotification,
      [&](const Notification& n) {
        ++posts;
        EXPECT_EQ(n.userInfo.at(kUserDefaultsChangedKey).string(), "k");
      },
      &d);
  d.setInteger(1, "k");
  d.setInteger(1, "k");  // unchanged: no notification
  d.removeObject("k");
  d.removeObject("k");  // already absent
  EXPECT_EQ(posts, 2);
}

TEST(UserDefaults, RefusesValuesAFileCannotHold) {
  UserDefaults d(freshPath());
  d.setString("kept", "k");
  d.setObject(Value(Array{Value("a"), Value()}), "k");
  d.setObject(Value(std::make_shared<Object>()), "k");
  EXPECT_EQ(d.stringForKey("k").value_or(""), "kept");
  d.setString("x", "");
  EXPECT_FALSE(d.hasValueForKey(""));
}

TEST(UserDefaults, UnreadableFileIsKeptAsideNotOverwritten) {
  const std::string path = freshPath();
  kesto::test::writeFile(path, "<plist><dict><key>broken");
  UserDefaults d(path);
  EXPECT_TRUE(d.persistentValues().empty());
  d.setInteger(1, "k");
  ASSERT_TRUE(d.synchronize());
  EXPECT_EQ(kesto::test::readFile(path + ".unreadable"), "<plist><dict><key>broken");
  // A file whose root is not a dictionary is treated the same way.
  const Data arrayFile = *PropertyList::write(Value(Array{}), PropertyListFormat::Xml);
  kesto::test::writeFile(path, std::string(arrayFile.begin(), arrayFile.end()));
  d.reloadFromDisk();
  EXPECT_FALSE(d.hasValueForKey("k"));
}

TEST(UserDefaults, StandardFileLivesInTheConfigFolder) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(config);
  EXPECT_EQ(UserDefaults::standardFilePath(), std::string(config) + "/kesto/defaults.plist");
  UserDefaults& d = UserDefaults::standard();
  EXPECT_EQ(&d, &UserDefaults::standard());
  d.setBool(true, "SkyfolderLinked");
  ASSERT_TRUE(d.synchronize());
  EXPECT_EQ(modeOf(UserDefaults::standardFilePath()), 0600u);
  EXPECT_EQ(modeOf(std::string(config) + "/kesto"), 0700u);
}

TEST(UserDefaults, ConcurrentWritersDoNotLoseKeys) {
  const std::string path = freshPath();
  UserDefaults d(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) d.setInteger(i, "t" + std::to_string(t) + "-" + std::to_string(i));
    });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(d.synchronize());
  UserDefaults again(path);
  EXPECT_EQ(again.persistentValues().size(), 200u);
}

TEST(UserDefaults, LateWritesDoNotRecreateARemovedHome) {
  const std::string home = kesto::test::makeTempDir("home");
  const std::string savedHome = std::getenv("HOME");
  setenv("HOME", home.c_str(), 1);
  {
    UserDefaults d(home + "/.config/kesto/defaults.plist");
    d.setInteger(1, "k");
    std::filesystem::remove_all(home);
    EXPECT_FALSE(d.synchronize());
  }  // the flush on destruction must not bring it back either
  EXPECT_FALSE(std::filesystem::exists(home));
  setenv("HOME", savedHome.c_str(), 1);
}

TEST(UserDefaults, FailedAutosaveWaitsForTheNextChangeOrSynchronize) {
  // The folder cannot be made: a regular file stands where it should be.
  const std::string dir = kesto::test::makeTempDir("defaults-blocked");
  ASSERT_TRUE(FileManager::writeFile(dir + "/blocked", std::string_view("x"), false, 0600));
  LogCapture log;
  {
    UserDefaults defaults(dir + "/blocked/defaults.plist");
    defaults.setObject(Value(1), "key");
    auto failures = [&] {
      int n = 0;
      for (const auto& m : log.messages())
        if (m.find("could not write") != std::string::npos) ++n;
      return n;
    };
    ASSERT_TRUE(kesto::test::runUntil([&] { return failures() > 0; }, 15)) << "the autosave never ran";
    // One failed autosave, not a retry loop flooding the log: a retry would come within another
    // autosave delay.
    kesto::test::spin(UserDefaults::kAutosaveDelaySeconds + 0.3);
    EXPECT_EQ(failures(), 1);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(failures(), 2);
    EXPECT_EQ(defaults.integerForKey("key"), 1);
  }
}
