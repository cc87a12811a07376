#!/usr/bin/env bash
# The bookmark list of the real kesto program, driven from the keyboard and mouse inside
# xvfb-session.sh: Ctrl+N opens the add sheet, an address and a title typed there are saved;
# the row's context menu copies its link to the clipboard, and so does the menu a right click
# opens on the card's blank tags line in the thumbnails; Delete moves it to the trash and
# Ctrl+Z takes it out again; after Ctrl+Q the store holds the row as it should.
# Usage: bookmarks-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
url="https://e2e.example.org/page?q=1"

keys() { xdotool windowactivate --sync "$win" >/dev/null 2>&1; xdotool key --delay 100 "$@"; }
# While a sheet or a menu holds the focus the main window cannot be activated: keys go to
# whatever has the focus.
focused_keys() { xdotool key --delay 100 "$@"; }
row_is() { [[ "$(e2e_sql "select ZTITLE || '|' || ZTRASHED from ZBOOKMARK where ZURL = '$url'")" == "$1" ]]; }

e2e_marks_on
e2e_start_kesto

# The add sheet from its shortcut: the address field has the focus, Tab reaches the title.
keys ctrl+n
e2e_focus_window '^New Bookmark$' >/dev/null || fail "Ctrl+N opened no add sheet"
xdotool type --delay 20 "$url"
focused_keys Tab
xdotool type --delay 20 "End to end"
e2e_settled
e2e_screenshot "$shots/add-sheet.png"
focused_keys Return
e2e_wait_until 60 row_is "End to end|0" || fail "the add sheet saved no bookmark: $(e2e_sql 'select ZURL, ZTITLE from ZBOOKMARK')"

# The new row is the only one: a right click on it selects it and shows the context menu.
eval "$(xdotool getwindowgeometry --shell "$win")"
# The first cell of the list, below the toolbar and right of the sidebar.
cell_x=$((220 + 200)) cell_y=$((52 + 60))
# Right-clicks the window at x y, keeps a screenshot named $3, chooses "Copy link" and prints what
# the clipboard then holds. "Copy link" is fifth from the end (before Share, Email links, Update
# from web and Set thumbnail from file): Up reaches it whether or not the first item is active.
copy_link_at() {  # x y screenshot
  e2e_popup_after e2e_click "$win" "$1" "$2" 3 || return 1
  e2e_screenshot "$shots/$3.png"
  e2e_clipboard_after 60 focused_keys Up Up Up Up Up Return
}
# Once the row shows (the sheet's save has reached the list) and the program took the click in.
e2e_wait_until 60 e2e_list_drawn 0 1 || fail "the list did not show the new bookmark"
e2e_click "$win" "$cell_x" "$cell_y" 1
e2e_caught_up "$win" || fail "kesto did not answer"
copied="$(copy_link_at "$cell_x" "$cell_y" context-menu)"
[[ "$copied" == "$url" ]] || fail "Copy link left '$copied' on the clipboard"

# As a card of the thumbnails (Ctrl+1), a right click on the line below the stars (the tags, blank
# for a bookmark without any) opens the same menu, not a text field's Copy / Select All.
keys ctrl+1
e2e_caught_up "$win" || fail "kesto did not answer"
copied="$(copy_link_at 290 378 card-menu)"
[[ "$copied" == "$url" ]] || fail "a right click below a card's stars gave no bookmark menu: '$copied' on the clipboard"
keys ctrl+2
e2e_caught_up "$win" || fail "kesto did not answer"

# Delete moves it to the trash; Ctrl+Z brings it back.
e2e_click "$win" "$cell_x" "$cell_y" 1
# The Edit menu acts on the selected bookmark.
e2e_popup_after keys alt+e || fail "Alt+E opened no Edit menu"
e2e_screenshot "$shots/edit-menu.png"
focused_keys Escape
# Delete goes once the menu has let the keyboard go (a menu that still held it would take the key).
e2e_caught_up "$win" || fail "kesto did not answer"
keys Delete
e2e_wait_until 60 row_is "End to end|1" || fail "Delete did not trash the bookmark: $(e2e_sql 'select ZTITLE, ZTRASHED from ZBOOKMARK')"
keys ctrl+z
e2e_wait_until 60 row_is "End to end|0" || fail "Ctrl+Z did not undo the delete"

e2e_quit_by_key
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = '$url' and ZTRASHED = 0")" == 1 ]] || fail "the row is not stored after quitting"
echo "bookmarks e2e: passed"
