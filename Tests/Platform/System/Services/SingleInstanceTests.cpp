#include "Platform/System/SingleInstance.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using kesto::sys::SingleInstance;

namespace {

std::string socketPath() { return kesto::test::tempHome() + "/instance.sock"; }

sockaddr_un socketAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
  return address;
}

// Sends from another thread, as a second launch would, while the main loop keeps running.
bool sendFromAnotherLaunch(const std::vector<std::string>& arguments) {
  std::atomic<int> result{-1};
  std::thread t([&] { result = SingleInstance::sendToRunningInstance(socketPath(), arguments, 3.0) ? 1 : 0; });
  kesto::test::runUntil([&] { return result.load() >= 0; }, 5);
  t.join();
  return result == 1;
}

}  // namespace

TEST(SingleInstance, FirstLaunchListensAndLaterLaunchesHandOverTheirArguments) {
  SingleInstance primary(socketPath());
  std::vector<std::vector<std::string>> received;
  bool onMain = true;
  primary.setArgumentsHandler([&](const std::vector<std::string>& args) {
    onMain = onMain && kesto::fnd::RunLoop::isMainThread();
    received.push_back(args);
  });
  EXPECT_EQ(primary.start({"first"}), SingleInstance::Outcome::Primary);
  EXPECT_TRUE(primary.isListening());

  std::vector<std::string> args{"kesto:http%3A%2F%2Fa.com", "", "--add-text", "line one\nline two", "é"};
  ASSERT_TRUE(sendFromAnotherLaunch(args));
  ASSERT_TRUE(kesto::test::runUntil([&] { return !received.empty(); }, 5));
  EXPECT_EQ(received[0], args) << "empty and multi-line arguments arrive whole";
  EXPECT_TRUE(onMain);

  ASSERT_TRUE(sendFromAnotherLaunch({}));
  ASSERT_TRUE(kesto::test::runUntil([&] { return received.size() == 2; }, 5));
  EXPECT_TRUE(received[1].empty());
}

TEST(SingleInstance, NobodyListeningMeansNoHandOver) {
  EXPECT_FALSE(SingleInstance::sendToRunningInstance(socketPath(), {"x"}, 0.5));
}

TEST(SingleInstance, ASocketLeftByACrashedInstanceIsTakenOver) {
  // A bound socket file with nobody accepting on it.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = socketAddress();
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);

  SingleInstance primary(socketPath());
  EXPECT_EQ(primary.start({}, 0.5), SingleInstance::Outcome::Primary);
  bool got = false;
  primary.setArgumentsHandler([&](const std::vector<std::string>&) { got = true; });
  EXPECT_TRUE(sendFromAnotherLaunch({"a"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return got; }, 5));
}

TEST(SingleInstance, ABusyInstanceKeepsItsSocket) {
  // Accepts connections (the kernel queues them) but never answers.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = socketAddress();
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);

  SingleInstance second(socketPath());
  EXPECT_EQ(second.start({"x"}, 0.3), SingleInstance::Outcome::Failed);
  EXPECT_FALSE(second.isListening());
  // The busy instance is still reachable: its socket was not replaced.
  int probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
  EXPECT_EQ(::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(probe);
  ::close(fd);
}

TEST(SingleInstance, OversizedOrTruncatedMessagesAreDropped) {
  SingleInstance primary(socketPath());
  ASSERT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
  int calls = 0;
  primary.setArgumentsHandler([&](const std::vector<std::string>&) { ++calls; });

  auto rawSend = [](const std::string& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = socketAddress();
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      (void)!::write(fd, bytes.data(), bytes.size());
    return fd;
  };
  int huge = rawSend(std::string("\x7f\xff\xff\xff", 4) + "abc");  // claims 2 GiB
  int cut = rawSend(std::string("\0\0\0\x10", 4) + "short");     // ends before its length
  ::close(cut);
  kesto::test::spin(0.3);
  ::close(huge);
  kesto::test::spin(0.1);
  EXPECT_EQ(calls, 0);

  EXPECT_FALSE(sendFromAnotherLaunch({std::string(2u << 20, 'a')})) << "too large to send";
  ASSERT_TRUE(sendFromAnotherLaunch({"still works"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return calls == 1; }, 5));
}

TEST(SingleInstance, AHandlerThatThrowsNeitherEndsTheLoopNorStopsListening) {
  SingleInstance primary(socketPath());
  ASSERT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
  std::vector<std::string> last;
  primary.setArgumentsHandler([&](const std::vector<std::string>& args) {
    last = args;
    if (args == std::vector<std::string>{"bad"}) throw std::runtime_error("handler failed");
  });
  EXPECT_TRUE(sendFromAnotherLaunch({"bad"})) << "the message was taken before the handler ran";
  ASSERT_TRUE(kesto::test::runUntil([&] { return !last.empty(); }, 5));
  ASSERT_TRUE(sendFromAnotherLaunch({"good"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return last == std::vector<std::string>{"good"}; }, 5));
}

TEST(SingleInstance, WithoutARuntimeFolderTheSocketLivesInAPrivateOne) {
  // A socket in a folder every user can write to could be taken first by someone else, who
  // would then be handed this user's arguments.
  const std::string tmp = kesto::test::makeTempDir("tmp");
  ::chmod(tmp.c_str(), 01777);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  ::unsetenv("XDG_RUNTIME_DIR");
  SingleInstance primary;
  const std::string folder = primary.serverName().substr(0, primary.serverName().rfind('/'));
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0) << folder;
  EXPECT_EQ(info.st_uid, ::getuid());
  EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
  EXPECT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
}

// A client that connects and goes quiet (or stops halfway through a message) is dropped, so
// idle connections cannot pile up in the running instance; a sending one is not.
TEST(SingleInstance, IdleConnectionsAreDropped) {
  SingleInstance primary(socketPath());
  primary.setIdleTimeout(0.3);
  ASSERT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
  int calls = 0;
  primary.setArgumentsHandler([&](const std::vector<std::string>&) { ++calls; });
  auto connectRaw = [](const std::string& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address = socketAddress();
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (!bytes.empty()) (void)!::write(fd, bytes.data(), bytes.size());
    return fd;
  };
  // Closed by the other side: a read sees the end of the stream.
  auto dropped = [](int fd) {
    char c;
    return ::recv(fd, &c, 1, 0) == 0;
  };
  int silent = connectRaw("");
  int halfway = connectRaw(std::string("\0\0\0\x10", 4) + "part");
  kesto::test::spin(0.1);
  EXPECT_FALSE(dropped(silent));
  EXPECT_TRUE(kesto::test::runUntil([&] { return dropped(silent) && dropped(halfway); }, 3));
  ::close(silent);
  ::close(halfway);
  EXPECT_EQ(calls, 0);
  ASSERT_TRUE(sendFromAnotherLaunch({"still works"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return calls == 1; }, 5));
}
