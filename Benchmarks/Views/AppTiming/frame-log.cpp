// Preloaded into kesto (LD_PRELOAD) to log every flush of a window's backing store to the
// screen: "<monotonic ns> <width>x<height> <window>" per line into $KESTO_FRAME_LOG. A flush is
// the moment a frame reaches the X server, so input sent at a known monotonic time can be set
// against the frames it caused.
#include <QBackingStore>
#include <QRegion>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>

namespace {
using Flush = void (*)(QBackingStore*, const QRegion&, QWindow*, const QPoint&);

FILE* logFile() {
  static FILE* f = [] {
    const char* path = std::getenv("KESTO_FRAME_LOG");
    return path ? std::fopen(path, "a") : nullptr;
  }();
  return f;
}
}  // namespace

void QBackingStore::flush(const QRegion& region, QWindow* window, const QPoint& offset) {
  static auto real = reinterpret_cast<Flush>(dlsym(RTLD_NEXT, "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint"));
  real(this, region, window, offset);
  if (FILE* f = logFile()) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const QRect r = region.boundingRect();
    std::fprintf(f, "%lld %dx%d %s\n", static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec, r.width(),
                 r.height(), window ? qPrintable(window->title().replace(' ', '_')) : "-");
    std::fflush(f);
  }
}
