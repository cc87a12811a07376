#pragma once

// Private to the platform layer: the clock timers measure their deadlines with.

#include <cstdint>

namespace kesto::fnd {

// Replaces the monotonic millisecond clock timers read, and the longest single wait they hand
// the event loop before looking at the clock again. Null and 0 restore the defaults.
void setTimerClockForTesting(std::int64_t (*clock)(), std::int64_t maxWaitMilliseconds);

}  // namespace kesto::fnd
