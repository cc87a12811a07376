#pragma once

// Private to the platform layer: the Qt side of run loops.

#include "Platform/Foundation/RunLoop.h"

#include <exception>
#include <functional>

class QObject;

namespace kesto::fnd {

// The object whose thread is the loop's thread; Qt timers and queued calls target it.
QObject* runLoopContext(RunLoop& loop);

// Runs work handed to a loop; a stray exception is logged, never let into the Qt event loop.
void runGuarded(const std::function<void()>& work) noexcept;

}  // namespace kesto::fnd
