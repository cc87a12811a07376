#!/usr/bin/env bash
# What the user typed last is kept when Kesto ends at once: a field of the inspector still being
# edited (the notes, the title) and a folder's name still in its editor are stored when Kesto is
# quit by Ctrl+Q and when it is ended by SIGTERM (a session's log-out), each typed and ended
# straight away. Tab and Shift+Tab end the title's and the address's edit as in the other fields:
# what was typed is stored and no tab enters it. Closing the main window stores the field being
# edited before the window goes; a field left unchanged stores nothing new. Checked in the store
# with sqlite3.
# Usage: edit-at-quit-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-edit-at-quit}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/../../Sidebar/e2e/folder-rows.sh"
. "$(dirname "$0")/inspector-lib.sh"
restart() {
  e2e_start_kesto
  e2e_wait_until 60 rows_shown || fail "the folder list did not show the sample folders"
}
count_where() { e2e_sql "select count(*) from $1 where $2 = '$3'"; }
stored() { [[ "$(count_where "$@")" == 1 ]]; }  # table column text
expect_stored() {  # table column text how
  stored "$1" "$2" "$3" || fail "$4: '$3' is not in the library"
}

e2e_start_on_sample_library
for how in key term; do
  choose_bookmark
  type_into "${notes_at[@]}" "Note ended by $how"
  end_by "$how"
  expect_stored ZBOOKMARK ZNOTES "Note ended by $how" "notes being edited, then the end by $how"

  restart
  choose_bookmark
  type_into "${title_at[@]}" "Title ended by $how"
  end_by "$how"
  expect_stored ZBOOKMARK ZTITLE "Title ended by $how" "a title being edited, then the end by $how"

  restart
  click_row 5
  keys "$win" F2
  e2e_wait_until 60 editor_open 5 || fail "F2 opened no name editor"
  xdotool type --delay 30 "Fig $how"
  caught_up
  end_by "$how"
  expect_stored ZFOLDER ZNAME "Fig $how" "a folder's name being edited, then the end by $how"
  restart
done

# Tab ends the title's edit: stored while the program runs, without a tab, and the focus has
# moved on (what is typed next goes to the address, which Shift+Tab ends in turn).
choose_bookmark
type_into "${title_at[@]}" "Title ended by Tab"
xdotool key Tab
e2e_wait_until 60 stored ZBOOKMARK ZTITLE "Title ended by Tab" ||
  fail "Tab in the title stored nothing: the titles are $(e2e_sql "select group_concat(quote(ZTITLE)) from ZBOOKMARK")"
e2e_screenshot "$shots/title-ended-by-tab.png" "$win"
type_into "${address_at[@]}" "https://example.com/by-backtab"
xdotool key shift+Tab
e2e_wait_until 60 stored ZBOOKMARK ZURL "https://example.com/by-backtab" || fail "Shift+Tab in the address stored nothing"

# Closing the main window (Ctrl+W) stores the notes being edited before the window goes.
type_into "${notes_at[@]}" "Note ended by closing"
xdotool key ctrl+w
e2e_wait_until 60 e2e_no_window '^Kesto$' || fail "Ctrl+W left the main window open"
e2e_wait_until 60 stored ZBOOKMARK ZNOTES "Note ended by closing" || fail "closing the window stored nothing"
e2e_quit_kesto

# A field left as it was stores nothing new at the quit: the bookmark's version stays.
restart
choose_bookmark
version() { e2e_sql "select ZVERSION from ZBOOKMARK where ZNOTES = 'Note ended by closing'"; }
before="$(version)"
e2e_click "$win" "${notes_at[@]}"
caught_up
end_by key
[[ "$(version)" == "$before" ]] || fail "a quit with an unchanged field in edit saved the bookmark again: $before -> $(version)"
echo "fields being edited are kept at quit and close: ok"
