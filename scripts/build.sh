#!/usr/bin/env bash
# Configures and builds Kesto in ./build (Ninja, ccache). Extra arguments go to CMake's configure step;
# KESTO_JOBS sets the parallelism (default: every core).
# Run as root for a user (with sudo, or in their checkout), the folder is then theirs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
jobs="${KESTO_JOBS:-$(nproc 2>/dev/null || echo 2)}"
cmake -S . -B build -G Ninja "$@"
cmake --build build --parallel "$jobs"
hand_over_build build
