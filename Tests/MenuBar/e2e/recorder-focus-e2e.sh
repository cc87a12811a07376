#!/usr/bin/env bash
# The preferences' shortcut recorder lets go when another program takes the focus (openbox, and
# xev as the other program, which logs the keys it gets): the "Global shortcut" field records
# ("Type shortcut", the keyboard held), the other program's window is clicked, and a chord typed
# there the moment it has the focus is not recorded, also when the program was stopped meanwhile
# (the chord then comes to it after the focus change, as the keyboard is still its own). Once the
# recorder has let the keyboard go, which it does by itself, text and a chord typed there reach
# that program. The field no longer records, and the stored shortcut (kComboCode, kComboFlags) is
# the one recorded before, after the program has quit and written its settings. Screenshots go to
# SCREENSHOT_FOLDER.
# Usage: recorder-focus-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/recorder-focus-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xev stdbuf python3
# A program stopped by a round that failed goes on, so it can end.
cleanup() { e2e_kill -CONT ${app_pid:-}; e2e_kill ${app_pid:-} "${e2e_pids[@]}"; }

e2e_start_kesto
e2e_close_first_run_panel 60 || fail "no first-run panel"
e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "no preferences panel"
e2e_caught_up "$prefs" || fail "kesto did not answer"

# The field records while it shows its blue frame (above its snap-back button).
recording() { local r g b; read -r r g b < <(e2e_pixel 408 156 "$prefs") && [[ -n "$b" ]] && ((b > r + 60)); }
keyboard_held() { ! e2e_keyboard_free; }
record() {
  xdotool windowactivate --sync "$prefs"
  e2e_click "$prefs" 300 163
  e2e_wait_until 60 recording || { e2e_screenshot "$shots/not-recording.png"; fail "a click on the Global shortcut field did not start recording: $(e2e_pixel 408 156 "$prefs")"; }
  e2e_wait_until 60 keyboard_held || fail "the recording field does not hold the keyboard"
}

# A shortcut recorded first (Super+Alt+K), so the one kept afterwards is known.
record
xdotool key super+alt+k
e2e_wait_until 60 e2e_setting_is kComboCode 40 || fail "the recorded shortcut was not stored"
e2e_wait_until 60 e2e_keyboard_free || fail "the recorder kept the keyboard after a shortcut"

# The other program, below the preferences window where a click reaches it.
stdbuf -oL xev -geometry 300x200+40+560 -event keyboard >"$work/xev.log" 2>&1 &
e2e_pids+=("$!")
other="$(e2e_wait_window '^Event Tester$' 60)" || fail "xev shows no window"
# Keys xev has logged: "keysym NAME" for each press.
pressed() { awk '/^KeyPress/ { p = 1 } p && match($0, /keysym 0x[0-9a-f]+, [A-Za-z_0-9]+/) {
              s = substr($0, RSTART, RLENGTH); sub(/keysym 0x[0-9a-f]+, /, "", s); printf "%s ", s; p = 0 }' "$work/xev.log"; }
xev_focused() { [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$other" ]]; }

# Recording, then a click in xev and a chord typed there as soon as it has the focus; with
# "stopped" the program is stopped from before the click until after the chord.
leave_and_type() {  # how
  record
  e2e_screenshot "$shots/recording-$1.png"
  [[ "$1" == stopped ]] && kill -STOP "$app_pid"
  e2e_click "$other" 150 100
  e2e_wait_until 60 xev_focused || fail "a click in xev did not give it the focus ($1)"
  xdotool key ctrl+alt+j
  [[ "$1" == stopped ]] && kill -CONT "$app_pid"
  e2e_wait_until 60 e2e_keyboard_free || fail "with another program focused the recorder kept the keyboard ($1)"
  e2e_caught_up "$prefs" || fail "kesto did not answer"
  recording && fail "the field still records after another program took the focus ($1)"
  e2e_screenshot "$shots/other-program-focused-$1.png"
}
leave_and_type stopped
leave_and_type running

# Typed in xev now, the text and a chord reach it.
before="$(pressed)"
xdotool type --delay 40 hello
xdotool key ctrl+t
got_keys() { [[ "$(pressed)" == "$before"*"h e l l o Control_L t " ]]; }
e2e_wait_until 60 got_keys ||
  fail "xev got '$(pressed)' after '$before', not the text and Ctrl+T typed there (shortcut stored: $(e2e_setting kComboCode)/$(e2e_setting kComboFlags))"
e2e_caught_up "$prefs" || fail "kesto did not answer"
recording && fail "keys typed in another program started the recorder"

# Written when the program quits: the shortcut recorded at first.
e2e_quit_by_key
[[ "$(e2e_setting kComboCode)" == 40 && "$(e2e_setting kComboFlags)" == 6144 ]] ||
  fail "stored shortcut $(e2e_setting kComboCode)/$(e2e_setting kComboFlags), not Super+Alt+K (40/6144)"
echo "the recorder lets go when another program takes the focus: ok"
