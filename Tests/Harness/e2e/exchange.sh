#!/usr/bin/env bash
# Runs the clipboard, drag-and-drop and popover checks against real X clients (xclip, xdotool,
# xmessage) inside a private X session. Usage: Tests/Harness/e2e/exchange.sh BUILD_DIR [SHOTS_DIR]
# With SHOTS_DIR the tests leave screenshots there.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: exchange.sh BUILD_DIR [SHOTS_DIR]}" && pwd)"
if [[ -n "${2:-}" ]]; then mkdir -p "$2"; export KESTO_E2E_SHOTS="$(cd "$2" && pwd)"; fi
KESTO_E2E=1 exec "$here/xvfb-session.sh" -- bash -c '
  "$0/Tests/Platform/UI/UITests" --gtest_filter="X11Exchange.*" &&
  "$0/Tests/Views/ViewsTests" --gtest_filter="X11Popover.*"' "$build"
