#pragma once

#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <utility>

namespace kesto {

class SourceList;

// Work for a timer or a later turn of the main loop that runs only while the owner of
// `lifetime` is still there: a list closed in the meantime is not touched.
inline std::function<void()> whileAlive(const fnd::Lifetime& lifetime, std::function<void()> work) {
  return [alive = lifetime.watch(), work = std::move(work)] {
    if (alive) work();
  };
}

// The first step of a sidebar list controller going away: the work it queued and the
// notifications meant for it are dropped, and its list (if any) stops asking it.
void endListController(const void* controller, fnd::Lifetime& lifetime, SourceList* list);

}  // namespace kesto
