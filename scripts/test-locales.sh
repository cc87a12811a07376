#!/usr/bin/env bash
# Runs the unit suites of an existing build (scripts/test.sh builds it) again in a language with a
# decimal comma (de_DE.UTF-8) and in one whose i and I are not each other's case (tr_TR.UTF-8):
# what Kesto stores, sends and compares must not change with the user's language. Used by CI
# after scripts/test.sh (.ci/run); scripts/setup.sh generates the locales.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
status=0
for l in de_DE.UTF-8 tr_TR.UTF-8; do
  LANG="$l" LC_ALL="$l" step "unit-tests-$l" tests_handed_over build -L unit --timeout 900 || status=1
done
exit "$status"
