#!/usr/bin/env bash
# New Folder in the real kesto program inside xvfb-session.sh, on a fresh start after an import:
# the new row's name opens at once and takes what is typed, whatever had the keys: nothing yet
# (the start), the library's search field (a folder selected: the new one goes inside it), the
# Find Folder field (Library selected: top level), and the inspector's notes with File > New
# Folder chosen with the mouse (the note kept). Checked in the store with sqlite3; screenshots of
# the editors are kept.
# Usage: new-folder-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-new-folder}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
. "$(dirname "$0")/folder-rows.sh"
e2e_start_after_import

id_of() { e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='$1';"; }
# Types the name $2 into the editor that must be open on row $1 (after $3), stores it with Return
# and checks that the folder of that name has the parent $4.
name_new_folder() {  # row name how parent
  e2e_wait_until 60 editor_open "$1" || {
    e2e_screenshot "$shots/no-editor-$2.png"
    fail "$3 opened no name editor on row $1"
  }
  e2e_screenshot "$shots/editor-$2.png" || true
  xdotool type --delay 40 "$2"
  xdotool key Return
  named() { [[ -n "$(id_of "$1")" ]]; }
  e2e_wait_until 60 named "$2" || fail "no folder named $2 after $3: $(e2e_sql 'select ZNAME from ZFOLDER;')"
  [[ "$(e2e_sql "select ZPARENTFOLDERID from ZFOLDER where ZNAME='$2';")" == "$4" ]] ||
    fail "$2 is not filed in $4 after $3"
}

# Rows: 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported (closed), then the new folders.
e2e_key "$win" ctrl+shift+n
name_new_folder 5 Travel "Ctrl+Shift+N at the start" root
travel="$(id_of Travel)"

# Travel selected, the library's search field has the keys: the new folder goes inside Travel.
e2e_click "$win" 560 44
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_key "$win" ctrl+shift+n
name_new_folder 6 Maps "Ctrl+Shift+N from the search field" "$travel"

# Library selected, the Find Folder field has the keys.
click_row 0
e2e_key "$win" ctrl+alt+f
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_key "$win" ctrl+shift+n
name_new_folder 7 Trip "Ctrl+Shift+N from the Find Folder field" root

# Library selected, a bookmark of the list chosen and a note typed in the inspector's Edit pane,
# then File > New Folder with the mouse: the note is kept, the new row is chosen and named.
click_row 0
e2e_click "$win" 600 200
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click in the list chose no bookmark"
e2e_click "$win" 1126 88
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_click "$win" 1094 243
xdotool type --delay 40 "kept note"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_popup_after e2e_click "$win" 20 8 || fail "the File menu did not open"
xdotool key --delay 80 Down Return
name_new_folder 8 Menu "File > New Folder from the inspector's notes" root
row_selected 8 && ! row_selected 0 || fail "the new folder's row is not the chosen one"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZNOTES='kept note';")" == 1 ]] || fail "the note typed before New Folder was lost"

e2e_quit_kesto
[[ "$(e2e_sql "select count(*) from ZFOLDER where ZNAME='New Folder';")" == 0 ]] || fail "a folder kept the name New Folder"
echo "new folder e2e passed"
