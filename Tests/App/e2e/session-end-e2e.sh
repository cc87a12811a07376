#!/usr/bin/env bash
# A real X session manager (xsm) with a system tray (trayer): Kesto, started in the session,
# stores the notes still being typed when the session manager saves (a checkpoint: it keeps
# running), and its Shutdown (with the checkpoint) ends Kesto within seconds with status 0, the
# notes typed since stored. The command the toolkit records for the next log-in ("kesto -session
# <id>") starts Kesto with no import.
# Usage: session-end-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-session-end}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool trayer sqlite3 python3 xsm iceauth xwininfo xprop
. "$(dirname "$0")/../../Sidebar/e2e/folder-rows.sh"
fail() {
  echo "FAIL: $*" >&2
  e2e_screenshot "$shots/failed.png" 2>/dev/null
  tail -n 40 "$work/kesto.log" "$work/xsm.log" >&2 2>/dev/null
  exit 1
}

# xsm gives iceauth its clients' keys by a shell command naming a file in its home folder, which
# must be one whose path a shell reads as it stands (the test's own may hold a space or an
# apostrophe): xsm has a home of its own, and Kesto reads the same authority file.
xsm_home="$(mktemp -d /tmp/kesto-xsm.XXXXXXXX)" || fail "no home folder for xsm"
export ICEAUTHORITY="$xsm_home/.ICEauthority"
cleanup() { e2e_kill ${app_pid:-} "${e2e_pids[@]}"; rm -rf "$xsm_home"; }

# The session manager: its clients learn its address from SESSION_MANAGER; the one command of
# its start-up list puts that on the root window, where the test reads it.
printf '%s\n' "sh -c 'xprop -root -f E2E_SESSION_MANAGER 8s -set E2E_SESSION_MANAGER \"\$SESSION_MANAGER\"'" \
  >"$xsm_home/.xsmstartup"
(cd "$xsm_home" && HOME="$xsm_home" exec xsm) >"$work/xsm.log" 2>&1 &
xsm_pid=$!
e2e_pids+=("$xsm_pid")
session_manager() { xprop -root E2E_SESSION_MANAGER 2>/dev/null | sed -n 's/^E2E_SESSION_MANAGER(STRING) = "\(.*\)"$/\1/p'; }
has_manager() { [[ -n "$(session_manager)" ]]; }
e2e_wait_until 60 has_manager || fail "xsm did not start its session"
manager="$(session_manager)"
xsm_win="$(e2e_wait_window '^xsm' 60)" || fail "no xsm window"

# A button of one of xsm's windows, by where it sits: the left or right end of the lowest row of
# its controls. Prints the button's screen position and size: x y width height.
xsm_button() {  # window left|right
  xwininfo -tree -id "$1" | python3 -c '
import re, sys
found = []
for line in sys.stdin:
    m = re.search(r"\s(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)\s*$", line)
    if m and line.startswith("        "):
        w, h, x, y = map(int, m.groups())
        if h <= 30 and w <= 160: found.append((x, y, w, h))
low = max(y for x, y, w, h in found)
row = sorted(b for b in found if b[1] >= low - 3)
print(*(row[0] if sys.argv[1] == "left" else row[-1]))' "$2"
}
# The Checkpoint button of the main window, or the Shutdown menu's "With Checkpoint"; then the
# dialog's first button (Checkpoint, Shutdown) once the session has a name.
xsm_save() {  # checkpoint|shutdown
  local x y w h dialog
  xdotool windowactivate --sync "$xsm_win" >/dev/null 2>&1
  if [[ "$1" == checkpoint ]]; then
    read -r x y w h < <(xsm_button "$xsm_win" left)
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    dialog="$(e2e_wait_window '^Checkpoint$' 60)" || fail "xsm's Checkpoint opened nothing"
  else
    # A menu button: pressed, its menu shows below it, and the first item takes the release.
    read -r x y w h < <(xsm_button "$xsm_win" right)
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) mousedown 1 sleep 0.5 \
      mousemove $((x + 40)) $((y + h + 11)) sleep 0.5 mouseup 1
    dialog="$(e2e_wait_window '^Shutdown$' 60)" || fail "xsm's Shutdown menu opened nothing"
  fi
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
  # A session never saved is named first.
  xdotool type --delay 30 e2e
  read -r x y w h < <(xsm_button "$dialog" left)
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}

notes_at=(1094 242)
notes_stored() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZNOTES = '$1'")" == 1 ]]; }
choose_bookmark() {
  click_row 5
  e2e_click "$win" 600 250
  e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on the first cell showed no bookmark in the inspector"
  e2e_caught_up "$win" >/dev/null || fail "kesto did not answer"
}
type_notes() {
  e2e_click "$win" "${notes_at[@]}"
  e2e_caught_up "$win" >/dev/null || fail "kesto did not answer"
  xdotool key ctrl+a
  xdotool type --delay 30 "$1"
  e2e_caught_up "$win" >/dev/null || fail "kesto did not answer"
}

e2e_start_tray
e2e_offline_settings
SESSION_MANAGER="$manager" e2e_start_on_sample_library
choose_bookmark
type_notes "Typed before the checkpoint"
xsm_save checkpoint
e2e_wait_until 60 notes_stored "Typed before the checkpoint" ||
  fail "the session manager's checkpoint did not store the notes being typed"
kill -0 "$app_pid" 2>/dev/null || fail "the checkpoint ended kesto"

type_notes "Typed before the log-out"
e2e_screenshot "$shots/before-shutdown.png"
xsm_save shutdown
e2e_wait_until 20 e2e_ended || fail "kesto still runs 20 s after the session's shutdown"
wait "$app_pid"
rc=$?
((rc == 0)) || fail "the session's shutdown ended kesto with status $rc"
notes_stored "Typed before the log-out" || fail "the notes typed before the log-out are not in the library"
echo "session shutdown: kesto ended with status 0, the notes stored"

# The next log-in starts what the toolkit recorded for the session, "kesto -session <id>_<key>":
# the session's id is no file to import.
restart=(-session 10e2e0000000000000000_0000000000_000000)
: >"$work/kesto.log"
e2e_start_kesto "${restart[@]}"
e2e_caught_up "$win" >/dev/null || fail "kesto did not answer"
e2e_quit_kesto
taken_for_file() { grep -h 'Could not import' "$work/kesto.log" "$XDG_STATE_HOME"/kesto/logs/*.log 2>/dev/null; }
[[ -z "$(taken_for_file)" ]] || fail "kesto ${restart[*]} took the session's id for a file: $(taken_for_file)"
echo "session end: ok"
