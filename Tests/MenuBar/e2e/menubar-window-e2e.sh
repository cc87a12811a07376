#!/usr/bin/env bash
# The menu-bar window's own frame in the real program, with a tray (trayer) and openbox: its left
# edge dragged outwards widens it on both sides alike; two cards selected (Ctrl-click) and dragged
# by a plain press onto another program's window arrive there together, one "bm:" line each.
# Usage: menubar-window-e2e.sh KESTO_BINARY DROP_TARGET [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
drop_target="$2"
shots="${3:-${TMPDIR:-/tmp}/menubar-window-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool trayer sqlite3

trayer --edge top --align right --widthtype pixel --width 100 --height 24 --transparent false \
  >"$work/trayer.log" 2>&1 &
e2e_pids+=("$!")
e2e_wait_until 10 bash -c "xdotool search --class trayer >/dev/null" || fail "trayer did not start"
e2e_start_kesto
e2e_sample_library

open_menu() {
  e2e_key "$win" super+alt+ctrl+p
  menu="$(e2e_wait_window '^Kesto Bookmarks$' 10 "$app_pid")" || fail "the hot key showed no menu-bar window"
  sleep 0.5
}
geometry() { eval "$(xdotool getwindowgeometry --shell "$menu")"; }

# The left edge, 30 points out: 30 more on the right too.
open_menu
geometry
x0=$X w0=$WIDTH
xdotool mousemove $((X + 1)) $((Y + 300)) mousedown 1 sleep 0.1 mousemove $((X - 10)) $((Y + 300)) sleep 0.1 \
  mousemove $((X - 29)) $((Y + 300)) sleep 0.2 mouseup 1
sleep 0.5
geometry
(( WIDTH == w0 + 60 && X == x0 - 30 )) || fail "resized to x $X width $WIDTH from x $x0 width $w0: not about the middle"
e2e_screenshot "$shots/menubar-widened.png"

# Two cards of a search, then a plain drag from the second onto the other program's window.
"$drop_target" >"$work/target.log" 2>&1 &
e2e_pids+=("$!") e2e_logs+=("$work/target.log")
target="$(e2e_wait_window '^KestoDropTarget$' 20)" || fail "no drop target window"
xdotool windowmove --sync "$target" 40 500
# The other program in front (the hot key is the desktop's, whichever window has the focus).
xdotool windowactivate --sync "$target"
sleep 0.3
xdotool key super+alt+ctrl+p
menu="$(e2e_wait_window '^Kesto Bookmarks$' 10 "$app_pid")" || fail "the hot key showed no menu-bar window"
sleep 0.5
xdotool type --delay 40 "apple"
sleep 0.8
e2e_click "$menu" 300 150  # the first card
sleep 0.3
xdotool keydown ctrl
e2e_click "$menu" 300 250  # the second, added with Ctrl
xdotool keyup ctrl
sleep 0.5
e2e_screenshot "$shots/menubar-two-selected.png" "$menu"
xdotool mousemove --window "$menu" 300 250 mousedown 1 sleep 0.2 mousemove_relative -- -20 0 sleep 0.2 \
  mousemove_relative -- -20 0 sleep 0.3 mousemove --window "$target" 150 100 sleep 0.3 \
  mousemove --window "$target" 160 110 sleep 0.5
e2e_screenshot "$shots/menubar-dragging.png"
xdotool mouseup 1
received() { grep -q '^drop done$' "$work/target.log"; }
e2e_wait_until 15 received || fail "the other program got no drop: $(cat "$work/target.log")"
lines="$(grep -F "type text/plain " "$work/target.log" | grep -o 'bm:[0-9A-F-]*' | sort -u | wc -l)"
(( lines == 2 )) || fail "the drop carried $lines bookmarks, not the two selected: $(cat "$work/target.log")"
e2e_quit_by_key
echo "menu-bar window resized about its middle, two cards dragged out together: ok"
