#!/usr/bin/env bash
# Builds every fuzz harness with the distribution's clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for a few seconds on its committed
# corpus: a harness that no longer builds, crashes, hangs or reports fails. Used by CI (.ci/run)
# after the other suites; run scripts/setup.sh first on a fresh machine.
# KESTO_FUZZ_SECONDS sets each harness's run (default 10), KESTO_JOBS the parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
seconds="${KESTO_FUZZ_SECONDS:-10}"

# Lean as the sanitizer build: -O1 with line tables, and only the harnesses and what they link.
step fuzz-configure env CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKESTO_FUZZ=ON \
  -DKESTO_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
step fuzz-build cmake --build build-fuzz --parallel "$jobs" --target fuzz-harnesses

# Each run works in folders of its own: what it finds goes to a scratch corpus, never into the
# committed one, and the harnesses' home and settings are thrown away with it.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/Tests/Fuzz/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

run_one() {  # harness name
  local name="$1" dir="$scratch/$1"
  mkdir -p "$dir/new" "$dir/home" "$dir/runtime"
  chmod 700 "$dir/runtime"
  if HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home/.config" \
      XDG_DATA_HOME="$dir/home/.local/share" XDG_CACHE_HOME="$dir/home/.cache" \
      "build-fuzz/Tests/Fuzz/Fuzz$name" "$dir/new" "Tests/Fuzz/Corpus/$name" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
      -artifact_prefix="$dir/" >"$dir/log" 2>&1; then
    echo "fuzz $name: ok ($(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$dir/log" | tail -n1) runs)"
  else
    echo "fuzz $name: FAILED"
    tail -n 60 "$dir/log"
    return 1
  fi
}
export -f run_one
export scratch seconds

fuzz_all() {
  find build-fuzz/Tests/Fuzz -maxdepth 1 -type f -executable -name 'Fuzz*' -printf '%f\n' | sed 's/^Fuzz//' | sort |
    xargs -P "$jobs" -I{} bash -c 'run_one {}'
}
step fuzz-runs fuzz_all
