// Three libraries synchronised through one sync file under a few hundred random seeds: how many
// runs end with libraries that differ, with deleted records back, or with records lost.
// Usage: SyncConvergence [SEEDS [FIRST_SEED [ROUNDS]]] (defaults 300, 1, 20).
#include "SyncConvergence.h"
#include "TemporaryHome.h"

#include "Support/AlertPresenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// A failed run shows an alert; here it only counts.
struct SilentAlerts : kesto::AlertPresenter {
  void showAlert(const std::string& title, const std::string& message, const std::string&) override {
    std::fprintf(stderr, "alert: %s: %s\n", title.c_str(), message.c_str());
  }
  void askQuestion(const std::string&, const std::string&, const std::vector<std::string>&,
                   std::function<void(int)> completion) override {
    if (completion) completion(0);
  }
};

bool pump(const std::function<bool()>& done, double seconds) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > static_cast<qint64>(seconds * 1000)) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::atoi(argv[1]) : 300;
  const unsigned first = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 20;
  kesto::bench::TemporaryHome home("kesto-convergence");
  QCoreApplication app(argc, argv);
  kesto::AlertPresenter::setShared(std::make_shared<SilentAlerts>());

  int diverged = 0, resurrected = 0, resurrectedFolders = 0, resurrectedBookmarks = 0, lost = 0, syncs = 0;
  // Per kind of crossed move and deletion: runs that made one, and runs where a folder it
  // deleted came back.
  int crossedRuns[2] = {0, 0}, crossedBackRuns[2] = {0, 0}, crossings[2] = {0, 0};
  const auto start = std::chrono::steady_clock::now();
  for (unsigned seed = first; seed < first + static_cast<unsigned>(seeds); ++seed) {
    kesto::test::ConvergenceRun run(seed, pump, rounds);
    const auto r = run.run();
    syncs += r.syncs;
    diverged += r.diverged;
    resurrected += r.resurrectedFolders + r.resurrectedBookmarks > 0;
    resurrectedFolders += r.resurrectedFolders > 0;
    resurrectedBookmarks += r.resurrectedBookmarks > 0;
    lost += r.lost > 0;
    for (int kind = 0; kind < 2; ++kind) {
      crossings[kind] += r.crossings[kind];
      crossedRuns[kind] += r.crossings[kind] > 0;
      crossedBackRuns[kind] += r.crossedFoldersBack[kind] > 0;
    }
    if (!r.holds())
      std::printf("seed %u: %s%s folders back %d, bookmarks back %d, lost %d\n", seed, r.diverged ? "diverged, " : "",
                  r.detail.c_str(), r.resurrectedFolders, r.resurrectedBookmarks, r.lost);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d seeds from %u, %d rounds, %d syncs in %.1f s\n", seeds, first, rounds, syncs, seconds);
  std::printf("diverged: %d\nresurrected: %d (folders %d, bookmarks %d)\nlost: %d\n", diverged, resurrected,
              resurrectedFolders, resurrectedBookmarks, lost);
  for (int kind = 0; kind < 2; ++kind)
    std::printf("crossed move and deletion %d: %d made in %d runs; a deleted folder back in %d runs\n", kind + 1,
                crossings[kind], crossedRuns[kind], crossedBackRuns[kind]);
  kesto::AlertPresenter::setShared(nullptr);
  return 0;
}
