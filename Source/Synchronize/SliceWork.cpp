#include "Synchronize/SliceWork.h"

#include "Platform/Foundation/DispatchQueue.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace kesto {

void runSlices(std::size_t count, const std::function<void(std::size_t)>& work) {
  if (count == 0) return;
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t helpers = std::min(count, cores) - 1;
  std::atomic<std::size_t> next{0};
  auto drain = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) work(i);
  };
  fnd::DispatchGroup group;
  for (std::size_t h = 0; h < helpers; ++h) group.async(fnd::DispatchQueue::global(), drain);
  // The caller takes slices too, so the work ends even when no pool thread is free.
  drain();
  group.wait();
}

}  // namespace kesto
