#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Used by CI (.ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
step set-up bash scripts/setup.sh
step build bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)
step tests tests_with_slowest build --timeout 900
