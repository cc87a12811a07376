#!/usr/bin/env bash
# The display going away ends the program without a crash: its X server (one of the test's own,
# a new one for each round) ends while an alert is open (the update check's answer), and three
# times while a 50,000-bookmark import runs (0.8 to 1.2 s after it started: the import's thread
# still works). Each time the program ends by itself, not by a signal, with no crash report; the
# library stays whole, and a start on a new display afterwards is clean.
# Usage: display-lost-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3 xclip Xvfb openbox

logs="$XDG_STATE_HOME/kesto/logs"
crash_reports() { find "$logs" -maxdepth 1 -name 'crash-*.log' "$@" 2>/dev/null; }

# An X server of the test's own with openbox on it, DISPLAY pointing there: $x_pid.
own_display() {
  local fd number ready="$work/wm-started"
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1280x800x24 -nolisten tcp -r >/dev/null 2>&1 &
  x_pid=$!
  e2e_pids+=("$x_pid")
  read -r -t 30 number <&"$fd" || fail "Xvfb did not start"
  exec {fd}<&-
  export DISPLAY=":$number"
  rm -f "$ready"
  openbox --startup "touch '${ready//\'/\'\\\'\'}'" >"$work/openbox.log" 2>&1 &
  e2e_pids+=("$!")
  wm_ready() { [[ -e "$ready" ]] && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id # 0x'; }
  e2e_wait_until 30 wm_ready || fail "openbox did not start on $DISPLAY"
  xdotool key shift  # a fresh server's first key is now and then lost
}

# Ends the X server and expects the program to end by itself, uncrashed.
display_lost() {  # what is under way
  local rc
  kill -TERM "$x_pid"
  e2e_wait_until 60 e2e_ended || fail "kesto still runs after its display went away ($1)"
  wait "$app_pid"
  rc=$?
  wait "$x_pid" 2>/dev/null
  [[ -z "$(crash_reports)" ]] || fail "the display gone $1 left a crash report: $(crash_reports -exec head -n 30 {} +)"
  ((rc < 128)) || fail "the display gone $1 ended kesto by signal $((rc - 128))"
  [[ "$(e2e_sql 'pragma integrity_check')" == ok ]] || fail "the library is damaged after the display went $1"
  echo "display gone $1: kesto ended with status $rc, no crash"
}

python3 - "$work/large.html" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n")
    f.write("<DT><H3>Large</H3>\n<DL><p>\n")
    for i in range(50000):
        f.write(f'<DT><A HREF="http://large{i % 991}.example/page/{i}" ADD_DATE="1600000000">Page {i}</A>\n')
    f.write("</DL><p>\n</DL><p>\n")
PY

# The update host knows no newer version: Help > Check for Updates… tells so in an alert.
e2e_update_host "0#109"
update_url="$(e2e_setting KestoUpdateURL)"
e2e_offline_settings KestoUpdateURL "<string>$update_url</string>"
own_display
e2e_start_kesto
e2e_sample_library
e2e_key "$win" alt+h
e2e_key "$win" Up Up Return
e2e_wait_window '^Kesto Updater$' 60 >/dev/null || fail "Check for Updates… told nothing"
e2e_caught_up "$win" >/dev/null
display_lost "with the update check's alert open"

for delay in 0.8 1.0 1.2; do
  own_display
  e2e_start_kesto
  e2e_import_file "$work/large.html"
  # The moment of the end is the test's stimulus.
  sleep "$delay"
  display_lost "$delay s into an import"
done

own_display
e2e_start_kesto
e2e_quit_kesto
echo "display lost: ok"
