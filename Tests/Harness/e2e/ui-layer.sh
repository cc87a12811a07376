#!/usr/bin/env bash
# Runs the UI layer's real-input tests inside a private X session.
# Usage: Tests/Harness/e2e/ui-layer.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: ui-layer.sh BUILD_DIR}"
KESTO_E2E=1 exec "$here/xvfb-session.sh" -- "$build/Tests/Platform/UI/UITests" --gtest_filter='X11.*'
