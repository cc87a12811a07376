#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Used by CI (.ci/run).
# KESTO_JOBS sets the parallelism (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
# What the tests write stays in the build folder: python keeps no caches beside the scripts it
# runs (as root through sudo they would be root's, in the user's checkout).
export PYTHONDONTWRITEBYTECODE=1
step set-up bash scripts/setup.sh
step build bash scripts/build.sh
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
# What the tests wrote into the build folder as root goes to the user the build was for, also
# when the run is interrupted.
step tests tests_handed_over build --timeout 900
