#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: the bottom bar's sort buttons store the order
# (title replaces the date order, rating turns on and off again), the list follows, and a
# bookmark handed over while another folder is shown counts at once in the Library row's badge
# (its pixels change). Leaves screenshots. Usage: mainwin-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3

e2e_offline_settings sortFoldersByRating '<false/>'
e2e_start_kesto
e2e_add_sample_library || fail "no first-run panel"
has_rows() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == "$1" ]]; }
e2e_wait_until 60 has_rows 8 || fail "no default library"

# The sort buttons stand in the bottom bar, 32 points apart from x = 146: rating, visited,
# favourites, title, oldest first, newest first.
height="$(xdotool getwindowgeometry --shell "$win" | sed -n 's/^HEIGHT=//p')"
bar=$((height - 15))
sort_button() { e2e_click "$win" $((146 + 32 * $1 + 15)) "$bar"; }
sort_button 3
e2e_wait_until 60 e2e_setting_is sortFoldersAlfabetically True || fail "the title button stored no order"
e2e_setting_is sortFoldersByDateDescending False || fail "the date order stayed on beside the title order"
sort_button 0
e2e_wait_until 60 e2e_setting_is sortFoldersByRating True || fail "the rating button stored nothing"
e2e_caught_up "$win"  # the picture shows the list sorted
e2e_screenshot "$shots/mainwin-sorted.png" "$win"
sort_button 0
e2e_wait_until 60 e2e_setting_is sortFoldersByRating False || fail "a second click left the rating order on"

# The Library row's badge (at the right end of its row) before and after a hand-over.
library_badge() {  # the pixels where the Library row's count is drawn, right of its title
  local x y
  for y in 187 190 193; do
    for ((x = 183; x <= 207; x += 3)); do e2e_pixel "$x" "$y" "$win"; done
  done | md5sum
}
# Taken once the program has drawn what the clicks before asked for.
e2e_caught_up "$win" || fail "kesto did not answer"
before="$(library_badge)"
"$kesto" 'kesto:http://127.0.0.1:9/handed' >>"$work/kesto.log" 2>&1 || fail "second launch failed"
e2e_wait_until 60 has_rows 9 || fail "the hand-over added nothing"
changed() { [[ "$(library_badge)" != "$before" ]]; }
e2e_wait_until 60 changed || fail "the Library badge was not redrawn after the hand-over"
e2e_screenshot "$shots/mainwin-handed.png" "$win"
e2e_quit_kesto
