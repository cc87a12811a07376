#!/usr/bin/env bash
# Builds the unit suites and the fuzz harnesses once, with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, into build-asan/ (scripts/sanitizer-build.sh) and runs the suites:
# any report (a memory error, undefined behaviour, a leak) fails its test. The end-to-end
# scripts, which drive the real program under a private X server, run once, in scripts/test.sh;
# scripts/test-fuzz.sh runs the harnesses from the same build. Used by CI after scripts/test.sh
# (.ci/run); run scripts/setup.sh first on a fresh machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
. scripts/sanitizer-build.sh
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
sanitizer_build

asan="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export ASAN_OPTIONS="$asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$(sanitizer_path "$PWD/Tests/Harness/lsan.supp"):print_suppressions=0"

# The crash reporter's tests crash child processes on purpose and read what our own signal
# handler wrote, so they run on their own with the sanitizers' signal handling off: otherwise
# ASan takes SIGSEGV first and frees each thread's alternate signal stack as its own, which the
# reporter installed. Left out here, run by scripts/test.sh: the two that raise SIGSEGV by
# storing through a null pointer, which UBSan stops as undefined behaviour before any signal
# reaches the handler.
crash_tests() {
  ASAN_OPTIONS="$asan:handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0:use_sigaltstack=0" \
    QT_QPA_PLATFORM=offscreen build-asan/Tests/CrashReporting/CrashReportingTests --gtest_brief=1 \
    --gtest_filter='-CrashReporter.SegmentationFaultWritesARecordAndStillEndsTheProcess:CrashReporter.ThreadsCrashingTogetherLeaveOneWholeRecordOfTheSignalThatEndedTheProcess'
}

status=0
step sanitizer-tests tests_with_slowest build-asan -L unit -E '^CrashReportingTests$' --timeout 1800 || status=1
step sanitizer-crash-tests crash_tests || status=1
exit "$status"
