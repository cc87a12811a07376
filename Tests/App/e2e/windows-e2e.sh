#!/usr/bin/env bash
# Kesto's windows under the window manager (openbox, inside xvfb-session.sh): a minimised
# Preferences panel comes back with Ctrl+,; one on another desktop takes the user there; a
# minimised About panel comes back with Help > About Kesto; the main window on another desktop
# comes back when `kesto` is run again; the Quick Look preview leaves the screen while another
# program (xmessage) is active and comes back, the same, without the focus, when Kesto is active
# again; File > Import's question is transient for the main window, is minimised with it, and
# `kesto` run again brings both back with the question in front; a click on the tray icon (trayer)
# brings the minimised question back too, and no bookmark window; so does the icon's click as a
# StatusNotifier item (WATCHER stands in for the desktop's watcher on a bus of the test's own).
# Usage: windows-e2e.sh KESTO_BINARY WATCHER [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
watcher="$2"
shots="${3:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xprop wmctrl xmessage trayer dbus-daemon gdbus python3
e2e_offline_settings

# What the window manager says of a window: its ICCCM state (Normal, Iconic), its desktop.
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ { print $3 }'; }
desktop_of() { xprop -id "$1" _NET_WM_DESKTOP 2>/dev/null | awk '{ print $3 }'; }
current_desktop() { xprop -root _NET_CURRENT_DESKTOP 2>/dev/null | awk '{ print $3 }'; }
minimised() { [[ "$(wm_state "$1")" == Iconic ]] && xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_HIDDEN; }
on_desktop() { [[ "$(desktop_of "$1")" == "$2" && "$(current_desktop)" == "$3" ]]; }
# Before the user: shown (not minimised) on the desktop the user is on, and active.
before_user() {
  [[ "$(wm_state "$1")" == Normal && "$(desktop_of "$1")" == "$(current_desktop)" ]] &&
    [[ "$(xdotool getactivewindow 2>/dev/null)" == "$1" ]]
}
minimise() { xdotool windowminimize "$1"; e2e_wait_until 60 minimised "$1"; }
# `kesto` run again: it hands over to the running program and ends.
kesto_again() { "$kesto" >>"$work/kesto.log" 2>&1 || fail "kesto run again ended with $?"; }
visible_window() { xdotool search --all --onlyvisible --name '' 2>/dev/null | grep -qx "$1"; }

e2e_start_tray
e2e_start_kesto
e2e_sample_library
e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "the first-run panel stayed"

# Preferences, minimised: Ctrl+, brings it back.
e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "Ctrl+, opened no preferences panel"
minimise "$prefs" || fail "the preferences panel was not minimised"
e2e_key "$win" ctrl+comma
e2e_wait_until 60 before_user "$prefs" || fail "Ctrl+, left the minimised preferences panel: $(wm_state "$prefs")"
# On another desktop: Ctrl+, in the main window takes the user there.
wmctrl -ir "$prefs" -t 1
e2e_wait_until 60 on_desktop "$prefs" 1 0 || fail "the preferences panel did not move to desktop 1"
e2e_key "$win" ctrl+comma
e2e_wait_until 60 before_user "$prefs" ||
  fail "Ctrl+, left the preferences panel on desktop $(desktop_of "$prefs") (the user is on $(current_desktop))"
e2e_key "$prefs" Escape
e2e_wait_until 60 e2e_no_window '^Preferences$' || fail "Escape left the preferences panel open"
wmctrl -s 0
e2e_wait_until 60 on_desktop "$win" 0 0 || fail "the user is not back on the main window's desktop"

# About Kesto, minimised: Help > About Kesto (the Help menu's last item) brings it back.
about_kesto() { e2e_popup_after e2e_key "$win" alt+h || fail "Alt+H opened no Help menu"; xdotool key Up Return; }
about_kesto
about="$(e2e_wait_window '^About Kesto$' 60)" || fail "Help > About Kesto showed no panel"
minimise "$about" || fail "the about panel was not minimised"
about_kesto
e2e_wait_until 60 before_user "$about" || fail "About Kesto left the minimised panel: $(wm_state "$about")"
e2e_key "$about" Escape
e2e_wait_until 60 e2e_no_window '^About Kesto$' || fail "Escape left the about panel open"

# The main window on another desktop: `kesto` run again brings the user to it.
wmctrl -ir "$win" -t 1
e2e_wait_until 60 on_desktop "$win" 1 0 || fail "the main window did not move to desktop 1"
kesto_again
e2e_wait_until 60 before_user "$win" ||
  fail "kesto run again left the main window on desktop $(desktop_of "$win") (the user is on $(current_desktop))"
