#!/usr/bin/env bash
# Find Folder in the real kesto program inside xvfb-session.sh, on a fresh start after an import
# whose folders sit closed three deep (Imported > the file's folder > Bookmarks > Recipes):
# Ctrl+Alt+F, "Recip" and Return open every row above Recipes, select it and store those rows
# open; with Imported closed again, File > Find Folder chosen with the mouse finds Garden the
# same way. Checked in the store with sqlite3 and the settings file; screenshots are kept.
# Usage: find-folder-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-find-folder}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
. "$(dirname "$0")/folder-rows.sh"
e2e_start_after_import

stored_open() {  # folder...
  local id
  for id in "$@"; do [[ "$(e2e_sql "select ZISEXPANDED from ZFOLDER where ZFOLDERID='$id';")" == 1 ]] || return 1; done
}
# The rows once the three are open: 4 Imported, 5 the file's folder, 6 Bookmarks, 7 Recipes,
# 8 Garden.
found() {  # row folder
  row_selected "$1" && ! row_selected 0 && e2e_setting_is currentlySelectedFolder "$2"
}
e2e_key "$win" ctrl+alt+f
e2e_caught_up "$win" || fail "kesto did not answer"
xdotool type --delay 40 "Recip"
xdotool key Return
e2e_wait_until 60 stored_open _imported "$file_folder" "$marks_folder" ||
  fail "the rows above Recipes are not stored open: $(e2e_sql 'select ZNAME, ZISEXPANDED from ZFOLDER;')"
e2e_wait_until 60 found 7 "$recipes" || {
  e2e_screenshot "$shots/recipes-not-found.png"
  fail "Recipes is not the selected row: $(e2e_setting currentlySelectedFolder)"
}
e2e_screenshot "$shots/recipes-found.png" || true

# Imported closed again with its triangle, Library chosen; then File > Find Folder from the menu.
e2e_click "$win" 32 "$(row_y 4)"
closed() { [[ "$(e2e_sql "select ZISEXPANDED from ZFOLDER where ZFOLDERID='_imported';")" == 0 ]]; }
e2e_wait_until 60 closed || fail "the Imported row's triangle did not close it"
click_row 0
e2e_popup_after e2e_click "$win" 20 8 || fail "the File menu did not open"
e2e_screenshot "$shots/file-menu.png" || true
xdotool key --delay 80 Down Down Down Return
e2e_caught_up "$win" || fail "kesto did not answer"
xdotool key ctrl+a
xdotool type --delay 40 "Garden"
xdotool key Return
e2e_wait_until 60 stored_open _imported || fail "File > Find Folder did not open the Imported row again"
e2e_wait_until 60 found 8 "$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='Garden';")" || {
  e2e_screenshot "$shots/garden-not-found.png"
  fail "Garden is not the selected row: $(e2e_setting currentlySelectedFolder)"
}
e2e_screenshot "$shots/garden-found.png" || true
e2e_quit_kesto
echo "find folder e2e passed"
