#!/usr/bin/env bash
# A folder whose name is too long for the folder list, in the real kesto program inside
# xvfb-session.sh: the row shows a shortened name, and resting the pointer on it shows the
# whole name as a tool tip; a row that fits shows none. Screenshots are kept.
# Usage: cut-names-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-cut-names}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3

# No first-use tip over the window: one takes the keyboard while it shows.
e2e_offline_settings
e2e_start_kesto
e2e_sample_library

# 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple, 6 Search, 7 Kesto, 8 the new one
row_y() { echo $((190 + 20 * $1)); }
long="A folder with a name far too long for the sidebar"
long_stored() { [[ -n "$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='$long';")" ]]; }
e2e_click "$win" 80 "$(row_y 0)"
xdotool windowactivate --sync "$win" >/dev/null 2>&1
xdotool key --delay 60 ctrl+shift+n
# The new folder is stored as "New Folder", and its row is selected and edited in the same turn.
new_row_selected() {
  [[ -n "$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='New Folder';")" ]] || return 1
  local x
  for x in 20 30 215; do
    read -r r g b < <(e2e_pixel "$x" "$(row_y 8)" "$win")
    ((b > 150 && r < 120)) && return 0
  done
  return 1
}
e2e_wait_until 60 new_row_selected || { e2e_screenshot "$shots/no-field.png"; fail "no name field for the new folder"; }
xdotool type --delay 30 "$long"
xdotool key Tab
e2e_wait_until 60 long_stored || { e2e_screenshot "$shots/not-stored.png"; fail "the long name was not stored: $(e2e_sql "select ZNAME from ZFOLDER")"; }

# Whether a tool tip shows below the pointer at (px, py): the tip's pale yellow fill, where the
# list is plain grey or white.
tip_at() {  # px py
  local dx
  for dx in 40 80 120; do
    read -r r g b < <(e2e_pixel "$(($1 + dx))" "$(($2 + 25))")
    if ((r > 200 && g > 200 && b < g - 12)); then return 0; fi
  done
  return 1
}
# Rests the pointer on a row (window-relative x) and waits up to `seconds` for a tool tip below
# it; answers how long it took in milliseconds, or fails.
eval "$(xdotool getwindowgeometry --shell "$win")"
rest_on() {  # row x
  local px=$((X + $2)) py=$((Y + $(row_y "$1") - 20))
  xdotool mousemove "$((px - 10))" "$((py - 6))"
  xdotool mousemove "$px" "$py"
  rest_x=$px rest_y=$py
}

# The cut row shows its whole name, however long a loaded machine takes to show the tip.
rest_on 8 72
started=$(e2e_now_ms)
e2e_wait_until 60 tip_at "$rest_x" "$rest_y" || { e2e_screenshot "$shots/cut-row.png"; fail "no tool tip with the whole name on the cut row"; }
took=$(( $(e2e_now_ms) - started ))
e2e_screenshot "$shots/cut-row.png"
# A row that fits shows none, for twice as long as the cut row's tip took to come.
rest_on 7 70
sleep "$(( (2 * took + 1000) / 1000 ))"
# And until the program has caught up: a tip that fell due meanwhile (its time passes even while
# the program is stopped) shows by then.
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/short-row.png"
tip_at "$rest_x" "$rest_y" && fail "a row that fits showed a tool tip"
echo "PASS"
