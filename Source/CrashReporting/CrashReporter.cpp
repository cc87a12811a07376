#include "CrashReporting/CrashReporter.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kesto {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};

// Everything the handler needs is made before any crash: it may not allocate.
char gDirectory[4096];
char gKeyPrefix[16];
std::atomic<bool> gStarted{false};
// Taken by the one call that installs; the buffers above are written by that call only.
std::atomic<bool> gStarting{false};
std::atomic<bool> gHandling{false};
// Set once the first crashing thread has written its record; other crashing threads wait for it.
std::atomic<bool> gRecorded{false};
std::atomic<long> gHandlingThread{0};
char gAlternateStack[64 * 1024];

// Small async-signal-safe writers.
struct Line {
  char buf[512];
  std::size_t n = 0;
  void add(const char* s) {
    while (*s && n < sizeof buf - 1) buf[n++] = *s++;
  }
  void addUnsigned(unsigned long long v, int base = 10) {
    char tmp[32];
    int i = 0;
    do {
      unsigned d = static_cast<unsigned>(v % static_cast<unsigned>(base));
      tmp[i++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
      v /= static_cast<unsigned>(base);
    } while (v && i < 32);
    while (i && n < sizeof buf - 1) buf[n++] = tmp[--i];
  }
  void addSigned(long long v) {
    if (v < 0) {
      add("-");
      // Negated as unsigned, so the most negative value does not overflow.
      addUnsigned(0ULL - static_cast<unsigned long long>(v));
    } else {
      addUnsigned(static_cast<unsigned long long>(v));
    }
  }
  void write(int fd) {
    std::size_t off = 0;
    while (off < n) {
      ssize_t w = ::write(fd, buf + off, n - off);
      if (w <= 0) break;
      off += static_cast<std::size_t>(w);
    }
    n = 0;
  }
};

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    default: return "signal";
  }
}

long currentThread() { return static_cast<long>(::syscall(SYS_gettid)); }

void sleepMilliseconds(long ms) {
  timespec t{0, ms * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Another thread is writing the record: wait until it has, and a little longer for its
// re-raised signal to end the process, so this thread's default action neither ends the
// process mid-record nor replaces the first signal's exit status. Bounded, in case the first
// thread is stuck.
void waitForTheFirstRecord() {
  for (int i = 0; i < 5000 && !gRecorded.load(); ++i) sleepMilliseconds(1);
  sleepMilliseconds(2000);
}

void handler(int sig, siginfo_t* info, void*) {
  if (gHandling.exchange(true)) {
    // A crash inside this thread's own handler must not wait for itself.
    if (gHandlingThread.load() != currentThread()) waitForTheFirstRecord();
  } else {
    gHandlingThread = currentThread();
    Line path;
    path.add(gDirectory);
    path.add("/crash-");
    path.addUnsigned(static_cast<unsigned long long>(::time(nullptr)));
    path.add("-");
    path.addUnsigned(static_cast<unsigned long long>(::getpid()));
    path.add(".log");
    path.buf[path.n] = '\0';
    int fd = ::open(path.buf, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      Line l;
      l.add("Kesto crash report\nSignal: ");
      l.add(signalName(sig));
      l.add(" (");
      l.addUnsigned(static_cast<unsigned>(sig));
      l.add(")\nCode: ");
      l.addSigned(info ? info->si_code : 0);  // negative for signals sent by a process (abort)
      l.add("\nAddress: 0x");
      l.addUnsigned(reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
      l.add("\nProcess: ");
      l.addUnsigned(static_cast<unsigned long long>(::getpid()));
      l.add("\nKey: ");
      l.add(gKeyPrefix);
      l.add("\nBacktrace:\n");
      l.write(fd);
      void* frames[64];
      // backtrace was called once at start, so its library is already loaded here.
      int count = ::backtrace(frames, 64);
      ::backtrace_symbols_fd(frames, count, fd);
      ::close(fd);
    }
    gRecorded = true;
  }
  // Let the signal end the process the usual way (core dump, exit status).
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
}

bool isHexKey(const std::string& key) {
  if (key.size() != 40) return false;
  for (char c : key)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// ---- an alternate signal stack for every thread ----
//
// A stack overflow can only be recorded on a stack of its own, and an alternate signal stack
// belongs to one thread. Thread creation is wrapped for the whole process (toolkit, library and
// our own threads alike), so each thread gets one as it starts and gives it back as it ends.

constexpr std::size_t kThreadAlternateStackSize = 64 * 1024;

class ThreadAlternateStack {
 public:
  ThreadAlternateStack() {
    stack_t current;
    std::memset(&current, 0, sizeof current);
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;  // has one
    void* memory = ::mmap(nullptr, kThreadAlternateStackSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t stack;
    std::memset(&stack, 0, sizeof stack);
    stack.ss_sp = memory;
    stack.ss_size = kThreadAlternateStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
      ::munmap(memory, kThreadAlternateStackSize);
      return;
    }
    memory_ = memory;
  }
  ~ThreadAlternateStack() {
    if (!memory_) return;
    // Switched off before the memory goes, unless the thread put another in its place.
    stack_t current;
    std::memset(&current, 0, sizeof current);
    if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory_) {
      stack_t off;
      std::memset(&off, 0, sizeof off);
      off.ss_flags = SS_DISABLE;
      ::sigaltstack(&off, nullptr);
    }
    ::munmap(memory_, kThreadAlternateStackSize);
  }
  ThreadAlternateStack(const ThreadAlternateStack&) = delete;
  ThreadAlternateStack& operator=(const ThreadAlternateStack&) = delete;

 private:
  void* memory_ = nullptr;
};

struct ThreadStart {
  void* (*routine)(void*);
  void* argument;
};

void* startWithAlternateStack(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  // Also given back when the thread ends through pthread_exit or cancellation (both unwind).
  ThreadAlternateStack stack;
  return start.routine(start.argument);
}

using ThreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

ThreadCreate systemThreadCreate() {
  static const ThreadCreate create = reinterpret_cast<ThreadCreate>(::dlsym(RTLD_NEXT, "pthread_create"));
  return create;
}

}  // namespace

}  // namespace kesto

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) {
  using namespace kesto;
  ThreadCreate create = systemThreadCreate();
  if (!create) return EAGAIN;
  auto* start = new (std::nothrow) ThreadStart{routine, argument};
  if (!start) return create(thread, attributes, routine, argument);
  int rc = create(thread, attributes, startWithAlternateStack, start);
  if (rc != 0) delete start;
  return rc;
}

