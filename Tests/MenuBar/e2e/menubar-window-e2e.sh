#!/usr/bin/env bash
# The menu-bar window's own frame in the real program, with a tray (trayer) and openbox: moved by
# the window manager (Alt+drag of its body) or by a program (xdotool windowmove), it comes back
# under its icon; it follows the icon when the tray moves; its edges dragged inwards stop at the
# least size that shows every control of both tabs whole; its left edge dragged outwards widens
# it on both sides alike; two cards selected (Ctrl-click) and dragged by a plain press onto
# another program's window arrive there together, one "bm:" line each.
# Usage: menubar-window-e2e.sh KESTO_BINARY DROP_TARGET [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
drop_target="$2"
shots="${3:-${TMPDIR:-/tmp}/menubar-window-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool trayer sqlite3 xev xprop stdbuf

e2e_start_tray
e2e_start_kesto
e2e_sample_library

open_menu() {
  e2e_key "$win" super+alt+ctrl+p
  menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the hot key showed no menu-bar window"
  e2e_caught_up "$menu" || fail "kesto did not answer"
}
geometry() { eval "$(xdotool getwindowgeometry --shell "$menu")"; }

open_menu
geometry
home_x=$X home_y=$Y least_w=$WIDTH least_h=$HEIGHT

# The places the window manager tells the window it was moved to (xev: its synthetic configure
# events give them on the screen), so a check sees that a move did take the window away before
# it came back. xev watches once a change of one of the window's properties reaches it.
stdbuf -oL xev -id "$menu" -event structure -event property >"$work/moves.log" 2>&1 &
e2e_pids+=("$!")
watching() {
  xprop -id "$menu" -f _KESTO_E2E_WATCH 8s -set _KESTO_E2E_WATCH ready
  grep -q PropertyNotify "$work/moves.log"
}
e2e_wait_until 60 watching || fail "xev does not watch the menu-bar window"
# Moves told since line $1 of that log, one "x,y" a line.
moves_since() {
  tail -n +"$1" "$work/moves.log" |
    awk '/ConfigureNotify.*synthetic YES/ { told = 1; next } told && match($0, /\([-0-9]+,[-0-9]+\)/) {
           print substr($0, RSTART + 1, RLENGTH - 2); told = 0 }'
}
# Whether, since line $1, a move took the window away and the last one brought it back home.
came_back() {
  local moves; moves="$(moves_since "$1")"
  grep -qv "^$home_x,$home_y\$" <<<"$moves" && [[ "$(tail -n1 <<<"$moves")" == "$home_x,$home_y" ]] &&
    geometry && ((X == home_x && Y == home_y))
}
log_mark() { echo $(($(wc -l <"$work/moves.log") + 1)); }

# Held with Alt and dragged by its body to the middle of the screen: back under the icon.
mark="$(log_mark)"
xdotool mousemove $((home_x + 300)) $((home_y + 300)) keydown alt mousedown 1 sleep 0.2 \
  mousemove 800 400 sleep 0.2 mousemove 640 450 sleep 0.3 mouseup 1 keyup alt
e2e_wait_until 60 came_back "$mark" || {
  geometry
  fail "after an Alt+drag the window stands at $X,$Y, not under its icon at $home_x,$home_y (moves: $(moves_since "$mark" | tr '\n' ' '))"
}
# Moved by a program.
mark="$(log_mark)"
xdotool windowmove "$menu" 100 300
e2e_wait_until 60 came_back "$mark" || {
  geometry
  fail "after xdotool windowmove the window stands at $X,$Y, not under its icon at $home_x,$home_y (moves: $(moves_since "$mark" | tr '\n' ' '))"
}
e2e_screenshot "$shots/menubar-moved-back.png"

# The tray moves (its icons laid out anew): the shown window follows its icon, and back.
tray="$(xdotool search --class trayer | while read -r id; do
  eval "$(xdotool getwindowgeometry --shell "$id")"; ((WIDTH == 100)) && echo "$id"; done | head -n1)"
# The icon: the program's small window, embedded in the tray.
icon="$(xdotool search --onlyvisible --pid "$app_pid" --name . | while read -r id; do
  eval "$(xdotool getwindowgeometry --shell "$id")"; ((WIDTH < 64 && HEIGHT < 64)) && echo "$id"; done | head -n1)"
[[ -n "$tray" && -n "$icon" ]] || fail "no tray ($tray) or no icon in it ($icon)"
under_icon() {
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  local middle=$((X + WIDTH / 2))
  geometry
  ((X + WIDTH / 2 == middle))
}
xdotool windowmove "$tray" 600 0
e2e_wait_until 60 under_icon || fail "the window at $X did not follow its icon to the tray's new place"
e2e_screenshot "$shots/menubar-followed-the-icon.png"
xdotool windowmove "$tray" 1180 0
at_home() { geometry && ((X == home_x && Y == home_y)); }
e2e_wait_until 60 at_home || fail "the window at $X,$Y did not follow its icon back to $home_x,$home_y"

