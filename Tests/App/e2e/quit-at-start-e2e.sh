#!/usr/bin/env bash
# A quit signal while the program starts is carried out, not lost: SIGTERM, SIGINT and SIGHUP,
# each sent as soon as the program catches it and 0.1, 0.2 and 0.3 s later (while the toolkit
# comes up, the library opens and the window's first frame is drawn), end it with status 0 and no
# crash report, and the next start is clean. The program is started in the background as a shell
# script starts it, with SIGINT ignored. (Before it catches a signal, the program has run none of
# its own code yet: the signal ends it as any program.)
# Usage: quit-at-start-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3

logs="$XDG_STATE_HOME/kesto/logs"
crash_reports() { find "$logs" -maxdepth 1 -name 'crash-*.log' "$@" 2>/dev/null; }

# Whether the program ($app_pid) catches the signal $1 (by number).
catches() {
  local mask
  mask="$(awk '/^SigCgt:/ { print $2 }' "/proc/$app_pid/status" 2>/dev/null)" || return 1
  [[ -n "$mask" ]] && (( (16#$mask >> ($1 - 1)) & 1 ))
}

e2e_offline_settings
for delay in 0 0.1 0.2 0.3; do
  for signal in TERM INT HUP; do
    (trap '' INT; exec "$kesto" >>"$work/kesto.log" 2>&1) &
    app_pid=$!
    e2e_wait_until 60 catches "$(kill -l "$signal")" || fail "kesto does not catch SIG$signal"
    # The delay is the moment of the signal, the test's stimulus.
    sleep "$delay"
    kill -"$signal" "$app_pid"
    e2e_wait_until 60 e2e_ended || fail "SIG$signal $delay s into the start did not end kesto"
    wait "$app_pid"
    rc=$?
    [[ -z "$(crash_reports)" ]] || fail "SIG$signal $delay s into the start left a crash report: $(crash_reports -exec head -n 30 {} +)"
    ((rc == 0)) || fail "SIG$signal $delay s into the start ended kesto with status $rc"
    echo "SIG$signal $delay s into the start: status 0"
  done
done
# What the quits left opens as it should.
e2e_start_kesto
[[ "$(e2e_sql 'pragma integrity_check')" == ok ]] || fail "the library is damaged"
e2e_quit_kesto
echo "quit at start: ok"
