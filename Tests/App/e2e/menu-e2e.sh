#!/usr/bin/env bash
# The real kesto program's menu bar, driven from the keyboard inside xvfb-session.sh: F10 and the
# arrow keys choose View > Compact List, Alt+V chooses Thumbnails, Ctrl+2 the extended list (each
# mode is stored), Help > About Kesto opens the about panel and Escape closes it, Window >
# Minimize and Ctrl+W put the window away until the next launch, and Ctrl+Q quits cleanly. Usage: menu-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xprop python3

# The list modes as the two stored switches say them.
mode_is() { e2e_setting_is BoomarksListView "$1" && e2e_setting_is BoomarksCompactView "$2"; }
compact() { mode_is True False; }
grid() { mode_is False True; }
extended() { mode_is False False; }
keys() { xdotool windowactivate --sync "$win" >/dev/null 2>&1; xdotool key --delay 120 "$@"; }

e2e_start_kesto
# The empty library's first-run panel would take the focus halfway through.
e2e_close_first_run_panel || fail "no first-run panel"
e2e_wait_until 60 extended || fail "a new library does not start in the extended list"

# F10 opens the first menu; Right twice reaches View, whose first item is active.
e2e_popup_after keys F10 || fail "F10 opened no menu"
keys Right Right
e2e_caught_up "$win"  # the picture shows the View menu
e2e_screenshot "$shots/menu-view.png"
keys Down Down Return
e2e_wait_until 60 compact || fail "View > Compact List from the keyboard did not switch the mode"

# Alt+V opens View with Thumbnails active.
e2e_popup_after keys alt+v || fail "Alt+V opened no menu"
keys Return
e2e_wait_until 60 grid || fail "Alt+V Return did not choose Thumbnails"

# The key equivalent works with no menu open.
keys ctrl+2
e2e_wait_until 60 extended || fail "Ctrl+2 did not choose the extended list"

# The Edit menu shows its items; with nothing to act on they are disabled.
e2e_popup_after keys alt+e || fail "Alt+E opened no menu"
e2e_screenshot "$shots/menu-edit.png"
keys Escape
# The next keys go once the menu has let the keyboard go.
e2e_caught_up "$win" || fail "kesto did not answer"

# About Kesto is the Help menu's last item: Up from the first wraps to it.
e2e_popup_after keys alt+h || fail "Alt+H opened no menu"
e2e_screenshot "$shots/menu-help.png"
keys Up Return
about="$(e2e_wait_window '^About Kesto$' 60)" || fail "Help > About Kesto opened nothing"
e2e_settled
e2e_screenshot "$shots/about.png"
xdotool windowactivate --sync "$about" key Escape
e2e_wait_until 60 e2e_no_window '^About Kesto$' || fail "Escape left the about panel open"

# Window > Minimize, then a later launch brings the window back.
e2e_popup_after keys alt+w || fail "Alt+W opened no menu"
keys Return
minimised() { xprop -id "$win" WM_STATE | grep -q 'window state: Iconic'; }
e2e_wait_until 60 minimised || fail "Window > Minimize did not minimise: $(xprop -id "$win" WM_STATE)"
"$kesto" >>"$work/kesto.log" 2>&1 || fail "reopen launch failed"
restored() { xprop -id "$win" WM_STATE | grep -q 'window state: Normal'; }
e2e_wait_until 60 restored || fail "the minimised window did not come back"

# Ctrl+W closes the window; the program keeps running and a later launch shows it again.
keys ctrl+w
shown() { xdotool search --onlyvisible --name '^Kesto$' >/dev/null; }
e2e_wait_until 60 e2e_no_window '^Kesto$' || fail "Ctrl+W left the window open"
kill -0 "$app_pid" 2>/dev/null || fail "closing the window quit the program"
"$kesto" >>"$work/kesto.log" 2>&1 || fail "reopen launch failed"
e2e_wait_until 60 shown || fail "the closed window did not come back"
# The window that came back is the running program's: it answered the launch, so it was there.
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "no main window of the running program after reopening"

e2e_quit_by_key
echo "menu bar: ok"
