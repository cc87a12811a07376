#!/usr/bin/env bash
# Configures and builds Kesto in ./build (Ninja, ccache). Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja "$@"
cmake --build build --parallel "$jobs"
