#!/usr/bin/env bash
# Types text with non-ASCII characters into the controls demo's text field through the X server
# (xdotool), as a user would, and checks what the field holds when Return ends the entry. The
# window is found by its whole non-ASCII name, which xdotool reads from the legacy WM_NAME: a
# program that wrote that name in the wrong character set is not found. Run in any locale.
# Usage: Tests/Harness/e2e/controls-demo.sh PATH/TO/ControlsDemo
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
demo="${1:?usage: controls-demo.sh CONTROLS_DEMO_BINARY}"
exec "$here/xvfb-session.sh" -- bash -c '
  set -euo pipefail
  . "$1/lib.sh"
  report="$E2E_HOME/report.txt"
  # The characters beyond ASCII get keys of their own before the demo reads the keyboard map.
  e2e_add_keysyms udiaeresis ssharp eacute
  "$2" --report "$report" >/dev/null 2>&1 &
  pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  win="$(e2e_wait_window "^Kesto Controls Demo — “Grüße”$" 60)"
  xdotool windowactivate --sync "$win"
  e2e_caught_up "$win"
  # The plain text field: its row is the third (window-relative pixels); typed into once the
  # demo has taken the click in.
  e2e_click "$win" 230 93
  e2e_caught_up "$win"
  xdotool type --delay 40 "Grüße, café ü"
  xdotool key Return
  reported() { [[ -s "$report" ]]; }
  e2e_wait_until 60 reported || true
  got="$(cat "$report" 2>/dev/null || true)"
  if [[ "$got" != "text=Grüße, café ü" ]]; then
    echo "the field holds [$got]" >&2
    [[ -n "${KESTO_E2E_SHOTS:-}" ]] && e2e_screenshot "$KESTO_E2E_SHOTS/controls-demo.png" "$win"
    exit 1
  fi
  [[ -n "${KESTO_E2E_SHOTS:-}" ]] && e2e_screenshot "$KESTO_E2E_SHOTS/controls-demo.png" "$win"
  echo "typed text arrived"
' _ "$here" "$demo"
