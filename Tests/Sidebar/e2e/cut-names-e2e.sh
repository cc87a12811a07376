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

e2e_start_kesto
e2e_sample_library
sleep 2

# 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple, 6 Search, 7 Kesto, 8 the new one
row_y() { echo $((190 + 20 * $1)); }
e2e_click "$win" 80 "$(row_y 0)"
sleep 0.4
xdotool windowactivate --sync "$win" >/dev/null 2>&1
xdotool key --delay 60 ctrl+shift+n
sleep 0.6
long="A folder with a name far too long for the sidebar"
xdotool type --delay 30 "$long"
xdotool key Tab
sleep 0.8
[[ -n "$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='$long';")" ]] || fail "the long name was not stored"

# Rests the pointer on a row (window-relative x) and tells whether a tool tip shows below it:
# the tip's pale yellow fill, where the list is plain grey or white.
eval "$(xdotool getwindowgeometry --shell "$win")"
tip_below() {  # row x shot
  local px=$((X + $2)) py=$((Y + $(row_y "$1") - 20))
  xdotool mousemove "$((px - 10))" "$((py - 6))"
  sleep 0.3
  xdotool mousemove "$px" "$py"
  sleep 2.5
  e2e_screenshot "$shots/$3.png"
  local found=1 dx
  for dx in 40 80 120; do
    read -r r g b < <(e2e_pixel "$((px + dx))" "$((py + 25))")
    if ((r > 200 && g > 200 && b < g - 12)); then found=0; fi
  done
  return $found
}

tip_below 7 70 short-row && fail "a row that fits showed a tool tip"
tip_below 8 72 cut-row || fail "no tool tip with the whole name on the cut row"
echo "PASS"
