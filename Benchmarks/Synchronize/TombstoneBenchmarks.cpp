// A peer that emptied a large library sends one tombstone per bookmark, and every step of a sync
// run handles the whole list: 40,000 tombstones of ours and 40,000 of the peer's (half of them the
// same objects) united, added, and confirmed once uploaded and old enough to go.
#include "Synchronize/SyncTombstones.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace kesto;

std::vector<SyncTombstone> numbered(int from, int to, std::int64_t version) {
  std::vector<SyncTombstone> out;
  out.reserve(static_cast<std::size_t>(to - from));
  for (int i = from; i < to; ++i) out.push_back({"ID-" + std::to_string(i), version, "b"});
  return out;
}

void fixClock(double since1970) {
  fnd::setClock([since1970] { return fnd::Date::withTimeIntervalSince1970(since1970); });
}

void BM_SyncTombstonesLibraryScale(benchmark::State& state) {
  const auto ours = numbered(0, 40000, 1), theirs = numbered(20000, 60000, 2);
  std::size_t left = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fnd::UserDefaults::standard().removeObject(SyncTombstones::kDefaultsKey);
    fixClock(1700000000);
    state.ResumeTiming();
    SyncTombstones::add(ours);
    const auto outgoing = SyncTombstones::unite(SyncTombstones::tombstones(), theirs);
    SyncTombstones::add(theirs);
    fixClock(1700000000 + SyncTombstones::kLifetimeSeconds + 24 * 3600);
    SyncTombstones::confirmUploaded(outgoing);
    left = SyncTombstones::tombstones().size();
  }
  fnd::setClock({});
  fnd::UserDefaults::standard().removeObject(SyncTombstones::kDefaultsKey);
  state.counters["left"] = static_cast<double>(left);
}
BENCHMARK(BM_SyncTombstonesLibraryScale)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
