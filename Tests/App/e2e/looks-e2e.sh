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
e2e_app_script xdotool python3

# The update host knows no newer version than this one.
e2e_update_host "0#109"

e2e_start_kesto
e2e_sample_library
e2e_screenshot "$shots/main-window.png"

# A search that finds nothing: the hint comes as an overlay over the window, wider than the
# size asked for and opaque (a light list no longer shows through the bezel).
eval "$(xdotool getwindowgeometry --shell "$win")"  # X, Y, WIDTH, HEIGHT
cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
# Both ends of its width are watched from before the search, which runs as the letters are
# typed: the overlay shows for a few seconds after each, which a loaded machine can let pass
# before a probe started after the typing, or between two probes started one by one, looks.
samples="$work/overlay-pixels.txt"
e2e_watch_pixels 120 "$samples" $((cx - 290)) $((cy + 35)) $((cx + 290)) $((cy + 35))
e2e_key "$win" ctrl+f
xdotool type --delay 60 "zzqqxx"
e2e_key "$win" Return
# The first look that saw the overlay dark at both ends of its width; after it ("gone"), the
# first that saw both ends light again.
overlay_look() {  # [gone]
  awk -v gone="${1:-}" '
    function dark(r, g, b) { return (r + g + b) / 3 < 45 }
    NF == 6 && !seen && dark($1, $2, $3) && dark($4, $5, $6) { seen = NR; if (gone == "") { print NR; exit } }
    NF == 6 && seen && gone != "" && !dark($1, $2, $3) && !dark($4, $5, $6) { print NR; exit }' "$samples"
}
overlay_seen() { [[ -n "$(overlay_look)" ]]; }
overlay_gone() { [[ -n "$(overlay_look gone)" ]]; }
e2e_wait_until 60 overlay_seen || { e2e_screenshot "$shots/overlay.png"; fail "the overlay is not opaque across its width"; }
e2e_screenshot "$shots/overlay.png"
# It goes by itself after its few seconds.
e2e_wait_until 60 overlay_gone || fail "the overlay stayed"
e2e_key "$win" Escape

# Opens a window from the Help menu with the keys that walk to its item, photographs the screen
# and closes it with a key.
from_help_menu() {  # "walk keys" window-name screenshot closing-key
  e2e_key "$win" alt+h
  e2e_key "$win" $1
  local shown
  shown="$(e2e_wait_window "^$2\$" 60)" || fail "Help showed no '$2'"
  xdotool windowactivate --sync "$shown" >/dev/null 2>&1
  e2e_screenshot "$shots/$3"
  e2e_key "$shown" "$4"
  e2e_wait_until 60 e2e_no_window "^$2\$" || fail "$4 left '$2' open"
}
# Check for Updates… finds this version current: told with the information icon.
from_help_menu "Up Up Return" "Kesto Updater" alert-up-to-date.png Return
# Exporting Bookmarks from a Browser… shows the import help sheet.
from_help_menu "Down Return" "Import from a Browser" import-help.png Escape

e2e_quit_by_key
echo "looks: ok"
