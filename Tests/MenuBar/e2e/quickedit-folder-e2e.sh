#!/usr/bin/env bash
# The menu-bar quick edit's folder box and the list's other addresses, as a user meets them. The
# box's list opens as the typed text matches a folder; Tab, Tab and Return then still move on and
# act (a tag typed two fields on is stored) and the first click on Done closes the edit. The
# matching text is no choice: Done files the bookmark in the main window's current folder. A
# folder chosen from the list (the Imported row) is the folder, for later edits too. A
# bookmark of another scheme opened from the list is asked about first: Cancel opens nothing, Open
# hands it to the desktop. Usage:
# quickedit-folder-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quickedit-folder-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/quickedit-lib.sh"

e2e_offline_settings
e2e_recording_program xdg-open
: >"$work/xdg-open.log"
e2e_start_kesto
e2e_sample_library

duck="duckduckgo.com"
folder_of() { e2e_sql "select f.ZNAME from ZBOOKMARK b join ZFOLDER f on f.Z_PK = b.ZFOLDER where b.ZURL like '%$1%'"; }
tags_of_duck() {
  local cols=($(e2e_sql "select name from pragma_table_info('Z_1TAGS')"))
  [[ "${cols[0]:-}" == *BOOKMARKS ]] || cols=("${cols[1]:-}" "${cols[0]:-}")
  e2e_sql "select group_concat(t.ZNAME, ',') from ZBOOKMARK b join Z_1TAGS j on j.${cols[0]} = b.Z_PK
    join ZTAG t on t.Z_PK = j.${cols[1]} where b.ZURL like '%$duck%'"
}
[[ "$(folder_of "$duck")" == Search ]] || fail "the sample page is in '$(folder_of "$duck")', not Search"

# Chooses a folder of the main window's sidebar (its row's y), as the library's current folder.
choose_folder() {  # name row-y
  local id
  id="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME = '$1'")"
  chosen() { e2e_setting_is currentlySelectedFolder "$id"; }
  for attempt in 1 2 3; do
    e2e_key "$win" Escape
    xdotool mousemove --window "$win" 80 "$2" click 1
    e2e_wait_until 3 chosen && return
  done
  fail "the sidebar did not choose $1"
}
find_duck() { find_card duckduckgo; }
edit_duck() { edit_card duckduckgo; }

# A text that matches a folder opens the list; Tab, Tab and Return go on to the tags.
choose_folder Kesto 331
edit_duck
e2e_click "$menu" 300 "$(row_y 2)"  # the folder box
xdotool key ctrl+a
before_popup
xdotool type --delay 60 "Search"
e2e_wait_until 60 popup_shown || fail "the typed folder name opened no list"
e2e_screenshot "$shots/folder-list-open.png"
xdotool key Tab Tab
xdotool type --delay 40 "reached"
xdotool key Return
has_tag() { [[ "$(tags_of_duck)" == reached ]]; }
e2e_wait_until 60 has_tag || fail "Tab, Tab and Return did not reach the tags: '$(tags_of_duck)'"
e2e_screenshot "$shots/folder-tab-tab-return.png" "$menu"
# One click on Done closes the edit, and the matching text chose nothing: the current folder.
done_button
in_kesto() { [[ "$(folder_of "$duck")" == Kesto ]]; }
e2e_wait_until 60 in_kesto || fail "Done filed the page in '$(folder_of "$duck")', not the current folder Kesto"

# The Imported row chosen from the box's opened list is the folder after Done, and the choice of a
# later edit without one of its own.
edit_duck
e2e_click "$menu" 532 "$(row_y 2)"  # the folder box's arrow
eval "$(xdotool getwindowgeometry --shell "$menu")"
# The list's first row, Imported, lit as the current item, where the window's grey was.
first_row=($((X + 127)) $((Y + 209)))
listed() { local r g b; read -r r g b < <(e2e_pixel "${first_row[@]}"); ((b > r + 40)); }
e2e_wait_until 60 listed || fail "the folder box's list did not open"
e2e_screenshot "$shots/folder-list-arrow.png"
xdotool mousemove "${first_row[@]}" click 1
in_imported() { [[ "$(folder_of "$duck")" == Imported ]]; }
e2e_wait_until 60 in_imported || fail "the choice filed the page in '$(folder_of "$duck")'"
done_button
e2e_caught_up "$win" || fail "kesto did not answer"
in_imported || fail "Done filed the page chosen into Imported in '$(folder_of "$duck")'"
edit_card apple.com
e2e_screenshot "$shots/folder-kept-for-a-later-edit.png" "$menu"
done_button
apple_in_imported() { [[ "$(folder_of apple.com)" == Imported ]]; }
e2e_wait_until 60 apple_in_imported || fail "a later edit without a choice filed the page in '$(folder_of apple.com)'"

# The page's address becomes one of another scheme; opened from the list it is asked about.
edit_duck
e2e_click "$menu" 300 "$(row_y 0)"  # Address
xdotool key ctrl+a
xdotool type --delay 30 "ftp://ftp.example.org/pub/"
xdotool key Tab
done_button
is_ftp() { [[ -n "$(e2e_sql "select Z_PK from ZBOOKMARK where ZURL = 'ftp://ftp.example.org/pub/'")" ]]; }
e2e_wait_until 60 is_ftp || fail "the address was not changed"
asked() { e2e_wait_window '^Open a ' 60 "$app_pid" >/dev/null; }
find_duck
e2e_screenshot "$shots/other-scheme-selected.png" "$menu"
xdotool mousemove --window "$menu" 280 150 click --repeat 2 --delay 80 1
asked || fail "a double click on the card asked nothing"
e2e_screenshot "$shots/other-scheme-question.png"
xdotool key Return  # Cancel, the default
e2e_wait_until 60 e2e_no_window '^Open a' || fail "Return left the question open"
# Looked at once the program has dealt with the answer; after the quit the one opening is Open's.
e2e_caught_up "$win" || fail "kesto did not answer"
[[ ! -s "$work/xdg-open.log" ]] || fail "Cancel opened $(cat "$work/xdg-open.log")"
# The menu-bar window, no longer key once the question took the keys, hides; Return on the card
# asks again.
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$'
find_duck
xdotool key Return
asked || fail "Return on the card asked nothing"
xdotool key Tab space  # Open
opened() { grep -qx "ftp://ftp.example.org/pub/" "$work/xdg-open.log"; }
e2e_wait_until 60 opened || fail "Open opened nothing: $(cat "$work/xdg-open.log")"
e2e_quit_by_key
[[ "$(wc -l <"$work/xdg-open.log")" == 1 ]] || fail "Cancel and Open opened $(cat "$work/xdg-open.log")"
echo "quick-edit folder box and other schemes: ok"
