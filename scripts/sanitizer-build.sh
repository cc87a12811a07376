# Sourced by scripts/test-sanitizers.sh and scripts/test-fuzz.sh: `sanitizer_build [TARGETS...]`
# configures build-asan/, the one clang build with AddressSanitizer and UndefinedBehaviorSanitizer
# whose libraries also carry the fuzzer's coverage, and builds the targets named (every target
# when none is named). Both scripts configure it alike, so whichever runs second builds nothing
# again.
sanitizer_build() {
  local jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
  # A folder configured earlier with another compiler would keep it: start that one afresh.
  if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' build-asan/CMakeCache.txt; then
    rm -rf build-asan
  fi
  # Lean, to keep CI short on two cores: no benchmarks, -O1 with line tables only (enough for
  # readable reports), lld for the links, and ccache as in the normal build.
  step sanitizer-configure env CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja \
    -DKESTO_SANITIZE=ON -DKESTO_FUZZ=ON -DKESTO_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
    -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld || return
  step sanitizer-build cmake --build build-asan --parallel "$jobs" ${1:+--target "$@"}
}
