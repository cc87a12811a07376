#pragma once

namespace kesto::test {

// The sidebar lists' delays: a chosen row is acted on after the first, a confirmed removal runs
// the second after its alert. A test waits past them (waitPast), never for a time of its own.
inline constexpr double kSelectionDelay = 0.1;
inline constexpr double kConfirmedRemovalDelay = 0.5;

}  // namespace kesto::test
