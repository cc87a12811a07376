#pragma once

#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <utility>

namespace kesto {

// Work for a timer or a later turn of the main loop that runs only while the owner of
// `lifetime` is still there: a list closed in the meantime is not touched.
inline std::function<void()> whileAlive(const fnd::Lifetime& lifetime, std::function<void()> work) {
  return [alive = lifetime.watch(), work = std::move(work)] {
    if (alive) work();
  };
}

}  // namespace kesto
