#!/usr/bin/env bash
# Undo of a folder delete in the real kesto program inside xvfb-session.sh: a folder with a
# subfolder is deleted with the Delete key, the Trash tab is looked at, the Library shown again,
# and Ctrl+Z, pressed with the focus in the library's search field (which has nothing of its own
# to undo), brings the folders and their bookmarks back (checked in the store with sqlite3).
# Usage: undo-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-undo}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/folder-rows.sh"
e2e_start_on_sample_library

folders() { e2e_sql "select count(*) from ZFOLDER where ZNAME in ('Apple', 'Inner');"; }
filed() { e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where f.ZNAME = 'Apple' and b.ZTRASHED = 0;"; }

# A subfolder inside Apple.
click_row 5
keys "$win" ctrl+shift+n
xdotool type --delay 40 "Inner"
xdotool key Return
apple="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME = 'Apple';")"
inner_in_apple() { [[ "$(e2e_sql "select ZPARENTFOLDERID from ZFOLDER where ZNAME = 'Inner';")" == "$apple" ]]; }
e2e_wait_until 60 inner_in_apple ||
  fail "Inner is not inside Apple: $(e2e_sql 'select ZNAME, ZPARENTFOLDERID from ZFOLDER;')"
[[ "$(filed)" == 3 ]] || fail "Apple does not hold its three bookmarks"

# Apple deleted with the Delete key and the confirmation's default button.
click_row 5
keys "$win" Delete
alert="$(e2e_wait_window '^Delete this folder\?$' 60)" || fail "no delete confirmation"
e2e_key "$alert" Return
gone() { [[ "$(folders)" == 0 ]]; }
e2e_wait_until 60 gone || fail "Apple and Inner were not deleted"

# The Trash tab, then the Library again (the first and the last of the six tab buttons).
e2e_click "$win" $((18 + 36 * 5)) 87
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/undo-trash.png" "$win" || true
e2e_click "$win" 18 87
e2e_caught_up "$win" || fail "kesto did not answer"

# The search field takes the focus, as a click (or the focus leaving a hidden list) gives it.
e2e_click "$win" 560 44
e2e_caught_up "$win" || fail "kesto did not answer"
keys "$win" ctrl+z
back() { [[ "$(folders)" == 2 && "$(filed)" == 3 ]]; }
e2e_wait_until 60 back ||
  fail "Ctrl+Z did not bring the folders back: $(e2e_sql 'select ZNAME, ZPARENTFOLDERID from ZFOLDER;')"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/undo-back.png" "$win" || true
e2e_quit_kesto
echo "undo e2e passed"
