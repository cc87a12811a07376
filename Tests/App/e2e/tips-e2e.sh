#!/usr/bin/env bash
# First-time tips and the keyboard in the real kesto program inside xvfb-session.sh: the sample
# library with the tips still due, the Library row chosen (its tip shows), the compact list, a
# row clicked (the bookmark tip shows beside it). With the tips shown, Delete trashes the row's
# bookmark and Ctrl+Z brings it back (checked in the store with sqlite3); the bookmark tip goes
# with its row, the first of the list's or the last of a folder's, and the Library tip's button
# still takes a click. After Help > Show Tutorials Again,
# the Inbox chosen and Up pressed, only the Library tip shows.
# Usage: tips-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-tips}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/../../Sidebar/e2e/folder-rows.sh"

e2e_offline_settings --tutorials
e2e_start_kesto
e2e_sample_library
e2e_wait_until 60 rows_shown || fail "the folder list did not show the sample folders"
tip() { ! e2e_no_window "^$1 tutorial\$"; }
trashed() { e2e_sql 'select count(*) from ZBOOKMARK where ZTRASHED = 1'; }

click_row 0
e2e_wait_until 60 tip Library || fail "no Library tip"
# The compact list (the third view button at the bottom): a click elsewhere closes the tip.
e2e_click "$win" 87 724
e2e_wait_until 60 eval '! tip Library' || fail "a click elsewhere left the Library tip open"
e2e_wait_until 60 e2e_setting_is BoomarksListView True || fail "the compact list was not chosen"
e2e_caught_up "$win" || fail "kesto did not answer"
# The compact list's first row.
e2e_click "$win" 600 160
e2e_wait_until 60 tip Bookmarks || fail "no bookmark tip after a click on a row"
e2e_settled
e2e_screenshot "$shots/tips-shown.png" || true

# The keys reach the list and the menus with both tips shown.
xdotool key Delete
one() { [[ "$(trashed)" == 1 ]]; }
e2e_wait_until 60 one || fail "Delete with a tip shown trashed nothing"
e2e_wait_until 60 eval '! tip Bookmarks' || fail "the bookmark tip stayed after its row went"
e2e_settled
e2e_screenshot "$shots/tips-after-delete.png" || true
xdotool key ctrl+z
none() { [[ "$(trashed)" == 0 ]]; }
e2e_wait_until 60 none || fail "Ctrl+Z with a tip shown did not bring the bookmark back"
e2e_settled
e2e_screenshot "$shots/tips-after-keys.png" || true

# The last row of a folder: its cell goes unused where it stood (no other row takes its place),
# and the tip goes with the bookmark all the same. The Kesto folder holds two; the second row.
click_row 7
e2e_click "$win" 600 262
e2e_wait_until 60 tip Bookmarks || fail "no bookmark tip after a click on the Kesto folder's last row"
xdotool key Delete
e2e_wait_until 60 one || fail "Delete on the Kesto folder's last row trashed nothing"
e2e_wait_until 60 eval '! tip Bookmarks' || fail "the bookmark tip stayed after the folder's last row went"
e2e_settled
e2e_screenshot "$shots/tips-after-last-row.png" || true
xdotool key ctrl+z
e2e_wait_until 60 none || fail "Ctrl+Z did not bring the Kesto folder's bookmark back"

# The Library tip, shown again when its row is chosen anew, answers its button and is marked
# seen.
click_row 1
e2e_wait_until 60 tip Inbox || fail "no Inbox tip"
click_row 0
lib="$(e2e_wait_window '^Library tutorial$' 60)" || fail "the Library tip did not come back"
# "Got it" sits at the tip's lower right, inside its 12-point margin.
eval "$(xdotool getwindowgeometry --shell "$lib")"
e2e_click "$lib" $((WIDTH - 12 - 52)) $((HEIGHT - 12 - 21))
e2e_wait_until 60 eval '! tip Library' || fail "Got it left the Library tip"
e2e_wait_until 60 e2e_setting_is BRWTutorialLibrarySeen True || fail "the Library tip is not marked seen"

# One tip at a time: Help > Show Tutorials Again (third from the end: Up from the first item wraps
# to the last), the Inbox chosen, then Up to the Library row: the Library tip takes the Inbox
# tip's place.
e2e_popup_after e2e_key "$win" alt+h || fail "Alt+H opened no Help menu"
xdotool key --delay 100 Up Up Up Return
e2e_wait_until 60 eval '[[ -z "$(e2e_setting BRWTutorialLibrarySeen)" ]]' || fail "Show Tutorials Again left the Library tip seen"
click_row 1
e2e_wait_until 60 tip Inbox || fail "no Inbox tip after Show Tutorials Again"
xdotool key Up
e2e_wait_until 60 tip Library || fail "Up to the Library row showed no Library tip"
e2e_wait_until 60 eval '! tip Inbox' || fail "the Inbox tip stayed under the Library tip"
e2e_settled
e2e_screenshot "$shots/tips-one-at-a-time.png" || true
e2e_quit_kesto
echo "tips e2e passed"
