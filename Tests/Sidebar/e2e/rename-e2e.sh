#!/usr/bin/env bash
# Renaming folders in place in the real kesto program inside xvfb-session.sh: F2, Return, a
# double click, a second click on the selected row and the context menu's Rename each open the
# name editor; the new name is stored with the folder's version one higher, Ctrl+Z takes it
# back (one higher again, so the old name reaches other machines too), Ctrl+V with bookmarks on
# the clipboard leaves the name in the editor, Backspace there never asks to delete the folder and
# an emptied name keeps the old one, the Inbox and a locked folder stay as they are, and after a
# restart the list shows the new names. Checked in the store with sqlite3; screenshots of the
# editor, the context menu and the list are kept.
# Usage: rename-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-rename}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
. "$(dirname "$0")/folder-rows.sh"
e2e_start_on_sample_library

apple="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Apple';")"
search="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Search';")"
kesto_id="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Kesto';")"
[[ -n "$apple" && -n "$search" && -n "$kesto_id" ]] || fail "the sample folders are missing"
name_of() { e2e_sql "select ZNAME from ZFOLDER where ZFOLDERID='$1';"; }
version_of() { e2e_sql "select ZVERSION from ZFOLDER where ZFOLDERID='$1';"; }
# Waits until the folder $1 is stored under the name $2.
named() { [[ "$(name_of "$1")" == "$2" ]]; }
expect_name() {  # folder name how
  e2e_wait_until 60 named "$1" "$2" || fail "$3 did not rename: the folder is called '$(name_of "$1")', not '$2'"
}
# Waits for the name editor on row $1, as what opened it asked.
wait_editor() {  # row how
  e2e_wait_until 60 editor_open "$1" || fail "$2 opened no name editor on row $1"
}
# Types a name into the editor open on row $1 (its text is selected, so the name replaces it) and
# stores it.
type_name() {  # row name how
  wait_editor "$1" "$3"
  xdotool type --delay 40 "$2"
  xdotool key Return
}

# F2 on the selected row.
click_row 5
v0="$(version_of "$apple")"
keys "$win" F2
wait_editor 5 F2
xdotool type --delay 40 "Fruit"
e2e_screenshot "$shots/rename-editor.png" "$win" || true
xdotool key Return
expect_name "$apple" Fruit "F2"
[[ "$(version_of "$apple")" == $((v0 + 1)) ]] || fail "the rename did not raise the version once: $v0 -> $(version_of "$apple")"

# Ctrl+Z in the list takes the old name back, as a change of its own.
keys "$win" ctrl+z
expect_name "$apple" Apple "Ctrl+Z"
[[ "$(version_of "$apple")" == $((v0 + 2)) ]] || fail "the undone rename is not a new version: $v0 -> $(version_of "$apple")"

# Return on the selected row.
keys "$win" Return
type_name 5 "Pips" Return
expect_name "$apple" Pips "Return"

# A double click on a row not selected yet.
e2e_click "$win" "$row_x" "$(row_y 6)" 1 2
type_name 6 "Engines" "a double click"
expect_name "$search" Engines "a double click"

# A second click on the selected row, once the double-click time has passed.
click_row 7
sleep 1  # past the double-click time, which only grows on a loaded machine
e2e_click "$win" "$row_x" "$(row_y 7)"
type_name 7 "Notes" "a second click"
expect_name "$kesto_id" Notes "a second click"

# The context menu's Rename (the fourth entry, after Add Bookmark, Add Folder and Save/Share).
windows() { xdotool search --all --onlyvisible --pid "$app_pid" '' 2>/dev/null | wc -l; }
more_windows() { (($(windows) > $1)); }
shown=$(windows)
e2e_click "$win" "$row_x" "$(row_y 6)" 3
e2e_wait_until 60 more_windows "$shown" || fail "a right click showed no context menu"
e2e_screenshot "$shots/rename-menu.png" || true
xdotool key --delay 80 Down Down Down Down Return
type_name 6 "Finders" "the context menu's Rename"
expect_name "$search" Finders "the context menu's Rename"

