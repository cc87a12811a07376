#!/usr/bin/env bash
# The folder list of the real kesto program inside xvfb-session.sh: folders are made from the
# File menu's key and named in place (Return and the keypad's Enter end the edit), another folder
# is dragged into one with the mouse, a third is locked through the context menu (the first time
# makes the password, the second locks; an export then asks for that password before writing the
# locked folder), the Save/Share dialog is looked at, a colour is put on and taken off again, the
# new folder is deleted with the Delete key; after quitting, the store and the
# tombstone list (one per deleted folder) are checked with sqlite3 and the settings file. A
# screenshot of the sidebar is kept for each of the six tabs.
# Usage: sidebar-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-sidebar}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
. "$(dirname "$0")/folder-rows.sh"
e2e_start_on_sample_library

# A new top-level folder from the File menu's key, named in place.
click_row 0
keys "$win" ctrl+shift+n
e2e_wait_until 60 editor_open 8 || fail "Ctrl+Shift+N opened no name editor on a new last row"
xdotool type --delay 40 "Trip"
# Return ends the edit and stores the name.
xdotool key Return
trip_named() { trip="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Trip';")" && [[ -n "$trip" ]]; }
e2e_wait_until 60 trip_named || fail "no folder named Trip: $(e2e_sql 'select ZNAME from ZFOLDER;')"
[[ "$(e2e_sql "select ZPARENTFOLDERID from ZFOLDER where ZNAME='Trip';")" == "root" ]] || fail "Trip is not top-level"
# The keypad's Enter ends an edit too; the editor lies over the row, in the row's font.
click_row 0
keys "$win" ctrl+shift+n
e2e_wait_until 60 editor_open 9 || fail "Ctrl+Shift+N opened no name editor below Trip"
xdotool type --delay 40 "Keypad"
python3 "$E2E_DIR/screenshot.py" "$shots/rename-editor.png" --window "$win" || true
xdotool key KP_Enter
keypad_named() { [[ -n "$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Keypad';")" ]]; }
e2e_wait_until 60 keypad_named || fail "the keypad's Enter stored no name: $(e2e_sql 'select ZNAME from ZFOLDER;')"

# Drag the Kesto folder onto Trip.
kesto_id="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Kesto';")"
click_row 7
sleep 1  # past the double-click time: a press sooner would make the click a double click
y7="$(row_y 7)"
e2e_drag_through "$win" "$win" "$row_x" "$y7" "$win" "$row_x" $((y7 + 4)) "$win" "$row_x" $((y7 + 8)) \
  "$win" "$row_x" $((y7 + 12)) --begun "$win" "$row_x" $((y7 + 16)) "$win" "$row_x" $((y7 + 20)) ||
  fail "the folder's drag did not go through"
in_trip() { [[ "$(e2e_sql "select ZPARENTFOLDERID from ZFOLDER where ZNAME='Kesto';")" == "$trip" ]]; }
e2e_wait_until 60 in_trip ||
  fail "Kesto was not moved into Trip: $(e2e_sql "select ZPARENTFOLDERID from ZFOLDER where ZNAME='Kesto';")"

# Lock Search through its context menu (Add Bookmark, Add Folder, Save/Share, Rename, Delete, then
# the lock entry): the first time makes the password and locks nothing, the second locks.
lock_search() {
  e2e_popup_after e2e_click "$win" "$row_x" "$(row_y 6)" 3 || fail "a right click showed no context menu"
  xdotool key --delay 80 Down Down Down Down Down Down Return
}
lock_search
panel="$(e2e_wait_window '^Kesto Password$' 60)" || fail "no new-password panel"
xdotool windowactivate --sync "$panel" >/dev/null 2>&1
xdotool type --delay 40 "pw-e2e"; xdotool key Tab; xdotool type --delay 40 "pw-e2e"; xdotool key Return
# The confirmation alert (a window of the same name), with the new-password panel gone.
confirmation() { xdotool search --onlyvisible --name '^Kesto Password$' 2>/dev/null | grep -vx "$panel" | head -n1; }
confirmed() { [[ -n "$(confirmation)" ]]; }
e2e_wait_until 60 confirmed || fail "no confirmation that the password was made"
e2e_screenshot "$shots/password-created.png" || true
e2e_key "$(confirmation)" Return
password_stored() { [[ "$(e2e_sql "select count(*) from ZCONFIG where ZKESTOKEY='password';")" == "1" ]]; }
e2e_wait_until 60 password_stored || fail "no password stored"
[[ "$(e2e_sql "select ZBLOCKED from ZFOLDER where ZNAME='Search';")" == "0" ]] || fail "making the password locked Search"
lock_search
panel="$(e2e_wait_window '^Kesto Password$' 60)" || fail "no password panel"
xdotool windowactivate --sync "$panel" >/dev/null 2>&1
xdotool type --delay 40 "pw-e2e"; xdotool key Return
search_locked() { [[ "$(e2e_sql "select ZBLOCKED from ZFOLDER where ZNAME='Search';")" == "1" ]]; }
e2e_wait_until 60 search_locked || fail "Search is not locked"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER=f.Z_PK where f.ZNAME='Search' and b.ZBLOCKED<1;")" == "0" ]] ||
  fail "bookmarks of the locked folder are not locked"
