#!/usr/bin/env bash
# Key names from a real X server's keymap: the ServerLayout tests of MenuBarTests switch the
# server between the us and de layouts with setxkbmap and follow the change.
# Usage: layouts-e2e.sh MENUBAR_TESTS
set -uo pipefail
tests="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_require setxkbmap
KESTO_SERVER_LAYOUT_TESTS=1 "$tests" --gtest_filter='ServerLayout.*' || { echo "FAIL: key names under the server's layouts"; exit 1; }
echo "key names under us and de: ok"