# Its edges dragged far inwards: it keeps the least size at which every control of both tabs
# shows whole (the list tab, then the quick edit's).
xdotool mousemove $((X + 1)) $((Y + 300)) mousedown 1 sleep 0.1 mousemove $((X + 100)) $((Y + 300)) sleep 0.1 \
  mousemove $((X + 300)) $((Y + 300)) sleep 0.2 mouseup 1
# The window settled (the program took the drag in) before its bottom edge is looked for.
e2e_caught_up "$menu" || fail "kesto did not answer"
geometry
xdotool mousemove $((X + 200)) $((Y + HEIGHT - 2)) mousedown 1 sleep 0.1 mousemove $((X + 200)) $((Y + HEIGHT - 100)) \
  sleep 0.1 mousemove $((X + 200)) $((Y + HEIGHT - 300)) sleep 0.2 mouseup 1
at_least_size() { geometry && ((WIDTH == least_w && HEIGHT == least_h)); }
e2e_wait_until 60 at_least_size || fail "shrunk to $WIDTH by $HEIGHT, below $least_w by $least_h"
e2e_screenshot "$shots/menubar-least-size-list.png" "$menu"
e2e_click "$menu" 300 150  # the first card
e2e_wait_until 60 e2e_menu_card_chosen || fail "a click on the card left Edit… off"
e2e_click "$menu" 510 82  # Edit…
e2e_wait_until 60 e2e_menu_editing || fail "Edit… opened no quick edit"
e2e_screenshot "$shots/menubar-least-size-quick-edit.png" "$menu"
e2e_click "$menu" 499 394  # Done
e2e_caught_up "$menu" || fail "kesto did not answer"

# The left edge, 30 points out: 30 more on the right too.
geometry
x0=$X w0=$WIDTH
xdotool mousemove $((X + 1)) $((Y + 300)) mousedown 1 sleep 0.1 mousemove $((X - 10)) $((Y + 300)) sleep 0.1 \
  mousemove $((X - 29)) $((Y + 300)) sleep 0.2 mouseup 1
widened() { geometry && (( WIDTH == w0 + 60 && X == x0 - 30 )); }
e2e_wait_until 60 widened || fail "resized to x $X width $WIDTH from x $x0 width $w0: not about the middle"
e2e_screenshot "$shots/menubar-widened.png"

# Two cards of a search, then a plain drag from the second onto the other program's window.
"$drop_target" >"$work/target.log" 2>&1 &
e2e_pids+=("$!") e2e_logs+=("$work/target.log")
target="$(e2e_wait_window '^KestoDropTarget$' 60)" || fail "no drop target window"
xdotool windowmove --sync "$target" 40 500
# The other program in front (the hot key is the desktop's, whichever window has the focus).
xdotool windowactivate --sync "$target"
xdotool key super+alt+ctrl+p
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the hot key showed no menu-bar window"
e2e_wait_until 60 e2e_menu_active || fail "the menu-bar window did not take the keys"
xdotool type --delay 40 "apple"
two_listed() { e2e_menu_listed && [[ "$(e2e_pixel 300 280 "$menu")" == "255 255 255" ]]; }
e2e_wait_until 60 two_listed || fail "the search listed not two cards"
e2e_click "$menu" 300 150  # the first card
e2e_wait_until 60 e2e_menu_card_chosen || fail "a click on the card left Edit… off"
xdotool keydown ctrl
e2e_click "$menu" 300 250  # the second, added with Ctrl
xdotool keyup ctrl
e2e_caught_up "$menu" || fail "kesto did not answer"
e2e_screenshot "$shots/menubar-two-selected.png" "$menu"
# Pressed away from the Ctrl-click, so the press is no double click (which keeps one card only)
# however soon it follows.
e2e_drag_through "$menu $target $menu" "$menu" 330 260 "$menu" 310 260 "$menu" 290 260 --begun "$target" 150 100 \
  "$target" 160 110 --hold || fail "the drag of two cards out to the other program did not go through"
e2e_screenshot "$shots/menubar-dragging.png"
xdotool mouseup 1
received() { grep -q '^drop done$' "$work/target.log"; }
e2e_wait_until 60 received || fail "the other program got no drop: $(cat "$work/target.log")"
lines="$(grep -F "type text/plain " "$work/target.log" | grep -o 'bm:[0-9A-F-]*' | sort -u | wc -l)"
(( lines == 2 )) || fail "the drop carried $lines bookmarks, not the two selected: $(cat "$work/target.log")"
e2e_quit_by_key
echo "menu-bar window snapped back, followed its icon, kept its least size, resized about its middle, two cards dragged out together: ok"