wmctrl -ir "$win" -t 0
wmctrl -s 0
e2e_wait_until 60 on_desktop "$win" 0 0 || fail "the main window did not come back to desktop 0"

# Quick Look of the first bookmark, then another program: the preview is not above it.
e2e_click "$win" 420 112 1
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click in the list chose no bookmark"
before="$(e2e_windows)"
e2e_key "$win" space
e2e_wait_until 60 e2e_new_window "$before" || fail "the space bar showed no preview"
preview="$(comm -13 <(echo "$before") <(e2e_windows) | head -n1)"
shown_name="$(xdotool getwindowname "$preview")"
xmessage -title 'Another program' 'Another program' &
e2e_pids+=("$!")
other="$(e2e_wait_window '^Another program$' 60)" || fail "xmessage showed no window"
xdotool windowactivate --sync "$other"
e2e_wait_until 60 e2e_window_gone "$preview" ||
  { e2e_screenshot "$shots/preview-over-another-program.png"; fail "the preview stayed above another program"; }
e2e_screenshot "$shots/another-program-active.png"
# Kesto active again: the preview is back, showing the same, and the main window keeps the focus.
xdotool windowactivate --sync "$win"
e2e_wait_until 60 visible_window "$preview" || fail "the preview did not come back with Kesto"
[[ "$(xdotool getwindowname "$preview")" == "$shown_name" ]] || fail "the preview came back with another item"
e2e_caught_up "$win" || fail "kesto did not answer"
[[ "$(xdotool getactivewindow)" == "$win" ]] || fail "the preview took the focus from the main window"
e2e_key "$win" space
e2e_wait_until 60 e2e_window_gone "$preview" || fail "the space bar did not close the preview"

# File > Import's question belongs to the main window: minimised with it, and `kesto` run again
# brings both back, the question in front.
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
owner="$(xprop -id "$question" WM_TRANSIENT_FOR 2>/dev/null | awk '{ print $NF }')"
[[ "$((owner))" == "$win" ]] || fail "the import question is transient for $owner, not the main window"
minimise "$question" || fail "the import question was not minimised"
e2e_wait_until 60 minimised "$win" || fail "the main window was not minimised with its question"
kesto_again
e2e_wait_until 60 before_user "$question" || fail "kesto run again left the import question: $(wm_state "$question")"
[[ "$(wm_state "$win")" == Normal ]] || fail "kesto run again left the main window minimised"
e2e_screenshot "$shots/import-question-back.png"
# The tray icon, clicked while the question is minimised, brings the question, the window that
# takes the input, and shows no bookmark window behind it.
minimise "$question" || fail "the import question was not minimised again"
e2e_click_tray_icon
e2e_wait_until 60 before_user "$question" || fail "the tray icon left the import question: $(wm_state "$question")"
e2e_no_window '^Kesto Bookmarks$' || fail "the tray icon showed the bookmark window while the question blocks it"
e2e_key "$question" Escape
e2e_wait_until 60 e2e_no_window '^Import Bookmarks$' || fail "Escape left the import question open"

e2e_quit_by_key

# With a StatusNotifier tray the icon's click comes over the bus, which no modal window holds back:
# it brings the minimised question too, not a bookmark window that would take no input.
dbus-daemon --config-file="$E2E_DIR/private-bus.conf" --fork --print-address=3 --print-pid=4 \
  3>"$work/bus" 4>"$work/bus.pid" || fail "no session bus"
e2e_pids+=("$(e2e_identity "$(cat "$work/bus.pid")")")
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$work/bus")"
"$watcher" >"$work/watcher.log" 2>&1 &
e2e_pids+=("$!")
e2e_wait_until 60 grep -q '^ready' "$work/watcher.log" || fail "the StatusNotifier watcher did not start"
e2e_start_kesto
e2e_wait_until 60 grep -q '^item ' "$work/watcher.log" || fail "kesto showed no StatusNotifier item"
item="$(awk '/^item / { print $2; exit }' "$work/watcher.log")"
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
minimise "$question" || fail "the import question was not minimised"
gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
  --method org.kde.StatusNotifierItem.Activate 0 0 >/dev/null || fail "the StatusNotifier item took no click"
e2e_wait_until 60 before_user "$question" ||
  fail "the StatusNotifier icon left the import question: $(wm_state "$question")"
e2e_no_window '^Kesto Bookmarks$' || fail "the StatusNotifier icon showed the bookmark window while the question blocks it"
e2e_key "$question" Escape
e2e_wait_until 60 e2e_no_window '^Import Bookmarks$' || fail "Escape left the import question open"

e2e_quit_by_key
echo "windows e2e: passed"
