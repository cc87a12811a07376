#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Used by CI (.ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
step set-up bash scripts/setup.sh
step build bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)
status=0
step tests tests_with_slowest build --timeout 900 || status=$?
# What the tests wrote into the build folder as root goes to the user the build was for.
hand_over_build build
exit "$status"
