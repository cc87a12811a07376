#!/usr/bin/env bash
# What was typed in the menu-bar quick edit is kept when the window hides without Done: notes
# typed, then a click on another program's window (xmessage) hides it; a title typed, then a
# click on Kesto's main window; notes typed, then Ctrl+W. The library holds each once the window
# has hidden, while Kesto still runs (the hide stored it, not the end of the program), and after
# SIGTERM. Usage: quickedit-hide-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quickedit-hide-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xmessage sqlite3 python3
. "$(dirname "$0")/quickedit-lib.sh"

e2e_write_settings KestoThumbnailServiceHost '<string>http://127.0.0.1:9</string>' \
  KestoReachabilityCheckURL '<string>http://127.0.0.1:9/</string>' UseInboxForBookmarks '<true/>'
xmessage -geometry 320x80+40+680 "another program" &
e2e_pids+=("$!")
other="$(e2e_wait_window '^xmessage$' 60)" || fail "no other window"

start_with_page "http://127.0.0.1:9/quick-edit-hide"

# The quick edit opened on the page, a field's text replaced by what is typed, once the program
# has taken every key: the field is still being edited.
type_in_quick_edit() {  # row text
  edit_by_keys "quick-edit-hide"
  e2e_click "$menu" 300 "$(row_y "$1")"
  xdotool key ctrl+a
  xdotool type --delay 30 "$2"
  e2e_caught_up "$menu" || fail "kesto did not answer"
}
hidden() { e2e_wait_until 60 eval '! menu_shows' || fail "$1 left the menu-bar window shown"; }
holds() {  # column text how
  [[ "$(page "$1")" == "$2" ]] || fail "$3: the library holds '$(page "$1")', not '$2'"
}
# Stored by the hide: the library holds it while Kesto runs.
stored_at_hide() {  # column text how
  held() { [[ "$(page "$1")" == "$2" ]]; }
  e2e_wait_until 60 held "$1" "$2" || fail "$3: while Kesto runs the library holds '$(page "$1")', not '$2'"
}

# Notes, then a click on another program, then SIGTERM.
type_in_quick_edit 3 "Notes kept at a click elsewhere"
# Above Kesto's main window, which covers it, and clicked: it takes the focus.
xdotool windowraise "$other"
e2e_click "$other" 200 20
other_focused() { [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$other" ]]; }
e2e_wait_until 60 other_focused || fail "the click did not give the other program the focus"
hidden "a click on another program"
stored_at_hide ZNOTES "Notes kept at a click elsewhere" "a click on another program"
e2e_quit_kesto
holds ZNOTES "Notes kept at a click elsewhere" "notes typed, then a click on another program and SIGTERM"

# A title, then a click on the main window.
e2e_start_kesto
type_in_quick_edit 1 "Title kept at a click on the main window"
e2e_click "$win" 600 400
hidden "a click on the main window"
stored_at_hide ZTITLE "Title kept at a click on the main window" "a click on the main window"
e2e_quit_kesto
holds ZTITLE "Title kept at a click on the main window" "a title typed, then a click on the main window and SIGTERM"

# Notes, then Ctrl+W.
e2e_start_kesto
type_in_quick_edit 3 "Notes kept at Ctrl+W"
xdotool key ctrl+w
hidden "Ctrl+W"
stored_at_hide ZNOTES "Notes kept at Ctrl+W" "Ctrl+W"
e2e_quit_kesto
holds ZNOTES "Notes kept at Ctrl+W" "notes typed, then Ctrl+W and SIGTERM"
echo "quick edit kept when its window hides: ok"
