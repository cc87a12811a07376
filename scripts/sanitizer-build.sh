#!/usr/bin/env bash
# Configures and builds, once, the sanitizer build in build-asan/: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer, the libraries also instrumented for libFuzzer, so the test suites
# (scripts/test-sanitizers.sh) and the fuzz harnesses (scripts/test-fuzz.sh) link the same
# objects. Building again when nothing changed costs nothing. Sourced by both scripts, after
# scripts/steps.sh; KESTO_JOBS overrides the parallelism (default: every core).
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Lean, to keep CI short on two cores: no benchmarks, -O1 with line tables only (enough for
# readable reports), and ccache as in the normal build.
sanitizer_build() {
  step sanitizer-configure env CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DKESTO_SANITIZE=ON \
    -DKESTO_FUZZ=ON -DKESTO_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" &&
    step sanitizer-build cmake --build build-asan --parallel "$jobs"
}
