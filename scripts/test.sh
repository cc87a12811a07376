#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Used by CI (.ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)
cd build
ctest --parallel "$jobs" --output-on-failure --timeout 300