grep -q "pw-e2e" "$work/kesto.log" && fail "the password reached the log"

# File > Export with a locked folder asks for the folders' password first: a wrong one is told
# in the sheet, the right one writes the locked folder's bookmarks too.
exported="$work/exported.html"
keys "$win" ctrl+shift+e
dialog="$(e2e_wait_window '^Export Bookmarks$' 60)" || fail "Ctrl+Shift+E opened no save dialog"
e2e_choose_path "$dialog" "$exported"
sheet="$(e2e_wait_window '^Kesto Password$' 60)" || fail "no password sheet before exporting a locked folder"
xdotool windowactivate --sync "$sheet" >/dev/null 2>&1
xdotool type --delay 40 "wrong"; xdotool key Return
# Looked for once the program has dealt with the wrong password.
e2e_caught_up "$sheet" || fail "kesto did not answer"
e2e_screenshot "$shots/export-password.png" || true
[[ ! -e "$exported" ]] || fail "a wrong password exported"
xdotool type --delay 40 "pw-e2e"; xdotool key Return
success="$(e2e_wait_window '^Success$' 60)" || fail "no success alert after the export"
e2e_key "$success" Return
grep -qF 'HREF="https://duckduckgo.com/"' "$exported" || fail "the unlocked export lacks the locked folder's bookmarks"

python3 "$E2E_DIR/screenshot.py" "$shots/sidebar-folders.png" --window "$win" || true

# Apple's colour through the context menu's Color submenu, then taken off with None.
apple_color() { e2e_sql "select ifnull(ZCOLOR, 'none') from ZFOLDER where ZNAME='Apple';"; }
color_apple() {  # downs in the submenu
  e2e_popup_after e2e_click "$win" "$row_x" "$(row_y 5)" 3 || fail "a right click showed no context menu"
  xdotool key --delay 80 Up
  e2e_popup_after xdotool key Right || fail "Color showed no submenu"
  [[ -z "${2:-}" ]] || e2e_screenshot "$shots/$2.png" || true
  xdotool key --delay 80 $1 Return
}
apple_color_is() { [[ "$(apple_color)" == "$1" ]]; }
color_apple "Down Down" color-submenu
e2e_wait_until 60 apple_color_is green || fail "Color > green stored '$(apple_color)'"
color_apple "Up"
e2e_wait_until 60 apple_color_is none || fail "Color > None left '$(apple_color)'"

# Save/Share opens a save dialog named after the command; Escape leaves it.
e2e_popup_after e2e_click "$win" "$row_x" "$(row_y 5)" 3 || fail "a right click showed no context menu"
xdotool key --delay 80 Down Down Down Return
dialog="$(e2e_wait_window '^Save/Share$' 60)" || fail "Save/Share opened no dialog named Save/Share"
e2e_screenshot "$shots/share-dialog.png" || true
e2e_key "$dialog" Escape
e2e_wait_until 60 e2e_no_window '^Save/Share$' || fail "the Save/Share dialog stayed open"

# Delete Trip (now in Kesto's old row) with the Delete key: its subfolder goes too, their
# bookmarks to the trash.
click_row 7
keys "$win" Delete
alert="$(e2e_wait_window '^Delete this folder' 60)" || fail "Delete asked nothing"
e2e_key "$alert" Return
removed() { [[ -z "$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME in ('Trip','Kesto');")" ]]; }
e2e_wait_until 60 removed || fail "Trip or Kesto is still stored"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER=f.Z_PK where f.ZFOLDERID='_inbox' and b.ZTRASHED=1;")" -ge 2 ]] ||
  fail "Kesto's bookmarks are not in the Inbox's trash"

# One screenshot per tab.
tab=0
for name in folders tags history popular maintenance trash; do
  e2e_click "$win" $((18 + 36 * tab)) 87
  e2e_caught_up "$win" || fail "kesto did not answer"
  python3 "$E2E_DIR/screenshot.py" "$shots/tab-$name.png" --window "$win" || true
  tab=$((tab + 1))
done

e2e_quit_kesto
! grep -q "pw-e2e" "$work/kesto.log" || fail "the password reached the log"
grep -q "$trip|[0-9]*|f" "$settings" || fail "no tombstone for Trip in $settings"
grep -q "$kesto_id|[0-9]*|f" "$settings" || fail "no tombstone for Trip's subfolder Kesto in $settings"
echo "sidebar e2e passed"
