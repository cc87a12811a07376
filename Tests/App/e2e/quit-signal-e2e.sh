#!/usr/bin/env bash
# A log-out (SIGTERM), Ctrl+C in the terminal (SIGINT) or the terminal closed (SIGHUP) ends the
# real program cleanly whatever it has open: each start opens one thing, the program is sent a
# signal, and it must end with status 0 and leave no crash report in its logs folder. Each of the
# three signals with: the Edit menu (which has a delegate of its own), the File menu, a bookmark's
# context menu and its Share submenu, Quick Look, the add sheet, the File > Import question and
# its file dialog, the about panel, the preferences, in the menu-bar window (shown from the tray)
# the search field's menu and the quick edit's folder list, and a first-use popover.
# Usage: quit-signal-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quit-signal-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool trayer sqlite3 python3

logs="$XDG_STATE_HOME/kesto/logs"
crash_reports() { find "$logs" -maxdepth 1 -name 'crash-*.log' "$@" 2>/dev/null; }
keys() { xdotool windowactivate --sync "$win" >/dev/null 2>&1; xdotool key --delay 120 "$@"; }

e2e_offline_settings
e2e_start_tray
e2e_start_kesto
e2e_sample_library
e2e_quit_kesto

# ---- what is open when the signal comes ----
edit_menu() { e2e_popup_after keys alt+e; }
file_menu() { e2e_popup_after keys alt+f; }
choose_card() { e2e_click "$win" 600 150 && e2e_caught_up "$win" >/dev/null; }
# A card of the list chosen, then its context menu, and its Share submenu (the fourth from the
# bottom).
context_menu() { choose_card && e2e_popup_after e2e_click "$win" 600 150 3; }
context_submenu() { context_menu && xdotool key --delay 120 Up Up Up Up && e2e_popup_after xdotool key Right; }
quick_look() { choose_card && e2e_popup_after keys space; }
add_sheet() { keys ctrl+n && e2e_wait_window '^New Bookmark$' 60 >/dev/null; }
import_question() { keys ctrl+shift+i && e2e_wait_window '^Import Bookmarks$' 60 >/dev/null; }
import_file_dialog() {
  local question
  keys ctrl+shift+i
  question="$(e2e_wait_window '^Import Bookmarks$' 60)" && e2e_import_dialog_after "$question" >/dev/null
}
about_panel() { e2e_popup_after keys alt+h && keys Up Return && e2e_wait_window '^About Kesto$' 60 >/dev/null; }
preferences() { keys ctrl+comma && e2e_wait_window '^Preferences$' 60 >/dev/null; }
# The menu-bar window, shown by a click on the tray icon.
menu_window() {
  e2e_click_tray_icon
  menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" && e2e_wait_until 60 e2e_menu_active &&
    e2e_caught_up "$menu" >/dev/null
}
search_field_menu() { menu_window && e2e_popup_after e2e_click "$menu" 267 51; }
# Recent, its first card, Edit…, then the folder list of the quick edit.
quick_edit_folders() {
  menu_window || return 1
  e2e_click "$menu" 210 51
  e2e_wait_until 60 e2e_menu_listed || return 1
  e2e_click "$menu" 280 150
  e2e_wait_until 60 e2e_menu_card_chosen || return 1
  e2e_click "$menu" 510 81
  e2e_wait_until 60 e2e_menu_editing || return 1
  e2e_caught_up "$menu" >/dev/null || return 1
  e2e_popup_after e2e_click "$menu" 532 189
}

# A first-use popover: the Inbox row explains itself while its tutorial is still due.
inbox_tutorial_before() { e2e_offline_settings --tutorials; }
inbox_tutorial() { e2e_click "$win" 80 210 && e2e_wait_window '^Inbox tutorial$' 60 >/dev/null; }

# Starts the program, opens what $2 opens, sends the signal $1 and waits for the end: status 0
# and no crash report, or the test fails.
ended_by() {  # signal opener
  local rc
  ! declare -F "$2_before" >/dev/null || "$2_before"
  e2e_start_kesto
  e2e_caught_up "$win" >/dev/null || fail "kesto did not answer"
  "$2" || fail "$2: it did not open$(kill -0 "$app_pid" 2>/dev/null || echo ' (kesto had ended)') $(crash_reports -exec head -n 30 {} +)"
  e2e_caught_up "$win" >/dev/null || fail "kesto did not answer with $2 open"
  e2e_screenshot "$shots/$2-$1.png"
  kill -"$1" "$app_pid"
  e2e_wait_until 60 e2e_ended || fail "SIG$1 with $2 open did not end kesto"
  wait "$app_pid"
  rc=$?
  [[ -z "$(crash_reports)" ]] || fail "SIG$1 with $2 open left a crash report (status $rc): $(crash_reports -exec head -n 30 {} +)"
  ((rc == 0)) || fail "SIG$1 with $2 open ended kesto with status $rc"
  echo "SIG$1 with $2 open: status 0, no crash report"
}

# The tutorial last: its settings leave the others' behind.
for opener in edit_menu file_menu context_menu context_submenu quick_look add_sheet import_question \
              import_file_dialog about_panel preferences search_field_menu quick_edit_folders inbox_tutorial; do
  for signal in TERM INT HUP; do ended_by "$signal" "$opener"; done
done
echo "quit signals: ok"