namespace kesto {

std::string CrashReporter::crashLogDirectory() { return fnd::StandardPaths::logsDirectory(); }

bool CrashReporter::isStarted() { return gStarted.load(); }

void CrashReporter::pruneCrashRecords(const std::string& directory, std::size_t keep) {
  auto names = fnd::FileManager::contentsOfDirectory(directory);
  if (!names) return;
  // "crash-<seconds>-<pid>.log": newest first by the seconds, then by name for equal times.
  std::vector<std::pair<unsigned long long, std::string>> records;
  for (const auto& name : *names) {
    constexpr std::string_view prefix = "crash-", suffix = ".log";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    unsigned long long seconds = 0;
    std::size_t i = prefix.size();
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) seconds = seconds * 10 + unsigned(name[i] - '0');
    if (i == prefix.size() || i >= name.size() || name[i] != '-') continue;
    records.emplace_back(seconds, name);
  }
  if (records.size() <= keep) return;
  std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a > b; });
  for (std::size_t i = keep; i < records.size(); ++i) fnd::FileManager::removeItem(directory + "/" + records[i].second);
}

bool CrashReporter::startWithAPIKey(const std::string& apiKey) {
  if (!isHexKey(apiKey) || gStarting.exchange(true)) return false;
  std::string dir = crashLogDirectory();
  fnd::FileManager::createDirectory(dir, true, 0700);
  pruneCrashRecords(dir);
  if (dir.size() >= sizeof gDirectory - 64) {
    gStarting = false;
    return false;
  }
  std::memcpy(gDirectory, dir.c_str(), dir.size() + 1);
  std::memcpy(gKeyPrefix, apiKey.c_str(), 8);
  gKeyPrefix[8] = '\0';

  void* warm[1];
  ::backtrace(warm, 1);

  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = gAlternateStack;
  stack.ss_size = sizeof gAlternateStack;
  // The starting thread's own (threads started later get theirs as they start), so a stack
  // overflow there is still recorded.
  ::sigaltstack(&stack, nullptr);

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int sig : kSignals) ::sigaction(sig, &action, nullptr);
  gStarted = true;
  return true;
}

}  // namespace kesto
