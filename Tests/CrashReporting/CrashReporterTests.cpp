#include "CrashReporting/CrashReporter.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using kesto::CrashReporter;
using kesto::fnd::FileManager;

namespace {

const char* kKey = "7f3a9c0e5b21d84f6a0c93e7b2d5148f0e6a7c39";

// Runs `crash` in a child that has crash reporting on; answers the child's wait status.
template <typename F>
int crashInChild(F crash) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!CrashReporter::startWithAPIKey(kKey)) ::_exit(3);
    crash();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Runs `body` in a child and answers its exit code (-1 when it did not exit): the reporter starts
// once per process, so a test that starts it must not do so in the test program itself, which
// runs every test.
template <typename F>
int exitCodeOfChild(F body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> crashRecords() {
  std::vector<std::string> out;
  auto names = FileManager::contentsOfDirectory(CrashReporter::crashLogDirectory());
  if (names)
    for (const auto& n : *names)
      if (n.rfind("crash-", 0) == 0) out.push_back(CrashReporter::crashLogDirectory() + "/" + n);
  return out;
}

// The text of the one crash record left by a child that `signal` ended; empty, and the test
// failed, when the child ended otherwise or left no record or more than one.
std::string onlyRecordOfChildEndedBy(int status, int signal) {
  EXPECT_TRUE(WIFSIGNALED(status));
  if (!WIFSIGNALED(status)) return {};
  EXPECT_EQ(WTERMSIG(status), signal);
  auto records = crashRecords();
  EXPECT_EQ(records.size(), 1u);
  return records.size() == 1 ? kesto::test::readFile(records[0]) : std::string();
}

}  // namespace

TEST(CrashReporter, RefusesKeysThatAreNotFortyHexCharacters) {
  EXPECT_FALSE(CrashReporter::startWithAPIKey(""));
  EXPECT_FALSE(CrashReporter::startWithAPIKey("7f3a9c0e5b21d84f6a0c93e7b2d5148f0e6a7c3"));     // 39
  EXPECT_FALSE(CrashReporter::startWithAPIKey("7f3a9c0e5b21d84f6a0c93e7b2d5148f0e6a7c3z"));    // not hex
  EXPECT_FALSE(CrashReporter::isStarted());
}

TEST(CrashReporter, StartsOnce) {
  EXPECT_EQ(exitCodeOfChild([] {
              if (!CrashReporter::startWithAPIKey(kKey)) return 1;
              if (!CrashReporter::isStarted()) return 2;
              if (CrashReporter::startWithAPIKey(kKey)) return 3;
              // The Logs folder exists before anything crashes, so the handler only has to open a file.
              bool isDir = false;
              if (!FileManager::fileExists(CrashReporter::crashLogDirectory(), &isDir) || !isDir) return 4;
              return 0;
            }),
            0);
}

TEST(CrashReporter, StartsOnceWhenThreadsRace) {
  EXPECT_EQ(exitCodeOfChild([] {
              std::atomic<bool> go{false};
              std::atomic<int> started{0};
              std::vector<std::thread> threads;
              for (int i = 0; i < 16; ++i)
                threads.emplace_back([&] {
                  while (!go.load()) std::this_thread::yield();
                  if (CrashReporter::startWithAPIKey(kKey)) ++started;
                });
              go = true;
              for (auto& t : threads) t.join();
              return started.load() == 1 && CrashReporter::isStarted() ? 0 : 1;
            }),
            0);
}

TEST(CrashReporter, SegmentationFaultWritesARecordAndStillEndsTheProcess) {
  int status = crashInChild([] {
    volatile int* p = nullptr;
    *p = 1;
  });
  std::string text = onlyRecordOfChildEndedBy(status, SIGSEGV);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.find("Signal: SIGSEGV (11)"), std::string::npos) << text;
  EXPECT_NE(text.find("Key: 7f3a9c0e"), std::string::npos);
  EXPECT_EQ(text.find(kKey), std::string::npos) << "the whole key is never written";
  EXPECT_NE(text.find("Backtrace:"), std::string::npos);
  auto attributes = FileManager::attributesOfItem(crashRecords()[0]);
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->permissions, 0600u);
}

TEST(CrashReporter, AbortIsRecordedWithItsSignal) {
  int status = crashInChild([] { std::abort(); });
  EXPECT_NE(onlyRecordOfChildEndedBy(status, SIGABRT).find("SIGABRT"), std::string::npos);
}

