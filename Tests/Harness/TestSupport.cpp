#include "Harness/TestSupport.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/RunLoop_p.h"
#include "Platform/Foundation/TestAccess_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>
#include <vector>

namespace kesto::test {

std::string& tempHomeStorage() {
  static std::string home;
  return home;
}

const std::string& tempHome() { return tempHomeStorage(); }

std::vector<std::function<void()>>& stateResets() {
  static std::vector<std::function<void()>> resets;
  return resets;
}

void addStateReset(std::function<void()> reset) { stateResets().push_back(std::move(reset)); }

std::vector<std::string> selfTestArguments(const std::string& filter) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string program = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
  return {"env", "-u", "GTEST_TOTAL_SHARDS", "-u", "GTEST_SHARD_INDEX", "-u", "GTEST_OUTPUT", program,
          "--gtest_filter=" + filter};
}

std::string selfTestCommand(const std::string& filter) {
  std::string command;
  for (const auto& word : selfTestArguments(filter)) command += (command.empty() ? "" : " ") + shellQuoted(word);
  return command;
}

void forgetShard() {
  unsetenv("GTEST_TOTAL_SHARDS");
  unsetenv("GTEST_SHARD_INDEX");
  unsetenv("GTEST_OUTPUT");
}

std::string makeTempDir(const std::string& prefix) {
  static std::atomic<int> counter{0};
  std::string path = tempHome() + "/" + prefix + "-" + std::to_string(counter++);
  std::string tmpl = path + "-XXXXXX";
  char* made = mkdtemp(tmpl.data());
  return made ? std::string(made) : path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

namespace detail {
bool runUntilImpl(bool (*fn)(void*), void* ctx, double seconds) {
  QElapsedTimer timer;
  timer.start();
  while (!fn(ctx)) {
    if (timer.elapsed() > static_cast<qint64>(seconds * 1000)) return fn(ctx);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::usleep(200);
  }
  return true;
}
}  // namespace detail

CommandResult runServing(const std::string& command) {
  std::atomic<bool> done{false};
  CommandResult result;
  std::thread worker([&] {
    if (FILE* pipe = popen(("timeout 15 " + command).c_str(), "r")) {
      char buffer[4096];
      std::size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
      result.status = pclose(pipe);
    }
    done = true;
  });
  runUntil([&] { return done.load(); }, 20);
  worker.join();
  return result;
}

std::string privateBusConfig() { return KESTO_SOURCE_DIR "/Tests/Harness/e2e/private-bus.conf"; }

std::string screenshotCommand(const std::string& name) {
  const char* dir = std::getenv("KESTO_E2E_SHOTS");
  if (!dir) return "true";
  return "python3 " + shellQuoted(KESTO_SOURCE_DIR "/Tests/Harness/e2e/screenshot.py") + " " +
         shellQuoted(std::string(dir) + "/" + name + ".png");
}

bool waitPast(double seconds) {
  auto reached = std::make_shared<bool>(false);
  fnd::RunLoop::main().perform([weak = std::weak_ptr<bool>(reached), seconds] {
    fnd::RunLoop::main().performAfterDelay(seconds, [weak] {
      fnd::RunLoop::main().perform([weak] {
        if (auto r = weak.lock()) *r = true;
      });
    });
  });
  return runUntil([&] { return *reached; }, 30);
}

void spin(double seconds) {
  QElapsedTimer timer;
  timer.start();
  // At least one pass, even when a loaded machine kept this thread off the processor so long
  // that the time is up before the first check.
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::usleep(200);
  } while (timer.elapsed() < static_cast<qint64>(seconds * 1000));
}

void dropQueuedMainLoopWork() {
  // The main loop's performs are queued calls to its context object; deferred deletions and
  // other objects' events are left as they are.
  QCoreApplication::removePostedEvents(fnd::runLoopContext(fnd::RunLoop::main()), QEvent::MetaCall);
}

namespace {
// Before any mark, nothing is taken back.
std::uint64_t& registrationMark() {
  static std::uint64_t mark = std::numeric_limits<std::uint64_t>::max();
  return mark;
}
}  // namespace

void markTestRegistrations() {
  registrationMark() = fnd::TestAccess::registrationMark(fnd::NotificationCenter::defaultCenter());
}

void takeBackTestRegistrations() {
  fnd::TestAccess::removeRegistrationsSince(fnd::NotificationCenter::defaultCenter(), registrationMark());
  // Only tests set one: nothing in the program does.
  fnd::RunLoop::setTrackingPredicate(nullptr);
}

}  // namespace kesto::test
