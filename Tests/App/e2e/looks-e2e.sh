#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh, looked at as a user sees it: the main window at
# its first size with the sample library, an overlay message (a library search that finds
# nothing) drawn opaque over the list, a success alert (an update check that finds this version
# current) and the import help sheet from the Help menu. Leaves screenshots of each.
# Usage: looks-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_require xdotool python3

export XDG_RUNTIME_DIR="$E2E_HOME/runtime"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR" "$shots"
e2e_app_paths

fail() { echo "FAIL: $*" >&2; cat "$work/kesto.log" >&2 2>/dev/null; exit 1; }
cleanup() { kill "${app_pid:-}" "${site_pid:-}" 2>/dev/null; }
trap cleanup EXIT
gone() { ! xdotool search --onlyvisible --name "$1" >/dev/null; }
# The grey level (0-255) of a screen pixel.
grey() { e2e_pixel "$1" "$2" | awk '{ print int(($1 + $2 + $3) / 3) }'; }

# The update host knows no newer version than this one.
e2e_update_host "0#109"

"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
win="$(e2e_wait_window '^Kesto$' 20)" || fail "no main window"
e2e_add_sample_library 30 || fail "no first-run panel"
sleep 2
e2e_screenshot "$shots/main-window.png"

# A search that finds nothing: the hint comes as an overlay over the window, wider than the
# size asked for and opaque (a light list no longer shows through the bezel).
eval "$(xdotool getwindowgeometry --shell "$win")"  # X, Y, WIDTH, HEIGHT
e2e_key "$win" ctrl+f
sleep 0.3
xdotool type --delay 60 "zzqqxx"
e2e_key "$win" Return
sleep 1
e2e_screenshot "$shots/overlay.png"
cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
for x in $((cx - 290)) $((cx + 290)); do
  g="$(grey "$x" "$((cy + 35))")"
  [[ -n "$g" && "$g" -lt 45 ]] || fail "the overlay is not opaque across its width at x=$x (grey $g)"
done
sleep 4
e2e_key "$win" Escape

# Opens a window from the Help menu with the keys that walk to its item, photographs the screen
# and closes it with a key.
from_help_menu() {  # "walk keys" window-name screenshot closing-key
  e2e_key "$win" alt+h
  sleep 0.3
  e2e_key "$win" $1
  local shown
  shown="$(e2e_wait_window "^$2\$" 15)" || fail "Help showed no '$2'"
  sleep 0.4
  e2e_screenshot "$shots/$3"
  e2e_key "$shown" "$4"
  e2e_wait_until 5 gone "^$2\$" || fail "$4 left '$2' open"
}
# Check for Updates… finds this version current: told with the information icon.
from_help_menu "Up Up Return" "Kesto Updater" alert-up-to-date.png Return
# Exporting Bookmarks from a Browser… shows the import help sheet.
from_help_menu "Down Return" "Import from a Browser" import-help.png Escape

e2e_key "$win" ctrl+q
e2e_wait_until 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "Ctrl+Q did not quit"
wait "$app_pid"
rc=$?
[[ $rc -eq 0 ]] || fail "kesto ended with $rc"
echo "looks: ok"