# Bookmarks on the clipboard (a card of the folder copied with Ctrl+C), a second click on the
# selected row, Ctrl+V: the name stays in the editor (typing goes on after it).
click_row 5
# Clicked again until the folder's cards have come and the copy holds one.
copy_card() {
  e2e_click "$win" 420 200
  keys "$win" ctrl+c
  xclip -o -selection clipboard -t TARGETS 2>/dev/null | grep -q kesto
}
e2e_wait_until 60 copy_card || fail "Ctrl+C on a card copied no bookmark"
click_row 6
click_row 5
sleep 1  # past the double-click time
e2e_click "$win" "$row_x" "$(row_y 5)"
wait_editor 5 "a second click"
xdotool key ctrl+v
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/rename-paste.png" "$win" || true
xdotool key End
type_name 5 "s" "a second click"
expect_name "$apple" Pipss "Ctrl+V with bookmarks on the clipboard, then typing"

# Backspace in the editor empties the name without asking to delete the folder; the emptied name
# keeps the old one.
keys "$win" F2
wait_editor 5 F2
xdotool key BackSpace
# Looked at once the program has dealt with the key (and with Return after it); the names are
# read again after the restart below.
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_no_window '^Delete this folder' || fail "Backspace in the name editor asked to delete the folder"
xdotool key Return
e2e_caught_up "$win" || fail "kesto did not answer"
[[ "$(name_of "$apple")" == "Pipss" ]] || fail "an emptied name was stored as '$(name_of "$apple")'"

# The Inbox is never renamed: F2 and Return open nothing there, so the typed text goes nowhere.
click_row 1
keys "$win" F2
xdotool type --delay 40 "Outbox"; xdotool key Return
e2e_caught_up "$win" || fail "kesto did not answer"
[[ "$(name_of _inbox)" == "Inbox" ]] || fail "the Inbox was renamed to '$(name_of _inbox)'"

# A locked folder is not renamed either (locked while the program is not running).
e2e_quit_kesto
e2e_sql "update ZFOLDER set ZBLOCKED=1 where ZFOLDERID='$kesto_id';"
e2e_start_kesto
e2e_wait_until 60 rows_shown || fail "the folder list showed no folders after the restart"
click_row 7
keys "$win" F2
xdotool type --delay 40 "Open"; xdotool key Return
e2e_caught_up "$win" || fail "kesto did not answer"
[[ "$(name_of "$kesto_id")" == "Notes" ]] || fail "a locked folder was renamed to '$(name_of "$kesto_id")'"

# After a restart the list shows the names kept in the store: typing a new name's first letters
# selects its row.
e2e_quit_kesto
e2e_sql "update ZFOLDER set ZBLOCKED=0 where ZFOLDERID='$kesto_id';"
e2e_start_kesto
e2e_wait_until 60 rows_shown || fail "the folder list showed no folders after the restart"
e2e_screenshot "$shots/rename-restarted.png" "$win" || true
[[ "$(name_of "$apple")|$(name_of "$search")|$(name_of "$kesto_id")|$(name_of _inbox)" == "Pipss|Finders|Notes|Inbox" ]] ||
  fail "the names did not last: $(e2e_sql 'select ZNAME from ZFOLDER;')"
# The program times the letters of one search by its own clock: a stop between two of them starts
# a new search. Typed again from the Inbox row until the row is chosen.
typed_fin() { click_row 1; keys "$win" f i n; row_selected 6; }
e2e_wait_until 60 typed_fin || fail "typing 'fin' after the restart did not select the renamed Finders row"
e2e_wait_until 60 e2e_setting_is currentlySelectedFolder "$search" ||
  fail "typing 'fin' after the restart did not select the renamed Finders row (selected: $(e2e_setting currentlySelectedFolder))"
e2e_quit_kesto
echo "rename e2e passed"
