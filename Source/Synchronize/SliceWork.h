#pragma once

#include <cstddef>
#include <functional>

namespace kesto {

// Runs work(0) ... work(count - 1) on the shared pool, on at most as many threads at once as the
// machine has cores (the caller's included), and returns when every slice is done. The slices
// must not depend on each other's order.
void runSlices(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace kesto
