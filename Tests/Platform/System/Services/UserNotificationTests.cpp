#include "Platform/System/UserNotifications.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

using kesto::sys::RecordingNotificationSink;
using kesto::sys::UserNotification;
using kesto::sys::UserNotificationCenter;

namespace {

struct Veto : kesto::sys::UserNotificationCenterDelegate {
  bool allow = true;
  int asked = 0;
  bool userNotificationCenterShouldPresentNotification(const UserNotification&) override {
    ++asked;
    return allow;
  }
};

}  // namespace

TEST(UserNotifications, TheRecordingSinkSeesWhatTheDelegateLetsThrough) {
  auto& center = UserNotificationCenter::defaultCenter();
  auto sink = std::make_shared<RecordingNotificationSink>();
  center.setSink(sink);
  Veto veto;
  center.setDelegate(&veto);
  center.deliverNotification({"Bookmark added", "https://a.com", kesto::sys::kUserNotificationDefaultSoundName});
  veto.allow = false;
  center.deliverNotification({"Bookmark skipped (already present)", "https://a.com", ""});
  center.setDelegate(nullptr);
  ASSERT_EQ(sink->delivered.size(), 1u);
  EXPECT_EQ(sink->delivered[0].title, "Bookmark added");
  EXPECT_EQ(sink->delivered[0].informativeText, "https://a.com");
  EXPECT_EQ(veto.asked, 2);
  center.setSink(nullptr);
  EXPECT_NE(center.sink(), nullptr) << "null restores the desktop sink";
}

TEST(UserNotifications, WithoutASessionBusTheFallbackShowsThem) {
  ASSERT_FALSE(UserNotificationCenter::hasSessionBus());
  auto& center = UserNotificationCenter::defaultCenter();
  std::vector<UserNotification> shown;
  center.setFallbackPresenter([&](const UserNotification& n) { shown.push_back(n); });
  center.deliverNotification({"Title", "Text", ""});
  center.setFallbackPresenter(nullptr);
  center.deliverNotification({"Only logged", "", ""});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Title");
}

TEST(UserNotifications, SentAsFreedesktopNotificationsOverTheSessionBus) {
  if (access("/usr/bin/dbus-daemon", X_OK) != 0 || access("/usr/bin/dbus-monitor", X_OK) != 0)
    GTEST_SKIP() << "no dbus-daemon";
  // A private session bus, watched by dbus-monitor.
  FILE* daemon = popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
  ASSERT_NE(daemon, nullptr);
  char address[512] = {}, pid[32] = {};
  ASSERT_TRUE(fgets(address, sizeof address, daemon));
  ASSERT_TRUE(fgets(pid, sizeof pid, daemon));
  pclose(daemon);
  std::string busAddress(address);
  busAddress.erase(busAddress.find_last_not_of("\n") + 1);
  pid_t daemonPid = static_cast<pid_t>(std::atoi(pid));
  setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);

  std::string log = kesto::test::tempHome() + "/monitor.txt";
  pid_t monitor = fork();
  if (monitor == 0) {
    FILE* out = freopen(log.c_str(), "w", stdout);
    (void)out;
    execlp("dbus-monitor", "dbus-monitor", "--address", busAddress.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_TRUE(kesto::test::runUntil([&] { return kesto::test::readFile(log).find("NameAcquired") != std::string::npos; }, 10));

  ASSERT_TRUE(UserNotificationCenter::hasSessionBus());
  UserNotificationCenter::defaultCenter().deliverNotification(
      {"Bookmark added", "<b>a & b</b>", kesto::sys::kUserNotificationDefaultSoundName});
  // dbus-monitor writes a message in pieces: wait for its last part (the hints) too.
  bool seen = kesto::test::runUntil([&] {
    const std::string text = kesto::test::readFile(log);
    return text.find("&lt;b&gt;a &amp; b&lt;/b&gt;") != std::string::npos && text.find("sound-name") != std::string::npos;
  }, 10);
  std::string text = kesto::test::readFile(log);
  kill(monitor, SIGTERM);
  waitpid(monitor, nullptr, 0);
  kill(daemonPid, SIGTERM);
  ASSERT_TRUE(seen) << text;
  EXPECT_NE(text.find("member=Notify"), std::string::npos);
  EXPECT_NE(text.find("string \"Bookmark added\""), std::string::npos);
  EXPECT_NE(text.find("sound-name"), std::string::npos);
}
