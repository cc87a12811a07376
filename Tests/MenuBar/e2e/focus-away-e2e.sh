#!/usr/bin/env bash
# The menu-bar window hides when another program takes the focus (trayer, openbox, and xmessage
# as the other program): shown by a click on the tray icon, then by the hot key (Super+Alt+Ctrl+P)
# pressed in the other program, it goes once that program's window is clicked, and the other
# program keeps the focus; shown by the icon, it goes when the desktop is clicked. Shown again by
# the icon, it takes the keys. The preferences window,
# left for the other program and clicked again, is the key window again: Ctrl+W closes it and not
# the main window.
# Usage: focus-away-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/focus-away-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xmessage trayer sqlite3 python3

e2e_start_tray
e2e_start_kesto
e2e_sample_library
xmessage -geometry 320x80+40+600 "another program" &
e2e_pids+=("$!")
other="$(e2e_wait_window '^xmessage$' 60)" || fail "no other window"
other_focused() { [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$other" ]]; }

# Waits for the shown menu-bar window ($menu) to have the focus, then clicks the other program's
# window: the menu-bar window must go, and the other program keep the focus.
leave_for_other() {  # how
  menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "$1 showed no menu-bar window"
  e2e_wait_until 60 e2e_menu_active || fail "the window $1 showed did not take the focus"
  e2e_caught_up "$menu" || fail "kesto did not answer"
  e2e_screenshot "$shots/shown-by-$1.png"
  e2e_click "$other" 200 20
  e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' ||
    { e2e_screenshot "$shots/failure-$1.png"; fail "shown by $1, the menu-bar window stayed when another program was clicked"; }
  e2e_wait_until 60 other_focused || fail "the other program lost the focus after the menu-bar window went"
  e2e_screenshot "$shots/other-clicked-after-$1.png"
}

xdotool windowactivate --sync "$other"
e2e_click_tray_icon
leave_for_other icon
xdotool windowactivate --sync "$other"
xdotool key super+alt+ctrl+p
leave_for_other hotkey

# A click on the desktop (the root window, left of every window) takes the focus too.
e2e_click_tray_icon
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the icon showed no menu-bar window"
e2e_wait_until 60 e2e_menu_active || fail "the window the icon showed did not take the focus"
e2e_caught_up "$menu" || fail "kesto did not answer"
xdotool mousemove 10 400 click 1
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' ||
  { e2e_screenshot "$shots/failure-desktop.png"; fail "the menu-bar window stayed when the desktop was clicked"; }

# The icon shows it again, and it takes the keys: Escape hides it.
e2e_click_tray_icon
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the icon showed no menu-bar window again"
e2e_wait_until 60 e2e_menu_active || fail "the window shown again did not take the focus"
xdotool key Escape
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"

# The preferences window is key again once clicked after the other program had the focus.
e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "no preferences panel"
e2e_caught_up "$prefs" || fail "kesto did not answer"
xdotool windowraise "$other"
e2e_click "$other" 200 20
e2e_wait_until 60 other_focused || fail "a click in the other program did not give it the focus"
e2e_caught_up "$prefs" || fail "kesto did not answer"
e2e_click "$prefs" 500 300
prefs_focused() { [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$prefs" ]]; }
e2e_wait_until 60 prefs_focused || fail "a click in the preferences window did not give it the focus"
xdotool key ctrl+w
e2e_wait_until 60 e2e_no_window '^Preferences$' || fail "Ctrl+W left the preferences window open"
e2e_caught_up "$win" || fail "kesto did not answer"
xdotool search --onlyvisible --pid "$app_pid" --name '^Kesto$' >/dev/null || fail "Ctrl+W in the preferences closed the main window"
e2e_quit_by_key
echo "the menu-bar window hides when another program takes the focus: ok"
