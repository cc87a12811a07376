#include "Platform/System/SingleInstance.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/file.h>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using kesto::sys::SingleInstance;

namespace {

// In the test's runtime folder: a socket's path holds at most 107 bytes, and the test's home lies
// as deep as the checkout.
std::string socketPath() { return std::string(std::getenv("XDG_RUNTIME_DIR")) + "/instance.sock"; }

sockaddr_un socketAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
  return address;
}

// A raw connection that sends what it is given, without waiting for anything.
int connectRaw(const std::string& bytes = {}) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un address = socketAddress();
  while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EAGAIN) return fd;
    kesto::test::spin(0.01);  // the queue is full until the instance accepts
  }
  if (!bytes.empty()) (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  return fd;
}

// Closed by the other side: a read sees the end of the stream.
bool closedByPeer(int fd) {
  char c;
  return ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

// Starts `primary` as the running instance, counting in `calls` the hand-overs it is given.
bool startedCounting(SingleInstance& primary, int& calls) {
  primary.setArgumentsHandler([&calls](const std::vector<std::string>&) { ++calls; });
  return primary.start({}) == SingleInstance::Outcome::Primary;
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
  int calls = 0;
  ASSERT_TRUE(startedCounting(primary, calls));

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
  EXPECT_FALSE(sendFromAnotherLaunch({"bad"})) << "a launch whose handler failed is told so";
  ASSERT_TRUE(kesto::test::runUntil([&] { return !last.empty(); }, 5));
  ASSERT_TRUE(sendFromAnotherLaunch({"good"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return last == std::vector<std::string>{"good"}; }, 5));
}

TEST(SingleInstance, WithoutARuntimeFolderTheSocketLivesInAPrivateOne) {
  // A socket in a folder every user can write to could be taken first by someone else, who
  // would then be handed this user's arguments. A socket's path holds at most 107 bytes, and the
  // test's own folders lie as deep as the checkout (a user's, of any length) with the user's name
  // after them: this temporary folder is the system's, made for the test and removed after it.
  std::string tmp = "/tmp/kesto-socket-XXXXXX";
  ASSERT_NE(::mkdtemp(tmp.data()), nullptr);
  const std::unique_ptr<const std::string, void (*)(const std::string*)> removed(&tmp, [](const std::string* path) {
    std::error_code ec;
    std::filesystem::remove_all(*path, ec);
  });
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
  int calls = 0;
  ASSERT_TRUE(startedCounting(primary, calls));
  int silent = connectRaw();
  int halfway = connectRaw(std::string("\0\0\0\x10", 4) + "part");
  kesto::test::spin(0.1);
  EXPECT_FALSE(closedByPeer(silent));
  EXPECT_TRUE(kesto::test::runUntil([&] { return closedByPeer(silent) && closedByPeer(halfway); }, 30));
  ::close(silent);
  ::close(halfway);
  EXPECT_EQ(calls, 0);
  ASSERT_TRUE(sendFromAnotherLaunch({"still works"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return calls == 1; }, 5));
}

// ---- Hand-overs run after the read handler; one writer per library ----------------------------

namespace {

std::string lockPath() { return kesto::test::tempHome() + "/library/data.sqlite.lock"; }

// Another process's hold on the library: a second open file description, as flock sees it.
int holdLock() {
  ::mkdir((kesto::test::tempHome() + "/library").c_str(), 0700);
  int fd = ::open(lockPath().c_str(), O_RDWR | O_CREAT, 0600);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  return fd;
}

bool socketFileExists() {
  struct stat info {};
  return ::stat(socketPath().c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

// A handler that runs its own event loop (a modal alert does) while the launch that sent the
// arguments disconnects: the socket must not be deleted under a read still in progress.
TEST(SingleInstance, AHandlerRunningAnEventLoopOfItsOwnIsCalledOutsideTheSocketsReadHandler) {
  SingleInstance primary(socketPath());
  ASSERT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
  int calls = 0, depth = 0;
  primary.setArgumentsHandler([&](const std::vector<std::string>&) {
    ++calls;
    ++depth;
    // What a modal alert runs: an event loop of its own, which also deletes what was deleted
    // later meanwhile (the sender's socket, once it has gone).
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    --depth;
  });
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(sendFromAnotherLaunch({"kesto:https://x.example/" + std::to_string(i)}));
  ASSERT_TRUE(kesto::test::runUntil([&] { return calls == 4 && depth == 0; }, 10));
  EXPECT_TRUE(primary.isListening());
}

TEST(SingleInstance, TheLockIsTakenBeforeListeningAndNamesItsHolder) {
  auto primary = std::make_unique<SingleInstance>(socketPath(), lockPath());
  ASSERT_EQ(primary->start({}), SingleInstance::Outcome::Primary);
  EXPECT_TRUE(primary->holdsLock());
  EXPECT_EQ(SingleInstance::lockOwner(lockPath()), static_cast<long>(::getpid()));
  struct stat info {};
  ASSERT_EQ(::stat(lockPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Held: anyone else's attempt fails while the instance lives, and succeeds after.
  int other = ::open(lockPath().c_str(), O_RDWR);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  primary.reset();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
}

// The running instance is busy (here: its loop does not run for longer than a launch's own
// time-out): the launch waits as long as the lock's holder lives, hands over once and does not
// become a second instance.
TEST(SingleInstance, ALaunchWaitsForABusyLockHolderAndHandsOverOnce) {
  SingleInstance primary(socketPath(), lockPath());
  ASSERT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
  std::vector<std::vector<std::string>> received;
  primary.setArgumentsHandler([&](const std::vector<std::string>& args) { received.push_back(args); });

  std::atomic<int> outcome{-1};
  std::atomic<bool> listening{false}, locked{false};
  std::thread launch([&] {
    SingleInstance second(socketPath(), lockPath());
    outcome = static_cast<int>(second.start({"kesto:https://x.example/"}, 0.3));
    listening = second.isListening();
    locked = second.holdsLock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // busy: no event is handled
  EXPECT_EQ(outcome.load(), -1) << "the launch gave up on a live instance";
  ASSERT_TRUE(kesto::test::runUntil([&] { return outcome.load() >= 0; }, 10));
  launch.join();
  EXPECT_EQ(outcome.load(), static_cast<int>(SingleInstance::Outcome::HandedOver));
  EXPECT_FALSE(listening.load());
  EXPECT_FALSE(locked.load());
  kesto::test::spin(0.2);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], std::vector<std::string>{"kesto:https://x.example/"});
}

// A launch hears back only when the instance says its arguments are kept (saved), however long
// that takes; one whose arguments could not be kept ends as such, without trying again; a reply
// to a launch that has gone is dropped.
TEST(SingleInstance, ALaunchIsAnsweredOnlyOnceWhatItHandedOverIsKept) {
  auto primary = std::make_unique<SingleInstance>(socketPath(), lockPath());
  ASSERT_EQ(primary->start({}), SingleInstance::Outcome::Primary);
  std::vector<std::pair<std::vector<std::string>, SingleInstance::Reply>> pending;
  primary->setArgumentsHandler([&](const std::vector<std::string>& args, SingleInstance::Reply reply) {
    pending.emplace_back(args, std::move(reply));
  });
  auto launch = [](const std::string& argument, std::atomic<int>& outcome) {
    return std::thread([argument, &outcome] {
      SingleInstance second(socketPath(), lockPath());
      outcome = static_cast<int>(second.start({argument}, 0.3));
    });
  };
  for (bool kept : {false, true}) {
    std::atomic<int> outcome{-1};
    auto thread = launch(kept ? "saved" : "unsaved", outcome);
    ASSERT_TRUE(kesto::test::runUntil([&] { return !pending.empty(); }, 10));
    kesto::test::spin(0.5);  // beyond the launch's own time-out
    EXPECT_EQ(outcome.load(), -1) << "answered before the handler replied";
    pending.front().second(kept);
    pending.front().second(!kept);  // only the first reply counts
    ASSERT_TRUE(kesto::test::runUntil([&] { return outcome.load() >= 0; }, 10));
    thread.join();
    EXPECT_EQ(outcome.load(),
              static_cast<int>(kept ? SingleInstance::Outcome::HandedOver : SingleInstance::Outcome::NotKept));
    EXPECT_EQ(pending.size(), 1u) << "handed over again";
    pending.clear();
  }

  std::atomic<int> outcome{-1};
  auto thread = launch("gone", outcome);
  ASSERT_TRUE(kesto::test::runUntil([&] { return !pending.empty(); }, 10));
  auto reply = pending.front().second;
  // The instance ends before its reply: the launch is left to take the library itself.
  primary.reset();
  ASSERT_TRUE(kesto::test::runUntil([&] { return outcome.load() >= 0; }, 10));
  thread.join();
  EXPECT_EQ(outcome.load(), static_cast<int>(SingleInstance::Outcome::Primary));
  reply(true);
}

// A holder of the lock that does not listen (yet, or where this launch cannot see): its socket
// file, which looks abandoned, is left alone, and the launch ends without the library.
TEST(SingleInstance, ASocketWhoseOwnerHoldsTheLockIsNeverReplaced) {
  int holder = holdLock();
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = socketAddress();
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);

  SingleInstance second(socketPath(), lockPath());
  second.setUnreachableTimeout(0.4);
  EXPECT_EQ(second.start({"kesto:https://x.example/"}, 0.2), SingleInstance::Outcome::Unreachable);
  EXPECT_FALSE(second.isListening());
  EXPECT_FALSE(second.holdsLock());
  EXPECT_TRUE(socketFileExists());
  ::close(holder);
}

TEST(SingleInstance, AWaitingLaunchTakesOverWhenTheHolderEnds) {
  int holder = holdLock();
  std::thread end([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::close(holder);  // the holder's process ends: the kernel releases its lock
  });
  SingleInstance second(socketPath(), lockPath());
  second.setUnreachableTimeout(10);
  EXPECT_EQ(second.start({"x"}, 0.2), SingleInstance::Outcome::Primary);
  end.join();
  EXPECT_TRUE(second.holdsLock());
  EXPECT_TRUE(second.isListening());
  EXPECT_FALSE(second.mayHaveHandedOver()) << "nothing was sent to the holder";
}

// kill -9 of the running instance after it took a launch's arguments, before its answer: the
// launch takes the library over knowing they may be kept already.
TEST(SingleInstance, ALaunchTakingOverAfterAnUnansweredHandOverSaysTheyMayBeKept) {
  auto primary = std::make_unique<SingleInstance>(socketPath(), lockPath());
  ASSERT_EQ(primary->start({}), SingleInstance::Outcome::Primary);
  bool taken = false;
  primary->setArgumentsHandler([&](const std::vector<std::string>&, const SingleInstance::Reply&) { taken = true; });
  std::atomic<int> outcome{-1};
  std::atomic<bool> mayBeKept{false};
  std::thread launch([&] {
    SingleInstance second(socketPath(), lockPath());
    outcome = static_cast<int>(second.start({"kesto:https://a.example/"}, 0.3));
    mayBeKept = second.mayHaveHandedOver();
  });
  ASSERT_TRUE(kesto::test::runUntil([&] { return taken; }, 10));
  primary.reset();
  launch.join();
  EXPECT_EQ(outcome.load(), static_cast<int>(SingleInstance::Outcome::Primary));
  EXPECT_TRUE(mayBeKept.load());
}

// The deadline runs from the first byte and is not renewed by later ones.
TEST(SingleInstance, ATricklingHandOverIsDroppedWithinTheDeadlineOfItsFirstByte) {
  SingleInstance primary(socketPath());
  primary.setIdleTimeout(0.5);
  int calls = 0;
  ASSERT_TRUE(startedCounting(primary, calls));
  kesto::fnd::LogCapture log;
  const std::string message = std::string("\0\0\0\x20", 4) + std::string(32, 'a');
  int fd = connectRaw();
  // A deadline renewed by each byte would never come: the whole message would arrive.
  bool dropped = false;
  for (std::size_t i = 0; i < message.size() && !dropped; ++i) {
    if (::send(fd, message.data() + i, 1, MSG_NOSIGNAL) != 1) dropped = true;
    kesto::test::spin(0.1);
    dropped = dropped || closedByPeer(fd);
  }
  ::close(fd);
  EXPECT_TRUE(dropped);
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(kesto::test::runUntil([&] { return log.contains("not complete within"); }, 30));
}

TEST(SingleInstance, ConnectionsOverTheLimitAreDroppedAtOnceAndTheBurstIsLoggedOnce) {
  SingleInstance primary(socketPath());
  primary.setMaximumOpenConnections(4);
  int calls = 0;
  ASSERT_TRUE(startedCounting(primary, calls));
  kesto::fnd::LogCapture log;
  std::vector<int> fds;
  for (int i = 0; i < 200; ++i) fds.push_back(connectRaw());
  int dropped = 0;
  ASSERT_TRUE(kesto::test::runUntil(
      [&] {
        dropped = 0;
        for (int fd : fds) dropped += closedByPeer(fd) ? 1 : 0;
        return dropped == 196;
      },
      5))
      << dropped;
  for (int fd : fds) ::close(fd);
  // The four held ones are gone: a launch gets through again.
  ASSERT_TRUE(sendFromAnotherLaunch({"still works"}));
  EXPECT_TRUE(kesto::test::runUntil([&] { return calls == 1; }, 5));
  ASSERT_TRUE(kesto::test::runUntil([&] { return log.contains("Dropped"); }, 5));
  kesto::test::spin(1.2);
  int lines = 0;
  for (const auto& m : log.messages())
    if (m.find("Dropped") != std::string::npos) {
      ++lines;
      EXPECT_NE(m.find("Dropped 196 connections"), std::string::npos) << m;
    }
  EXPECT_EQ(lines, 1);
}

// The launches that held every place have gone, and the instance has not yet turned its loop to
// notice: the next launch is not dropped as one too many. Run both ways round: the gone ones
// were only connected, or had sent their message and been answered.
TEST(SingleInstance, ALaunchRightBehindOnesThatHaveGoneIsNotOneTooMany) {
  SingleInstance primary(socketPath());
  primary.setMaximumOpenConnections(2);
  int calls = 0;
  ASSERT_TRUE(startedCounting(primary, calls));
  const std::string message = std::string("\0\0\0\x06", 4) + std::string("after\0", 6);
  for (bool answered : {false, true}) {
    SCOPED_TRACE(answered ? "answered" : "only connected");
    const int before = calls;
    int held[2] = {connectRaw(answered ? message : std::string()), connectRaw(answered ? message : std::string())};
    // A third is dropped: both places are taken.
    int over = connectRaw();
    ASSERT_TRUE(kesto::test::runUntil([&] { return closedByPeer(over); }, 10));
    ::close(over);
    if (answered) {
      ASSERT_TRUE(kesto::test::runUntil([&] { return calls == before + 2; }, 10));
    }
    for (int fd : held) ::close(fd);
    int launch = connectRaw(message);
    char answer = 0;
    ssize_t got = -1;
    ASSERT_TRUE(kesto::test::runUntil(
        [&] {
          got = ::recv(launch, &answer, 1, MSG_DONTWAIT);
          return got >= 0;
        },
        10));
    ::close(launch);
    EXPECT_EQ(got, 1) << "dropped";
    EXPECT_EQ(answer, '1');
    EXPECT_TRUE(kesto::test::runUntil([&] { return calls == before + (answered ? 3 : 1); }, 5));
  }
}

// ---- A runtime folder too deep for a socket ----------------------------------------------------

namespace {

// The short folders stand in a folder of the test's own, not in /tmp where the user's Kesto keeps
// its own; taken back after the test.
struct ShortFolders {
  std::string parent = "/tmp/kesto-short-XXXXXX";
  ShortFolders() {
    if (!::mkdtemp(parent.data())) parent.clear();
    SingleInstance::setShortFolderParent(parent);
  }
  ~ShortFolders() {
    SingleInstance::setShortFolderParent("/tmp");
    std::error_code ec;
    std::filesystem::remove_all(parent, ec);
  }
  std::string folder() const { return parent + "/kesto-" + std::to_string(::geteuid()); }
};

// A runtime folder as deep as a checkout in a user's folders gives the tests, its path with spaces
// and far beyond a socket's 107 bytes.
std::string deepRuntimeFolder(const std::string& leaf) {
  const std::string folder = kesto::test::tempHome() +
                             "/Documents/Development/Open Source/Bookmark Managers/a checkout of kesto with a long "
                             "name/build/tmp/kesto-e2e-Ab12Cd/" +
                             leaf;
  std::filesystem::create_directories(folder);
  ::chmod(folder.c_str(), 0700);
  return folder;
}

}  // namespace

// The later launch of the test below, in a process of its own: it hands its arguments over through
// the place it computes for the runtime folder it is given.
TEST(SingleInstance, DISABLED_LaterLaunchWithADeepRuntimeFolder) {
  const char* runtime = std::getenv("KESTO_TEST_LATER_RUNTIME");
  const char* parent = std::getenv("KESTO_TEST_LATER_SHORT_PARENT");
  ASSERT_TRUE(runtime && parent);
  ::setenv("XDG_RUNTIME_DIR", runtime, 1);
  SingleInstance::setShortFolderParent(parent);
  SingleInstance later;
  EXPECT_EQ(later.start({"kesto:https://deep.example/", "a b"}, 10.0), SingleInstance::Outcome::HandedOver);
  std::printf("later launch's socket: %s\n", later.serverName().c_str());
  SingleInstance::setShortFolderParent("/tmp");
}

// The first launch listens in a short folder of the user's own, 0700, and a later launch in
// another process, with the same runtime folder, computes the same place and hands over. Another
// session's runtime folder, as deep, gets a place of its own.
TEST(SingleInstance, ARuntimeFolderTooDeepForASocketIsReachedThroughAShortFolderOfTheUsersOwn) {
  ShortFolders shortFolders;
  ASSERT_FALSE(shortFolders.parent.empty());
  const std::string runtime = deepRuntimeFolder("run time, one");
  ASSERT_GT(runtime.size(), 150u);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  SingleInstance primary({}, lockPath());
  EXPECT_LE(primary.serverName().size(), 107u);
  EXPECT_EQ(primary.serverName().rfind(shortFolders.folder() + "/", 0), 0u) << primary.serverName();
  std::vector<std::vector<std::string>> received;
  primary.setArgumentsHandler([&](const std::vector<std::string>& args) { received.push_back(args); });
  ASSERT_EQ(primary.start({}), SingleInstance::Outcome::Primary);
  struct stat info {};
  ASSERT_EQ(::lstat(shortFolders.folder().c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_uid, ::geteuid());
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  std::atomic<bool> ended{false};
  std::string output;
  int status = -1;
  std::thread launch([&] {
    using kesto::test::shellQuoted;
    const std::string command = "KESTO_TEST_LATER_RUNTIME=" + shellQuoted(runtime) +
                                " KESTO_TEST_LATER_SHORT_PARENT=" + shellQuoted(shortFolders.parent) + " " +
                                kesto::test::selfTestCommand("SingleInstance.DISABLED_LaterLaunchWithADeepRuntimeFolder") +
                                " --gtest_also_run_disabled_tests 2>&1";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
      status = ::pclose(pipe);
    }
    ended = true;
  });
  const bool done = kesto::test::runUntil([&] { return ended.load(); }, 60);
  if (!done) ::unlink(primary.serverName().c_str());  // the child then ends at once
  launch.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("later launch's socket: " + primary.serverName() + "\n"), std::string::npos) << output;
  ASSERT_TRUE(kesto::test::runUntil([&] { return !received.empty(); }, 5));
  EXPECT_EQ(received[0], (std::vector<std::string>{"kesto:https://deep.example/", "a b"}));

  ::setenv("XDG_RUNTIME_DIR", deepRuntimeFolder("run time, two").c_str(), 1);
  SingleInstance otherSession;
  EXPECT_NE(otherSession.serverName(), primary.serverName());
  EXPECT_EQ(otherSession.start({"x"}, 1.0), SingleInstance::Outcome::Primary);
}

// Either side of the longest socket path Qt listens on and connects to, 106 bytes: a runtime folder
// whose socket path holds 106 bytes keeps the socket, one of 107 or 108 bytes hands it to the short
// folder; a later launch reaches the first through each.
TEST(SingleInstance, ASocketPathOf106BytesStaysInTheRuntimeFolderAndALongerOneMovesToTheShortFolder) {
  ShortFolders shortFolders;
  ASSERT_FALSE(shortFolders.parent.empty());
  const std::string base = std::getenv("XDG_RUNTIME_DIR"), socketName = "/kesto.sock";
  for (const std::size_t socketPathLength : {std::size_t{106}, std::size_t{107}, std::size_t{108}}) {
    SCOPED_TRACE(socketPathLength);
    const std::size_t folderLength = socketPathLength - socketName.size();
    ASSERT_LT(base.size() + 2, folderLength) << base;
    const std::string runtime = base + "/" + std::string(folderLength - base.size() - 1, 'r');
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0) << runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    auto primary = std::make_unique<SingleInstance>(std::string(), lockPath());
    if (socketPathLength == 106)
      EXPECT_EQ(primary->serverName(), runtime + socketName);
    else
      EXPECT_EQ(primary->serverName().rfind(shortFolders.folder() + "/", 0), 0u) << primary->serverName();
    std::vector<std::vector<std::string>> received;
    primary->setArgumentsHandler([&](const std::vector<std::string>& args) { received.push_back(args); });
    ASSERT_EQ(primary->start({}), SingleInstance::Outcome::Primary);

    std::atomic<int> outcome{-1};
    std::thread launch([&] {
      SingleInstance later({}, lockPath());
      outcome = static_cast<int>(later.start({"kesto:https://limit.example/"}, 10.0));
    });
    const bool ended = kesto::test::runUntil([&] { return outcome.load() >= 0; }, 60);
    if (!ended) primary.reset();  // the launch then takes the lock and ends
    launch.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(outcome.load(), static_cast<int>(SingleInstance::Outcome::HandedOver));
    ASSERT_TRUE(kesto::test::runUntil([&] { return !received.empty(); }, 5));
    EXPECT_EQ(received[0], std::vector<std::string>{"kesto:https://limit.example/"});
  }
}

// A short folder of that name that another user owns, that others may enter, or that is a link:
// nothing is bound or reached there, the folder is left as it is, and the launch says why. It
// still takes the library's lock, or, when another process holds it, ends at once.
TEST(SingleInstance, AShortFolderOthersCouldReachIsRefusedAndSaysWhy) {
  ShortFolders shortFolders;
  ASSERT_FALSE(shortFolders.parent.empty());
  ::setenv("XDG_RUNTIME_DIR", deepRuntimeFolder("run time").c_str(), 1);
  const std::string folder = shortFolders.folder(), elsewhere = shortFolders.parent + "/elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  struct Case {
    const char* name;
    std::function<bool()> make;
    std::string said;
  };
  std::vector<Case> cases = {
      {"open to others", [&] { return ::mkdir(folder.c_str(), 0755) == 0 && ::chmod(folder.c_str(), 0755) == 0; },
       "may be entered by others (mode 0755, not 0700)"},
      {"a link", [&] { return ::symlink(elsewhere.c_str(), folder.c_str()) == 0; }, "is a link, not a folder"},
  };
  if (::geteuid() == 0)
    cases.push_back({"another user's", [&] { return ::mkdir(folder.c_str(), 0700) == 0 && ::chown(folder.c_str(), 65534, 65534) == 0; },
                     "belongs to another user (id 65534)"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.make());
    struct stat before {};
    ASSERT_EQ(::lstat(folder.c_str(), &before), 0);
    kesto::fnd::LogCapture log;
    {
      SingleInstance launch({}, lockPath());
      EXPECT_EQ(launch.start({"x"}, 0.5), SingleInstance::Outcome::Failed);
      EXPECT_FALSE(launch.isListening());
      EXPECT_TRUE(launch.holdsLock());
      EXPECT_TRUE(log.contains(c.said));
      EXPECT_TRUE(log.contains("Launches of Kesto cannot reach each other"));
    }
    // No answer can come: a launch that waited for one would wait as long as the holder lives.
    int holder = holdLock();
    std::atomic<int> outcome{-1};
    std::atomic<bool> locked{true};
    std::thread later([&] {
      SingleInstance launch({}, lockPath());
      launch.setUnreachableTimeout(3600);
      outcome = static_cast<int>(launch.start({"x"}, 0.5));
      locked = launch.holdsLock();
    });
    const bool answered = kesto::test::runUntil([&] { return outcome.load() >= 0; }, 60);
    ::close(holder);  // ends a wait
    later.join();
    EXPECT_TRUE(answered) << "waited for an answer";
    EXPECT_EQ(outcome.load(), static_cast<int>(SingleInstance::Outcome::Unreachable));
    EXPECT_FALSE(locked.load());
    struct stat after {};
    ASSERT_EQ(::lstat(folder.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere)) << "bound through the link";
    std::filesystem::remove_all(folder);
  }
}
