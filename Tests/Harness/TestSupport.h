#pragma once

#include "Harness/Programs.h"
#include "Platform/Foundation/Assert.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kesto::test {

// The temporary home folder of the running test (HOME and every XDG folder live below it). Each
// test gets a new one, with the shared settings and keychain read from it afresh.
const std::string& tempHome();

// The file where the harness's stand-ins for the desktop's openers (xdg-open, xdg-email, xdg-mime,
// gio, the browser) write each start, one a line: the program's name and its arguments. Every
// test runs on a desktop of the process's own (see TestMain.cpp), where these are all there is.
std::string ownDesktopLog();

// Puts a piece of the process's shared state (a store, a singleton's caches) back as a new
// process has it. The harness runs every reset after each test, the last added first, so a test
// program passes run whole and shuffled as it does one test per process.
void addStateReset(std::function<void()> reset);

// Registers a reset at program start: `const StateReset reset([] { ... });` in a test file.
struct StateReset {
  explicit StateReset(std::function<void()> reset) { addStateReset(std::move(reset)); }
};

// The arguments that run this test program again for the tests `filter` names alone, not for
// this process's shard of the tests (ctest runs a program in shards) nor writing its report
// (for runProgram); and the same as a shell command, its words quoted.
std::vector<std::string> selfTestArguments(const std::string& filter);
std::string selfTestCommand(const std::string& filter);
// The same, in a forked child about to exec the program itself.
void forgetShard();

// A new empty folder below the temporary home.
std::string makeTempDir(const std::string& prefix = "dir");

// Reads and writes whole files; reading a missing file gives an empty string.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

// Runs the main event loop until `done` answers true or `seconds` have passed; answers `done()`.
// The default is there for a hang: a loaded or paused machine may take long for what is quick.
template <typename F>
bool runUntil(F&& done, double seconds = 30.0);

// 1 where the program is built with AddressSanitizer: gcc says so with a macro, clang with a
// feature test.
#if defined(__SANITIZE_ADDRESS__)
#define KESTO_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTO_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef KESTO_TEST_UNDER_ASAN
#define KESTO_TEST_UNDER_ASAN 0
#endif

// Whether the program runs under AddressSanitizer, which keeps freed memory aside for a while:
// memory peaks tell nothing there.
constexpr bool underAddressSanitizer() {
#if KESTO_TEST_UNDER_ASAN
  return true;
#else
  return false;
#endif
}

// Runs the main event loop for about `seconds`, and at least once.
void spin(double seconds);

// Runs the main event loop until what the code just scheduled `seconds` ahead on it has run, and
// the work that queued: a mark set up a turn later for the same delay comes after it, however
// late a loaded or stopped machine runs the timers. Answers false only after 30 s without it.
bool waitPast(double seconds);

// Drops the work still queued on the main loop (main-queue blocks, performs), which holds what a
// finished test's stack and fixture held, so that it never runs in the next test. Objects handed
// to the loop for deletion are still deleted. The harness calls it as each test ends.
void dropQueuedMainLoopWork();

// What a test registers with the shared centres (notification observers, the run loop's tracking
// predicate) holds its stack and fixture, and an assertion that stops the test skips its own
// removal. The harness marks where each test begins and takes back everything registered since
// as the test ends; what was there before (the harness's own, a fixture's SetUpTestSuite) stays.
void markTestRegistrations();
void takeBackTestRegistrations();

// Runs a shell command, cut off after 15 s, while the main event loop keeps going, as the X
// selection, drag and window protocols need.
CommandResult runServing(const std::string& command);

// The configuration of a session bus of the tests' own (dbus-daemon --config-file): it reads
// none of the machine's service folders, so nothing installed there is activatable on it.
std::string privateBusConfig();

// The shell command that saves a screenshot as <name>.png in the folder $KESTO_E2E_SHOTS names;
// "true" without one.
std::string screenshotCommand(const std::string& name);

// Broken contracts throw in tests (the harness sets AssertionPolicy::Throw). A test of the
// application's log-and-carry-on path switches the policy for one scope; recorded failures are
// cleared on entry.
class ContractPolicyScope {
 public:
  explicit ContractPolicyScope(kesto::fnd::AssertionPolicy policy) : saved_(kesto::fnd::assertionPolicy()) {
    kesto::fnd::setAssertionPolicy(policy);
    kesto::fnd::clearRecordedFailures();
  }
  ~ContractPolicyScope() { kesto::fnd::setAssertionPolicy(saved_); }
  ContractPolicyScope(const ContractPolicyScope&) = delete;
  ContractPolicyScope& operator=(const ContractPolicyScope&) = delete;

 private:
  kesto::fnd::AssertionPolicy saved_;
};

namespace detail {
bool runUntilImpl(bool (*fn)(void*), void* ctx, double seconds);
}

template <typename F>
bool runUntil(F&& done, double seconds) {
  return detail::runUntilImpl([](void* c) { return static_cast<bool>((*static_cast<F*>(c))()); },
                              static_cast<void*>(&done), seconds);
}

}  // namespace kesto::test
