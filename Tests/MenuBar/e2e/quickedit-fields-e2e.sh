#!/usr/bin/env bash
# Every field of the menu-bar quick edit is kept when it is left, not only on Return: a tag typed
# and left with Tab, then Done, is stored and outlives a restart; folder text that names no folder
# chooses nothing, and the bookmark goes where the sidebar shows it. Usage:
# quickedit-fields-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quickedit-fields-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/quickedit-lib.sh"

e2e_write_settings KestoThumbnailServiceHost '<string>http://127.0.0.1:9</string>' \
  KestoReachabilityCheckURL '<string>http://127.0.0.1:9/</string>' UseInboxForBookmarks '<true/>'
start_with_page "http://127.0.0.1:9/quick-edit-page"
# The tags of the page, by name (the join table's columns are named after the entities' numbers).
tags_of_page() {
  local cols=($(e2e_sql "select name from pragma_table_info('Z_1TAGS')"))
  [[ "${cols[0]:-}" == *BOOKMARKS ]] || cols=("${cols[1]:-}" "${cols[0]:-}")
  e2e_sql "select group_concat(ZNAME, ',') from (select t.ZNAME from ZBOOKMARK b join Z_1TAGS j on j.${cols[0]} = b.Z_PK
    join ZTAG t on t.Z_PK = j.${cols[1]} where b.ZURL = '$url' order by t.ZNAME)"
}

# The menu-bar window: find the page and open its quick edit.
open_edit() { edit_by_keys "quick-edit-page"; }

open_edit
e2e_click "$menu" 300 "$(row_y 4)"  # the tags field
xdotool type --delay 40 "typedtag"
xdotool key Tab
e2e_caught_up "$menu" || fail "kesto did not answer"
e2e_screenshot "$shots/quickedit-tag-typed.png" "$menu"
e2e_click "$menu" 505 "$(row_y 8)"  # Done
has_tag() { [[ "$(tags_of_page)" == "typedtag" ]]; }
e2e_wait_until 60 has_tag || fail "the tag typed and left with Tab was not stored: '$(tags_of_page)'"

# Folder text that names no folder, left with Tab: the first folder path takes its place, but text
# is no choice: Done files the bookmark in the sidebar's current row, the Inbox, not in the path
# Tab put into the box.
open_edit
e2e_click "$menu" 300 "$(row_y 2)"  # the folder box
xdotool key ctrl+a
xdotool type --delay 40 "nosuchfolder"
xdotool key Tab
e2e_caught_up "$menu" || fail "kesto did not answer"
e2e_screenshot "$shots/quickedit-folder-settled.png" "$menu"
e2e_click "$menu" 505 "$(row_y 8)"  # Done
# Looked at once the program has dealt with Done, and again after it ended.
e2e_caught_up "$win" || fail "kesto did not answer"
folder_of_page() { e2e_sql "select f.ZFOLDERID from ZBOOKMARK b join ZFOLDER f on f.Z_PK = b.ZFOLDER where b.ZURL = '$url'"; }
in_inbox() { [[ "$(folder_of_page)" == _inbox ]] || fail "unmatched folder text filed the bookmark into '$(folder_of_page)'"; }
in_inbox

# After a restart the tag is still there, and the Inbox row lists the bookmark.
e2e_quit_by_key
in_inbox
e2e_start_kesto
has_tag || fail "after a restart the tags are '$(tags_of_page)'"
e2e_key "$win" ctrl+1 2>/dev/null
e2e_screenshot "$shots/quickedit-after-restart.png" "$win"
e2e_quit_by_key
echo "quick-edit tags and folder kept when left: ok"
