#!/usr/bin/env bash
# Runs every fuzz harness for a few seconds on its committed corpus: a harness that no longer
# builds, crashes, hangs or reports fails. The harnesses come from build-asan/, the clang build
# with AddressSanitizer and UndefinedBehaviorSanitizer that scripts/test-sanitizers.sh runs the
# suites from (scripts/sanitizer-build.sh): after that script this builds nothing; alone, it
# builds the harnesses and what they link. Used by CI (.ci/run) after the other suites; run
# scripts/setup.sh first on a fresh machine.
# KESTO_FUZZ_SECONDS sets each harness's run (default 10), KESTO_JOBS the parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
. scripts/sanitizer-build.sh
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
seconds="${KESTO_FUZZ_SECONDS:-10}"
sanitizer_build fuzz-harnesses

# Each run works in folders of its own: what it finds goes to a scratch corpus, never into the
# committed one, and the harnesses' home and settings are thrown away with it.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$(sanitizer_path "$PWD/Tests/Fuzz/lsan.supp"):print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

run_one() {  # harness name
  local name="$1" dir="$scratch/$1"
  mkdir -p "$dir/new" "$dir/home" "$dir/runtime"
  chmod 700 "$dir/runtime"
  # TMPDIR too: the harnesses' own scratch folder goes with the run's.
  if HOME="$dir/home" TMPDIR="$dir" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home/.config" \
      XDG_DATA_HOME="$dir/home/.local/share" XDG_CACHE_HOME="$dir/home/.cache" \
      "build-asan/Tests/Fuzz/Fuzz$name" "$dir/new" "Tests/Fuzz/Corpus/$name" \
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
  find build-asan/Tests/Fuzz -maxdepth 1 -type f -executable -name 'Fuzz*' ! -name FuzzRegressionTests -printf '%f\n' | sed 's/^Fuzz//' | sort |
    xargs -P "$jobs" -I{} bash -c 'run_one {}'
}
step fuzz-runs fuzz_all