TEST(CrashReporter, StackOverflowIsRecorded) {
  int status = crashInChild([] {
    // Grows the stack until it overflows; the handler runs on its own stack.
    std::function<int(int)> deep = [&deep](int n) {
      volatile char pad[4096];
      pad[0] = static_cast<char>(n);
      return n < 100000000 ? deep(n + 1) + pad[0] : 0;
    };
    deep(0);
  });
  onlyRecordOfChildEndedBy(status, SIGSEGV);
}

TEST(CrashReporter, ASignalSentByTheProcessRecordsItsNegativeCode) {
  int status = crashInChild([] { std::abort(); });
  std::string text = onlyRecordOfChildEndedBy(status, SIGABRT);
  EXPECT_NE(text.find("\nCode: " + std::to_string(SI_TKILL) + "\n"), std::string::npos) << text;
}

TEST(CrashReporter, ThreadsCrashingTogetherLeaveOneWholeRecordOfTheSignalThatEndedTheProcess) {
  // Several threads crash at once with different signals: the first to reach the handler
  // writes the record, the others wait for it instead of ending the process under it.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (const auto& r : crashRecords()) ::unlink(r.c_str());
    int status = crashInChild([] {
      std::atomic<int> ready{0};
      std::vector<std::thread> threads;
      for (int i = 0; i < 8; ++i)
        threads.emplace_back([&ready, i] {
          ++ready;
          while (ready.load() < 8) {
          }
          if (i % 2) {
            ::raise(SIGABRT);
          } else {
            volatile int* p = nullptr;
            *p = 1;
          }
        });
      for (auto& t : threads) t.join();
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    int sig = WTERMSIG(status);
    ASSERT_TRUE(sig == SIGSEGV || sig == SIGABRT) << sig;
    auto records = crashRecords();
    ASSERT_EQ(records.size(), 1u);
    std::string text = kesto::test::readFile(records[0]);
    std::string expected = sig == SIGSEGV ? "Signal: SIGSEGV (11)\n" : "Signal: SIGABRT (6)\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    auto trace = text.find("Backtrace:\n");
    ASSERT_NE(trace, std::string::npos) << text;
    // At least one frame, and the last line whole.
    EXPECT_GT(text.size(), trace + 12) << text;
    EXPECT_EQ(text.back(), '\n');
  }
}

// Every thread can crash, not only the one that started the reporter: a stack overflow on a
// worker thread is recorded too.
TEST(CrashReporter, StackOverflowOnAnotherThreadIsRecorded) {
  for (const auto& r : crashRecords()) ::unlink(r.c_str());
  int status = crashInChild([] {
    std::thread worker([] {
      std::function<int(int)> deep = [&deep](int n) {
        volatile char pad[4096];
        pad[0] = static_cast<char>(n);
        return n < 100000000 ? deep(n + 1) + pad[0] : 0;
      };
      deep(0);
    });
    worker.join();
  });
  EXPECT_NE(onlyRecordOfChildEndedBy(status, SIGSEGV).find("SIGSEGV"), std::string::npos);
}

// Threads that end hand their stack back: many short threads neither fail to start nor leave
// their signal stacks behind.
TEST(CrashReporter, ThreadsStartAndEndAsBefore) {
  EXPECT_EQ(exitCodeOfChild([] {
              if (!CrashReporter::startWithAPIKey(kKey)) return 1;
              std::atomic<int> ran{0};
              for (int round = 0; round < 200; ++round) {
                std::thread t([&] {
                  stack_t current{};
                  if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) ++ran;
                });
                t.join();
              }
              return ran.load() == 200 ? 0 : 2;
            }),
            0);
}

// Records pile up across crashes: only the newest few stay, told apart by the time in their
// names (a ten-digit time is newer than a nine-digit one), and other files of the folder stay.
TEST(CrashReporter, PruningKeepsTheNewestRecordsAndOtherFiles) {
  const std::string dir = kesto::test::makeTempDir("crashes");
  const std::vector<std::string> names = {"crash-999999999-1.log", "crash-1700000000-5.log",  "crash-1700000001-2.log",
                                          "crash-1700000002-9.log", "crash-1700000003-1.log", "kesto.log",
                                          "crash-notes.txt",        "crash-x-1.log"};
  for (const auto& n : names) kesto::test::writeFile(dir + "/" + n, "x");
  CrashReporter::pruneCrashRecords(dir, 2);
  auto left = FileManager::contentsOfDirectory(dir).value_or(std::vector<std::string>{});
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"crash-1700000002-9.log", "crash-1700000003-1.log", "crash-notes.txt",
                                            "crash-x-1.log", "kesto.log"}));
  // As many as are kept: nothing goes.
  CrashReporter::pruneCrashRecords(dir, 2);
  EXPECT_EQ(FileManager::contentsOfDirectory(dir).value_or(std::vector<std::string>{}).size(), 5u);
}
