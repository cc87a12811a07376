#!/usr/bin/env bash
# A locked folder chosen in the menu-bar quick edit takes nothing in, however the edit ends. The
# Kesto folder is locked through the folder list's context menu; then, for three bookmarks, the
# menu-bar window's card > Edit… > the locked folder chosen from the Folder list, and the edit
# ended by Escape, by Done, or by quitting the program. Each time the bookmark waits in the Inbox
# (the store says so at once, and after a restart); screenshots keep what the edit shows after the
# choice and after Escape. Usage:
# quickedit-locked-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quickedit-locked-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/quickedit-lib.sh"

e2e_offline_settings
e2e_start_kesto
e2e_sample_library

folder_of() { e2e_sql "select f.ZNAME from ZBOOKMARK b join ZFOLDER f on f.Z_PK = b.ZFOLDER where b.ZURL like '%$1%'"; }
blocked_of() { e2e_sql "select ZBLOCKED from ZBOOKMARK where ZURL like '%$1%'"; }
# The Kesto folder (the eighth row of the folder list) locked through its context menu, once
# the password is made.
make_password 330
set_lock Kesto 330 1
# The sidebar's current folder stays out of it: the Library row.
e2e_key "$win" Escape
xdotool mousemove --window "$win" 80 190 click 1
e2e_caught_up "$win" || fail "kesto did not answer"

# The locked folder chosen from the Folder box's list: its name typed opens the list with its one
# path, Down and Return choose it.
choose_kesto() {  # page
  local before
  before="$(folder_of "$1")"
  e2e_click "$menu" 300 "$(row_y 2)"  # the folder box
  xdotool key ctrl+a
  before_popup
  xdotool type --delay 60 "Kesto"
  e2e_wait_until 60 popup_shown || fail "the typed folder name opened no list"
  xdotool key Down Return
  moved() { [[ "$(folder_of "$1")" != "$before" ]]; }
  e2e_wait_until 60 moved "$1" || fail "choosing Kesto left $1 in '$(folder_of "$1")'"
}
in_inbox() {  # page
  [[ "$(folder_of "$1")" == Inbox ]] || fail "$2: $1 is in '$(folder_of "$1")' (blocked $(blocked_of "$1")), not the Inbox"
}

# Escape instead of Done: the window hides, the edit stays open behind it.
edit_card duckduckgo
choose_kesto duckduckgo.com
e2e_screenshot "$shots/locked-folder-chosen.png" "$menu"
in_inbox duckduckgo.com "chosen"
xdotool key Escape
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"
e2e_caught_up "$win" || fail "kesto did not answer"
in_inbox duckduckgo.com "Escape"
# Back in the window, Done leaves it there.
menu_by_hot_key
e2e_caught_up "$menu" || fail "kesto did not answer"
e2e_screenshot "$shots/after-escape.png" "$menu"
done_button
e2e_caught_up "$win" || fail "kesto did not answer"
in_inbox duckduckgo.com "Done after Escape"

# Done.
edit_card bing.com
choose_kesto bing.com
done_button
e2e_caught_up "$win" || fail "kesto did not answer"
in_inbox bing.com "Done"

# Quit with the edit open.
edit_card macrumors
choose_kesto macrumors.com
e2e_quit_by_key
for page in duckduckgo.com bing.com macrumors.com; do
  in_inbox "$page" "after quitting"
  [[ "$(blocked_of "$page")" == 0 ]] || fail "$page is marked locked"
done

# After a restart each is still in the Inbox.
e2e_start_kesto
for page in duckduckgo.com bing.com macrumors.com; do in_inbox "$page" "after a restart"; done
e2e_quit_by_key
echo "quick edit with a locked folder: ok"
